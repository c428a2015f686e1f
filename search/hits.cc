#include "search/hits.h"

#include <algorithm>

#include "codec/block.h"
#include "codec/container.h"
#include "codec/decompress.h"
#include "search/scan.h"
#include "search/stretch_threads.h"
#include "search/vocabulary_match.h"
#include "wordmodel/hcodeword.h"
#include "wordmodel/hdecode.h"
#include "wordmodel/hhashtable.h"
#include "wordmodel/hlog.h"
#include "wordmodel/htoken.h"
#include "wordmodel/hmodel_free.h"
#include "wordmodel/hrule.h"

namespace {

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
size_t CharacterStart(std::string_view text, size_t i) {
  if (i >= text.size() || !IsContinuation(static_cast<unsigned char>(text[i]))) return i;
  size_t k = i;
  while (k > 0 && i - k < 3 && IsContinuation(static_cast<unsigned char>(text[k]))) --k;
  const size_t n = SequenceLength(static_cast<unsigned char>(text[k]));
  return n > 0 && k + n > i ? k : i;
}

struct Newline {
  unsigned char key[4] = {};
  int32_t length = 0;  // 0: the text has no line feed

  explicit Newline(const HModel* model) {
    const int32_t rank = Search_newlineRank(&model->dictionary);
    if (rank < 0) return;
    HCodeword codeword;
    HCodeword_TaggedFromTokenrank(rank, &model->codetable, &codeword, &length);
    for (int32_t i = 0; i < length; ++i) key[i] = static_cast<unsigned char>(codeword >> (8 * (length - 1 - i)));
  }
  bool at(const unsigned char* p, int32_t codeword_length) const {
    return length > 0 && codeword_length == length && std::equal(key, key + length, p);
  }
};

// Appends the text of a stretch of the body that begins and ends at
// codeword boundaries, at most `limit` bytes of it (0: all) cut where no
// UTF-8 character is split.
void AppendStretch(const unsigned char* start, int32_t length, bool spaceless, const HModel* model, int32_t limit,
                   std::string* out) {
  if (length <= 0) return;
  HBuffer expanded;
  int32_t expanded_length = length;
  if (spaceless) HDecompress_expandSpaces(start, length, &expanded, &expanded_length, model);
  HBuffer text;
  int32_t text_length;
  HDecompress_nextBlock_bytes(expanded ? expanded.get() : start, expanded_length, &text, &text_length, model);
  std::string_view decoded(reinterpret_cast<const char*>(text.get()), static_cast<size_t>(std::max(text_length, 0)));
  if (limit > 0) decoded = decoded.substr(0, Search_utf8Prefix(decoded, static_cast<size_t>(limit)));
  out->append(decoded);
}

// Walks to the look at Cancel: long loops look every so many steps.
constexpr int32_t kStepsPerCancelCheck = 4096;

// The building of a file's table of lines. Hits come in ascending position,
// so the lines that their rows show are found, decoded and appended in one
// pass over the body: a line is walked and decoded once however many rows
// show it, and a row refers to its lines by their indexes in the table.
struct LineBuild {
  const unsigned char* body = nullptr;
  int32_t body_length = 0;
  bool spaceless = false;
  bool blank_between_words = false;  // the spaceless model's blank goes back between two words
  const Newline* newline = nullptr;
  const HModel* model = nullptr;
  SearchRowOptions options;
  SearchLines* table = nullptr;
  std::vector<int32_t> body_ends;  // per line of the table: the body offset past its line feed
  int32_t frontier = 0;            // where the table's last line ends in the body (a line's start)
  int32_t run_first = 0;           // the first of the adjacent lines that end the table
  int64_t next_number = 0;         // the number of the next line appended; 0 when not counted
  int32_t steps = 0;               // since the last look at Cancel
  const SearchHit* hits = nullptr;
  int32_t hit_count = 0;
  int32_t column_hit = 0;           // the next hit whose column the walk records
  std::vector<int32_t> columns;     // per hit: its byte offset in its line, -1 until found
};

void LineBuild_step(LineBuild* b) {
  if (++b->steps == kStepsPerCancelCheck) {
    b->steps = 0;
    HCancel_check(b->options.cancel);
  }
}

// The start of the line that holds the body offset, or of the line so many
// lines above it (up to `before`), never before the frontier; *passed: the
// line feeds passed on the way back.
int32_t LineBuild_startAbove(LineBuild* b, int32_t offset, int32_t* passed) {
  const unsigned char* body = b->body;
  int32_t start = offset;
  *passed = 0;
  while (start > b->frontier) {
    int32_t q = start - 1;
    while (q > b->frontier && !(body[q] & 0x80)) --q;
    if (b->newline->at(body + q, start - q)) {
      if (*passed == b->options.lines_before) break;
      ++*passed;
    }
    start = q;
    LineBuild_step(b);
  }
  return start;
}

// Appends the line that begins at the frontier: its end found codeword by
// codeword, the column of each hit on the way noted, its text decoded once.
void LineBuild_appendLine(LineBuild* b) {
  const HDictionary* dictionary = &b->model->dictionary;
  const int32_t from = b->frontier;
  int32_t p = from;
  int64_t column = 0;  // the text's length up to p
  bool after_word = false;
  int32_t past = b->body_length;  // past the line feed
  while (p < b->body_length) {
    const int32_t len = HDecode_codewordLength(b->body + p, b->body_length - p);
    const int32_t rank = HDecode_rank(b->body + p, len, &b->model->codetable, dictionary->token_count);
    const bool word = HDecode_takesBlank(dictionary, rank);
    if (b->blank_between_words && after_word && word) ++column;
    after_word = word;
    for (; b->column_hit < b->hit_count && b->hits[b->column_hit].offset <= p; ++b->column_hit) {
      if (b->hits[b->column_hit].offset == p) b->columns[static_cast<size_t>(b->column_hit)] = static_cast<int32_t>(column);
    }
    if (b->newline->at(b->body + p, len)) {
      past = p + len;
      break;
    }
    int32_t token_length;
    HDecode_token(dictionary, rank, &token_length);
    column += token_length;
    p += len;
    LineBuild_step(b);
  }
  AppendStretch(b->body + from, p - from, b->spaceless, b->model, b->options.max_context_bytes, &b->table->text);
  b->table->ends.push_back(b->table->text.size());
  b->table->numbers.push_back(b->next_number);
  if (b->next_number > 0) ++b->next_number;
  b->body_ends.push_back(past);
  b->frontier = past;
}

// Points a row at its lines: from `lines_before` above its hit's line to
// `lines_after` below the last line that the hit touches, appending the
// lines that the table does not hold yet. *line_at is the table line of the
// previous hit, and then of this one.
void LineBuild_row(LineBuild* b, int32_t index, SearchRow* row, int32_t* line_at) {
  const SearchHit& hit = b->hits[index];
  if (hit.offset >= b->frontier) {  // the hit's line is not in the table yet
    int32_t passed;
    const int32_t start = LineBuild_startAbove(b, hit.offset, &passed);
    if (start > b->frontier || b->table->ends.empty()) {  // a run of lines apart from those before
      b->run_first = static_cast<int32_t>(b->table->ends.size());
      b->next_number = hit.line > 0 ? hit.line - passed : 0;
      b->frontier = start;
    }
    while (b->frontier <= hit.offset) LineBuild_appendLine(b);
  }
  while (b->body_ends[static_cast<size_t>(*line_at)] <= hit.offset) ++*line_at;
  const auto feeds = static_cast<int32_t>(std::count(row->word.begin(), row->word.end(), '\n'));
  const int64_t wanted = static_cast<int64_t>(*line_at) + feeds + b->options.lines_after;
  while (static_cast<int64_t>(b->table->ends.size()) <= wanted && b->frontier < b->body_length) {
    LineBuild_appendLine(b);
  }
  const int32_t last = static_cast<int32_t>(std::min<int64_t>(wanted, static_cast<int64_t>(b->table->ends.size()) - 1));
  const int32_t first = std::max(b->run_first, *line_at - b->options.lines_before);
  row->first_line = first;
  row->line_count = last - first + 1;
  row->hit_line = *line_at - first;
  row->hit_column = b->columns[static_cast<size_t>(index)];
}

// Gives the rows (one per hit, in the hits' order) their lines, all in one
// table. When a line cannot be decoded, the rows after the one that needs
// it are dropped, that one keeps no lines, and the result is false.
bool FillLines(const unsigned char* file, int32_t size, const SearchHit* hits, const SearchRowOptions& options,
               SearchRow* rows, int32_t count, int32_t* made) {
  HModel model;
  int32_t text_length;
  LineBuild b;
  HContainer_read(file, size, &text_length, &b.body, &b.body_length, &model, HVocabulary::kBlankOnly);
  struct Free {
    HModel* model;
    ~Free() { HModel_free(model, false); }
  } free_model{&model};
  const Newline newline(&model);
  auto table = std::make_shared<SearchLines>();
  b.spaceless = HRule_spaceless(file[0]);
  b.blank_between_words =
      b.spaceless && HHashtable_lookup(reinterpret_cast<const unsigned char*>(" "), 1, &model.vocabulary) != nullptr;
  b.newline = &newline;
  b.model = &model;
  b.options = options;
  b.options.lines_before = std::max(options.lines_before, 0);
  b.options.lines_after = std::max(options.lines_after, 0);
  b.table = table.get();
  b.hits = hits;
  b.hit_count = count;
  b.columns.assign(static_cast<size_t>(count), -1);
  int32_t line_at = 0;
  *made = count;
  bool ok = true;
  for (int32_t i = 0; i < count && ok; ++i) {
    HCancel_check(options.cancel);
    try {
      LineBuild_row(&b, i, &rows[i], &line_at);
    } catch (const HFatalFailure&) {
      *made = i + 1;
      ok = false;
    }
  }
  for (int32_t i = 0; i < *made; ++i) rows[i].lines = table;
  if (!ok) rows[*made - 1].line_count = 0;
  return ok;
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

size_t Search_utf8Prefix(std::string_view text, size_t limit) {
  if (text.size() <= limit) return text.size();
  return CharacterStart(text, limit);
}

size_t Search_utf8SuffixStart(std::string_view text, size_t limit) {
  if (text.size() <= limit) return 0;
  const size_t s = text.size() - limit;
  const size_t k = CharacterStart(text, s);
  return k == s ? s : k + SequenceLength(static_cast<unsigned char>(text[k]));
}

std::string_view Search_line(const SearchLines& lines, int32_t index) {
  const auto i = static_cast<size_t>(index);
  const size_t begin = i == 0 ? 0 : lines.ends[i - 1];
  return std::string_view(lines.text).substr(begin, lines.ends[i] - begin);
}

std::string_view Search_rowLine(const SearchRow& row, int32_t i) {
  return Search_line(*row.lines, row.first_line + i);
}

std::string Search_displayName(const std::string& path) {
#ifdef _WIN32
  // Windows takes either slash between names.
  std::string::size_type slash = path.find_last_of("/\\");
#else
  std::string::size_type slash = path.rfind('/');
#endif
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.size() > 4 && name.compare(name.size() - 4, 4, ".hwz") == 0) name.resize(name.size() - 4);
  return name;
}

namespace {

// The contexts of a run of rows, decoded token by token straight from the
// dictionary into buffers that every row of the run reuses: a row costs no
// allocation but that of the strings it keeps. The text is the one the
// block decoders give (the spaceless models' blank goes between two
// adjacent words), and a damaged codeword fails where they would.
struct RowDecoder {
  const HModel* model = nullptr;
  const unsigned char* body = nullptr;
  int32_t body_length = 0;
  bool blank = false;          // a spaceless body whose model has the blank token
  std::vector<int32_t> ranks;  // the left context's tokens, the last one first
  std::string text;            // the context being decoded
};

inline void RowDecoder_append(RowDecoder* d, int32_t rank, bool* after_word) {
  const HDictionary* dictionary = &d->model->dictionary;
  const bool word = HDecode_takesBlank(dictionary, rank);
  if (d->blank && *after_word && word) d->text.push_back(' ');
  *after_word = word;
  int32_t length;
  const unsigned char* token = HDecode_token(dictionary, rank, &length);
  d->text.append(reinterpret_cast<const char*>(token), static_cast<size_t>(length));
}

// The rank of the codeword at p, and its length in *length.
inline int32_t RowDecoder_next(const RowDecoder* d, int32_t p, int32_t* length) {
  *length = HDecode_codewordLength(d->body + p, d->body_length - p);
  return HDecode_rank(d->body + p, *length, &d->model->codetable, d->model->dictionary.token_count);
}

// d->text: from the n-th word token before the offset up to it.
void RowDecoder_left(RowDecoder* d, int32_t offset, int32_t n) {
  d->text.clear();
  d->ranks.clear();
  if (offset <= 0 || n <= 0) return;
  const unsigned char* position = d->body + offset;
  if (!(position[0] & 0x80)) HFatal("Error: not a tagged byte (HDecompress_previousBlock_tokens)\n");
  const HDictionary* dictionary = &d->model->dictionary;
  int32_t covered = 0;
  while (covered < offset && n > 0) {
    HCodeword codeword;
    int32_t length;
    HCodeword_TaggedGetPrevious(position - covered, offset - covered, &codeword, &length);
    const int32_t rank = HDecode_rank(position - covered - length, length, &d->model->codetable,
                                      dictionary->token_count);
    if (HDecode_isWord(dictionary, rank)) --n;
    d->ranks.push_back(rank);
    covered += length;
  }
  if (!(position[-covered] & 0x80)) HFatal("Error: not a tagged byte (HDecompress_previousBlock_Tokens)\n");
  bool after_word = false;
  for (auto it = d->ranks.rbegin(); it != d->ranks.rend(); ++it) RowDecoder_append(d, *it, &after_word);
}

// Control bytes show as blanks in the contexts.
void AssignPrintable(std::string* out, const char* text, size_t length) {
  out->assign(text, length);
  for (char& c : *out) {
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  }
}

// The row's word and right context: the hit's tokens, then on to the
// `right_words`-th word token after its last word (counting that one). The
// word is kept once decoded whole, even when the right context then fails.
void RowDecoder_hitAndRight(RowDecoder* d, const SearchHit& hit, const SearchRowOptions& options, SearchRow* row) {
  const HDictionary* dictionary = &d->model->dictionary;
  const int32_t o = hit.offset;
  const int32_t hit_end = std::min(o + std::max(hit.length, 1), d->body_length);
  d->text.clear();
  bool ends_in_word = false, after_word = false;
  int32_t p = o;
  while (p < hit_end) {
    int32_t length;
    const int32_t rank = RowDecoder_next(d, p, &length);
    ends_in_word = HDecode_isWord(dictionary, rank);
    RowDecoder_append(d, rank, &after_word);
    p += length;
  }
  row->word = d->text;
  row->left_joins = HRule_blankBetween(d->model->rule, reinterpret_cast<const unsigned char*>(row->left.data()),
                                       row->left.size(), reinterpret_cast<const unsigned char*>(row->word.data()),
                                       row->word.size());
  if (options.right_words <= 0) return;
  // Word tokens still to cover after the hit's own.
  for (int32_t n = options.right_words - (ends_in_word ? 1 : 0); n > 0 && p < d->body_length;) {
    int32_t length;
    const int32_t rank = RowDecoder_next(d, p, &length);
    if (HDecode_isWord(dictionary, rank)) --n;
    RowDecoder_append(d, rank, &after_word);
    p += length;
  }
  // The blank that parts the hit from the next word is not shown; any
  // other byte after the hit is part of the right context.
  size_t from = row->word.size();
  if (from < d->text.size() && d->text[from] == ' ') {
    ++from;
    row->right_after_blank = true;
  }
  if (from < d->text.size()) {
    AssignPrintable(&row->right, d->text.data() + from, d->text.size() - from);
    Cut(&row->right, options.max_context_bytes, false);
  }
}

// Fills out[0, count) with the rows of the hits; returns how many were
// made, the last one with what it has when a context failed (*error says
// which).
// A compressed file read in place for its rows: the threads that make them
// share it, and only read it.
struct RowFile {
  HModel model;
  const unsigned char* body = nullptr;
  int32_t body_length = 0;
  bool blank = false;  // the spaceless blank is restored between words

  RowFile(const unsigned char* file, int32_t size) {
    int32_t text_length;
    HContainer_read(file, size, &text_length, &body, &body_length, &model, HVocabulary::kBlankOnly);
    blank = HRule_spaceless(file[0]) &&
            HHashtable_lookup(reinterpret_cast<const unsigned char*>(" "), 1, &model.vocabulary) != nullptr;
  }
  ~RowFile() { HModel_free(&model, false); }
  RowFile(const RowFile&) = delete;
  RowFile& operator=(const RowFile&) = delete;
};

int32_t HitRows(const std::string& display_name, const RowFile& file, const SearchHit* hits, int32_t count,
                const SearchRowOptions& options, SearchRow* out, std::string* error) {
  RowDecoder d;
  d.body = file.body;
  d.body_length = file.body_length;
  d.model = &file.model;
  d.blank = file.blank;
  for (int32_t i = 0; i < count; ++i) {
    HCancel_check(options.cancel);
    const SearchHit& hit = hits[i];
    SearchRow& row = out[i];
    row.file = display_name;
    row.position = std::to_string(hit.offset);
    row.line = hit.line;
    row.text_offset = hit.text_offset;
    try {
      RowDecoder_left(&d, hit.offset, options.left_words);
    } catch (const HFatalFailure&) {
      *error = "Error decompressing left context.";
      return i + 1;
    }
    if (!d.text.empty()) {
      AssignPrintable(&row.left, d.text.data(), d.text.size());
      Cut(&row.left, options.max_context_bytes, true);
    }
    try {
      RowDecoder_hitAndRight(&d, hit, options, &row);
    } catch (const HFatalFailure&) {
      *error = "Error decompressing right context.";
      return i + 1;
    }
  }
  return count;
}

// A thread is worth its start for this many rows or more.
constexpr int32_t kRowsPerThread = 2000;

}  // namespace

void Search_hitRows(const std::string& display_name, const unsigned char* file, int32_t size, const SearchHit* hits,
                    int32_t count, const SearchRowOptions& options, std::vector<SearchRow>* rows, std::string* error,
                    int32_t threads) {
  error->clear();
  if (count <= 0) return;
  const size_t first_row = rows->size();
  const int32_t n = std::clamp(count / kRowsPerThread, 1, std::max(threads, 1));
  // Each thread fills the rows of a run of the hits in place; the rows after
  // a bad context are dropped, as one thread would have stopped there.
  rows->resize(first_row + static_cast<size_t>(count));
  SearchRow* out = rows->data() + first_row;
  std::vector<int32_t> made_by(static_cast<size_t>(n));
  std::vector<std::string> errors(static_cast<size_t>(n));
  auto first = [&](size_t i) { return static_cast<int32_t>(static_cast<int64_t>(count) * static_cast<int64_t>(i) / n); };
  int32_t kept = 0;
  try {
    const RowFile parsed(file, size);
    Search_forEachStretch(
        static_cast<size_t>(n),
        [&](size_t i) {
          made_by[i] = HitRows(display_name, parsed, hits + first(i), first(i + 1) - first(i), options,
                               out + first(i), &errors[i]);
        },
        [&](size_t i) {
          kept = first(i) + made_by[i];
          *error = errors[i];
          return error->empty();
        });
  } catch (...) {
    rows->resize(first_row + static_cast<size_t>(kept));
    throw;
  }
  rows->resize(first_row + static_cast<size_t>(kept));
  if (!(options.whole_line || options.lines_before > 0 || options.lines_after > 0)) return;
  // The lines, in one pass over the hits, for the rows whose contexts were
  // decoded (a row that stopped at its context has none).
  auto made = static_cast<int32_t>(rows->size() - first_row);
  if (!error->empty()) --made;
  if (made <= 0) return;
  int32_t lined;
  if (!FillLines(file, size, hits, options, rows->data() + first_row, made, &lined)) {
    rows->resize(first_row + static_cast<size_t>(lined));
    *error = "Error decompressing the line.";
  }
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
