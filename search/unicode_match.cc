#include "search/unicode_match.h"

#include <utf8proc.h>

#include <algorithm>

#include "search/find_bytes.h"
#include "wordmodel/hdecode.h"
#include "wordmodel/hunicode.h"

namespace {

// Tokens matched between two looks at the cancel flag.
constexpr int32_t kCancelSteps = 4096;

// Malformed bytes compare as code points of their own, above every real one.
constexpr int32_t kMalformed = 0x110000;

inline bool IsAccent(int32_t cp) { return cp >= 0x0300 && cp <= 0x036F; }

void AppendFolded(int32_t cp, std::vector<int32_t>* out) {
  utf8proc_int32_t parts[16];
  int boundclass = UTF8PROC_BOUNDCLASS_START;
  const utf8proc_ssize_t n =
      utf8proc_decompose_char(cp, parts, 16, static_cast<utf8proc_option_t>(UTF8PROC_CASEFOLD | UTF8PROC_DECOMPOSE),
                              &boundclass);
  if (n <= 0 || n > 16) {
    out->push_back(cp);
    return;
  }
  for (utf8proc_ssize_t i = 0; i < n; ++i) {
    if (!IsAccent(parts[i])) out->push_back(parts[i]);
  }
}

// Whether the token's code points, as they are, may lie within the errors
// of the word: the counts differ by no more than the errors. The count is
// that of the token's bytes that begin a code point, a byte of malformed
// UTF-8 counting as one.
inline bool LengthMayMatch(const unsigned char* token, int32_t length, int32_t word_points, int32_t errors) {
  if (length < word_points - errors) return false;
  int32_t points = 0;
  for (int32_t i = 0; i < length; ++i) points += (token[i] & 0xC0) != 0x80;
  return points >= word_points - errors && points <= word_points + errors;
}

// The word cut into errors + 1 pieces at code point boundaries: a token
// within that many code point edits of the word holds one of them as it is.
// Empty when the word has too few code points.
std::vector<std::string> Pieces(const std::string& word, int32_t errors) {
  std::vector<size_t> starts;
  for (size_t i = 0; i < word.size(); ++i) {
    if ((static_cast<unsigned char>(word[i]) & 0xC0) != 0x80) starts.push_back(i);
  }
  const auto points = static_cast<int64_t>(starts.size());
  std::vector<std::string> pieces;
  if (points <= errors) return pieces;
  starts.push_back(word.size());
  const int64_t n = errors + 1;
  for (int64_t i = 0; i < n; ++i) {
    const size_t from = starts[static_cast<size_t>(points * i / n)];
    const size_t to = starts[static_cast<size_t>(points * (i + 1) / n)];
    pieces.push_back(word.substr(from, to - from));
  }
  return pieces;
}

// The ranks of the tokens that hold one of the pieces, in rank order.
void CandidateRanks(const std::vector<std::string>& pieces, const HDictionary* dictionary, const SearchHost* host,
                    std::vector<int32_t>* candidates) {
  const unsigned char* text = dictionary->string;
  const auto length = static_cast<size_t>(dictionary->string_length);
  const int32_t* start = dictionary->start.get();
  const int32_t count = dictionary->token_count;
  int64_t steps = 0;
  for (const std::string& piece : pieces) {
    for (size_t from = 0; from + piece.size() <= length;) {
      if (++steps % kCancelSteps == 0 && host) host->checkCancel();
      const void* found = Search_findBytes(text + from, length - from,
                                           reinterpret_cast<const unsigned char*>(piece.data()), piece.size());
      if (!found) break;
      const auto at = static_cast<int32_t>(static_cast<const unsigned char*>(found) - text);
      const auto rank = static_cast<int32_t>(std::upper_bound(start, start + count, at) - start) - 1;
      if (rank < 0) break;
      candidates->push_back(rank);
      from = rank + 1 < count ? static_cast<size_t>(start[rank + 1]) : length;
    }
  }
  std::sort(candidates->begin(), candidates->end());
  candidates->erase(std::unique(candidates->begin(), candidates->end()), candidates->end());
}

}  // namespace

void Search_codePoints(const unsigned char* text, int32_t length, bool ignore_case, std::vector<int32_t>* out) {
  for (int32_t i = 0; i < length;) {
    int32_t n;
    const int32_t cp = HUnicode_decode(text + i, length - i, &n);
    if (cp < 0) {
      out->push_back(kMalformed + text[i]);
    } else if (ignore_case && cp >= 0x80) {
      AppendFolded(cp, out);
    } else if (ignore_case && cp >= 'A' && cp <= 'Z') {
      out->push_back(cp | 0x20);
    } else {
      out->push_back(cp);
    }
    i += n;
  }
}

int32_t Search_codePointDistance(const int32_t* a, int32_t a_length, const int32_t* b, int32_t b_length,
                                 int32_t limit) {
  if (a_length - b_length > limit || b_length - a_length > limit) return limit + 1;
  // One row of the dynamic programme over b; a row whose least value
  // passes the limit ends it.
  thread_local std::vector<int32_t> row;
  row.resize(static_cast<size_t>(b_length) + 1);
  for (int32_t j = 0; j <= b_length; ++j) row[static_cast<size_t>(j)] = j;
  for (int32_t i = 1; i <= a_length; ++i) {
    int32_t diagonal = row[0];
    row[0] = i;
    int32_t least = row[0];
    for (int32_t j = 1; j <= b_length; ++j) {
      const int32_t above = row[static_cast<size_t>(j)];
      const int32_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
      const int32_t value = std::min({above + 1, row[static_cast<size_t>(j - 1)] + 1, diagonal + cost});
      row[static_cast<size_t>(j)] = value;
      diagonal = above;
      least = std::min(least, value);
    }
    if (least > limit) return limit + 1;
  }
  return row[static_cast<size_t>(b_length)];
}

void Search_unicodeWordRanks(const std::string& word, int32_t errors, bool ignore_case, const HModel* model,
                             const SearchHost* host, std::vector<int32_t>* ranks) {
  ranks->clear();
  // A letter of a script written without blanks is a word of its own: with
  // an error allowed, it would match every such letter. Errors apply to
  // words of more than one character.
  int32_t first_length;
  const auto* bytes = reinterpret_cast<const unsigned char*>(word.data());
  if (!word.empty() && HUnicode_classAt(bytes, static_cast<int64_t>(word.size()), &first_length) == HCHAR_SINGLE &&
      static_cast<size_t>(first_length) == word.size()) {
    errors = 0;
  }
  const HDictionary* dictionary = &model->dictionary;
  std::vector<int32_t> query;
  Search_codePoints(reinterpret_cast<const unsigned char*>(word.data()), static_cast<int32_t>(word.size()),
                    ignore_case, &query);
  const auto word_points = static_cast<int32_t>(query.size());
  // Without folding, a match holds one piece of the word as it is: only the
  // tokens that hold one are compared.
  // Pieces of a byte or two occur in too many tokens to be worth a pass
  // each: every token is then taken, and most are left by their length.
  std::vector<int32_t> candidates;
  std::vector<std::string> pieces;
  if (!ignore_case && word_points > errors) pieces = Pieces(word, errors);
  const bool filtered = !pieces.empty() && std::all_of(pieces.begin(), pieces.end(),
                                                       [](const std::string& p) { return p.size() >= 3; });
  if (filtered) CandidateRanks(pieces, dictionary, host, &candidates);
  const int32_t total = filtered ? static_cast<int32_t>(candidates.size()) : dictionary->token_count;
  std::vector<int32_t> points;
  for (int32_t i = 0; i < total; ++i) {
    if (i % kCancelSteps == 0 && host) host->checkCancel();
    const int32_t rank = filtered ? candidates[static_cast<size_t>(i)] : i;
    if (!HDecode_isWord(dictionary, rank)) continue;
    int32_t length;
    const unsigned char* token = HDecode_token(dictionary, rank, &length);
    if (!ignore_case && !LengthMayMatch(token, length, word_points, errors)) continue;
    points.clear();
    Search_codePoints(token, length, ignore_case, &points);
    if (Search_codePointDistance(query.data(), word_points, points.data(), static_cast<int32_t>(points.size()),
                                 errors) <= errors) {
      ranks->push_back(rank);
    }
  }
}
