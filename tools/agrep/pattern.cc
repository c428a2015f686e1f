// Choosing a matcher for a pattern.
#include "agrep.h"

namespace agrep {
namespace {

// Every byte that has a meaning of its own somewhere in an extended regular
// expression. A pattern free of them is a plain word.
bool IsPlainWord(std::string_view text) {
  return text.find_first_of(".[]()*+?{}|^$\\") == std::string_view::npos;
}

}  // namespace

ClassifiedPattern ClassifyPattern(std::string_view pattern) {
  if (pattern.size() >= 2 && pattern.front() == '^' && pattern.back() == '$') {
    std::string_view inner = pattern.substr(1, pattern.size() - 2);
    if (IsPlainWord(inner)) return {PatternKind::kAnchoredWord, std::string(inner)};
  }
  if (IsPlainWord(pattern)) return {PatternKind::kWord, std::string(pattern)};
  return {PatternKind::kRegex, {}};
}

std::unique_ptr<LineMatcher> MakeMatcher(const std::string& pattern, int max_errors, bool ignore_case) {
  ClassifiedPattern classified = ClassifyPattern(pattern);
  switch (classified.kind) {
    case PatternKind::kAnchoredWord:
      return std::make_unique<WordMatcher>(classified.word, WordMatcher::Mode::kWholeLine, max_errors, ignore_case);
    case PatternKind::kWord:
      return std::make_unique<WordMatcher>(classified.word, WordMatcher::Mode::kSubstring, max_errors, ignore_case);
    case PatternKind::kRegex:
      break;
  }
  if (max_errors == 0) return MakeExactRegexMatcher(pattern, ignore_case);
  return MakeApproximateRegexMatcher(pattern, max_errors, ignore_case);
}

}  // namespace agrep
