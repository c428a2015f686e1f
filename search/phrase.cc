#include "search/phrase.h"

#include <vector>

#include "wordmodel/hdecode.h"
#include "wordmodel/hrule.h"
#include "wordmodel/htoken.h"
#include "wordmodel/hunicode.h"

namespace {

// A gap longer than this in the text is no gap between two words of a phrase.
constexpr size_t kMaxGapBytes = 1024;

inline bool IsBlank(unsigned char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

namespace {

// Splits a text into words and the gaps around them; `unicode` takes the
// words of the Unicode models.
void Split(const std::string& text, bool unicode, SearchPhrase* phrase) {
  phrase->words.clear();
  phrase->gaps.clear();
  phrase->lead.clear();
  phrase->trail.clear();
  std::string gap;
  size_t i = 0;
  const size_t n = text.size();
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  auto add_word = [&](size_t from, size_t to) {
    if (phrase->words.empty()) {
      phrase->lead = gap;
    } else {
      phrase->gaps.push_back(gap);
    }
    phrase->words.push_back(text.substr(from, to - from));
    gap.clear();
  };
  while (i < n) {
    const unsigned char c = bytes[i];
    int32_t length = 1;
    const HCharClass cls = unicode ? HUnicode_classAt(bytes + i, static_cast<int64_t>(n - i), &length)
                                   : (HToken_isWordByte(c) ? HCHAR_WORD : HCHAR_SEPARATOR);
    if (cls == HCHAR_SINGLE) {
      add_word(i, i + static_cast<size_t>(length));
      i += static_cast<size_t>(length);
    } else if (cls == HCHAR_WORD) {
      size_t j = i + static_cast<size_t>(length);
      while (j < n) {
        int32_t next = 1;
        const HCharClass k = unicode ? HUnicode_classAt(bytes + j, static_cast<int64_t>(n - j), &next)
                                     : (HToken_isWordByte(bytes[j]) ? HCHAR_WORD : HCHAR_SEPARATOR);
        if (k != HCHAR_WORD) break;
        j += static_cast<size_t>(next);
      }
      add_word(i, j);
      i = j;
    } else if (IsBlank(c)) {
      while (i < n && IsBlank(bytes[i])) ++i;
      gap.push_back(kGapBlanks);
    } else {
      gap.append(text, i, static_cast<size_t>(length));
      i += static_cast<size_t>(length);
    }
  }
  phrase->trail = gap;
  if (!phrase->lead.empty() && phrase->lead.front() == kGapBlanks) phrase->lead.erase(0, 1);
  if (!phrase->trail.empty() && phrase->trail.back() == kGapBlanks) phrase->trail.pop_back();
  if (phrase->words.empty()) {
    phrase->lead.clear();
    phrase->trail.clear();
  }
}

// Whether the query holds a letter that the ASCII models cannot see.
bool HasOtherLetters(const std::string& text) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  for (size_t i = 0; i < text.size();) {
    int32_t length;
    if (bytes[i] >= 0x80 && HUnicode_classAt(bytes + i, static_cast<int64_t>(text.size() - i), &length) != HCHAR_SEPARATOR) {
      return true;
    }
    i += bytes[i] >= 0x80 ? static_cast<size_t>(length) : 1;
  }
  return false;
}

}  // namespace

void Search_parsePhrase(const std::string& text, SearchPhrase* phrase) {
  Split(text, false, phrase);
  phrase->lead.clear();
  phrase->trail.clear();
}

bool Search_hasPatternCharacters(const std::string& text) {
  return text.find_first_of("\\[]()*+?{}|^$") != std::string::npos;
}

void Search_parseQuery(const std::string& text, int32_t rule, bool literal, SearchQuery* query) {
  query->why.clear();
  Split(text, HRule_unicode(rule), &query->phrase);
  const SearchPhrase& phrase = query->phrase;
  if (!literal && Search_hasPatternCharacters(text)) {
    query->kind = SearchQueryKind::kPattern;
  } else if (phrase.words.empty()) {
    query->kind = SearchQueryKind::kSeparators;
    if (!HRule_unicode(rule) && HasOtherLetters(text)) {
      query->why = "'" + text + "' holds no ASCII letter or digit, the only word characters of this file's model; "
                   "words of other scripts are searchable in files compressed with --unicode";
    }
  } else if (phrase.words.size() == 1 && phrase.lead.empty() && phrase.trail.empty()) {
    query->kind = SearchQueryKind::kWord;
  } else {
    query->kind = SearchQueryKind::kSequence;
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

namespace {

// Whether some end of the text, from a place on, matches the gap whole.
bool GapEnds(const std::string& gap, const std::string& text) {
  for (size_t from = text.size() + 1; from-- > 0;) {
    if (Search_gapMatches(gap, reinterpret_cast<const unsigned char*>(text.data()) + from,
                          static_cast<int32_t>(text.size() - from))) {
      return true;
    }
  }
  return false;
}

// Whether some beginning of the text matches the gap whole.
bool GapBegins(const std::string& gap, const std::string& text) {
  for (size_t to = 0; to <= text.size(); ++to) {
    if (Search_gapMatches(gap, reinterpret_cast<const unsigned char*>(text.data()), static_cast<int32_t>(to))) {
      return true;
    }
  }
  return false;
}

// The separators between the word token at `word` (its codeword ends at
// `from`) and the next word token, walking forward: their text in *between
// (with the blank that the spaceless models imply between two words), the
// next word's rank or -1, and its offset in *p. At most kMaxGapBytes.
int32_t SeparatorsAfter(const unsigned char* body, int32_t body_length, int32_t word_rank, int32_t* p, bool spaceless,
                        const HModel* model, std::string* between) {
  const HDictionary* dictionary = &model->dictionary;
  between->clear();
  while (*p < body_length) {
    const int32_t length = HDecode_codewordLength(body + *p, body_length - *p);
    const int32_t rank = HDecode_rank(body + *p, length, &model->codetable, dictionary->token_count);
    if (HDecode_isWord(dictionary, rank)) {
      if (spaceless && between->empty() && word_rank >= 0 && HDecode_takesBlank(dictionary, word_rank) &&
          HDecode_takesBlank(dictionary, rank)) {
        between->push_back(' ');
      }
      return rank;
    }
    int32_t token_length;
    const unsigned char* token = HDecode_token(dictionary, rank, &token_length);
    if (between->size() + static_cast<size_t>(token_length) > kMaxGapBytes) return -1;
    between->append(reinterpret_cast<const char*>(token), static_cast<size_t>(token_length));
    *p += length;
  }
  return -1;
}

// The separators just before the word token at `start` (of rank
// `word_rank`), walking back to the word before them or the body's start.
void SeparatorsBefore(const unsigned char* body, int32_t start, int32_t word_rank, bool spaceless, const HModel* model,
                      std::string* before) {
  const HDictionary* dictionary = &model->dictionary;
  before->clear();
  std::vector<std::string> pieces;
  size_t bytes = 0;
  for (int32_t p = start; p > 0;) {
    int32_t q = p - 1;
    while (q > 0 && !(body[q] & 0x80)) --q;
    const int32_t rank = HDecode_rank(body + q, p - q, &model->codetable, dictionary->token_count);
    if (HDecode_isWord(dictionary, rank)) {
      if (spaceless && pieces.empty() && HDecode_takesBlank(dictionary, rank) &&
          HDecode_takesBlank(dictionary, word_rank)) {
        pieces.emplace_back(" ");
      }
      break;
    }
    int32_t token_length;
    const unsigned char* token = HDecode_token(dictionary, rank, &token_length);
    bytes += static_cast<size_t>(token_length);
    if (bytes > kMaxGapBytes) break;
    pieces.emplace_back(reinterpret_cast<const char*>(token), static_cast<size_t>(token_length));
    p = q;
  }
  for (auto it = pieces.rbegin(); it != pieces.rend(); ++it) before->append(*it);
}

}  // namespace

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
    const int32_t first_length = HDecode_codewordLength(body + start, body_length - start);
    int32_t word_rank = HDecode_rank(body + start, first_length, table, dictionary->token_count);
    if (!phrase.lead.empty()) {
      SeparatorsBefore(body, start, word_rank, spaceless, model, &between);
      if (!GapEnds(phrase.lead, between)) continue;
    }
    int32_t p = start + first_length;
    int32_t end = p;
    bool matched = true;
    for (size_t w = 1; w < phrase.words.size() && matched; ++w) {
      const int32_t rank = SeparatorsAfter(body, body_length, word_rank, &p, spaceless, model, &between);
      matched = rank >= 0 && word_ranks[w][static_cast<size_t>(rank)] &&
                Search_gapMatches(phrase.gaps[w - 1], reinterpret_cast<const unsigned char*>(between.data()),
                                  static_cast<int32_t>(between.size()));
      if (matched) {
        p += HDecode_codewordLength(body + p, body_length - p);
        end = p;
        word_rank = rank;
      }
    }
    if (matched && !phrase.trail.empty()) {
      int32_t q = end;
      SeparatorsAfter(body, body_length, word_rank, &q, spaceless, model, &between);
      matched = GapBegins(phrase.trail, between);
    }
    if (matched) hits->emplace_back(start, end - start);
  }
}
