// Hits in context: the rows that show each hit of a search with the words
// around it, decoded from the compressed body alone.
#ifndef MORAVINE_SEARCH_HITS_H_
#define MORAVINE_SEARCH_HITS_H_

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "search/search_file.h"

// The lines that the rows of one file show, each decoded once however many
// rows show it, in the order of the text: each line without its line feed
// (a carriage return before the feed stays, as the text has it). A line
// feed that ends the text ends its last line: no empty line follows it.
struct SearchLines {
  std::string text;              // the lines one after the other
  std::vector<size_t> ends;      // where each line ends in `text`; it begins where the one before ends
  std::vector<int64_t> numbers;  // each line's number, from 1; 0 when the hits' lines are not counted
};

// One row per hit: the five columns of the results list, and what the
// options of Search_hitRows add.
struct SearchRow {
  std::string file;      // display name
  std::string path;      // the searched file's path, as the search job was given it
  std::string position;  // offset of the hit in the compressed body, decimal
  std::string left;      // up to three words before the hit
  std::string word;      // the hit's token, or the text of a phrase's hit
  std::string right;     // the text after the hit, up to the third word after it
  bool right_after_blank = false;  // a blank between the word and the right context is not shown
  bool left_joins = false;  // the spaceless models imply a blank between the left context and the word
  int64_t line = 0;                // the hit's line, from 1; 0 when not counted
  int64_t text_offset = -1;        // the hit's offset in the text; -1 when not computed
  // The hit's line with the lines around it: `line_count` lines of *lines
  // from the `first_line`-th on, shared by the rows of the file (see
  // Search_rowLine); none when line_count is 0.
  std::shared_ptr<const SearchLines> lines;
  int32_t first_line = 0;
  int32_t line_count = 0;
  int32_t hit_line = 0;    // the index of the hit's line among the row's lines
  int32_t hit_column = -1;  // the byte offset of the hit in its line; -1 when not known
};

struct SearchRowOptions {
  int32_t left_words = 3;   // word tokens before the hit
  int32_t right_words = 4;  // word tokens from the hit's last token on (counting it when it is a word)
  bool whole_line = false;  // give each row its hit's line
  int32_t lines_before = 0;       // and so many lines before it (any value > 0 implies whole_line)
  int32_t lines_after = 0;        // and after it
  int32_t max_context_bytes = 0;  // cuts contexts and lines to so many bytes (0: no limit)
  // When given and set, row building stops and throws HCancelled.
  const std::atomic<bool>* cancel = nullptr;
};

// Line `index` of a table, and the row's i-th line (0 <= i < line_count).
std::string_view Search_line(const SearchLines& lines, int32_t index);
std::string_view Search_rowLine(const SearchRow& row, int32_t i);

// The part of a path after its last '/' (on Windows, '/' or '\\'), less a
// final ".hwz" when the name is longer than 4 characters.
std::string Search_displayName(const std::string& path);

// Builds the rows of the hits (from Search_findHits), in their order. Left
// and right contexts show control bytes as blanks; the word and the lines
// are the text as it is. A cut never splits a UTF-8 character. When a
// context cannot be decoded, the rows made so far stay (the current one with
// what it has), no further rows are made and *error names the context:
// "Error decompressing left context.", "Error decompressing right context."
// or "Error decompressing the line.". The file must be a valid compressed
// file (it has been searched). Many hits are shared out among up to
// `threads` threads; the rows and the error are the same whatever the number.
// With lines, the rows share one table of them, made in one pass over the
// hits: each line is decoded once however many rows show it, so time and
// memory grow with the text that the rows show, whatever the lines' lengths.
// A row's lines reach from `lines_before` above its hit's line to
// `lines_after` below the last line that the hit touches (a phrase goes on
// over line ends).
void Search_hitRows(const std::string& display_name, const unsigned char* file, int32_t size, const SearchHit* hits,
                    int32_t count, const SearchRowOptions& options, std::vector<SearchRow>* rows, std::string* error,
                    int32_t threads = 1);

// The rows of single-codeword hits at the given body offsets with the
// default options: three words before the hit, the hit's token and the text
// after it up to the third word after it, less a blank that follows it.
void Search_contextRows(const std::string& display_name, const unsigned char* file, int32_t size,
                        const int32_t* offsets, int32_t count, std::vector<SearchRow>* rows, std::string* error);

// The longest prefix of at most `limit` bytes that does not end inside a
// UTF-8 character, and the shortest suffix of at most `limit` bytes that does
// not begin inside one. Bytes that form no UTF-8 character count as whole.
size_t Search_utf8Prefix(std::string_view text, size_t limit);
size_t Search_utf8SuffixStart(std::string_view text, size_t limit);

#endif  // MORAVINE_SEARCH_HITS_H_
