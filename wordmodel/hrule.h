// The parsing rules: which text model made a compressed file, stored as its
// first byte. Rules 0 and 1 split a text into runs of ASCII letters and
// digits and the bytes between them; rules 2 and 3 into Unicode words
// (hunicode.h). Rules 1 and 3 leave out the blank between two words.
#ifndef MORAVINE_WORDMODEL_HRULE_H_
#define MORAVINE_WORDMODEL_HRULE_H_

#include <cstddef>
#include <cstdint>

#include "wordmodel/htoken.h"
#include "wordmodel/hunicode.h"

enum HRule : int32_t {
  kHRuleWords = 0,              // words and separators
  kHRuleSpaceless = 1,          // spaceless
  kHRuleUnicodeWords = 2,       // Unicode words and separators, with a checksum
  kHRuleUnicodeSpaceless = 3,   // Unicode spaceless, with a checksum
};

inline bool HRule_known(int32_t rule) { return rule >= kHRuleWords && rule <= kHRuleUnicodeSpaceless; }
inline bool HRule_spaceless(int32_t rule) { return rule == kHRuleSpaceless || rule == kHRuleUnicodeSpaceless; }
inline bool HRule_unicode(int32_t rule) { return rule == kHRuleUnicodeWords || rule == kHRuleUnicodeSpaceless; }
// The rule of a model chosen by its two properties.
inline HRule HRule_of(bool unicode, bool spaceless) {
  return static_cast<HRule>((unicode ? 2 : 0) + (spaceless ? 1 : 0));
}
// The bytes that follow the body: a CRC-32 of the text under the Unicode rules.
inline int32_t HRule_trailerBytes(int32_t rule) { return HRule_unicode(rule) ? 4 : 0; }

// The length of the token at p under a rule's model (remaining >= 1).
inline int32_t HRule_tokenLength(int32_t rule, const unsigned char* p, int32_t remaining) {
  return HRule_unicode(rule) ? HUnicode_scan(p, remaining) : HToken_scan(p, remaining);
}

// Whether the spaceless models imply a blank between two pieces of a text
// that meet: the first ends with, and the second begins with, a word that
// takes one (a letter or digit under the ASCII rules; a word character that
// is not a single-code-point word under the Unicode rules).
inline bool HRule_blankBetween(int32_t rule, const unsigned char* left, size_t left_length, const unsigned char* right,
                               size_t right_length) {
  if (!HRule_spaceless(rule) || left_length == 0 || right_length == 0) return false;
  if (!HRule_unicode(rule)) return HToken_isWordByte(left[left_length - 1]) && HToken_isWordByte(right[0]);
  int64_t begins;
  int32_t n;
  return HUnicode_classBefore(left, static_cast<int64_t>(left_length), &begins) == HCHAR_WORD &&
         HUnicode_classAt(right, static_cast<int64_t>(right_length), &n) == HCHAR_WORD;
}

#endif  // MORAVINE_WORDMODEL_HRULE_H_
