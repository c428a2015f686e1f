// Character classes of the Unicode text models.
//
// A word token of the Unicode models is a maximal run of code points that
// are letters, combining marks or numbers, in well-formed UTF-8; a code
// point of a script written without blanks between words (Han, Hiragana,
// Katakana, Thai, Lao, Khmer, Myanmar) is a word of its own, one code point
// long. Every other byte, each byte of malformed UTF-8 included, belongs to
// separator tokens, and a line feed is a token of its own, as in the ASCII
// models. The categories come from the utf8proc library.
#ifndef MORAVINE_WORDMODEL_HUNICODE_H_
#define MORAVINE_WORDMODEL_HUNICODE_H_

#include <cstdint>

enum HCharClass : unsigned char {
  HCHAR_SEPARATOR = 0,  // any other code point, or a byte of malformed UTF-8
  HCHAR_WORD = 1,       // a letter, mark or number that runs on with its neighbours
  HCHAR_SINGLE = 2,     // a letter of a script written without blanks: a word of one code point
};

// The class of the code points below 2^16, filled from the library on first
// use; those above go through HUnicode_classOfCodePoint.
extern const unsigned char* HUnicode_bmpClasses();

// The class of a code point (0 .. 0x10FFFF).
HCharClass HUnicode_classOfCodePoint(int32_t code_point);

// The code point of the well-formed UTF-8 sequence at p, within `remaining`
// bytes (at least 1), and its length in bytes; -1 and length 1 when p does
// not begin one.
inline int32_t HUnicode_decode(const unsigned char* p, int64_t remaining, int32_t* length) {
  const unsigned char c = p[0];
  *length = 1;
  if (c < 0x80) return c;
  if (c < 0xC2 || c > 0xF4) return -1;
  if (c < 0xE0) {
    if (remaining < 2 || (p[1] & 0xC0) != 0x80) return -1;
    *length = 2;
    return ((c & 0x1F) << 6) | (p[1] & 0x3F);
  }
  if (c < 0xF0) {
    if (remaining < 3 || (p[2] & 0xC0) != 0x80) return -1;
    const unsigned char lo = c == 0xE0 ? 0xA0 : 0x80;
    const unsigned char hi = c == 0xED ? 0x9F : 0xBF;  // no surrogates
    if (p[1] < lo || p[1] > hi) return -1;
    *length = 3;
    return ((c & 0x0F) << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F);
  }
  if (remaining < 4 || (p[2] & 0xC0) != 0x80 || (p[3] & 0xC0) != 0x80) return -1;
  const unsigned char lo = c == 0xF0 ? 0x90 : 0x80;
  const unsigned char hi = c == 0xF4 ? 0x8F : 0xBF;
  if (p[1] < lo || p[1] > hi) return -1;
  *length = 4;
  return ((c & 0x07) << 18) | ((p[1] & 0x3F) << 12) | ((p[2] & 0x3F) << 6) | (p[3] & 0x3F);
}

// The class of the character at p (ASCII letters and digits are words, the
// line feed and other ASCII bytes separators) and its length in bytes.
inline HCharClass HUnicode_classAt(const unsigned char* p, int64_t remaining, int32_t* length) {
  const int32_t cp = HUnicode_decode(p, remaining, length);
  if (cp < 0) return HCHAR_SEPARATOR;
  if (cp < 0x10000) return static_cast<HCharClass>(HUnicode_bmpClasses()[cp]);
  return HUnicode_classOfCodePoint(cp);
}

// The class of the character that ends just before position `at` of a
// text (a separator at the text's start) and where it begins.
HCharClass HUnicode_classBefore(const unsigned char* text, int64_t at, int64_t* begins);

// The length of the Unicode token at p, given the bytes remaining (at
// least 1): a line feed alone; a single-code-point word; a run of word
// characters; or a run of separator characters without a line feed.
int32_t HUnicode_scan(const unsigned char* p, int64_t remaining);

// The class of a whole token: that of its first character.
inline HCharClass HUnicode_tokenClass(const unsigned char* token, int32_t length) {
  int32_t n;
  return HUnicode_classAt(token, length, &n);
}

// The classes of the 64 bytes of a text from `block` on (fewer at its end):
// bit i of *word when byte block + i belongs to a word character (of
// either kind), of *spaceable when to one of class HCHAR_WORD, and of
// *single_edges when a token must start there because a single-code-point
// word begins there or ends just before. A character that began in the
// block before is classed from its beginning.
void HUnicode_blockClasses(const unsigned char* text, int64_t length, int64_t block, uint64_t* word,
                           uint64_t* spaceable, uint64_t* single_edges);

// For messages: ", or was written with the word characters of another
// Unicode version than this program's (N.N.N)".
const char* HUnicode_versionNote();

// Counts the letters of a text that are ASCII and those that are not (by
// Unicode category), in samples spread over it: at most about a megabyte
// is read, however long the text. For a hint, not for exact figures.
void HUnicode_sampleLetters(const unsigned char* text, int64_t length, int64_t* ascii, int64_t* other);

#endif  // MORAVINE_WORDMODEL_HUNICODE_H_
