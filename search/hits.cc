#include "search/hits.h"

#include <algorithm>

#include "codec/block.h"
#include "codec/container.h"
#include "codec/decompress.h"
#include "search/scan.h"
#include "search/stretch_threads.h"
#include "wordmodel/hcodeword.h"
#include "wordmodel/hdecode.h"
#include "wordmodel/hhashtable.h"
#include "wordmodel/hlog.h"
#include "wordmodel/htoken.h"
#include "wordmodel/hmodel_free.h"

namespace {

// How far a line is followed from the hit, in body bytes, each way.
constexpr int32_t kMaxLineBody = 1 << 16;

// Control bytes show as spaces in the contexts.
std::string Printable(const unsigned char* text, int32_t length) {
  std::string out(reinterpret_cast<const char*>(text), static_cast<size_t>(length));
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  }
  return out;
}

inline bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// The length of the UTF-8 character that a lead byte begins; 0 for a byte
// that begins none.
inline size_t SequenceLength(unsigned char c) {
  if (c >= 0xC2 && c <= 0xDF) return 2;
  if (c >= 0xE0 && c <= 0xEF) return 3;
  if (c >= 0xF0 && c <= 0xF4) return 4;
  return 0;
}

// The start of the character that holds byte i when it continues one that
// begins before it; i otherwise.
size_t CharacterStart(const std::string& text, size_t i) {
  if (i >= text.size() || !IsContinuation(static_cast<unsigned char>(text[i]))) return i;
  size_t k = i;
  while (k > 0 && i - k < 3 && IsContinuation(static_cast<unsigned char>(text[k]))) --k;
  const size_t n = SequenceLength(static_cast<unsigned char>(text[k]));
  return n > 0 && k + n > i ? k : i;
}

// Decodes a stretch of the body that begins and ends at codeword
// boundaries, with the blanks that the spaceless model leaves out inside it.
std::string DecodeStretch(const unsigned char* start, int32_t length, bool spaceless, const HModel* model) {
  if (length <= 0) return std::string();
  HBuffer expanded;
  int32_t expanded_length = length;
  if (spaceless) HDecompress_expandSpaces(start, length, &expanded, &expanded_length, model);
  HBuffer text;
  int32_t text_length;
  HDecompress_nextBlock_bytes(expanded ? expanded.get() : start, expanded_length, &text, &text_length, model);
  return text_length > 0 ? std::string(reinterpret_cast<const char*>(text.get()), static_cast<size_t>(text_length))
                         : std::string();
}

struct Newline {
  unsigned char key[4] = {};
  int32_t length = 0;  // 0: the text has no line feed

  explicit Newline(const HModel* model) {
    const HDictionary* dictionary = &model->dictionary;
    for (int32_t rank = 0; rank < dictionary->token_count; ++rank) {
      int32_t n;
      const unsigned char* token = HDecode_token(dictionary, rank, &n);
      if (n != 1 || token[0] != '\n') continue;
      HCodeword codeword;
      HCodeword_TaggedFromTokenrank(rank, &model->codetable, &codeword, &length);
      for (int32_t i = 0; i < length; ++i) key[i] = static_cast<unsigned char>(codeword >> (8 * (length - 1 - i)));
      return;
    }
  }
  bool at(const unsigned char* p, int32_t codeword_length) const {
    return length > 0 && codeword_length == length && std::equal(key, key + length, p);
  }
};

// The lines from `before` lines above the hit's to `after` lines below it.
void FillLines(const SearchHit& hit, int32_t before, int32_t after, const unsigned char* body, int32_t body_length,
               bool spaceless, const Newline& newline, const HModel* model, SearchRow* row) {
  int32_t start = hit.offset;
  int32_t passed = 0;  // line feeds between the start and the hit
  while (start > 0 && hit.offset - start < kMaxLineBody) {
    int32_t q = start - 1;
    while (q > 0 && !(body[q] & 0x80)) --q;
    if (newline.at(body + q, start - q)) {
      if (passed == before) break;
      ++passed;
    }
    start = q;
  }
  int32_t end = std::min(hit.offset + hit.length, body_length);
  const int32_t hit_end = end;
  int32_t seen = 0;
  while (end < body_length && end - hit_end < kMaxLineBody) {
    const int32_t len = HDecode_codewordLength(body + end, body_length - end);
    if (newline.at(body + end, len) && seen++ == after) break;
    end += len;
  }
  // Decoded in two parts, so that the hit's place in its line is known; the
  // spaceless model implies a blank between two words that the cut parts.
  std::string text = DecodeStretch(body + start, hit.offset - start, spaceless, model);
  std::string rest = DecodeStretch(body + hit.offset, end - hit.offset, spaceless, model);
  if (spaceless && !text.empty() && !rest.empty() && HToken_isWordByte(text.back()) &&
      HToken_isWordByte(rest.front())) {
    text += ' ';
  }
  const size_t hit_at = text.size();
  text += rest;
  row->lines.clear();
  for (size_t from = 0;;) {
    const size_t lf = text.find('\n', from);
    row->lines.push_back(text.substr(from, lf == std::string::npos ? std::string::npos : lf - from));
    if (lf == std::string::npos) break;
    from = lf + 1;
  }
  row->hit_line = static_cast<int32_t>(std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(hit_at), '\n'));
  const size_t line_start = hit_at == 0 ? 0 : text.rfind('\n', hit_at - 1);
  row->hit_column = static_cast<int32_t>(line_start == std::string::npos || hit_at == 0 ? hit_at
                                                                                        : hit_at - line_start - 1);
}

void Cut(std::string* text, int32_t limit, bool keep_end) {
  if (limit <= 0 || text->size() <= static_cast<size_t>(limit)) return;
  if (keep_end) {
    text->erase(0, Search_utf8SuffixStart(*text, static_cast<size_t>(limit)));
  } else {
    text->resize(Search_utf8Prefix(*text, static_cast<size_t>(limit)));
  }
}

}  // namespace

size_t Search_utf8Prefix(const std::string& text, size_t limit) {
  if (text.size() <= limit) return text.size();
  return CharacterStart(text, limit);
}

size_t Search_utf8SuffixStart(const std::string& text, size_t limit) {
  if (text.size() <= limit) return 0;
  const size_t s = text.size() - limit;
  const size_t k = CharacterStart(text, s);
  return k == s ? s : k + SequenceLength(static_cast<unsigned char>(text[k]));
}

std::string Search_displayName(const std::string& path) {
  std::string::size_type slash = path.rfind('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.size() > 4 && name.compare(name.size() - 4, 4, ".hwz") == 0) name.resize(name.size() - 4);
  return name;
}

namespace {

void HitRows(const std::string& display_name, const unsigned char* file, int32_t size, const SearchHit* hits,
             int32_t count, const SearchRowOptions& options, std::vector<SearchRow>* rows, std::string* error) {
  HModel model;
  int32_t text_length;
  const unsigned char* body;
  int32_t body_length;
  HContainer_read(file, size, &text_length, &body, &body_length, &model, HVocabulary::kBlankOnly);
  struct Free {
    HModel* model;
    ~Free() { HModel_free(model, false); }
  } free_model{&model};
  const bool spaceless = file[0] != 0;
  auto previous = spaceless ? HDecompress_previousBlock_tokens_spaceless : HDecompress_previousBlock_tokens;
  auto next = spaceless ? HDecompress_nextBlock_tokens_spaceless : HDecompress_nextBlock_tokens;
  const bool lines = options.whole_line || options.lines_before > 0 || options.lines_after > 0;
  const Newline newline(&model);
  const HDictionary* dictionary = &model.dictionary;
  rows->reserve(rows->size() + static_cast<size_t>(count));

  for (int32_t i = 0; i < count; ++i) {
    HCancel_check(options.cancel);
    const SearchHit& hit = hits[i];
    const int32_t o = hit.offset;
    rows->emplace_back();
    SearchRow& row = rows->back();
    row.file = display_name;
    row.position = std::to_string(o);
    row.line = hit.line;
    row.text_offset = hit.text_offset;
    HBuffer block;
    int32_t length;
    int32_t covered;
    try {
      if (options.left_words > 0) previous(body + o, o, options.left_words, &block, &length, &covered, &model);
      else length = 0;
    } catch (const HFatalFailure&) {
      *error = "Error decompressing left context.";
      break;
    }
    if (length > 0) {
      row.left = Printable(block.get(), length);
      Cut(&row.left, options.max_context_bytes, true);
    }
    try {
      // The word tokens of the hit, and whether it ends with one: the
      // right context counts its words from the hit's last token on.
      int32_t words = 0;
      bool ends_in_word = false;
      const int32_t hit_end = std::min(o + std::max(hit.length, 1), body_length);
      for (int32_t p = o; p < hit_end;) {
        const int32_t len = HDecode_codewordLength(body + p, body_length - p);
        ends_in_word = HDecode_isWord(dictionary, HDecode_rank(body + p, len, &model.codetable,
                                                                dictionary->token_count));
        words += ends_in_word;
        p += len;
      }
      row.word = DecodeStretch(body + o, hit_end - o, spaceless, &model);
      if (options.right_words > 0) {
        const int32_t n = words - (ends_in_word ? 1 : 0) + options.right_words;
        next(body + o, body_length - o, n, &block, &length, &covered, &model);
        // The blank that parts the hit from the next word is not shown; any
        // other byte after the hit is part of the right context.
        auto from = static_cast<int32_t>(row.word.size());
        if (from < length && block[from] == ' ') {
          ++from;
          row.right_after_blank = true;
        }
        if (from < length) {
          row.right = Printable(block.get() + from, length - from);
          Cut(&row.right, options.max_context_bytes, false);
        }
      }
    } catch (const HFatalFailure&) {
      *error = "Error decompressing right context.";
      break;
    }
    if (lines) {
      try {
        FillLines(hit, std::max(options.lines_before, 0), std::max(options.lines_after, 0), body, body_length,
                  spaceless, newline, &model, &row);
      } catch (const HFatalFailure&) {
        *error = "Error decompressing the line.";
        break;
      }
      for (std::string& line : row.lines) Cut(&line, options.max_context_bytes, false);
    }
  }
}

// A thread is worth its start for this many rows or more.
constexpr int32_t kRowsPerThread = 2000;

}  // namespace

void Search_hitRows(const std::string& display_name, const unsigned char* file, int32_t size, const SearchHit* hits,
                    int32_t count, const SearchRowOptions& options, std::vector<SearchRow>* rows, std::string* error,
                    int32_t threads) {
  error->clear();
  if (count <= 0) return;
  const int32_t n = std::clamp(count / kRowsPerThread, 1, std::max(threads, 1));
  if (n == 1) return HitRows(display_name, file, size, hits, count, options, rows, error);
  // Each thread makes the rows of a run of the hits; the rows after a bad
  // context are dropped, as one thread would have stopped there.
  std::vector<std::vector<SearchRow>> parts(static_cast<size_t>(n));
  rows->reserve(rows->size() + static_cast<size_t>(count));
  std::vector<std::string> errors(static_cast<size_t>(n));
  auto first = [&](size_t i) { return static_cast<int32_t>(static_cast<int64_t>(count) * static_cast<int64_t>(i) / n); };
  Search_forEachStretch(
      static_cast<size_t>(n),
      [&](size_t i) { HitRows(display_name, file, size, hits + first(i), first(i + 1) - first(i), options, &parts[i], &errors[i]); },
      [&](size_t i) {
        rows->insert(rows->end(), std::make_move_iterator(parts[i].begin()), std::make_move_iterator(parts[i].end()));
        *error = errors[i];
        return error->empty();
      });
}

void Search_contextRows(const std::string& display_name, const unsigned char* file, int32_t size,
                        const int32_t* offsets, int32_t count, std::vector<SearchRow>* rows, std::string* error) {
  error->clear();
  if (count <= 0) return;
  std::vector<SearchHit> hits(static_cast<size_t>(count));
  int32_t text_length;
  const unsigned char* body;
  int32_t body_length;
  {
    HModel model;
    HContainer_read(file, size, &text_length, &body, &body_length, &model, HVocabulary::kBlankOnly);
    HModel_free(&model, false);
  }
  for (int32_t i = 0; i < count; ++i) {
    hits[static_cast<size_t>(i)].offset = offsets[i];
    hits[static_cast<size_t>(i)].length = HDecode_codewordLength(body + offsets[i], body_length - offsets[i]);
  }
  Search_hitRows(display_name, file, size, hits.data(), count, SearchRowOptions(), rows, error);
}
