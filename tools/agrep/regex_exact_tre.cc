// Exact matching of extended regular expressions with libtre, where the C
// library has no POSIX regex (Windows). libtre is built there to treat
// bytes as bytes, so in the "C" locale its character classes and case
// folding cover ASCII only, as those of the C library on Linux do.
#include <tre/tre.h>

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

class ExactRegexMatcher final : public LineMatcher {
 public:
  ExactRegexMatcher(const std::string& pattern, bool ignore_case) {
    CLocaleScope c_locale;
    const int rc =
        tre_regncomp(&regex_, pattern.data(), pattern.size(), REG_EXTENDED | REG_NOSUB | (ignore_case ? REG_ICASE : 0));
    if (rc != REG_OK) throw std::invalid_argument(Message(rc, nullptr));
  }
  ~ExactRegexMatcher() override { tre_regfree(&regex_); }
  ExactRegexMatcher(const ExactRegexMatcher&) = delete;
  ExactRegexMatcher& operator=(const ExactRegexMatcher&) = delete;

  bool matches(std::string_view line) const override {
    if (line.size() > kMaxRegexLine) throw MatchError("line too long for the regular expression matcher");
    // The line is bounded by its length: it need not end in a NUL and may
    // contain one.
    CLocaleScope c_locale;
    const int rc = tre_regnexec(&regex_, line.data(), line.size(), 0, nullptr, 0);
    if (rc == REG_OK) return true;
    if (rc == REG_NOMATCH) return false;
    throw MatchError(Message(rc, &regex_));
  }

 private:
  regex_t regex_;
};

}  // namespace

std::unique_ptr<LineMatcher> MakeExactRegexMatcher(const std::string& pattern, bool ignore_case) {
  return std::make_unique<ExactRegexMatcher>(pattern, ignore_case);
}

}  // namespace agrep
