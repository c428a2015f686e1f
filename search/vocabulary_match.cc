#include "search/vocabulary_match.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <string_view>

#include "agrep.h"
#include "codec/container.h"
#include "search/find_bytes.h"
#include "wordmodel/hcodeword.h"
#include "wordmodel/hdecode.h"
#include "wordmodel/hhashtable.h"
#include "wordmodel/hlog.h"
#include "wordmodel/hmodel_free.h"

namespace {

constexpr int32_t kNameCapacity = 1000;
constexpr int kMaxAttempts = 100000;
// Tokens matched between two looks at the cancel flag.
constexpr int32_t kCancelSteps = 4096;

// Removes a temporary file when the search leaves the scope that made it,
// whether it ends normally or through a fatal failure.
class TempFile {
 public:
  explicit TempFile(SearchHost* host) : host_(host) {}
  ~TempFile() { discard(); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  void adopt(std::string path, SearchHost::File file) {
    path_ = std::move(path);
    file_ = file;
  }
  int close() {
    int rc = file_ != SearchHost::kNoFile ? host_->closeFile(file_) : 0;
    file_ = SearchHost::kNoFile;
    return rc;
  }
  void discard() {
    close();
    if (!path_.empty()) host_->removeFile(path_);
    path_.clear();
  }
  // Keeps the file on disk (its owner removes it).
  void keep() { path_.clear(); }

 private:
  SearchHost* host_;
  std::string path_;
  SearchHost::File file_ = SearchHost::kNoFile;
};

// Creates "DIR" + stem + ".PID.N" exclusively for N = first, first + 1, ...
// and leaves the name in `name`.
SearchHost::File CreateNumbered(SearchHost* host, char* name, int32_t capacity, const char* stem, int first) {
  std::string dir = host->temporaryDirectory();
  if (static_cast<int64_t>(dir.size()) > capacity - 50) {
    HFatal("Error: temporary directory path too long (%s)\n", dir.c_str());
  }
  std::string pid = std::to_string(host->processId());
  for (int attempt = first; attempt < first + kMaxAttempts; ++attempt) {
    int n = std::snprintf(name, static_cast<size_t>(capacity), "%s%s.%s.%d", dir.c_str(), stem, pid.c_str(), attempt);
    if (n < 0 || n >= capacity) HFatal("Error: temporary file name too long\n");
    SearchHost::File file = host->createExclusive(name);
    if (file != SearchHost::kNoFile) return file;
    if (errno != EEXIST) HFatal_perror("open");
  }
  errno = EEXIST;
  HFatal_perror("open");
}

std::string CommandLine(const char* input, const char* output, const std::vector<std::string>& arguments) {
  std::string line;
  for (size_t i = 0; i < arguments.size(); ++i) {
    if (i == 0) {
      line.append(arguments[i]);
    } else {
      line.append("\"").append(arguments[i]).append("\"");
    }
    line.append(" ");
  }
  return line.append(input).append(" > ").append(output);
}

// Finds matched tokens in the dictionary. agrep prints the matching lines in
// the order of the vocabulary file, which is rank order, so each search goes
// on from the last match and the whole output costs one pass over the
// dictionary; a line out of order costs one more pass.
class DictionaryCursor {
 public:
  explicit DictionaryCursor(const HDictionary* dictionary) : dictionary_(dictionary) {}

  // The rank of the token, or -1 when the dictionary does not hold it.
  int32_t find(const unsigned char* token, int32_t length) {
    int32_t n = dictionary_->token_count;
    for (int32_t i = 0; i < n; ++i) {
      int32_t r = next_ + i < n ? next_ + i : next_ + i - n;
      int32_t len;
      const unsigned char* t = HDecode_token(dictionary_, r, &len);
      if (len == length && std::memcmp(t, token, static_cast<size_t>(length)) == 0) {
        next_ = r + 1 < n ? r + 1 : 0;
        return r;
      }
    }
    return -1;
  }

 private:
  const HDictionary* dictionary_;
  int32_t next_ = 0;
};

// The rank of a matched line's token. A line that holds only a carriage
// return is a line of the newline token, which the vocabulary file spreads
// over two such lines.
int32_t RankOfLine(const unsigned char* token, int32_t length, const unsigned char* line, int64_t line_length,
                   DictionaryCursor* cursor) {
  static const unsigned char kNewline = '\n';
  if (length == 0) {
    token = &kNewline;
    length = 1;
  }
  int32_t rank = cursor->find(token, length);
  if (rank < 0) {
    std::string shown(reinterpret_cast<const char*>(line), static_cast<size_t>(line_length));
    HFatal("Error: messed up dictionary? (token \"%s\" not found)\n", shown.c_str());
  }
  return rank;
}

// Runs agrep over the vocabulary file into the match file and reads the
// ranks of the matched tokens, in the order of the lines. Returns the number
// of lines.
int32_t ReadMatchFile(const char* input, const std::vector<std::string>& arguments, const HModel* model,
                      SearchHost* host, std::vector<int32_t>* ranks) {
  char name[kNameCapacity];
  TempFile match(host);
  SearchHost::File file = CreateNumbered(host, name, 900, "agrep.out", 0);
  match.adopt(name, file);
  Search_runCommand(input, file, name, arguments, host);

  const unsigned char* data = nullptr;
  int64_t size = 0;
  if (!host->mapFile(file, &data, &size)) HFatal_perror("CreateFileMapping");
  if (size == 0) return 0;
  struct Unmap {
    SearchHost* host;
    const unsigned char* data;
    int64_t size;
    ~Unmap() { host->unmapFile(data, size); }
  } unmap{host, data, size};

  DictionaryCursor cursor(&model->dictionary);
  int32_t lines = 0;
  int64_t last = size - 1;
  int64_t p = 0;
  for (;;) {
    int64_t q;
    int32_t token_length;
    if (data[p] != '\n') {
      const void* lf = p + 1 < size ? std::memchr(data + p + 1, '\n', static_cast<size_t>(size - p - 1)) : nullptr;
      if (lf) {
        q = static_cast<const unsigned char*>(lf) - data;
        token_length = static_cast<int32_t>(q - p - 1);
      } else {
        // A last line without its line feed ends at the end of the file.
        q = size;
        token_length = static_cast<int32_t>(data[size - 1] == '\r' ? size - 1 - p : size - p);
      }
    } else {
      q = p;
      while (q + 1 < size && data[q + 1] == '\n') ++q;
      if (q - p + 1 != 2) HFatal("Error: messed up dictionary? (incoherent '\\n', line %d)\n", lines);
      token_length = static_cast<int32_t>(q - p - 1);
    }
    ++lines;
    int32_t rank = RankOfLine(data + p, token_length, data + p, (q < size ? q : size) - p, &cursor);
    if (ranks->empty() || ranks->back() != rank) ranks->push_back(rank);  // the newline token's second line
    p = q + 1;
    if (p >= last) break;
  }
  return lines;
}

// The ranks of the tokens equal to a word, as the whole-line match of the
// word without errors finds them, by one pass over the dictionary's string:
// each place where the word's bytes begin a token and fill it. The word is
// not empty and holds no line feed.
int32_t ExactTokenRanks(const std::string& word, const HDictionary* dictionary, std::vector<int32_t>* ranks) {
  const unsigned char* text = dictionary->string;
  const auto length = static_cast<size_t>(dictionary->string_length);
  const int32_t* start = dictionary->start.get();
  const int32_t count = dictionary->token_count;
  int32_t lines = 0;
  for (size_t from = 0; from + word.size() <= length;) {
    const void* found = Search_findBytes(text + from, length - from, reinterpret_cast<const unsigned char*>(word.data()),
                                         word.size());
    if (!found) break;
    const auto at = static_cast<int32_t>(static_cast<const unsigned char*>(found) - text);
    const int32_t* next = std::upper_bound(start, start + count, at);
    const auto rank = static_cast<int32_t>(next - start) - 1;
    if (rank >= 0 && start[rank] == at) {
      int32_t token_length;
      HDecode_token(dictionary, rank, &token_length);
      if (token_length == static_cast<int32_t>(word.size())) {
        ranks->push_back(rank);
        ++lines;
      }
    }
    from = static_cast<size_t>(at) + 1;
  }
  return lines;
}

// A word cut into errors + 1 pieces of nearly equal length: a token within
// that many insertions, deletions and substitutions of the word holds at
// least one of them untouched.
std::vector<std::string_view> Pieces(const std::string& word, int32_t errors) {
  std::vector<std::string_view> pieces;
  const size_t n = static_cast<size_t>(errors) + 1;
  for (size_t i = 0; i < n; ++i) {
    const size_t from = word.size() * i / n, to = word.size() * (i + 1) / n;
    pieces.emplace_back(word.data() + from, to - from);
  }
  return pieces;
}

// The plain word of a whole-token match that pieces can filter: the bundled
// matcher's arguments parse, case counts, the word is longer than the errors
// (so no piece is empty, and the newline token's empty line cannot match)
// and holds no line feed (so a piece lies inside one token). Empty otherwise.
std::string FilterableWord(const std::vector<std::string>& arguments, int32_t* errors) {
  std::vector<std::string> args;
  for (size_t i = 1; i < arguments.size(); ++i) args.emplace_back(arguments[i].c_str());
  args.push_back("-");
  agrep::Arguments parsed;
  std::string message;
  if (agrep::ParseArguments(args, &parsed, &message) != agrep::ParseOutcome::kRun || parsed.ignore_case) return {};
  const agrep::ClassifiedPattern classified = agrep::ClassifyPattern(parsed.pattern);
  if (classified.kind != agrep::PatternKind::kAnchoredWord || parsed.errors < 0 ||
      classified.word.size() <= static_cast<size_t>(parsed.errors) || classified.word.find('\n') != std::string::npos) {
    return {};
  }
  *errors = parsed.errors;
  return classified.word;
}

// Pieces shorter than this occur in too many tokens to be worth a pass
// each: the tokens are then taken by their lengths alone.
constexpr size_t kShortestPiece = 3;

// The length of a rank's token in a dictionary with its starts.
inline int32_t TokenLength(const int32_t* start, int32_t count, int32_t string_length, int32_t rank) {
  return (rank + 1 < count ? start[rank + 1] : string_length) - start[rank] - 1;
}

// The ranks of the tokens that may lie within `errors` edits of a word, in
// rank order: those whose length is within the errors of the word's and,
// when the word's pieces are long enough to be rare, that hold one of them.
// Each piece is found by a pass of Search_findBytes over the dictionary's
// string, and a token that holds it is taken once. The word is as
// FilterableWord gives it.
void CandidateRanks(const std::string& word, int32_t errors, const HDictionary* dictionary,
                    std::vector<int32_t>* candidates) {
  const unsigned char* text = dictionary->string;
  const auto length = static_cast<size_t>(dictionary->string_length);
  const int32_t* start = dictionary->start.get();
  const int32_t count = dictionary->token_count;
  const auto shortest = static_cast<int32_t>(word.size()) - errors;
  const auto longest = static_cast<int32_t>(word.size()) + errors;
  auto fits = [&](int32_t rank) {
    const int32_t n = TokenLength(start, count, dictionary->string_length, rank);
    return n >= shortest && n <= longest;
  };
  const std::vector<std::string_view> pieces = Pieces(word, errors);
  if (std::any_of(pieces.begin(), pieces.end(), [](std::string_view p) { return p.size() < kShortestPiece; })) {
    for (int32_t rank = 0; rank < count; ++rank) {
      if (fits(rank)) candidates->push_back(rank);
    }
    return;
  }
  for (const std::string_view piece : pieces) {
    for (size_t from = 0; from + piece.size() <= length;) {
      const void* found = Search_findBytes(text + from, length - from,
                                           reinterpret_cast<const unsigned char*>(piece.data()), piece.size());
      if (!found) break;
      const auto at = static_cast<int32_t>(static_cast<const unsigned char*>(found) - text);
      const auto rank = static_cast<int32_t>(std::upper_bound(start, start + count, at) - start) - 1;
      if (rank < 0) break;
      if (fits(rank)) candidates->push_back(rank);
      // The rest of this token cannot add it again.
      from = rank + 1 < count ? static_cast<size_t>(start[rank + 1]) : length;
    }
  }
  std::sort(candidates->begin(), candidates->end());
  candidates->erase(std::unique(candidates->begin(), candidates->end()), candidates->end());
}

// The matching that the bundled agrep would do over the vocabulary file,
// done here. Every token is one line of that file, the newline token two
// empty ones; the program's diagnostics go where the child's would go, to
// standard error, and a failure ends as the run of the program with its
// exit status would.
int32_t MatchInProcess(const std::vector<std::string>& arguments, const HModel* model, SearchHost* host,
                       std::vector<int32_t>* ranks) {
  const std::string pid = std::to_string(host->processId());
  const std::string dir = host->temporaryDirectory();
  const std::string input = dir + "agrep.tmp." + pid + ".1";
  const std::string output = dir + "agrep.out." + pid + ".0";
  auto fail = [&](const std::string& diagnostic) {
    std::fputs(diagnostic.c_str(), stderr);
    std::fflush(stderr);
    HFatal("system(\"%s\") exited with status %d\n", CommandLine(input.c_str(), output.c_str(), arguments).c_str(),
           agrep::kExitTrouble);
  };
  // An argument reaches the program as a C string: up to its first NUL.
  std::vector<std::string> args;
  for (size_t i = 1; i < arguments.size(); ++i) args.emplace_back(arguments[i].c_str());
  args.push_back(input);
  agrep::Arguments parsed;
  std::string message;
  if (agrep::ParseArguments(args, &parsed, &message) != agrep::ParseOutcome::kRun) fail(message);

  std::unique_ptr<agrep::LineMatcher> matcher;
  try {
    matcher = agrep::MakeMatcher(parsed.pattern, parsed.errors, parsed.ignore_case);
  } catch (const std::exception& e) {
    fail(agrep::BadPatternMessage(parsed.pattern, e.what()));
  }
  const HDictionary* dictionary = &model->dictionary;
  int32_t lines = 0;
  if (parsed.errors == 0 && !parsed.ignore_case) {
    const agrep::ClassifiedPattern classified = agrep::ClassifyPattern(parsed.pattern);
    // The empty word matches the newline token's two empty lines: left to the matcher.
    if (classified.kind == agrep::PatternKind::kAnchoredWord && !classified.word.empty() &&
        classified.word.find('\n') == std::string::npos) {
      return ExactTokenRanks(classified.word, dictionary, ranks);
    }
  }
  try {
    if (parsed.errors > 0 && !parsed.ignore_case) {
      const agrep::ClassifiedPattern classified = agrep::ClassifyPattern(parsed.pattern);
      if (classified.kind == agrep::PatternKind::kAnchoredWord &&
          classified.word.size() > static_cast<size_t>(parsed.errors) &&
          classified.word.find('\n') == std::string::npos) {
        // Only tokens that hold a piece of the word can match it; the
        // newline token holds none and, being an empty line, is too short.
        std::vector<int32_t> candidates;
        CandidateRanks(classified.word, parsed.errors, dictionary, &candidates);
        for (size_t i = 0; i < candidates.size(); ++i) {
          if (i % kCancelSteps == 0) host->checkCancel();
          const int32_t rank = candidates[i];
          int32_t length;
          const unsigned char* token = HDecode_token(dictionary, rank, &length);
          if (matcher->matches(std::string_view(reinterpret_cast<const char*>(token), static_cast<size_t>(length)))) {
            ranks->push_back(rank);
            ++lines;
          }
        }
        return lines;
      }
    }
    for (int32_t rank = 0; rank < dictionary->token_count; ++rank) {
      if (rank % kCancelSteps == 0) host->checkCancel();
      int32_t length;
      const unsigned char* token = HDecode_token(dictionary, rank, &length);
      const bool newline = length == 1 && token[0] == '\n';
      std::string_view line = newline ? std::string_view() : std::string_view(reinterpret_cast<const char*>(token),
                                                                              static_cast<size_t>(length));
      if (matcher->matches(line)) {
        ranks->push_back(rank);
        lines += newline ? 2 : 1;
      }
    }
  } catch (const agrep::MatchError& e) {
    fail(agrep::MatchErrorMessage(e.what()));
  }
  return lines;
}

}  // namespace

bool Search_mayMatch(const std::vector<std::string>& arguments, const unsigned char* dictionary, int32_t length,
                     SearchHost* host) {
  if (!host->useBundledMatcher()) return true;
  int32_t errors = 0;
  const std::string word = FilterableWord(arguments, &errors);
  if (word.empty()) return true;
  const std::vector<std::string_view> pieces = Pieces(word, errors);
  if (!Search_findAnyBytes(dictionary, static_cast<size_t>(length), pieces)) return false;
  if (std::any_of(pieces.begin(), pieces.end(), [](std::string_view p) { return p.size() < kShortestPiece; })) {
    return true;
  }
  // The tokens that hold a piece, each found between the line feeds around
  // it (only the newline token holds one of its own, and no piece does),
  // are matched here: a file whose tokens only resemble the word needs no
  // index of its tokens either.
  const agrep::WordMatcher matcher(word, agrep::WordMatcher::Mode::kWholeLine, errors);
  const auto end = static_cast<size_t>(length);
  for (const std::string_view piece : pieces) {
    for (size_t from = 0; from + piece.size() <= end;) {
      const unsigned char* found = Search_findBytes(dictionary + from, end - from,
                                                    reinterpret_cast<const unsigned char*>(piece.data()), piece.size());
      if (!found) break;
      const unsigned char* first = found;
      while (first > dictionary && first[-1] != '\n') --first;
      const auto* last = static_cast<const unsigned char*>(std::memchr(found, '\n', end - static_cast<size_t>(found - dictionary)));
      if (!last) last = dictionary + end;
      if (matcher.matches(std::string_view(reinterpret_cast<const char*>(first), static_cast<size_t>(last - first)))) {
        return true;
      }
      from = static_cast<size_t>(last - dictionary) + 1;
    }
  }
  return false;
}

int32_t Search_newlineRank(const HDictionary* dictionary) {
  const int32_t count = dictionary->token_count;
  const unsigned char* string = dictionary->string;
  static const unsigned char kTwo[2] = {'\n', '\n'};
  const unsigned char* found =
      count > 0 ? Search_findBytes(string, static_cast<size_t>(dictionary->string_length), kTwo, 2) : nullptr;
  if (found == nullptr) return -1;
  // The first two line feeds in a row are the token's own, at the start of
  // the string, or the end of the token before it and the token's first.
  const auto at = static_cast<int32_t>(found - string) + (found == string ? 0 : 1);
  const int32_t* start = dictionary->start.get();
  const int32_t* it = std::lower_bound(start, start + count, at);
  if (it != start + count && *it == at) {
    const auto rank = static_cast<int32_t>(it - start);
    int32_t length;
    const unsigned char* token = HDecode_token(dictionary, rank, &length);
    if (length == 1 && token[0] == '\n') return rank;
  }
  // A damaged dictionary may hold a token that begins with a line feed and
  // goes on: every token is looked at.
  for (int32_t rank = 0; rank < count; ++rank) {
    int32_t length;
    const unsigned char* token = HDecode_token(dictionary, rank, &length);
    if (length == 1 && token[0] == '\n') return rank;
  }
  return -1;
}

void Search_addRank(int32_t rank, MyHash* table, unsigned char* filter, int32_t value, const HModel* model) {
  HCodeword codeword;
  int32_t len;
  HCodeword_TaggedFromTokenrank(rank, &model->codetable, &codeword, &len);
  unsigned char key[4];
  for (int32_t i = 0; i < len; ++i) key[i] = static_cast<unsigned char>(codeword >> (8 * (len - 1 - i)));
  filter[key[0]] = 1;
  MyHash_insert(key, len, value, table);
}

std::vector<std::string> Search_agrepArguments(const std::string& word, int32_t errors, bool ignore_case) {
  std::vector<std::string> args{"agrep", "-V0"};
  if (ignore_case) args.push_back("-i");
  if (errors != 0) args.push_back(std::string("-").append(std::to_string(errors)));
  std::string pattern;
  pattern.reserve(word.size() + 2);
  pattern.append("^").append(word).append("$");
  args.push_back(std::move(pattern));
  return args;
}

void Search_writeVocabularyFile(char* name, int32_t capacity, const HDictionary* dictionary, SearchHost* host) {
  if (capacity < 40) HFatal("Too small a buffer top hold the filename.");
  TempFile file(host);
  SearchHost::File fd = CreateNumbered(host, name, capacity, "agrep.tmp", 1);
  file.adopt(name, fd);

  // Copied line by line: each run up to a line feed, then CR LF.
  unsigned char block[1 << 16];
  size_t used = 0;
  const unsigned char* p = dictionary->string;
  const unsigned char* end = p + dictionary->string_length;
  while (p < end) {
    const unsigned char* lf = static_cast<const unsigned char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
    size_t run = static_cast<size_t>((lf ? lf : end) - p);
    size_t extra = lf ? 2 : 0;
    if (used + run + extra > sizeof block) {
      if (used && !host->writeAll(fd, block, used)) HFatal_perror("write");
      used = 0;
      if (run + extra > sizeof block) {  // a line longer than the block goes out on its own
        if (!host->writeAll(fd, p, run)) HFatal_perror("write");
        p += run;
        run = 0;
      }
    }
    std::memcpy(block + used, p, run);
    used += run;
    p += run;
    if (lf) {
      block[used++] = '\r';
      block[used++] = '\n';
      ++p;
    }
  }
  if (used && !host->writeAll(fd, block, used)) HFatal_perror("write");
  if (file.close() != 0) HFatal_perror("write");
  file.keep();
}

int Search_runCommand(const char* input, SearchHost::File out, const char* output_name,
                      const std::vector<std::string>& arguments, SearchHost* host) {
  std::vector<std::string> argv = arguments;
  argv.push_back(input);
  int status = 0;
  int rc = host->runProcess(argv, out, &status);
  host->checkCancel();  // a cancelled search ended the program
  std::string line = CommandLine(input, output_name, arguments);
  if (rc == -1) HFatal_perror("system");
  if (rc < 0) HFatal("command \"%s\" failed.\n", line.c_str());
  if (status != 0 && status != 1) HFatal("system(\"%s\") exited with status %d\n", line.c_str(), status);
  return 0;
}

int32_t Search_readMatches(const char* input, MyHash* table, unsigned char* filter,
                           const std::vector<std::string>& arguments, int32_t value, const HModel* model,
                           SearchHost* host) {
  std::vector<int32_t> ranks;
  int32_t lines = ReadMatchFile(input, arguments, model, host, &ranks);
  for (int32_t rank : ranks) Search_addRank(rank, table, filter, value, model);
  return lines;
}

int32_t Search_matchRanks(const std::vector<std::string>& arguments, const HModel* model, SearchHost* host,
                          std::vector<int32_t>* ranks) {
  ranks->clear();
  if (host->useBundledMatcher()) return MatchInProcess(arguments, model, host, ranks);
  char name[kNameCapacity];
  Search_writeVocabularyFile(name, kNameCapacity, &model->dictionary, host);
  TempFile vocabulary(host);
  vocabulary.adopt(name, SearchHost::kNoFile);
  return ReadMatchFile(name, arguments, model, host, ranks);
}

int32_t Search_matchVocabulary(MyHash* table, unsigned char* filter, const std::vector<std::string>& arguments,
                               int32_t value, const HModel* model, SearchHost* host) {
  std::vector<int32_t> ranks;
  int32_t lines = Search_matchRanks(arguments, model, host, &ranks);
  for (int32_t rank : ranks) Search_addRank(rank, table, filter, value, model);
  return lines;
}

void Search_compressedFile(int32_t* count, const std::string& word, const unsigned char* file, int32_t size,
                           int32_t errors, SearchHost* host, SearchOffsets* offsets) {
  if (errors < 0) HFatal("Error: the number of errors cannot be negative (%d)\n", errors);
  std::vector<std::string> arguments = Search_agrepArguments(word, errors);
  HModel model;
  int32_t text_length;
  const unsigned char* body;
  int32_t body_length;
  HContainer_read(file, size, &text_length, &body, &body_length, &model, HVocabulary::kBlankOnly);

  MyHash table;
  MyHash_create(&table, 1000);
  unsigned char filter[256] = {};
  int32_t lines = Search_matchVocabulary(&table, filter, arguments, 0, &model, host);
  if (lines == 0) {
    *count = 0;
    offsets->at.reset();
    offsets->capacity = 0;
  } else {
    Search_scanBody(count, &table, filter, body, body_length, offsets);
  }
  MyHash_destroy(&table);
  HModel_free(&model, false);
}
