// Phrases: a sequence of words with the bytes between them, matched in a
// body from the candidates of its first word.
#ifndef MORAVINE_SEARCH_PHRASE_H_
#define MORAVINE_SEARCH_PHRASE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "wordmodel/hmodel.h"

// A phrase split into its words and the gaps between them. In a gap, a run
// of blanks, tabs, carriage returns and line feeds becomes one kGapBlanks
// byte, which stands for any non-empty such run; every other byte stands for
// itself. Bytes before the first word and after the last are left out.
struct SearchPhrase {
  std::vector<std::string> words;
  std::vector<std::string> gaps;  // gaps[i] lies between words[i] and words[i + 1]
  // The other bytes before the first word and after the last, as gaps, a
  // run of blanks at the very start or end left out: the text must end with
  // `lead` just before the first word and go on with `trail` after the last.
  std::string lead;
  std::string trail;
};

constexpr char kGapBlanks = '\0';

// Splits a phrase into words of the ASCII models (runs of letters and
// digits); leaves lead and trail empty.
void Search_parsePhrase(const std::string& text, SearchPhrase* phrase);

// How a search query is searched in a file.
enum class SearchQueryKind {
  kPattern,     // agrep's pattern syntax, against whole tokens (or a phrase of such words)
  kWord,        // one word of the file's model
  kSequence,    // words of the file's model with other bytes around or between them
  kSeparators,  // no word of the file's model: whole separator tokens
};

struct SearchQuery {
  SearchQueryKind kind = SearchQueryKind::kWord;
  SearchPhrase phrase;  // the words, gaps, lead and trail under the file's model
  std::string why;      // when not empty, the query cannot match in the file's model, and why
};

// Whether a query holds characters of agrep's pattern syntax (a dot alone
// does not count: abbreviations and numbers are searched as they stand).
bool Search_hasPatternCharacters(const std::string& text);

// Splits a query by the words of a parsing rule's model (single-code-point
// words of the Unicode models each a word of their own). A query with
// pattern characters, unless `literal`, is a pattern.
void Search_parseQuery(const std::string& text, int32_t rule, bool literal, SearchQuery* query);

// Whether the text between two words matches a gap.
bool Search_gapMatches(const std::string& gap, const unsigned char* text, int32_t length);

// The hits of a phrase in a body: `word_ranks[i]` flags (by rank) the tokens
// that words[i] matched; `candidates` are the body offsets of the first
// word's codewords, ascending. Appends the offset and body length of each
// hit (from the first word to the last), at most max_hits (0: no limit) in
// all. The phrase's lead and trail must stand before and after it.
void Search_matchPhrase(const SearchPhrase& phrase, const std::vector<std::vector<unsigned char>>& word_ranks,
                        const int32_t* candidates, int32_t candidate_count, const unsigned char* body,
                        int32_t body_length, bool spaceless, int32_t max_hits, const HModel* model,
                        std::vector<std::pair<int32_t, int32_t>>* hits);

#endif  // MORAVINE_SEARCH_PHRASE_H_
