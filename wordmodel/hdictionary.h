// The dictionary: the vocabulary in rank order as one string, each token
// followed by a newline byte, and the 36-byte code-table block.
#ifndef MORAVINE_WORDMODEL_HDICTIONARY_H_
#define MORAVINE_WORDMODEL_HDICTIONARY_H_

#include <cstdint>

#include "wordmodel/hmodel.h"

// Builds an owned dictionary string from the first n entries of the
// level-sorted tree array, and its start positions.
void HDictionary_fromtree(HNode* const* tree, int32_t n, HDictionary* dictionary);

// Wraps a stored string in place (not owned) and computes the start positions.
void HDictionary_fromstring(const unsigned char* string, int32_t length, int32_t n, HDictionary* dictionary);

// As HDictionary_fromstring, with the same checks and failures, but without
// the start of each token: the dictionary holds the string and the count
// only, and HDecode_token cannot be used on it. Counting needs no pass per
// token, so a reader that may not need the tokens at all starts here.
void HDictionary_fromstringCounted(const unsigned char* string, int32_t length, int32_t n, HDictionary* dictionary);

// Checks that every token of a dictionary with its start positions is one
// that the tokenizer can make: a run of letters and digits, a run of other
// bytes without a line feed, or a line feed alone. Fails with "Error:
// dictionary token N is not a token of any text" otherwise: damage that
// leaves the lengths alone shows here. Under the Unicode rules, whose files
// hold a checksum of the text, a token must only be a line feed alone or a
// run of bytes without one.
void HDictionary_checkTokens(const HDictionary* dictionary);

// Under the Unicode rules: fills the class of every token of a dictionary
// with its start positions (HDictionary::classes), after which
// HDictionary_checkTokens checks the tokens as Unicode tokens.
void HDictionary_classify(HDictionary* dictionary);

// Creates the model's vocabulary (n + 13 buckets) and enters every token of
// the dictionary with the codeword of its rank.
void HHashtable_fromdict(const HDictionary* dictionary, const HCodetable* table, HModel* model);

void HCodetable_tostring(unsigned char* out36, const HCodetable* table);
void HCodetable_fromstring(const unsigned char* in36, HCodetable* table);

// Writes the dictionary listing to the report stream.
void HDictionary_print(const HDictionary* dictionary, const HModel* model, bool with_codewords);

// Writes bytes readably to the report stream: printable ASCII as is, any
// other byte as [value] with the value read as a signed 8-bit number.
void HPrint_string(const unsigned char* bytes, int32_t length);

void HDictionary_free(HDictionary* dictionary, bool owns_string);

#endif  // MORAVINE_WORDMODEL_HDICTIONARY_H_
