#include "frontend/options.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "frontend/status_text.h"

namespace moravine::frontend {

std::optional<int> ScanInteger(const std::string& text) {
  const char* start = text.c_str();
  char* end = nullptr;
  errno = 0;
  long long value = std::strtoll(start, &end, 10);
  if (end == start) return std::nullopt;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

std::optional<int> ParseResultLimit(const std::string& text) {
  std::optional<int> value = ScanInteger(text.substr(0, 63));
  if (!value || *value < 1 || *value > kLargestResultLimit) return std::nullopt;
  return value;
}

int ResultLimitOrDefault(std::optional<long long> stored) {
  return stored && *stored >= 1 && *stored <= kLargestResultLimit ? static_cast<int>(*stored) : kDefaultResultLimit;
}

OptionsReading ReadOptions(const std::string& distance_text, const std::string& limit_text, OptionValues* values) {
  OptionsReading reading;
  std::optional<int> distance = ScanInteger(distance_text.substr(0, 63));
  if (!distance) {
    reading.refused = OptionsReading::kDistance;
    reading.refusal = "Please enter an integer.";
    return reading;
  }
  std::optional<int> limit = ParseResultLimit(limit_text);
  if (!limit) {
    reading.refused = OptionsReading::kResultLimit;
    reading.refusal = "Please enter a number of hits from 1 to " + GroupedNumber(kLargestResultLimit) + ".";
    return reading;
  }
  values->distance = *distance;
  values->result_limit = *limit;
  return reading;
}

}  // namespace moravine::frontend
