// Exact matching of extended regular expressions with the C library.
// Kept apart from the libtre code: both declare regex_t.
#include <regex.h>

#include <climits>
#include <stdexcept>

#include "agrep.h"
#include "c_locale.h"

namespace agrep {
namespace {

constexpr size_t kMaxRegexLine = INT_MAX;

class ExactRegexMatcher final : public LineMatcher {
 public:
  ExactRegexMatcher(const std::string& pattern, bool ignore_case) {
    CLocaleScope c_locale;
    const int rc = regcomp(&regex_, pattern.c_str(), REG_EXTENDED | REG_NOSUB | (ignore_case ? REG_ICASE : 0));
    if (rc != 0) {
      char message[256];
      regerror(rc, &regex_, message, sizeof message);
      throw std::invalid_argument(message);
    }
  }
  ~ExactRegexMatcher() override { regfree(&regex_); }
  ExactRegexMatcher(const ExactRegexMatcher&) = delete;
  ExactRegexMatcher& operator=(const ExactRegexMatcher&) = delete;

  bool matches(std::string_view line) const override {
    if (line.size() > kMaxRegexLine) throw MatchError("line too long for the regular expression matcher");
    // REG_STARTEND bounds the line by length: it need not end in a NUL and
    // may contain one.
    CLocaleScope c_locale;
    regmatch_t range[1];
    range[0].rm_so = 0;
    range[0].rm_eo = static_cast<regoff_t>(line.size());
    const int rc = regexec(&regex_, line.data(), 1, range, REG_STARTEND);
    if (rc == 0) return true;
    if (rc == REG_NOMATCH) return false;
    char message[256];
    regerror(rc, &regex_, message, sizeof message);
    throw MatchError(message);
  }

 private:
  regex_t regex_;
};

}  // namespace

std::unique_ptr<LineMatcher> MakeExactRegexMatcher(const std::string& pattern, bool ignore_case) {
  return std::make_unique<ExactRegexMatcher>(pattern, ignore_case);
}

}  // namespace agrep
