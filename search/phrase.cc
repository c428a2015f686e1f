#include "search/phrase.h"

#include "wordmodel/hdecode.h"
#include "wordmodel/htoken.h"

namespace {

// A gap longer than this in the text is no gap between two words of a phrase.
constexpr size_t kMaxGapBytes = 1024;

inline bool IsBlank(unsigned char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

void Search_parsePhrase(const std::string& text, SearchPhrase* phrase) {
  phrase->words.clear();
  phrase->gaps.clear();
  std::string gap;
  size_t i = 0;
  const size_t n = text.size();
  while (i < n) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (HToken_isWordByte(c)) {
      size_t j = i;
      while (j < n && HToken_isWordByte(static_cast<unsigned char>(text[j]))) ++j;
      if (!phrase->words.empty()) phrase->gaps.push_back(gap);
      phrase->words.push_back(text.substr(i, j - i));
      gap.clear();
      i = j;
    } else if (IsBlank(c)) {
      while (i < n && IsBlank(static_cast<unsigned char>(text[i]))) ++i;
      gap.push_back(kGapBlanks);
    } else {
      gap.push_back(static_cast<char>(c));
      ++i;
    }
  }
}

bool Search_gapMatches(const std::string& gap, const unsigned char* text, int32_t length) {
  int32_t j = 0;
  for (char g : gap) {
    if (g == kGapBlanks) {
      if (j >= length || !IsBlank(text[j])) return false;
      while (j < length && IsBlank(text[j])) ++j;
    } else {
      if (j >= length || text[j] != static_cast<unsigned char>(g)) return false;
      ++j;
    }
  }
  return j == length;
}

void Search_matchPhrase(const SearchPhrase& phrase, const std::vector<std::vector<unsigned char>>& word_ranks,
                        const int32_t* candidates, int32_t candidate_count, const unsigned char* body,
                        int32_t body_length, bool spaceless, int32_t max_hits, const HModel* model,
                        std::vector<std::pair<int32_t, int32_t>>* hits) {
  const HDictionary* dictionary = &model->dictionary;
  const HCodetable* table = &model->codetable;
  std::string between;  // the text between two words, reused
  between.reserve(kMaxGapBytes);
  for (int32_t c = 0; c < candidate_count; ++c) {
    if (max_hits > 0 && static_cast<int32_t>(hits->size()) >= max_hits) return;
    const int32_t start = candidates[c];
    int32_t p = start + HDecode_codewordLength(body + start, body_length - start);
    bool matched = true;
    for (size_t w = 1; w < phrase.words.size() && matched; ++w) {
      between.clear();
      int32_t rank = -1;
      int32_t length = 0;
      while (p < body_length) {
        length = HDecode_codewordLength(body + p, body_length - p);
        rank = HDecode_rank(body + p, length, table, dictionary->token_count);
        if (HDecode_isWord(dictionary, rank)) break;
        int32_t token_length;
        const unsigned char* token = HDecode_token(dictionary, rank, &token_length);
        if (between.size() + static_cast<size_t>(token_length) > kMaxGapBytes) break;
        between.append(reinterpret_cast<const char*>(token), static_cast<size_t>(token_length));
        p += length;
        rank = -1;
      }
      // The spaceless model leaves the single blank between two words out.
      if (spaceless && between.empty()) between.push_back(' ');
      matched = rank >= 0 && HDecode_isWord(dictionary, rank) && word_ranks[w][static_cast<size_t>(rank)] &&
                Search_gapMatches(phrase.gaps[w - 1], reinterpret_cast<const unsigned char*>(between.data()),
                                  static_cast<int32_t>(between.size()));
      p += length;
    }
    if (matched) hits->emplace_back(start, p - start);
  }
}
