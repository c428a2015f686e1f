#include "wordmodel/hjumpers.h"

#include <new>

#include "wordmodel/hcoding.h"
#include "wordmodel/hhashtable.h"
#include "wordmodel/hlog.h"
#include "wordmodel/htoken.h"

void HJumpers_fromds(const unsigned char* text, int32_t length, const HModel* model, int32_t distance,
                     HJumpers* jumpers) {
  HJumpers_free(jumpers);
  if (distance <= 0 || length <= 0) return;
  int32_t capacity = length / distance + 1;
  std::unique_ptr<int32_t[]> tp(new (std::nothrow) int32_t[capacity]);
  std::unique_ptr<int32_t[]> bp(new (std::nothrow) int32_t[capacity]);
  if (!tp || !bp) HFatal("Error: memory allocation (HJumpers_fromds)\n");
  int32_t count = 0;
  int32_t p = 0;
  int64_t q = 0;
  int64_t mark = 0;
  while (p < length && count < capacity) {
    if (p >= mark) {
      if (q > INT32_MAX) HFatal("Error: compressed body too long (HJumpers_fromds)\n");
      tp[count] = p;
      bp[count] = static_cast<int32_t>(q);
      ++count;
      mark += distance;
    }
    int32_t n = HToken_scan(text + p, length - p);
    const HNode* node = HHashtable_lookup(text + p, n, &model->vocabulary);
    if (!node) HFatal("Error: token not found (HCodeword_TaggedFromToken)\n");
    p += n;
    q += node->level;
  }
  jumpers->count = count;
  jumpers->text_positions = std::move(tp);
  jumpers->body_positions = std::move(bp);
}

void HJumpers_tostring(unsigned char* buffer, const HJumpers* jumpers) {
  if (buffer == nullptr) HFatal("Error: memory allocation (HJumpers_tostring)\n");
  HInt_tostring(jumpers->count, buffer);
  for (int32_t i = 0; i < jumpers->count; ++i) {
    HInt_tostring(jumpers->text_positions[i], buffer + 4 + 8 * i);
    HInt_tostring(jumpers->body_positions[i], buffer + 8 + 8 * i);
  }
}

void HJumpers_fromstring(const unsigned char* buffer, int64_t available, HJumpers* jumpers) {
  HJumpers_free(jumpers);
  if (available < 4) HFatal("Error: computing the compressed file length (HDecompress_getBodyAndConsole)\n");
  int32_t count;
  HInt_fromstring(buffer, &count);
  if (count < 0 || 8 * static_cast<int64_t>(count) > available - 4) {
    HFatal("Error: computing the compressed file length (HDecompress_getBodyAndConsole)\n");
  }
  if (count == 0) return;
  std::unique_ptr<int32_t[]> tp(new (std::nothrow) int32_t[count]);
  std::unique_ptr<int32_t[]> bp(new (std::nothrow) int32_t[count]);
  if (!tp || !bp) HFatal("Error: memory allocation (HJumpers_fromstring)\n");
  for (int32_t i = 0; i < count; ++i) {
    HInt_fromstring(buffer + 4 + 8 * i, &tp[i]);
    HInt_fromstring(buffer + 8 + 8 * i, &bp[i]);
  }
  jumpers->count = count;
  jumpers->text_positions = std::move(tp);
  jumpers->body_positions = std::move(bp);
}

void HJumpers_free(HJumpers* jumpers) {
  jumpers->count = 0;
  jumpers->text_positions.reset();
  jumpers->body_positions.reset();
}
