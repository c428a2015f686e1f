// Allocation-free codeword decoding for the hot loops of the codec and the
// search. Each helper fails with exactly the message that the general
// conversions would give for the same bytes.
#ifndef MORAVINE_WORDMODEL_HDECODE_H_
#define MORAVINE_WORDMODEL_HDECODE_H_

#include <bit>
#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "wordmodel/hlog.h"
#include "wordmodel/hmodel.h"
#include "wordmodel/htoken.h"
#include "wordmodel/hunicode.h"

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
// conversions do for a malformed codeword, and for one that lies outside
// the range of codewords of its length (which only damage can make).
inline int32_t HDecode_rank(const unsigned char* p, int32_t len, const HCodetable* table, int32_t token_count) {
  if (len > 4) HFatal("Error: HToken_RankFromTaggedCw - length no in [1,4]\n");
  uint32_t plain = p[0] & 0x7Fu;
  for (int32_t k = 1; k < len; ++k) plain = (plain << 7) | p[k];
  const uint32_t index = plain - static_cast<uint32_t>(table->First_cw[len]);
  const int64_t rank = static_cast<int64_t>(table->Offset[len]) + index;
  if (index >= static_cast<uint32_t>(table->level_count[len]) || rank >= token_count) {
    HFatal("Error: token_startpos computation (HToken_fromTaggedCw)\n");
  }
  return static_cast<int32_t>(rank);
}

// Token bytes and length of a rank of a validated dictionary.
inline const unsigned char* HDecode_token(const HDictionary* dictionary, int32_t rank, int32_t* length) {
  int32_t s = dictionary->start[rank];
  int32_t end = rank + 1 < dictionary->token_count ? dictionary->start[rank + 1] : dictionary->string_length;
  *length = end - s - 1;
  return dictionary->string + s;
}

// Whether the token of a rank is a word token (of either Unicode kind).
inline bool HDecode_isWord(const HDictionary* dictionary, int32_t rank) {
  if (dictionary->classes) return dictionary->classes[rank] != HCHAR_SEPARATOR;
  return HToken_isWordByte(dictionary->string[dictionary->start[rank]]);
}

// Whether the token of a rank is a word that the spaceless models part
// from the next such word by an implied blank: every word under the ASCII
// rules, every word but the single-code-point ones under the Unicode rules.
inline bool HDecode_takesBlank(const HDictionary* dictionary, int32_t rank) {
  if (dictionary->classes) return dictionary->classes[rank] == HCHAR_WORD;
  return HToken_isWordByte(dictionary->string[dictionary->start[rank]]);
}

#if defined(__SSE2__)
// For each byte j of the 64 at q, the plain value of a codeword that ends
// just before it, found from the four bytes before j alone: the bytes from
// the last tagged one among them up to j - 1, tag bit left out, as 7-bit
// groups with the last byte least significant. Only the values at codeword
// ends mean anything; a codeword of more than four bytes must be ruled out
// before. The 4 bytes before q must be readable; plain has room for 64
// values and is aligned to 16 bytes.
inline void HDecode_blockPlains(const unsigned char* q, uint32_t* plain) {
  const __m128i tag_bits = _mm_set1_epi32(static_cast<int>(0x80808080u));
  const __m128i low_bits = _mm_set1_epi32(0x7F7F7F7F);
  const __m128i low_byte = _mm_set1_epi16(0x00FF);
  const __m128i weights = _mm_set1_epi32(0x00014000);  // the first 14 bits times 2^14, the last times 1
  for (int m = 0; m < 4; ++m) {
    __m128i v[4];
    for (int d = 0; d < 4; ++d) {
      // Lane k: the four bytes before byte 16m + 4k + d, the last one most
      // significant.
      const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 16 * m + d - 4));
      // A byte below a tagged one belongs to an earlier codeword: each
      // byte learns whether a byte above it is tagged, and is cleared then.
      const __m128i t = _mm_and_si128(w, tag_bits);
      const __m128i above = _mm_or_si128(_mm_or_si128(_mm_srli_epi32(t, 8), _mm_srli_epi32(t, 16)),
                                         _mm_srli_epi32(t, 24));
      const __m128i earlier = _mm_sub_epi32(above, _mm_srli_epi32(above, 7));  // 0x7F in such bytes
      const __m128i x = _mm_andnot_si128(earlier, _mm_and_si128(w, low_bits));
      // Two bytes b, c of each 16 bits become b * 2^7 + c, then the pairs
      // of each lane p * 2^14 + r.
      const __m128i pairs = _mm_or_si128(_mm_slli_epi16(_mm_and_si128(x, low_byte), 7), _mm_srli_epi16(x, 8));
      v[d] = _mm_madd_epi16(pairs, weights);
    }
    // v[d] holds bytes 16m + d, + 4 + d, + 8 + d, + 12 + d: into byte order.
    const __m128i lo01 = _mm_unpacklo_epi32(v[0], v[1]);
    const __m128i lo23 = _mm_unpacklo_epi32(v[2], v[3]);
    const __m128i hi01 = _mm_unpackhi_epi32(v[0], v[1]);
    const __m128i hi23 = _mm_unpackhi_epi32(v[2], v[3]);
    __m128i* out = reinterpret_cast<__m128i*>(plain + 16 * m);
    _mm_store_si128(out + 0, _mm_unpacklo_epi64(lo01, lo23));
    _mm_store_si128(out + 1, _mm_unpackhi_epi64(lo01, lo23));
    _mm_store_si128(out + 2, _mm_unpacklo_epi64(hi01, hi23));
    _mm_store_si128(out + 3, _mm_unpackhi_epi64(hi01, hi23));
  }
}
#endif

// Builds the model's per-rank decoding table from its dictionary.
void HDecode_buildTable(HModel* model);

#endif  // MORAVINE_WORDMODEL_HDECODE_H_
