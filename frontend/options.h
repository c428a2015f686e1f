// The values of the Options dialog, how its two number boxes are read, and
// the names under which both windows keep their choices between runs.
#ifndef MORAVINE_FRONTEND_OPTIONS_H_
#define MORAVINE_FRONTEND_OPTIONS_H_

#include <optional>
#include <string>

namespace moravine::frontend {

// Reads a decimal integer the way strtol does: leading blanks, an optional
// sign, then digits up to the first other character ("12abc" gives 12).
// Values beyond int are clamped. Nothing when the text does not begin with a
// number.
std::optional<int> ScanInteger(const std::string& text);

// The most rows the results list holds: the default, and the largest the
// Options dialog takes (the least is 1). Past a million rows every change
// of the list costs the window a noticeable pause.
constexpr int kDefaultResultLimit = 100000;
constexpr int kLargestResultLimit = 1000000;
// The limit typed into the Options dialog, read as ScanInteger reads the
// first 63 bytes; none when the text is no number in 1..kLargestResultLimit.
std::optional<int> ParseResultLimit(const std::string& text);
// A limit kept in the settings; the default when none was kept or it is no
// number in the range.
int ResultLimitOrDefault(std::optional<long long> stored);

struct OptionValues {
  bool spaceless = true;
  int distance = 128;
  int result_limit = kDefaultResultLimit;
  bool unicode = false;  // words of every script
};

// What OK in the Options dialog does with the two boxes' texts: the values,
// or the sentence that refuses them and which box it names.
struct OptionsReading {
  enum Box { kNone, kDistance, kResultLimit };
  Box refused = kNone;
  std::string refusal;
};
// Reads the boxes into *values (left as they are when refused). The
// distance is read also while its box is disabled.
OptionsReading ReadOptions(const std::string& distance_text, const std::string& limit_text, OptionValues* values);

// The settings kept between runs, by key. The keys are the same in both
// windows; each window keeps them in its system's place.
inline constexpr char kUnicodeKey[] = "options/unicode";
inline constexpr char kResultLimitKey[] = "results/limit";
inline constexpr char kGeometryKey[] = "window/geometry";
inline constexpr char kSplitterKey[] = "window/splitter";
inline constexpr char kColumnsKey[] = "window/results";

}  // namespace moravine::frontend

#endif  // MORAVINE_FRONTEND_OPTIONS_H_
