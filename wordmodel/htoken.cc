#include "wordmodel/htoken.h"

#include "wordmodel/hhashtable.h"
#include "wordmodel/hlog.h"
#include "wordmodel/htokencache.h"

namespace {

constexpr unsigned char ClassOf(int c) {
  if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) return HBYTE_ALNUM;
  if (c == '\n') return HBYTE_NEWLINE;
  return HBYTE_SEPARATOR;
}

struct ClassTable {
  unsigned char v[256];
  constexpr ClassTable() : v() {
    for (int c = 0; c < 256; ++c) v[c] = ClassOf(c);
  }
};

constexpr ClassTable kClasses;

}  // namespace

const unsigned char HToken_byteClass[256] = {
#define R16(b)                                                                                    \
  kClasses.v[b + 0], kClasses.v[b + 1], kClasses.v[b + 2], kClasses.v[b + 3], kClasses.v[b + 4],  \
      kClasses.v[b + 5], kClasses.v[b + 6], kClasses.v[b + 7], kClasses.v[b + 8],                 \
      kClasses.v[b + 9], kClasses.v[b + 10], kClasses.v[b + 11], kClasses.v[b + 12],              \
      kClasses.v[b + 13], kClasses.v[b + 14], kClasses.v[b + 15]
    R16(0),   R16(16),  R16(32),  R16(48),  R16(64),  R16(80),  R16(96),  R16(112),
    R16(128), R16(144), R16(160), R16(176), R16(192), R16(208), R16(224), R16(240),
#undef R16
};

void HToken_getLengthNext(const unsigned char* p, int32_t remaining, int32_t* length) {
  if (remaining <= 0) HFatal("Error: HToken_getLengthNext\n");
  *length = HToken_scan(p, remaining);
}

