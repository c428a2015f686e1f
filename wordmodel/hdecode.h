// Allocation-free codeword decoding for the hot loops of the codec and the
// search. Each helper fails with exactly the message that the general
// conversions would give for the same bytes.
#ifndef MORAVINE_WORDMODEL_HDECODE_H_
#define MORAVINE_WORDMODEL_HDECODE_H_

#include <bit>
#include <cstdint>
#include <cstring>

#include "wordmodel/hlog.h"
#include "wordmodel/hmodel.h"
#include "wordmodel/htoken.h"

// The length of the codeword at p: the tagged byte and the untagged bytes
// after it, within m bytes. Lengths above 4 are reported as 5, since every
// such codeword is refused alike.
inline int32_t HDecode_codewordLength(const unsigned char* p, int32_t m) {
  if constexpr (std::endian::native == std::endian::little) {
    if (m >= 5) {
      uint32_t v;
      std::memcpy(&v, p, 4);
      uint32_t tags = v & 0x80808000u;  // tag bits of bytes 1..3
      if (tags) return std::countr_zero(tags) >> 3;
      return (p[4] & 0x80) ? 4 : 5;
    }
  }
  int32_t len = 1;
  while (len < m && len < 5 && !(p[len] & 0x80)) ++len;
  return len;
}

// The rank of the codeword of len bytes at p; fails as the rank and token
// conversions do for a malformed codeword.
inline int32_t HDecode_rank(const unsigned char* p, int32_t len, const HCodetable* table, int32_t token_count) {
  if (len > 4) HFatal("Error: HToken_RankFromTaggedCw - length no in [1,4]\n");
  uint32_t plain = p[0] & 0x7Fu;
  for (int32_t k = 1; k < len; ++k) plain = (plain << 7) | p[k];
  int64_t rank = static_cast<int64_t>(table->Offset[len]) + plain - static_cast<int64_t>(table->First_cw[len]);
  if (rank < 0 || rank >= token_count) HFatal("Error: token_startpos computation (HToken_fromTaggedCw)\n");
  return static_cast<int32_t>(rank);
}

// Token bytes and length of a rank of a validated dictionary.
inline const unsigned char* HDecode_token(const HDictionary* dictionary, int32_t rank, int32_t* length) {
  int32_t s = dictionary->start[rank];
  int32_t end = rank + 1 < dictionary->token_count ? dictionary->start[rank + 1] : dictionary->string_length;
  *length = end - s - 1;
  return dictionary->string + s;
}

// Whether the token of a rank is a word token.
inline bool HDecode_isWord(const HDictionary* dictionary, int32_t rank) {
  return HToken_isWordByte(dictionary->string[dictionary->start[rank]]);
}

// Builds the model's per-rank decoding table from its dictionary.
void HDecode_buildTable(HModel* model);

#endif  // MORAVINE_WORDMODEL_HDECODE_H_
