// The parsing rules: which text model made a compressed file, stored as its
// first byte. Rules 0 and 1 split a text into runs of ASCII letters and
// digits and the bytes between them; rules 2 and 3 into Unicode words
// (hunicode.h). Rules 1 and 3 leave out the blank between two words.
#ifndef MORAVINE_WORDMODEL_HRULE_H_
#define MORAVINE_WORDMODEL_HRULE_H_

#include <cstdint>

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

#endif  // MORAVINE_WORDMODEL_HRULE_H_
