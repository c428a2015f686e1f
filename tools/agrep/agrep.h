// Approximate line matching for the agrep tool: a line matches a pattern
// when it is within a given number of edits (insertions, deletions and
// substitutions of one byte, each costing 1) of what the pattern describes.
//
// Three kinds of pattern, each with its own matcher:
//   ^WORD$  a plain word anchored at both ends: the Levenshtein distance
//           between the whole line and WORD is at most the error count
//           (bit-parallel, see WordMatcher);
//   WORD    a plain word without anchors: some substring of the line is
//           within the error count of WORD;
//   other   a POSIX extended regular expression: matched exactly with the C
//           library's regex, approximately with libtre.
// Lines are byte strings without their line end; bytes compare as bytes,
// or with ASCII letters folded to one case when case is ignored.
#ifndef MORAVINE_TOOLS_AGREP_AGREP_H_
#define MORAVINE_TOOLS_AGREP_AGREP_H_

#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace agrep {

// Something that decides, line by line, whether a line is selected.
class LineMatcher {
 public:
  virtual ~LineMatcher() = default;
  virtual bool matches(std::string_view line) const = 0;
};

// Raised when matching itself fails: an error of the regex library (out of
// memory, a back reference in an approximate match) or a line over 2 GiB.
class MatchError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Edit distance of a fixed word, computed with Myers' bit-vector algorithm
// (one 64-bit word per 64 bytes of the word, blocks chained by their
// horizontal carries as in Hyyrö's formulation).
class WordMatcher final : public LineMatcher {
 public:
  enum class Mode {
    kWholeLine,  // distance between the word and the whole line
    kSubstring,  // smallest distance between the word and a substring of the line
  };

  // With ignore_case an ASCII letter of the line matches the word's letter
  // in either case; other bytes compare as they are.
  WordMatcher(std::string_view word, Mode mode, int max_errors, bool ignore_case = false);

  // The distance itself, computed over the whole line.
  int64_t distance(std::string_view line) const;

  // Whether the distance is at most max_errors; skips lines whose length
  // rules them out and stops as soon as the outcome is known.
  bool matches(std::string_view line) const override;

 private:
  // The distance, or, once it is known to be above `limit`, some value above
  // it; with stop_at_hit a substring search returns on the first end
  // position within `limit`.
  int64_t run(std::string_view line, int64_t limit, bool stop_at_hit) const;
  template <bool kWhole>
  int64_t runSingleBlock(std::string_view line, int64_t limit, bool stop_at_hit) const;
  int64_t runMultiBlock(std::string_view line, int64_t limit, bool stop_at_hit) const;

  std::string word_;
  Mode mode_;
  int max_errors_;
  bool ignore_case_;
  size_t blocks_ = 0;
  uint64_t last_bit_ = 0;       // the word's last byte within the last block
  std::vector<uint64_t> peq_;   // match masks: peq_[byte * blocks_ + block]
  // Scratch for multi-block words: one matcher serves one thread at a time.
  mutable std::vector<uint64_t> pv_, mv_;
};

// How a pattern is matched.
enum class PatternKind { kAnchoredWord, kWord, kRegex };

struct ClassifiedPattern {
  PatternKind kind;
  std::string word;  // the word itself for kAnchoredWord and kWord
};

ClassifiedPattern ClassifyPattern(std::string_view pattern);

// Regular expressions. Both throw std::invalid_argument with the library's
// message when the pattern does not compile.
std::unique_ptr<LineMatcher> MakeExactRegexMatcher(const std::string& pattern, bool ignore_case = false);
std::unique_ptr<LineMatcher> MakeApproximateRegexMatcher(const std::string& pattern, int max_errors,
                                                         bool ignore_case = false);

// The matcher for a pattern and an error count (>= 0), by ClassifyPattern.
std::unique_ptr<LineMatcher> MakeMatcher(const std::string& pattern, int max_errors, bool ignore_case = false);

// The command line of the program, shared by the program itself and by the
// callers that run its matching in their own process.
struct Arguments {
  int errors = 0;
  bool ignore_case = false;
  std::string pattern;
  std::vector<std::string> files;  // none: standard input
};

enum class ParseOutcome {
  kRun,      // *arguments is filled
  kHelp,     // print the usage to standard output, exit 0
  kVersion,  // print the version to standard output, exit 0
  kUsage,    // no pattern: print the usage to standard error, exit 2
  kTrouble,  // *message goes to standard error, exit 2
};

// Parses the arguments after the program's name.
ParseOutcome ParseArguments(const std::vector<std::string>& args, Arguments* arguments, std::string* message);

// What the program writes to standard error for a pattern that does not
// compile, and for a failure of the matching itself.
std::string BadPatternMessage(const std::string& pattern, const std::string& reason);
std::string MatchErrorMessage(const std::string& reason);

// The exit statuses.
constexpr int kExitMatched = 0;
constexpr int kExitNoMatch = 1;
constexpr int kExitTrouble = 2;

// Calls select(record) for each record of the input and sink(record) for
// each record selected; returns whether any was. A record is a line without
// its LF; a last line without LF is a record too. select() sees the record
// without a CR that ends it, sink() sees it unchanged.
template <typename Select, typename Sink>
bool ForEachSelectedRecord(std::string_view input, const Select& select, Sink&& sink) {
  bool any = false;
  const char* p = input.data();
  const char* end = p + input.size();
  while (p < end) {
    const void* lf = std::memchr(p, '\n', static_cast<size_t>(end - p));
    const char* q = lf ? static_cast<const char*>(lf) : end;
    std::string_view record(p, static_cast<size_t>(q - p));
    std::string_view text = record;
    if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
    if (select(text)) {
      any = true;
      sink(record);
    }
    if (q == end) break;
    p = q + 1;
  }
  return any;
}

}  // namespace agrep

#endif  // MORAVINE_TOOLS_AGREP_AGREP_H_
