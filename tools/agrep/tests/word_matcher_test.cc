// The bit-parallel word matcher against a plain dynamic-programming edit
// distance, on random words and lines, including words of several blocks.
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "agrep.h"
#include "reference_distance.h"

namespace {

using agrep::WordMatcher;
using Mode = WordMatcher::Mode;

std::string RandomText(std::mt19937& rng, size_t length, const std::string& alphabet) {
  std::string s(length, ' ');
  for (char& c : s) c = alphabet[rng() % alphabet.size()];
  return s;
}

// A line near `word`: a few random edits, so that small distances are common.
std::string Mutate(std::mt19937& rng, std::string s, const std::string& alphabet) {
  const int edits = static_cast<int>(rng() % 5);
  for (int e = 0; e < edits; ++e) {
    const size_t at = s.empty() ? 0 : rng() % (s.size() + 1);
    const char c = alphabet[rng() % alphabet.size()];
    switch (rng() % 3) {
      case 0: s.insert(s.begin() + static_cast<std::ptrdiff_t>(at), c); break;
      case 1: if (at < s.size()) s.erase(at, 1); break;
      default: if (at < s.size()) s[at] = c;
    }
  }
  return s;
}

void CheckAgainstReference(const std::vector<size_t>& word_lengths, int lines_per_word, unsigned seed) {
  std::mt19937 rng(seed);
  const std::string small = "ab";
  const std::string bytes = [] {
    std::string s;  // NUL and high bytes too
    for (int c = 0; c < 256; c += 7) s.push_back(static_cast<char>(c));
    return s;
  }();
  for (size_t m : word_lengths) {
    for (const std::string* alphabet : {&small, &bytes}) {
      const std::string word = RandomText(rng, m, *alphabet);
      for (Mode mode : {Mode::kWholeLine, Mode::kSubstring}) {
        const bool whole = mode == Mode::kWholeLine;
        std::vector<WordMatcher> by_errors;
        for (int k = 0; k <= 4; ++k) by_errors.emplace_back(word, mode, k);
        for (int i = 0; i < lines_per_word; ++i) {
          const std::string line = i % 3 == 0 ? RandomText(rng, rng() % (m + 6), *alphabet)
                                              : Mutate(rng, whole ? word : "xy" + word + "z", *alphabet);
          const int64_t expected = ReferenceDistance(word, line, whole, whole);
          ASSERT_EQ(by_errors[0].distance(line), expected) << "word '" << word << "' line '" << line << "'";
          for (int k = 0; k <= 4; ++k) {
            ASSERT_EQ(by_errors[static_cast<size_t>(k)].matches(line), expected <= k)
                << "k=" << k << " word '" << word << "' line '" << line << "'";
          }
        }
      }
    }
  }
}

TEST(AgrepWordMatcher, AgreesWithDynamicProgrammingOnShortWords) {
  CheckAgainstReference({0, 1, 2, 3, 5, 8, 13, 20, 31}, 300, 1);
}

TEST(AgrepWordMatcher, AgreesWithDynamicProgrammingAcrossBlocks) {
  // Block edges at 64 bytes: the last row sits in various bit positions of
  // the last block, and horizontal carries cross one or two block borders.
  CheckAgainstReference({63, 64, 65, 100, 128, 129, 200}, 40, 2);
}

TEST(AgrepWordMatcher, ComparesBytesExactly) {
  WordMatcher matcher("color", Mode::kWholeLine, 0);
  EXPECT_TRUE(matcher.matches("color"));
  EXPECT_FALSE(matcher.matches("Color"));
  EXPECT_EQ(matcher.distance("COLOR"), 5);
  EXPECT_EQ(WordMatcher("\xe9t\xe9", Mode::kWholeLine, 1).distance("\xe9t\xe8"), 1);
}

TEST(AgrepWordMatcher, LengthAloneDecidesFarLines) {
  WordMatcher whole("whale", Mode::kWholeLine, 2);
  EXPECT_TRUE(whole.matches("wha"));
  EXPECT_FALSE(whole.matches("wh"));
  EXPECT_TRUE(whole.matches("whalesx"));
  EXPECT_FALSE(whole.matches("whalesxx"));
  WordMatcher part("whale", Mode::kSubstring, 2);
  EXPECT_TRUE(part.matches("a long line about a whole whale"));
  EXPECT_TRUE(part.matches("hal"));
  EXPECT_FALSE(part.matches("ha"));
  EXPECT_TRUE(WordMatcher("", Mode::kSubstring, 0).matches(""));
  EXPECT_TRUE(WordMatcher("", Mode::kWholeLine, 2).matches("ab"));
  EXPECT_FALSE(WordMatcher("", Mode::kWholeLine, 2).matches("abc"));
}

}  // namespace
