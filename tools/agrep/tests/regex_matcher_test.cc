// The regular-expression route, exact and approximate, against a reference
// that enumerates the (finite) language of small random patterns and takes
// the least edit distance to the line under the pattern's anchors.
#include <algorithm>
#include <cstdint>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "agrep.h"
#include "reference_distance.h"

namespace {

using agrep::ClassifyPattern;
using agrep::PatternKind;

const std::string kAlphabet = "ab\xe9";

struct Branch {
  bool start = false, end = false;  // ^ and $
  std::string text;                 // the branch without its anchors
  std::vector<std::string> words;   // its language
};

// One atom: its text and its language. '.' stands for every byte; lines use
// kAlphabet only, so "z" represents all the others.
void RandomAtom(std::mt19937& rng, std::string& text, std::vector<std::string>& words) {
  auto letter = [&] { return std::string(1, kAlphabet[rng() % kAlphabet.size()]); };
  const std::string x = letter(), y = letter(), z = letter();
  switch (rng() % 6) {
    case 0: text = x; words = {x}; break;
    case 1: text = x + "?"; words = {"", x}; break;
    case 2: text = "(" + x + "|" + y + z + ")"; words = {x, y + z}; break;
    case 3: text = "[" + x + y + "]"; words = {x, y}; break;
    case 4: text = "."; words = {"a", "b", "\xe9", "z"}; break;
    default: text = x + "{2}"; words = {x + x}; break;
  }
}

Branch RandomBranch(std::mt19937& rng) {
  Branch branch;
  branch.start = rng() % 2;
  branch.end = rng() % 2;
  branch.words = {""};
  const int atoms = 1 + static_cast<int>(rng() % 4);
  for (int a = 0; a < atoms; ++a) {
    std::string text;
    std::vector<std::string> words, joined;
    RandomAtom(rng, text, words);
    branch.text += text;
    for (const std::string& w : branch.words) {
      for (const std::string& v : words) joined.push_back(w + v);
    }
    branch.words = std::move(joined);
  }
  return branch;
}

TEST(AgrepRegexMatcher, AgreesWithEnumeratedLanguages) {
  std::mt19937 rng(7);
  for (int p = 0; p < 400; ++p) {
    std::vector<Branch> branches{RandomBranch(rng)};
    if (p % 4 == 0) branches.push_back(RandomBranch(rng));
    std::string pattern;
    for (const Branch& b : branches) {
      if (!pattern.empty()) pattern += "|";
      pattern += (b.start ? "^" : "") + b.text + (b.end ? "$" : "");
    }
    std::vector<std::unique_ptr<agrep::LineMatcher>> by_errors;
    by_errors.push_back(agrep::MakeExactRegexMatcher(pattern));
    for (int k = 1; k <= 3; ++k) by_errors.push_back(agrep::MakeApproximateRegexMatcher(pattern, k));
    for (int i = 0; i < 40; ++i) {
      std::string line;
      const size_t length = rng() % 8;
      for (size_t c = 0; c < length; ++c) line += kAlphabet[rng() % kAlphabet.size()];
      int64_t expected = INT64_MAX;
      for (const Branch& b : branches) {
        for (const std::string& w : b.words) expected = std::min(expected, ReferenceDistance(w, line, b.start, b.end));
      }
      for (int k = 0; k <= 3; ++k) {
        ASSERT_EQ(by_errors[static_cast<size_t>(k)]->matches(line), expected <= k)
            << "pattern '" << pattern << "' line '" << line << "' k=" << k << " distance " << expected;
      }
    }
  }
}

TEST(AgrepRegexMatcher, TrailingInsertionsBeforeEndAnchorCount) {
  // libtre alone rejects these: insertions in front of `$`.
  auto colour = agrep::MakeApproximateRegexMatcher("^colou?r$", 1);
  EXPECT_TRUE(colour->matches("colours"));
  EXPECT_TRUE(colour->matches("colors"));
  EXPECT_TRUE(colour->matches("xcolor"));
  EXPECT_TRUE(colour->matches("colo"));
  EXPECT_FALSE(colour->matches("colourss"));
  EXPECT_FALSE(colour->matches("xcolors"));
  EXPECT_TRUE(agrep::MakeApproximateRegexMatcher("^(color)$", 1)->matches("colors"));
  EXPECT_TRUE(agrep::MakeApproximateRegexMatcher("^(color)$", 2)->matches("colorss"));
  EXPECT_TRUE(agrep::MakeApproximateRegexMatcher("colou?r$", 1)->matches("the colors"));
  // The cheapest match of the pattern without `$` ("ab", cost 0) is not the
  // one that reaches the end of the line ("abxyq" for "abxyz", cost 1).
  EXPECT_TRUE(agrep::MakeApproximateRegexMatcher("^ab(c|xyz)?$", 1)->matches("abxyq"));
  // An escaped dollar is a literal byte, not an anchor.
  auto dollar = agrep::MakeApproximateRegexMatcher("^a\\$", 1);
  EXPECT_TRUE(dollar->matches("a$x"));
  EXPECT_TRUE(dollar->matches("ab"));
  EXPECT_FALSE(dollar->matches("bb"));
}

TEST(AgrepRegexMatcher, ExactMatchingSeesTheWholeLine) {
  // Bounded by length: a NUL inside the line does not end it.
  const std::string line("ab\0cd", 5);
  EXPECT_TRUE(agrep::MakeExactRegexMatcher("cd$")->matches(line));
  EXPECT_TRUE(agrep::MakeApproximateRegexMatcher("c(d|e)$", 1)->matches(line));
  EXPECT_FALSE(agrep::MakeExactRegexMatcher("^colou?r$")->matches("Colour"));
}

TEST(AgrepRegexMatcher, BadPatternsAreRejected) {
  EXPECT_THROW(agrep::MakeExactRegexMatcher("a("), std::invalid_argument);
  EXPECT_THROW(agrep::MakeApproximateRegexMatcher("a(", 1), std::invalid_argument);
  EXPECT_THROW(agrep::MakeMatcher("[a", 2), std::invalid_argument);
}

TEST(AgrepPattern, PlainWordsTakeTheWordMatcher) {
  EXPECT_EQ(ClassifyPattern("^color$").kind, PatternKind::kAnchoredWord);
  EXPECT_EQ(ClassifyPattern("^color$").word, "color");
  EXPECT_EQ(ClassifyPattern("^$").kind, PatternKind::kAnchoredWord);
  EXPECT_EQ(ClassifyPattern("color").kind, PatternKind::kWord);
  for (const char* regex : {"^colou?r$", "^a.b$", "^a\\$", "^color", "color$", "^", "$", "a|b", "^a$b$"}) {
    EXPECT_EQ(ClassifyPattern(regex).kind, PatternKind::kRegex) << regex;
  }
}

}  // namespace
