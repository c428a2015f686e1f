// The search of one compressed file with the options of the command line:
// case, errors, phrases, a limit on hits, line numbers and offsets in the
// text. The hits come back in ascending position; Search_hitRows (hits.h)
// makes their rows.
#ifndef MORAVINE_SEARCH_SEARCH_FILE_H_
#define MORAVINE_SEARCH_SEARCH_FILE_H_

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "search/scan.h"
#include "search/search_host.h"

struct SearchOptions {
  int32_t errors = 0;        // per word, >= 0
  bool ignore_case = false;  // ASCII letters match in either case
  bool phrase = false;       // unused: each file's model decides how the query splits (Search_parseQuery)
  bool literal = false;      // the query has no pattern characters, whatever it holds
  int32_t max_hits = 0;      // stop after this many hits; 0: all
  bool line_numbers = false;
  bool text_offsets = false;
  SearchScanPath scan_path = SearchScanPath::kAuto;  // for measurements; every path finds the same hits
  // Threads that scan one large body and count its lines, each a stretch of
  // it; the hits are the same whatever the number.
  int32_t threads = 1;
  int32_t stretch_bytes = 0;  // the least body bytes worth a thread; 0: a few megabytes (smaller for tests)
  // The caller has asked Search_mayHit of this file's header and was told
  // it may hold hits: the dictionary is not looked through for that again.
  bool header_checked = false;
};

struct SearchHit {
  int32_t offset = 0;        // of the hit's first codeword in the body
  int32_t length = 0;        // body bytes of the hit: one codeword, or a phrase's
  int64_t line = 0;          // from 1, when line numbers are asked for; else 0
  int64_t text_offset = -1;  // of the hit's first byte in the text, when asked for; else -1
};

// Whether a search word is a phrase: two words or more (runs of ASCII
// letters and digits) with blanks, tabs or line ends between some of them.
// A word without blanks, or blanks without two words (" & "), is matched as
// one pattern against whole tokens.
bool Search_isPhrase(const std::string& word);

// Thrown by Search_findHits for a query that cannot match in a file's
// model: what() says why.
class SearchRefused : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Searches one compressed file. The query is split by the words of the
// file's model (Search_parseQuery): one word is matched against whole word
// tokens, within options.errors (counted in code points under the Unicode
// models, in bytes with agrep under the others); words with other bytes
// between or around them are a sequence, each word within options.errors
// of a word of the text and the bytes between them as in the query, where
// a run of blanks, tabs and line ends stands for any such run in the text;
// a query of separators alone matches whole separator tokens; a pattern
// (agrep's syntax, unless options.literal) is matched against whole
// tokens. Fails as Search_compressedFile does, and with SearchRefused.
void Search_findHits(const std::string& word, const unsigned char* file, int32_t size, const SearchOptions& options,
                     SearchHost* host, std::vector<SearchHit>* hits);

// Whether a compressed file of `file_size` bytes may hold hits of the query,
// judged from its first `have` bytes: false only when its header is there
// and its dictionary holds no token that the query could match, so that
// Search_findHits would find nothing without reading the body. The query
// and the header are checked as Search_findHits checks them, and fail the
// same way. True when the bytes do not yet hold the whole header, or the
// query is not one that a dictionary alone can rule out (a phrase).
bool Search_mayHit(const std::string& word, const unsigned char* file, int64_t have, int64_t file_size,
                   const SearchOptions& options, SearchHost* host);

// Fills in the line numbers (counting the line feeds before each hit) and
// the offsets in the text (the decoded length of everything before each
// hit) of hits in ascending position.
void Search_locateHits(const unsigned char* file, int32_t size, bool line_numbers, bool text_offsets,
                       SearchHit* hits, int32_t count, int32_t threads = 1);

#endif  // MORAVINE_SEARCH_SEARCH_FILE_H_
