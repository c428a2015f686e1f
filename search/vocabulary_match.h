// Matching a search word against a compressed file's vocabulary with agrep,
// run as a program or, when the host allows, in-process, and the search of
// one compressed file.
#ifndef MORAVINE_SEARCH_VOCABULARY_MATCH_H_
#define MORAVINE_SEARCH_VOCABULARY_MATCH_H_

#include <cstdint>
#include <string>
#include <vector>

#include "search/myhash.h"
#include "search/scan.h"
#include "search/search_host.h"
#include "wordmodel/hmodel.h"

// The agrep arguments for a word: "agrep", "-V0", "-i" when case is ignored,
// "-N" when errors != 0, and the pattern "^WORD$". The word is passed
// unchanged, as one argument.
std::vector<std::string> Search_agrepArguments(const std::string& word, int32_t errors, bool ignore_case = false);

// The whole search of one compressed file. On entry *count is the number of
// hits expected (0: no estimate); on return the number of hits. When no
// vocabulary token matched, the count is 0 and offsets stays empty.
void Search_compressedFile(int32_t* count, const std::string& word, const unsigned char* file, int32_t size,
                           int32_t errors, SearchHost* host, SearchOffsets* offsets);

// The ranks of the vocabulary tokens that agrep selects with the given
// arguments, in rank order. When host->useBundledMatcher(), the matching
// runs in this process; otherwise agrep runs over a vocabulary file with its
// output in a match file, both temporary. Returns the number of matched
// lines (the newline token stands on two lines of the vocabulary file).
int32_t Search_matchRanks(const std::vector<std::string>& arguments, const HModel* model, SearchHost* host,
                          std::vector<int32_t>* ranks);

// False only when no token of the dictionary string can match: the bundled
// matcher runs, the pattern is a plain word matched whole, case counts, and
// no piece of the word (the word itself without errors; one of errors + 1
// pieces with them) occurs in the string, or, when the pieces are long
// enough to be rare, no token that holds one lies within the errors of the
// word. A file without a match then needs neither its tokens indexed nor
// its body read. True in every other case.
bool Search_mayMatch(const std::vector<std::string>& arguments, const unsigned char* dictionary, int32_t length,
                     SearchHost* host);

// The rank of the newline token of a dictionary with its starts, or -1 when
// the text has none. The newline token is the one token that holds a line
// feed, so its place is found in the string without a pass over the tokens.
int32_t Search_newlineRank(const HDictionary* dictionary);

// Puts the codeword of a rank into the table with the value and sets the
// filter flag of its first byte.
void Search_addRank(int32_t rank, MyHash* table, unsigned char* filter, int32_t value, const HModel* model);

// Matches the vocabulary (Search_matchRanks) and fills the table and the
// first-byte filter with the matched tokens' codewords. Returns the number
// of matched lines.
int32_t Search_matchVocabulary(MyHash* table, unsigned char* filter, const std::vector<std::string>& arguments,
                               int32_t value, const HModel* model, SearchHost* host);

// Creates the vocabulary file "agrep.tmp.PID.N" in the temporary directory
// (N = 1, 2, ... until a free name), writes the dictionary string with every
// line feed as carriage return and line feed, and leaves its name in `name`.
void Search_writeVocabularyFile(char* name, int32_t capacity, const HDictionary* dictionary, SearchHost* host);

// Runs agrep over the input file with its output sent to `out`; fails
// unless it exits with status 0 or 1. output_name is used in messages only.
int Search_runCommand(const char* input, SearchHost::File out, const char* output_name,
                      const std::vector<std::string>& arguments, SearchHost* host);

// Creates the match file, runs the command, reads the matched lines into the
// table and the filter, and removes the match file. Returns the line count.
int32_t Search_readMatches(const char* input, MyHash* table, unsigned char* filter,
                           const std::vector<std::string>& arguments, int32_t value, const HModel* model,
                           SearchHost* host);

#endif  // MORAVINE_SEARCH_VOCABULARY_MATCH_H_
