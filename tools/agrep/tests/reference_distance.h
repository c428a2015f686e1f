// The textbook dynamic-programming edit distance that the tests trust.
#ifndef MORAVINE_TOOLS_AGREP_TESTS_REFERENCE_DISTANCE_H_
#define MORAVINE_TOOLS_AGREP_TESTS_REFERENCE_DISTANCE_H_

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

// Edit distance between `word` and the part of `line` the anchors allow:
// the whole line (both), a prefix (start), a suffix (end) or any substring.
inline int64_t ReferenceDistance(const std::string& word, const std::string& line, bool start, bool end) {
  const size_t m = word.size(), n = line.size();
  std::vector<int64_t> prev(n + 1), cur(n + 1);
  for (size_t j = 0; j <= n; ++j) prev[j] = start ? static_cast<int64_t>(j) : 0;
  for (size_t i = 1; i <= m; ++i) {
    cur[0] = static_cast<int64_t>(i);
    for (size_t j = 1; j <= n; ++j) {
      cur[j] = std::min({prev[j] + 1, cur[j - 1] + 1, prev[j - 1] + (word[i - 1] == line[j - 1] ? 0 : 1)});
    }
    std::swap(prev, cur);
  }
  return end ? prev[n] : *std::min_element(prev.begin(), prev.end());
}

#endif  // MORAVINE_TOOLS_AGREP_TESTS_REFERENCE_DISTANCE_H_
