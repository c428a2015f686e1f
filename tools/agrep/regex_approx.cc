// Approximate matching of extended regular expressions with libtre.
//
// libtre's approximate matcher has two faults, both worked around here.
//
// 1. Where a match may start anywhere, it misses matches of patterns that
//    begin with something optional: with one error, `b?ad` does not find
//    "cd" in "ccd". Anchored at the start of the line it is right, so the
//    pattern P is searched as `^.*(P)`: `.*` takes any part of the line in
//    front of the match at no cost, and a `^` inside P still holds only at
//    the start of the line.
//
// 2. It miscounts insertions in front of a `$` anchor: bytes between the
//    end of the matched text and the end of the line cost more than one
//    each, so with one error `^color$` rejects "colors". Let C(s) be the
//    true cost of the best match in the text s, and C0(s) that of the best
//    match with no insertion in front of `$`. Then C(line) = min over t >= 0
//    of C0(line less its last t bytes) + t: the t bytes are the trailing
//    insertions. Searching from the start of the line as in 1, libtre
//    finds every match without such insertions and never reports one
//    cheaper than it is (the tests check both on random patterns against
//    their enumerated languages), so its cost T satisfies
//    C(s) <= T(s) <= C0(s), and min over t of T(prefix) + t is C(line) too.
//    Hence: the line matches with k errors when some prefix of it, t bytes
//    shorter (0 <= t <= k), matches with k - t errors. A pattern ending in
//    `$` is first tried without it, which can only accept more lines, so
//    most lines that fail cost a single call.
#include <tre/tre.h>

#include <algorithm>
#include <climits>
#include <stdexcept>

#include "agrep.h"
#include "c_locale.h"

namespace agrep {
namespace {

constexpr size_t kMaxRegexLine = INT_MAX;

std::string Message(int rc, const regex_t* regex) {
  char message[256];
  tre_regerror(rc, regex, message, sizeof message);
  return message;
}

// Whether the pattern's last byte is a `$` not escaped by a backslash.
bool EndsInAnchor(const std::string& pattern) {
  if (pattern.empty() || pattern.back() != '$') return false;
  size_t backslashes = 0;
  for (size_t i = pattern.size() - 1; i > 0 && pattern[i - 1] == '\\'; --i) ++backslashes;
  return backslashes % 2 == 0;
}

// Whether the pattern holds a back reference, whose number wrapping it in
// a group would change.
bool HasBackReference(const std::string& pattern) {
  for (size_t i = 0; i + 1 < pattern.size(); ++i) {
    if (pattern[i] == '\\') {
      if (pattern[i + 1] >= '1' && pattern[i + 1] <= '9') return true;
      ++i;
    }
  }
  return false;
}

// Compiles the pattern in the form searched from the start of the line
// (fault 1 above); false when it does not compile.
bool CompileAnchored(regex_t* regex, const std::string& pattern, int flags) {
  const bool anchored = !pattern.empty() && pattern[0] == '^' && pattern.find('|') == std::string::npos;
  if (!anchored && !HasBackReference(pattern)) {
    // A pattern that compiles alone also compiles in the group, and means
    // the same there: its brackets and parentheses are balanced and it does
    // not end in a lone backslash.
    const std::string wrapped = "^.*(" + pattern + ")";
    if (tre_regncomp(regex, wrapped.data(), wrapped.size(), flags) == REG_OK) return true;
  }
  return tre_regncomp(regex, pattern.data(), pattern.size(), flags) == REG_OK;
}

class ApproximateRegexMatcher final : public LineMatcher {
 public:
  ApproximateRegexMatcher(const std::string& pattern, int max_errors, bool ignore_case) : max_errors_(max_errors) {
    const int flags = REG_EXTENDED | (ignore_case ? REG_ICASE : 0);
    CLocaleScope c_locale;
    // Compiled as given first, for the library's own message on an error.
    const int rc = tre_regncomp(&regex_, pattern.data(), pattern.size(), flags);
    if (rc != REG_OK) throw std::invalid_argument(Message(rc, nullptr));
    tre_regfree(&regex_);
    if (!CompileAnchored(&regex_, pattern, flags)) throw std::invalid_argument("pattern does not compile");
    guarded_ = pattern.find('$') != std::string::npos;
    if (EndsInAnchor(pattern)) {
      const std::string relaxed = pattern.substr(0, pattern.size() - 1);
      has_relaxed_ = relaxed.find('$') == std::string::npos && CompileAnchored(&relaxed_, relaxed, flags);
    }
  }
  ~ApproximateRegexMatcher() override {
    tre_regfree(&regex_);
    if (has_relaxed_) tre_regfree(&relaxed_);
  }
  ApproximateRegexMatcher(const ApproximateRegexMatcher&) = delete;
  ApproximateRegexMatcher& operator=(const ApproximateRegexMatcher&) = delete;

  bool matches(std::string_view line) const override {
    if (line.size() > kMaxRegexLine) throw MatchError("line too long for the regular expression matcher");
    CLocaleScope c_locale;
    if (!guarded_) return within(regex_, line, max_errors_);
    if (has_relaxed_ && !within(relaxed_, line, max_errors_)) return false;
    const size_t most = std::min(static_cast<size_t>(max_errors_), line.size());
    for (size_t t = 0; t <= most; ++t) {
      if (within(regex_, line.substr(0, line.size() - t), max_errors_ - static_cast<int>(t))) return true;
    }
    return false;
  }

 private:
  static bool within(const regex_t& regex, std::string_view text, int errors) {
    regaparams_t params;
    tre_regaparams_default(&params);
    params.cost_ins = params.cost_del = params.cost_subst = 1;
    params.max_cost = errors;
    params.max_ins = params.max_del = params.max_subst = params.max_err = errors;
    regamatch_t match{};
    const int rc = tre_reganexec(&regex, text.data(), text.size(), &match, params, 0);
    if (rc == REG_OK) return true;
    if (rc == REG_NOMATCH) return false;
    throw MatchError(Message(rc, &regex));
  }

  regex_t regex_;
  regex_t relaxed_;
  bool guarded_ = false;
  bool has_relaxed_ = false;
  int max_errors_;
};

}  // namespace

std::unique_ptr<LineMatcher> MakeApproximateRegexMatcher(const std::string& pattern, int max_errors,
                                                         bool ignore_case) {
  return std::make_unique<ApproximateRegexMatcher>(pattern, max_errors, ignore_case);
}

}  // namespace agrep
