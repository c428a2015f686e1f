// Tokens: maximal runs of ASCII letters and digits (word tokens), maximal
// runs of other bytes without a newline (separator tokens), and single
// newline bytes.
#ifndef MORAVINE_WORDMODEL_HTOKEN_H_
#define MORAVINE_WORDMODEL_HTOKEN_H_

#include <bit>
#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "wordmodel/hhashtable.h"
#include "wordmodel/hmodel.h"
#include "wordmodel/hunicode.h"

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

// The token starts of a stretch [begin, end) of a text of `length` bytes,
// found 64 bytes at a time: a token starts where a byte's class differs
// from the one before it, at a newline, and after a newline; the bits of a
// block give every start in it at once, with no branch per byte. `begin`
// must be a token start (the text's start, or just after a newline); a
// token that runs past `end` is cut there, as the scanner cuts it.
//
// The variant `kDropBlanks` leaves out every blank that stands alone
// between two letters or digits of the stretch (the blank that the
// spaceless model does not write, and that counting folds into the word's
// entry under the words model): the word before it then ends one byte
// before the next start given, which the variant flags.
//
// The variant `kUnicode` takes the tokens of the Unicode models: a block
// with a byte outside ASCII is classed character by character
// (HUnicode_blockClasses), one without any as in the ASCII models.
struct HTokenStarts {
  const unsigned char* text;
  int64_t length;
  int64_t end;
  int64_t block;        // offset of the current block of 64 bytes
  uint64_t rest;        // starts in the current block not yet given
  uint64_t carry_a;     // whether the byte before the block is a letter or digit
  uint64_t carry_nl;    // whether it is a newline (1 at `begin`: a start)
  uint64_t after;       // kDropBlanks: starts that follow a left-out blank
  uint64_t carry_drop;  // kDropBlanks: whether the block's first start does
  uint64_t carry_s;     // kDropBlanks: whether the byte before the block is of a word that takes a blank
};

// Whether any of the 64 bytes at p lies outside ASCII.
inline bool HTokenStarts_anyHigh(const unsigned char* p) {
  uint64_t any = 0;
  for (int k = 0; k < 8; ++k) {
    uint64_t v;
    std::memcpy(&v, p + 8 * k, 8);
    any |= v;
  }
  return (any & 0x8080808080808080ull) != 0;
}

// Bit i of *alnum / *newline: whether byte i of the 64 at p is a letter or
// digit / a newline.
// With `blank` set, *blank receives the same for the byte ' '.
inline void HTokenStarts_classes(const unsigned char* p, uint64_t* alnum, uint64_t* newline,
                                 uint64_t* blank = nullptr) {
#if defined(__SSE2__)
  uint64_t a = 0, n = 0, b = 0;
  for (int k = 0; k < 4; ++k) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
    // Unsigned ranges by signed comparisons of bytes shifted by 128.
    const __m128i digit =
        _mm_cmplt_epi8(_mm_add_epi8(x, _mm_set1_epi8(static_cast<char>(-'0' - 128))), _mm_set1_epi8(-128 + 10));
    const __m128i folded = _mm_or_si128(x, _mm_set1_epi8(0x20));  // 'A'..'Z' onto 'a'..'z'
    const __m128i letter = _mm_cmplt_epi8(_mm_add_epi8(folded, _mm_set1_epi8(static_cast<char>(-'a' - 128))),
                                          _mm_set1_epi8(-128 + 26));
    a |= static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(_mm_or_si128(digit, letter)))) << (16 * k);
    n |= static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, _mm_set1_epi8('\n')))))
         << (16 * k);
    if (blank) {
      b |= static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, _mm_set1_epi8(' ')))))
           << (16 * k);
    }
  }
  *alnum = a;
  *newline = n;
  if (blank) *blank = b;
#else
  uint64_t a = 0, n = 0, b = 0;
  for (int i = 0; i < 64; ++i) {
    a |= static_cast<uint64_t>(HToken_byteClass[p[i]] == HBYTE_ALNUM) << i;
    n |= static_cast<uint64_t>(HToken_byteClass[p[i]] == HBYTE_NEWLINE) << i;
    b |= static_cast<uint64_t>(p[i] == ' ') << i;
  }
  *alnum = a;
  *newline = n;
  if (blank) *blank = b;
#endif
}

// Whether the character at `at` of the text is one of a word that takes a
// blank before it (a letter or digit in the ASCII models).
template <bool kUnicode>
inline bool HTokenStarts_spaceableAt(const HTokenStarts* s, int64_t at) {
  if constexpr (kUnicode) {
    int32_t n;
    return s->text[at] >= 0x80 ? HUnicode_classAt(s->text + at, s->length - at, &n) == HCHAR_WORD
                               : HToken_byteClass[s->text[at]] == HBYTE_ALNUM;
  } else {
    return HToken_byteClass[s->text[at]] == HBYTE_ALNUM;
  }
}

// The starts in the block at s->block, the carries updated.
template <bool kDropBlanks = false, bool kUnicode = false>
inline uint64_t HTokenStarts_block(HTokenStarts* s) {
  const unsigned char* p = s->text + s->block;
  unsigned char last[64];
  if (s->length - s->block < 64) {  // the text's last bytes, padded
    std::memset(last, 0, sizeof last);
    std::memcpy(last, p, static_cast<size_t>(s->length - s->block));
    p = last;
  }
  uint64_t a, n, b;
  HTokenStarts_classes(p, &a, &n, kDropBlanks ? &b : nullptr);
  uint64_t spaceable = a;  // bytes of words that take a blank
  uint64_t edges = 0;      // starts forced by single-code-point words
  if constexpr (kUnicode) {
    if (HTokenStarts_anyHigh(p)) {
      HUnicode_blockClasses(s->text, s->length, s->block, &a, &spaceable, &edges);
    } else if (s->block > 0 && s->text[s->block - 1] >= 0x80) {
      int64_t begins;
      edges = HUnicode_classBefore(s->text, s->block, &begins) == HCHAR_SINGLE;
    }
  }
  const uint64_t a_before = (a << 1) | s->carry_a;
  uint64_t starts = (a ^ a_before) | n | ((n << 1) | s->carry_nl) | edges;
  s->carry_a = a >> 63;
  s->carry_nl = n >> 63;
  if constexpr (kDropBlanks) {
    // A blank between two words that take one, both before the stretch's end.
    const int64_t room = s->end - s->block;
    const uint64_t next_s = room > 64 && HTokenStarts_spaceableAt<kUnicode>(s, s->block + 64) ? uint64_t{1} << 63 : 0;
    const uint64_t s_before = (spaceable << 1) | s->carry_s;
    uint64_t drop = b & s_before & ((spaceable >> 1) | next_s);
    if (room < 64) drop &= room > 0 ? (uint64_t{1} << (room - 1)) - 1 : 0;
    starts &= ~drop;
    s->after = (drop << 1) | s->carry_drop;
    s->carry_drop = drop >> 63;
    s->carry_s = spaceable >> 63;
  }
  return starts;
}

template <bool kDropBlanks = false, bool kUnicode = false>
inline void HTokenStarts_init(HTokenStarts* s, const unsigned char* text, int64_t length, int64_t begin,
                              int64_t end) {
  *s = HTokenStarts{text, length, end, begin, 0, 0, 1, 0, 0, 0};
  const uint64_t starts = HTokenStarts_block<kDropBlanks, kUnicode>(s);
  s->rest = starts & (starts - 1);  // bit 0: the token at begin
}

// Set bits of a word, by additions within the word: a build for any x86-64
// has no population count instruction, and std::popcount then calls a
// library function.
inline int32_t HTokenStarts_popcount(uint64_t x) {
  x = x - ((x >> 1) & 0x5555555555555555ull);
  x = (x & 0x3333333333333333ull) + ((x >> 2) & 0x3333333333333333ull);
  x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0Full;
  return static_cast<int32_t>((x * 0x0101010101010101ull) >> 56);
}

// The starts of the next tokens, a block of 64 bytes at a time, into
// at[0..] and, with kDropBlanks, their flags into after[0..]: at least `want`
// unless the stretch ends first, its end then given as the last start.
// Gives their number, at most want + 64; both arrays need room for
// want + 68 entries. With no branch per start.
template <bool kDropBlanks = false, bool kUnicode = false>
inline int32_t HTokenStarts_fill(HTokenStarts* s, int32_t want, int32_t* at, int32_t* after) {
  int32_t n = 0;
  for (;;) {
    const int64_t room = s->end - s->block;
    uint64_t bits = s->rest;
    if (room < 64) bits &= room > 0 ? (uint64_t{1} << room) - 1 : 0;
    const uint64_t flags = kDropBlanks ? s->after : 0;
    const int32_t block = static_cast<int32_t>(s->block);
    const int32_t count = HTokenStarts_popcount(bits);
    for (int32_t i = 0; i < count; i += 4) {
      for (int32_t k = 0; k < 4; ++k) {
        const int bit = std::countr_zero(bits) & 63;
        at[n + i + k] = block + bit;
        if constexpr (kDropBlanks) after[n + i + k] = static_cast<int32_t>((flags >> bit) & 1);
        bits &= bits - 1;
      }
    }
    n += count;
    s->rest = 0;
    if (room <= 64) {
      at[n] = static_cast<int32_t>(s->end);
      if constexpr (kDropBlanks) after[n] = 0;
      s->block = s->end;
      return n + 1;
    }
    s->block += 64;
    s->rest = HTokenStarts_block<kDropBlanks, kUnicode>(s);
    if (n >= want) return n;
  }
}

#endif  // MORAVINE_WORDMODEL_HTOKEN_H_
