// Hits in context: the rows that show each hit of a search with the words
// around it, decoded from the compressed body alone.
#ifndef MORAVINE_SEARCH_HITS_H_
#define MORAVINE_SEARCH_HITS_H_

#include <cstdint>
#include <string>
#include <vector>

// One row per hit: the five columns of the results list.
struct SearchRow {
  std::string file;      // display name
  std::string position;  // offset of the hit in the compressed body, decimal
  std::string left;      // up to three words before the hit
  std::string word;      // the hit's token
  std::string right;     // the text after the token, up to the third word after it
  bool right_after_blank = false;  // a blank between the word and the right context is not shown
};

// The part of a path after its last '/', less a final ".hwz" when the name
// is longer than 4 characters.
std::string Search_displayName(const std::string& path);

// Builds the rows of the hits at the given body offsets, in their order.
// The right context starts right after the hit's token, less a blank that
// follows it. When a context cannot be decoded, the rows made so far stay (the current
// one with what it has), no further rows are made and *error names the
// context: "Error decompressing left context." or "Error decompressing right
// context.". The file must be a valid compressed file (it has been searched).
void Search_contextRows(const std::string& display_name, const unsigned char* file, int32_t size,
                        const int32_t* offsets, int32_t count, std::vector<SearchRow>* rows, std::string* error);

#endif  // MORAVINE_SEARCH_HITS_H_
