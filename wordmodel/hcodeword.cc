#include "wordmodel/hcodeword.h"

#include <cstring>

#include "wordmodel/hhashtable.h"
#include "wordmodel/hlog.h"

void HCodeword_TaggedFromPlain(uint32_t plain, int32_t bits, HCodeword* tagged, int32_t* bytes) {
  if (bits <= 0 || bits > 28 || bits % 7 != 0) HFatal("Error: HCodeword_TaggedFromPlain, len %d\n", bits);
  int32_t len = bits / 7;
  uint32_t value = 0;
  for (int32_t k = 0; k < len; ++k) value |= ((plain >> (7 * k)) & 0x7Fu) << (8 * k);
  value |= 0x80u << (8 * (len - 1));
  *tagged = value;
  *bytes = len;
}

void HCodeword_PlainFromTagged(HCodeword tagged, int32_t bytes, uint32_t* plain, int32_t* bits) {
  if (bytes < 1 || bytes > 4) HFatal("Error: HCodeword_PlainFromTagged - length no in [1,4]\n");
  uint32_t value = 0;
  for (int32_t k = 0; k < bytes; ++k) value |= ((tagged >> (8 * k)) & 0x7Fu) << (7 * k);
  *plain = value;
  *bits = 7 * bytes;
}

void HCodeword_PlainFromTokenrank(int32_t rank, const HCodetable* table, uint32_t* plain, int32_t* bits) {
  int32_t level = 0;
  for (int32_t l = 1; l <= 4; ++l) {
    if (table->Offset[l] <= rank) {
      level = l;
      break;
    }
  }
  // Only a damaged code table has no level for a rank.
  if (level == 0) HFatal("Error: damaged code table, no level for rank %d (HCodeword_PlainFromTokenrank)\n", rank);
  // Unsigned arithmetic: a damaged table may hold any 32-bit values.
  *plain = static_cast<uint32_t>(table->First_cw[level]) + static_cast<uint32_t>(rank) -
           static_cast<uint32_t>(table->Offset[level]);
  *bits = 7 * level;
}

void HCodeword_TaggedFromTokenrank(int32_t rank, const HCodetable* table, HCodeword* tagged, int32_t* bytes) {
  uint32_t plain;
  int32_t bits;
  HCodeword_PlainFromTokenrank(rank, table, &plain, &bits);
  if (bits % 7 != 0) HFatal("Error: HCodeword_TaggedFromTokenrank -length plain no 7-multiple\n");
  HCodeword_TaggedFromPlain(plain, bits, tagged, bytes);
  if (*bytes < 1 || *bytes > 4) HFatal("Error: HCodeword_TaggedFromTokenrank - length tagged no in [1,4]\n");
}

void HToken_RankFromPlainCw(uint32_t plain, int32_t bits, const HCodetable* table, int32_t* rank) {
  if (bits % 7 != 0) HFatal("Error: HToken_RankFromPlainCw - length no 7-multiple\n");
  int32_t level = bits / 7;
  if (level < 1 || level > 4) HFatal("Error: HToken_RankFromPlainCw - length no in [7,28]\n");
  int64_t r = static_cast<int64_t>(table->Offset[level]) + plain - static_cast<int64_t>(table->First_cw[level]);
  // A value outside the range of its length's codewords stands for no token
  // (only damage makes one), nor does a rank beyond 32 bits; -1 is refused
  // by every user of ranks.
  const uint32_t index = plain - static_cast<uint32_t>(table->First_cw[level]);
  const bool outside = index >= static_cast<uint32_t>(table->level_count[level]);
  *rank = (outside || r < INT32_MIN || r > INT32_MAX) ? -1 : static_cast<int32_t>(r);
}

void HToken_RankFromTaggedCw(HCodeword tagged, int32_t bytes, const HCodetable* table, int32_t* rank) {
  if (bytes < 1 || bytes > 4) HFatal("Error: HToken_RankFromTaggedCw - length no in [1,4]\n");
  uint32_t plain;
  int32_t bits;
  HCodeword_PlainFromTagged(tagged, bytes, &plain, &bits);
  if (bits % 7 != 0) HFatal("Error: length plain no 7-multiple (HToken_RankFromTaggedCw)\n");
  HToken_RankFromPlainCw(plain, bits, table, rank);
}

void HToken_fromTaggedCw(HCodeword tagged, int32_t bytes, const HCodetable* table, const HDictionary* dictionary,
                         HBuffer* token, int32_t* token_length) {
  int32_t rank;
  HToken_RankFromTaggedCw(tagged, bytes, table, &rank);
  if (rank < 0 || rank >= dictionary->token_count || !dictionary->start) {
    HFatal("Error: token_startpos computation (HToken_fromTaggedCw)\n");
  }
  int32_t s = dictionary->start[rank];
  if (s < 0 || s >= dictionary->string_length) HFatal("Error: token_startpos computation (HToken_fromTaggedCw)\n");
  const unsigned char* str = dictionary->string;
  int32_t end = s + 1;
  while (end < dictionary->string_length && str[end] != '\n') ++end;
  int32_t len = end - s;
  HBuffer copy = HBuffer_allocate(static_cast<size_t>(len));
  if (!copy) HFatal("Error: memory allocation for token (HToken_FromTaggedCw)\n");
  std::memcpy(copy.get(), str + s, static_cast<size_t>(len));
  *token = std::move(copy);
  *token_length = len;
}

void HCodeword_TaggedFromToken(const unsigned char* token, int32_t length, const HModel* model, HCodeword* tagged,
                               int32_t* bytes) {
  const HNode* node = HHashtable_lookup(token, length, &model->vocabulary);
  if (!node) HFatal("Error: token not found (HCodeword_TaggedFromToken)\n");
  *tagged = node->codeword;
  *bytes = node->level;
}

void HCodeword_tostring(HCodeword tagged, int32_t bytes, HBuffer* out) {
  if (bytes < 1 || bytes > 4) HFatal("Error: HCodeword_tostring\n");
  HBuffer buffer = HBuffer_allocate(static_cast<size_t>(bytes) + 1);
  if (!buffer) HFatal("Error: HCodeword_tostring\n");
  for (int32_t i = 0; i < bytes; ++i) buffer[i] = static_cast<unsigned char>(tagged >> (8 * (bytes - 1 - i)));
  buffer[bytes] = 0;
  *out = std::move(buffer);
}

void HCodeword_TaggedGetNext(const unsigned char* p, int32_t m, HCodeword* tagged, int32_t* bytes) {
  if (m < 1) HFatal("Error: no byte left (HCodeword_TaggedGetNext)\n");
  if (!(p[0] & 0x80)) HFatal("Error: no tagged byte (HCodeword_TaggedGetNext)\n");
  uint32_t value = p[0];
  int32_t len = 1;
  while (len < m && !(p[len] & 0x80)) {
    value = (value << 8) | p[len];
    ++len;
  }
  *tagged = value;
  *bytes = len;
}

void HCodeword_TaggedGetPrevious(const unsigned char* p, int32_t m, HCodeword* tagged, int32_t* bytes) {
  if (m < 1) HFatal("Error: no byte left (HCodeword_TaggedGetPrevious)\n");
  if (!(p[0] & 0x80)) HFatal("Error: no tagged byte (HCodeword_TaggedGetPrevious)\n");
  int32_t len = 1;
  while (!(p[-len] & 0x80)) {
    if (len == m) HFatal("Error: no tagged byte before the position (HCodeword_TaggedGetPrevious)\n");
    ++len;
  }
  uint32_t value = 0;
  for (int32_t k = len; k >= 1; --k) value = (value << 8) | p[-k];
  *tagged = value;
  *bytes = len;
}

int HToken_TaggedGetNext(const unsigned char* p, int32_t m, const HModel* model, HBuffer* token,
                         int32_t* token_length, int32_t* cw_bytes) {
  if (m <= 0) return 0;
  HCodeword cw;
  HCodeword_TaggedGetNext(p, m, &cw, cw_bytes);
  HToken_fromTaggedCw(cw, *cw_bytes, &model->codetable, &model->dictionary, token, token_length);
  return 1;
}

int HToken_TaggedGetPrevious(const unsigned char* p, int32_t m, const HModel* model, HBuffer* token,
                             int32_t* token_length, int32_t* cw_bytes) {
  if (m <= 0) return 0;
  HCodeword cw;
  HCodeword_TaggedGetPrevious(p, m, &cw, cw_bytes);
  HToken_fromTaggedCw(cw, *cw_bytes, &model->codetable, &model->dictionary, token, token_length);
  return 1;
}
