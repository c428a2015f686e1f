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
};

constexpr char kGapBlanks = '\0';

void Search_parsePhrase(const std::string& text, SearchPhrase* phrase);

// Whether the text between two words matches a gap.
bool Search_gapMatches(const std::string& gap, const unsigned char* text, int32_t length);

// The hits of a phrase in a body: `word_ranks[i]` flags (by rank) the tokens
// that words[i] matched; `candidates` are the body offsets of the first
// word's codewords, ascending. Appends the offset and body length of each
// hit, at most max_hits (0: no limit) in all.
void Search_matchPhrase(const SearchPhrase& phrase, const std::vector<std::vector<unsigned char>>& word_ranks,
                        const int32_t* candidates, int32_t candidate_count, const unsigned char* body,
                        int32_t body_length, bool spaceless, int32_t max_hits, const HModel* model,
                        std::vector<std::pair<int32_t, int32_t>>* hits);

#endif  // MORAVINE_SEARCH_PHRASE_H_
