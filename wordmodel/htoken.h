// Tokens: maximal runs of ASCII letters and digits (word tokens), maximal
// runs of other bytes without a newline (separator tokens), and single
// newline bytes.
#ifndef MORAVINE_WORDMODEL_HTOKEN_H_
#define MORAVINE_WORDMODEL_HTOKEN_H_

#include <cstdint>

#include "wordmodel/hhashtable.h"
#include "wordmodel/hmodel.h"

// Byte classes, fixed and independent of the locale.
enum : unsigned char { HBYTE_SEPARATOR = 0, HBYTE_ALNUM = 1, HBYTE_NEWLINE = 2 };
extern const unsigned char HToken_byteClass[256];

inline bool HToken_isWordByte(unsigned char c) { return HToken_byteClass[c] == HBYTE_ALNUM; }

// The length of the token starting at p, given the bytes remaining to the
// end of the text (at least 1). The result lies in 1..remaining.
void HToken_getLengthNext(const unsigned char* p, int32_t remaining, int32_t* length);

// Internal form of the scanner for hot loops: no checks, remaining >= 1.
inline int32_t HToken_scan(const unsigned char* p, int32_t remaining) {
  unsigned char cls = HToken_byteClass[p[0]];
  if (cls == HBYTE_NEWLINE) return 1;
  int32_t n = 1;
  if (cls == HBYTE_ALNUM) {
    while (n < remaining && HToken_byteClass[p[n]] == HBYTE_ALNUM) ++n;
  } else {
    while (n < remaining && HToken_byteClass[p[n]] == HBYTE_SEPARATOR) ++n;
  }
  return n;
}

#endif  // MORAVINE_WORDMODEL_HTOKEN_H_
