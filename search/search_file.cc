#include "search/search_file.h"

#include <algorithm>
#include <cstring>

#include "codec/container.h"
#include "search/myhash.h"
#include "search/phrase.h"
#include "search/scan.h"
#include "search/stretch_threads.h"
#include "search/unicode_match.h"
#include "search/vocabulary_match.h"
#include "wordmodel/hcodeword.h"
#include "wordmodel/hdecode.h"
#include "wordmodel/hhashtable.h"
#include "wordmodel/hlog.h"
#include "wordmodel/hmodel_free.h"
#include "wordmodel/hrule.h"

namespace {

// A compressed file read in place, with its model.
struct ParsedFile {
  HModel model;
  const unsigned char* body = nullptr;
  int32_t body_length = 0;
  int32_t text_length = 0;
  bool spaceless = false;

  ParsedFile(const unsigned char* file, int32_t size, HVocabulary vocabulary = HVocabulary::kBlankOnly) {
    HContainer_read(file, size, &text_length, &body, &body_length, &model, vocabulary);
    spaceless = HRule_spaceless(file[0]);
  }
  ~ParsedFile() { HModel_free(&model, false); }
  ParsedFile(const ParsedFile&) = delete;
  ParsedFile& operator=(const ParsedFile&) = delete;
};

// A thread is worth its start for this many body bytes or more.
constexpr int32_t kStretchBytes = 4 << 20;
// A body read through from this many bytes on has its pages asked for at
// once (SearchHost::willRead).
constexpr int32_t kWillReadBytes = 1 << 20;

// The bounds of the stretches that `threads` threads take of a body: from 0
// to the length, each inner bound on a tagged byte, where a codeword begins,
// so that no codeword is cut. Fewer stretches for a small body.
std::vector<int32_t> Stretches(const unsigned char* body, int32_t length, int32_t threads, int32_t stretch_bytes) {
  const int64_t most = std::max<int64_t>(1, length / (stretch_bytes > 0 ? stretch_bytes : kStretchBytes));
  const auto n = static_cast<int32_t>(std::clamp<int64_t>(threads, 1, most));
  std::vector<int32_t> bounds{0};
  for (int32_t i = 1; i < n; ++i) {
    auto at = static_cast<int32_t>(static_cast<int64_t>(length) * i / n);
    while (at < length && !(body[at] & 0x80)) ++at;
    if (at > bounds.back() && at < length) bounds.push_back(at);
  }
  bounds.push_back(length);
  return bounds;
}

// The byte of the newline token's codeword when it is one byte long, for a
// scan that counts lines as it goes; -1 otherwise.
int NewlineByte(const ParsedFile& parsed) {
  const int32_t rank = Search_newlineRank(&parsed.model.dictionary);
  if (rank < 0) return -1;
  HCodeword codeword;
  int32_t length;
  HCodeword_TaggedFromTokenrank(rank, &parsed.model.codetable, &codeword, &length);
  return length == 1 ? static_cast<int>(codeword & 0xFF) : -1;
}

// The codewords of the matched tokens of one word, scanned for. With
// `lines`, the line of each offset when the scan could count them on the
// way (else `lines` is left empty and they are counted after).
void ScanRanks(const std::vector<int32_t>& ranks, const ParsedFile& parsed, int32_t max_hits,
               const SearchOptions& options, SearchHost* host, std::vector<int32_t>* offsets,
               std::vector<int64_t>* lines = nullptr) {
  offsets->clear();
  if (lines) lines->clear();
  if (ranks.empty()) return;
  MyHash table;
  MyHash_create(&table, 1000);
  unsigned char filter[256] = {};
  for (int32_t rank : ranks) Search_addRank(rank, &table, filter, 0, &parsed.model);
  // A limit on hits is a limit on the first ones: one stretch.
  const std::vector<int32_t> bounds =
      Stretches(parsed.body, parsed.body_length, max_hits > 0 ? 1 : options.threads, options.stretch_bytes);
  const size_t n = bounds.size() - 1;
  const int newline = lines && max_hits == 0 ? NewlineByte(parsed) : -1;
  std::vector<std::vector<int32_t>> found(n);
  std::vector<SearchLineCount> counts(n);
  Search_forEachStretch(n, [&](size_t i) {
    // A whole stretch will be read: its pages are asked for at once.
    const int32_t stretch_length = bounds[i + 1] - bounds[i];
    if (host && max_hits == 0 && stretch_length >= kWillReadBytes) {
      host->willRead(parsed.body + bounds[i], stretch_length);
    }
    int32_t count = 0;
    SearchOffsets stretch;
    counts[i].newline = newline;
    Search_scanBodyWith(&count, &table, filter, parsed.body + bounds[i], bounds[i + 1] - bounds[i], max_hits,
                        options.scan_path, &stretch, newline >= 0 ? &counts[i] : nullptr);
    found[i].reserve(static_cast<size_t>(count));
    for (int32_t k = 0; k < count; ++k) found[i].push_back(stretch.at[k] + bounds[i]);
  });
  for (const std::vector<int32_t>& part : found) offsets->insert(offsets->end(), part.begin(), part.end());
  if (newline < 0 || !std::all_of(counts.begin(), counts.end(), [](const SearchLineCount& c) { return c.counted; })) {
    return;
  }
  int64_t before = 1;  // lines start at 1
  for (const SearchLineCount& c : counts) {
    for (int64_t in_stretch : c.before) lines->push_back(before + in_stretch);
    before += c.total;
  }
}

// A query's text as agrep takes it literally: its pattern characters, the
// dot among them, escaped.
std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (std::strchr("\\[]()*+?{}|^$.", c) != nullptr && c != '\0') out.push_back('\\');
    out.push_back(c);
  }
  return out;
}

// The ranks of the tokens that one word of a query matches: word tokens
// within the errors (counted in code points under the Unicode models, by
// agrep under the others), or what agrep selects with a pattern.
void WordRanks(const std::string& word, bool pattern, const ParsedFile& parsed, const SearchOptions& options,
               SearchHost* host, std::vector<int32_t>* ranks) {
  if (HRule_unicode(parsed.model.rule) && !pattern) {
    Search_unicodeWordRanks(word, options.errors, options.ignore_case, &parsed.model, host, ranks);
    return;
  }
  Search_matchRanks(Search_agrepArguments(word, options.errors, options.ignore_case), &parsed.model, host, ranks);
  // A word stands for word tokens only: with errors, "I" would match every
  // one-byte separator, "," and the line feed among them.
  if (!pattern) {
    const HDictionary* dictionary = &parsed.model.dictionary;
    ranks->erase(std::remove_if(ranks->begin(), ranks->end(),
                                [&](int32_t rank) { return !HDecode_isWord(dictionary, rank); }),
                 ranks->end());
  }
}

// Returns whether the hits have their lines.
bool FindWord(const std::string& word, bool pattern, const ParsedFile& parsed, const SearchOptions& options,
              SearchHost* host, std::vector<SearchHit>* hits) {
  std::vector<int32_t> ranks;
  WordRanks(word, pattern, parsed, options, host, &ranks);
  std::vector<int32_t> offsets;
  std::vector<int64_t> lines;
  ScanRanks(ranks, parsed, options.max_hits, options, host, &offsets, options.line_numbers ? &lines : nullptr);
  const bool with_lines = !lines.empty() && lines.size() == offsets.size();
  hits->reserve(offsets.size());
  for (size_t i = 0; i < offsets.size(); ++i) {
    SearchHit hit;
    hit.offset = offsets[i];
    hit.length = HDecode_codewordLength(parsed.body + offsets[i], parsed.body_length - offsets[i]);
    if (with_lines) hit.line = lines[i];
    hits->push_back(hit);
  }
  return with_lines;
}

// Returns whether the hits have their lines.
bool FindPhrase(const SearchPhrase& phrase, const ParsedFile& parsed, const SearchOptions& options, SearchHost* host,
                std::vector<SearchHit>* hits) {
  const int32_t token_count = parsed.model.dictionary.token_count;
  std::vector<std::vector<unsigned char>> word_ranks(phrase.words.size());
  std::vector<int32_t> first, ranks;
  for (size_t w = 0; w < phrase.words.size(); ++w) {
    // A word that the phrase repeats ("of the ... of the") is matched once.
    const auto same = std::find(phrase.words.begin(), phrase.words.begin() + static_cast<std::ptrdiff_t>(w),
                                phrase.words[w]);
    if (w > 0 && same != phrase.words.begin() + static_cast<std::ptrdiff_t>(w)) {
      word_ranks[w] = word_ranks[static_cast<size_t>(same - phrase.words.begin())];
      continue;
    }
    WordRanks(phrase.words[w], false, parsed, options, host, &ranks);
    if (ranks.empty()) return false;
    word_ranks[w].assign(static_cast<size_t>(token_count), 0);
    for (int32_t rank : ranks) word_ranks[w][static_cast<size_t>(rank)] = 1;
    if (w == 0) first = ranks;
  }
  std::vector<int32_t> candidates;
  std::vector<int64_t> lines;
  ScanRanks(first, parsed, 0, options, host, &candidates, options.line_numbers ? &lines : nullptr);
  const bool with_lines = !lines.empty() && lines.size() == candidates.size();
  std::vector<std::pair<int32_t, int32_t>> found;
  Search_matchPhrase(phrase, word_ranks, candidates.data(), static_cast<int32_t>(candidates.size()), parsed.body,
                     parsed.body_length, parsed.spaceless, options.max_hits, &parsed.model, &found);
  hits->reserve(found.size());
  for (const auto& [offset, length] : found) {
    SearchHit hit;
    hit.offset = offset;
    hit.length = length;
    // A phrase's hit begins at its first word's codeword: a candidate.
    if (with_lines) {
      const auto at = std::lower_bound(candidates.begin(), candidates.end(), offset) - candidates.begin();
      hit.line = lines[static_cast<size_t>(at)];
    }
    hits->push_back(hit);
  }
  return with_lines;
}

// Each stretch counts the newline codewords before each of its hits and in
// the whole stretch; the lines of the stretches before it are added after.
void CountLines(const ParsedFile& parsed, SearchHit* hits, int32_t count, int32_t threads, int32_t stretch_bytes) {
  if (count <= 0) return;
  const int32_t newline = Search_newlineRank(&parsed.model.dictionary);
  unsigned char key[4] = {};
  int32_t key_length = 0;
  if (newline >= 0) {
    HCodeword codeword;
    HCodeword_TaggedFromTokenrank(newline, &parsed.model.codetable, &codeword, &key_length);
    for (int32_t i = 0; i < key_length; ++i) key[i] = static_cast<unsigned char>(codeword >> (8 * (key_length - 1 - i)));
  }
  const unsigned char* body = parsed.body;
  const int32_t length = parsed.body_length;
  // Up to the last hit is all that needs counting.
  const int32_t last = std::min(length, hits[count - 1].offset + 1);
  const std::vector<int32_t> bounds = Stretches(body, last, key_length > 0 ? threads : 1, stretch_bytes);
  const size_t n = bounds.size() - 1;
  std::vector<int64_t> lines_in(n, 0);
  Search_forEachStretch(n, [&](size_t s) {
    const int32_t from = bounds[s], to = bounds[s + 1];
    SearchHit* first = std::lower_bound(hits, hits + count, from,
                                        [](const SearchHit& h, int32_t at) { return h.offset < at; });
    int64_t line = 0;
    int32_t at = from;
    for (SearchHit* h = first; h < hits + count && h->offset < to; ++h) {
      if (key_length > 0) line += Search_countCodeword(body, length, at, h->offset, key, key_length);
      at = std::max(at, h->offset);
      h->line = line;
    }
    if (key_length > 0) line += Search_countCodeword(body, length, at, to, key, key_length);
    lines_in[s] = line;
  });
  int64_t before = 1;
  size_t s = 0;
  for (int32_t i = 0; i < count; ++i) {
    while (s + 1 < n && hits[i].offset >= bounds[s + 1]) before += lines_in[s++];
    hits[i].line += before;
  }
}

// The auxiliary pointers serve when they are in order and each body
// position is a codeword boundary inside the body.
bool PointersServe(const ParsedFile& parsed) {
  const HJumpers& j = parsed.model.jumpers;
  if (parsed.spaceless || j.count <= 0) return false;
  for (int32_t i = 0; i < j.count; ++i) {
    const int32_t t = j.text_positions[i], b = j.body_positions[i];
    if (t < 0 || t > parsed.text_length || b < 0 || b >= parsed.body_length || !(parsed.body[b] & 0x80)) return false;
    if (i > 0 && (t < j.text_positions[i - 1] || b < j.body_positions[i - 1])) return false;
  }
  return true;
}

// Sums the decoded lengths of the codewords before each hit, from the
// closest auxiliary pointer when there are any; the spaceless model adds the
// blank that it leaves out between two words.
void CountTextOffsets(const ParsedFile& parsed, SearchHit* hits, int32_t count) {
  const HDictionary* dictionary = &parsed.model.dictionary;
  const int32_t tokens = dictionary->token_count;
  std::vector<int32_t> token_length(static_cast<size_t>(tokens));
  std::vector<unsigned char> is_word(static_cast<size_t>(tokens));
  for (int32_t rank = 0; rank < tokens; ++rank) {
    HDecode_token(dictionary, rank, &token_length[static_cast<size_t>(rank)]);
    is_word[static_cast<size_t>(rank)] = HDecode_takesBlank(dictionary, rank);  // the spaceless blank's test
  }
  // Tokens of one-byte codewords, by that byte: most codewords of a body.
  struct OneByte {
    int32_t length = -1;  // -1: no one-byte codeword
    bool is_word = false;
  } one_byte[256];
  for (int32_t rank = 0; rank < tokens; ++rank) {
    HCodeword codeword;
    int32_t bytes;
    HCodeword_TaggedFromTokenrank(rank, &parsed.model.codetable, &codeword, &bytes);
    if (bytes == 1) one_byte[codeword & 0xFF] = {token_length[static_cast<size_t>(rank)], is_word[static_cast<size_t>(rank)] != 0};
  }
  const bool pointers = PointersServe(parsed);
  const HJumpers& jumpers = parsed.model.jumpers;
  const unsigned char* body = parsed.body;
  const int32_t length = parsed.body_length;
  int64_t text = 0;
  int32_t at = 0;
  bool after_word = false;
  for (int32_t i = 0; i < count; ++i) {
    const int32_t target = hits[i].offset;
    if (pointers) {
      const int32_t* first = jumpers.body_positions.get();
      const int32_t* p = std::upper_bound(first, first + jumpers.count, target);
      if (p != first) {
        const auto j = static_cast<size_t>(p - first - 1);
        if (jumpers.body_positions[j] > at) {
          at = jumpers.body_positions[j];
          text = jumpers.text_positions[j];
        }
      }
    }
    while (at < target) {
      const OneByte& one = one_byte[body[at]];
      if (one.length >= 0 && (at + 1 == length || (body[at + 1] & 0x80))) {
        if (parsed.spaceless && after_word && one.is_word) ++text;
        text += one.length;
        after_word = one.is_word;
        ++at;
        continue;
      }
      const int32_t len = HDecode_codewordLength(body + at, length - at);
      const auto rank = static_cast<size_t>(HDecode_rank(body + at, len, &parsed.model.codetable, tokens));
      if (parsed.spaceless && after_word && is_word[rank]) ++text;
      text += token_length[rank];
      after_word = is_word[rank];
      at += len;
    }
    int64_t offset = text;
    if (parsed.spaceless && after_word && target < length) {
      const int32_t len = HDecode_codewordLength(body + target, length - target);
      if (is_word[static_cast<size_t>(HDecode_rank(body + target, len, &parsed.model.codetable, tokens))]) ++offset;
    }
    hits[i].text_offset = offset;
  }
}

}  // namespace

bool Search_isPhrase(const std::string& word) {
  SearchPhrase phrase;
  Search_parsePhrase(word, &phrase);
  if (phrase.words.size() < 2) return false;
  for (const std::string& gap : phrase.gaps) {
    if (gap.find(kGapBlanks) != std::string::npos) return true;
  }
  return false;
}

namespace {

// What a query looks for in one file, by that file's model.
struct QueryPlan {
  SearchQuery query;
  bool sequence = false;  // words with bytes between them
  bool pattern = false;   // matched as agrep's pattern, not as a word
  std::string whole;      // what one whole-token match looks for
};

void PlanQuery(const std::string& word, unsigned char rule, const SearchOptions& options, QueryPlan* plan) {
  if (options.errors < 0) HFatal("Error: the number of errors cannot be negative (%d)\n", options.errors);
  SearchQuery& query = plan->query;
  Search_parseQuery(word, rule, options.literal, &query);
  if (!query.why.empty()) throw SearchRefused(query.why);
  // A pattern with blanks between its words is a phrase of them, as before
  // queries were split by the file's model.
  const bool pattern_phrase = query.kind == SearchQueryKind::kPattern && Search_isPhrase(word);
  if (pattern_phrase) Search_parsePhrase(word, &query.phrase);
  plan->sequence = query.kind == SearchQueryKind::kSequence || pattern_phrase;
  plan->whole = query.kind == SearchQueryKind::kWord         ? query.phrase.words[0]
                : query.kind == SearchQueryKind::kSeparators ? Escaped(word)
                                                             : word;
  plan->pattern = query.kind != SearchQueryKind::kWord;
}

// Whether a dictionary can rule the plan out: a word or a pattern matched
// against whole tokens, not a sequence of them.
bool DictionaryDecides(const QueryPlan& plan) {
  return !plan.sequence && (!plan.pattern || plan.query.kind == SearchQueryKind::kPattern);
}

// False when the dictionary holds no token that the plan could match. Most
// files of a collection do not hold a rare word: they need neither their
// tokens indexed nor their body read.
bool DictionaryMayMatch(const QueryPlan& plan, const HDictionary& dictionary, const SearchOptions& options,
                        SearchHost* host) {
  if (!DictionaryDecides(plan)) return true;
  return Search_mayMatch(Search_agrepArguments(plan.whole, options.errors, options.ignore_case), dictionary.string,
                         dictionary.string_length, host);
}

// As DictionaryMayMatch, from the file's first `have` bytes (true when they
// do not hold the whole header) and its size; the header's fields are
// checked on the way, with the failures of a whole read.
bool HeaderMayMatch(const QueryPlan& plan, const unsigned char* file, int64_t have, int64_t file_size,
                    const SearchOptions& options, SearchHost* host) {
  if (!DictionaryDecides(plan)) return true;
  if (file_size > INT32_MAX) HContainer_lengthError();
  if (file_size < 49 || have < 49) {
    if (have >= file_size) HContainer_lengthError();
    return true;
  }
  const int64_t header = HContainer_headerEnd(file, have);
  if (header > file_size) HContainer_lengthError();
  if (header < 0 || header > have) {
    if (have >= file_size) HContainer_lengthError();
    return true;
  }
  // A large dictionary is read through: its pages are asked for at once.
  if (host && header >= kWillReadBytes) host->willRead(file, header);
  struct Header {
    HModel model;
    ~Header() { HModel_free(&model, false); }
  } read;
  int32_t text_length = 0, body_length = 0;
  HContainer_readHeader(file, static_cast<int32_t>(header), &text_length, &body_length, &read.model,
                        HVocabulary::kCounted);
  if (header + static_cast<int64_t>(body_length) + HRule_trailerBytes(file[0]) != file_size) {
    HContainer_lengthError();
  }
  return DictionaryMayMatch(plan, read.model.dictionary, options, host);
}

}  // namespace

bool Search_mayHit(const std::string& word, const unsigned char* file, int64_t have, int64_t file_size,
                   const SearchOptions& options, SearchHost* host) {
  if (have <= 0) return true;
  QueryPlan plan;
  PlanQuery(word, file[0], options, &plan);
  return HeaderMayMatch(plan, file, have, file_size, options, host);
}

void Search_findHits(const std::string& word, const unsigned char* file, int32_t size, const SearchOptions& options,
                     SearchHost* host, std::vector<SearchHit>* hits) {
  hits->clear();
  QueryPlan plan;
  PlanQuery(word, size > 0 ? file[0] : 0, options, &plan);
  // Counting the dictionary's tokens costs less than indexing them, and a
  // file whose dictionary does not hold the word needs no more.
  if (size > 0 && !options.header_checked && !HeaderMayMatch(plan, file, size, size, options, host)) return;
  const SearchQuery& query = plan.query;
  ParsedFile parsed(file, size);
  bool with_lines = false;
  if (!plan.sequence) {
    with_lines = FindWord(plan.whole, plan.pattern, parsed, options, host, hits);
  } else if (query.phrase.words.size() == 1 && query.phrase.lead.empty() && query.phrase.trail.empty()) {
    with_lines = FindWord(query.phrase.words[0], false, parsed, options, host, hits);
  } else if (!query.phrase.words.empty()) {
    with_lines = FindPhrase(query.phrase, parsed, options, host, hits);
  }
  const auto count = static_cast<int32_t>(hits->size());
  if (options.line_numbers && !with_lines) CountLines(parsed, hits->data(), count, options.threads, options.stretch_bytes);
  if (options.text_offsets) CountTextOffsets(parsed, hits->data(), count);
}

void Search_locateHits(const unsigned char* file, int32_t size, bool line_numbers, bool text_offsets,
                       SearchHit* hits, int32_t count, int32_t threads) {
  if (count <= 0 || (!line_numbers && !text_offsets)) return;
  ParsedFile parsed(file, size);
  if (line_numbers) CountLines(parsed, hits, count, threads, 0);
  if (text_offsets) CountTextOffsets(parsed, hits, count);
}
