// Matching a word against the vocabulary of a file of the Unicode models:
// an error is one code point inserted, deleted or replaced, and case is
// ignored by Unicode case folding.
#ifndef MORAVINE_SEARCH_UNICODE_MATCH_H_
#define MORAVINE_SEARCH_UNICODE_MATCH_H_

#include <cstdint>
#include <string>
#include <vector>

#include "search/search_host.h"
#include "wordmodel/hmodel.h"

// The code points by which text is compared, appended to *out: those of
// the well-formed UTF-8 as they are (a byte of malformed UTF-8 counts as a
// code point of its own, apart from every real one); with `ignore_case`,
// case folded (so that "STRASSE" and "Straße" agree) and without the
// accents of the Latin, Greek and Cyrillic scripts (the combining marks
// U+0300 to U+036F of the canonical decomposition, so that "ΣΟΦΙΑ" and
// "σοφία" agree). Allocates nothing once *out has room.
void Search_codePoints(const unsigned char* text, int32_t length, bool ignore_case, std::vector<int32_t>* out);

// The edit distance between two code point sequences, or some value above
// `limit` once it is known to exceed it.
int32_t Search_codePointDistance(const int32_t* a, int32_t a_length, const int32_t* b, int32_t b_length,
                                 int32_t limit);

// The ranks of the word tokens of a dictionary of the Unicode models that
// lie within `errors` edits of the word, in rank order. A word of one
// character of a script written without blanks (a word of its own) is
// matched without errors. The host is asked
// every few thousand tokens whether the search was cancelled.
void Search_unicodeWordRanks(const std::string& word, int32_t errors, bool ignore_case, const HModel* model,
                             const SearchHost* host, std::vector<int32_t>* ranks);

#endif  // MORAVINE_SEARCH_UNICODE_MATCH_H_
