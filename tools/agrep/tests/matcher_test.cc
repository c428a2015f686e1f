// The matchers against a plain dynamic-programming edit distance: the
// bit-parallel word matcher on random words and lines, including words of
// several blocks, and the regular-expression route, exact and approximate,
// against the enumerated (finite) languages of small random patterns.
#include <gtest/gtest.h>

#include <clocale>
#include <random>
#include <stdexcept>

#include "agrep.h"
#include "reference_distance.h"

namespace {

using agrep::WordMatcher;
using Mode = WordMatcher::Mode;

std::string Random(std::mt19937& rng, size_t length, const std::string& alphabet) {
  std::string s(length, ' ');
  for (char& c : s) c = alphabet[rng() % alphabet.size()];
  return s;
}

TEST(AgrepWordMatcher, AgreesWithDynamicProgramming) {
  std::mt19937 rng(1);
  std::string bytes;  // NUL and high bytes too
  for (int c = 0; c < 256; c += 7) bytes.push_back(static_cast<char>(c));
  // Block edges at 64 bytes: the last row sits in various bit positions of
  // the last block, and horizontal carries cross one or two block borders.
  for (size_t m : {0, 1, 2, 3, 5, 8, 13, 20, 31, 63, 64, 65, 100, 128, 129, 200}) {
    for (const std::string& alphabet : {std::string("ab"), bytes}) {
      const std::string word = Random(rng, m, alphabet);
      for (Mode mode : {Mode::kWholeLine, Mode::kSubstring}) {
        const bool whole = mode == Mode::kWholeLine;
        std::vector<WordMatcher> by_errors;
        for (int k = 0; k <= 4; ++k) by_errors.emplace_back(word, mode, k);
        for (int i = 0; i < (m < 60 ? 300 : 40); ++i) {
          // A random line, or one a few random edits away from the word.
          std::string line = i % 3 == 0 ? Random(rng, rng() % (m + 6), alphabet) : whole ? word : "xy" + word + "z";
          for (int e = i % 3 == 0 ? 0 : rng() % 5; e > 0; --e) {
            const size_t at = rng() % (line.size() + 1);
            const char c = alphabet[rng() % alphabet.size()];
            if (rng() % 3 == 0) line.insert(line.begin() + static_cast<std::ptrdiff_t>(at), c);
            else if (at < line.size()) rng() % 2 ? line.erase(at, 1) : line.replace(at, 1, 1, c);
          }
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

const std::string kAlphabet = "ab\xe9";

// A random branch of 1 to 4 atoms, its anchors, and its language. '.'
// stands for every byte; lines use kAlphabet only, so "z" represents all
// the others.
struct Branch {
  bool start, end;
  std::string text;
  std::vector<std::string> words{""};
  explicit Branch(std::mt19937& rng) : start(rng() % 2), end(rng() % 2) {
    for (int atoms = 1 + static_cast<int>(rng() % 4); atoms > 0; --atoms) {
      const std::string x = Random(rng, 1, kAlphabet), y = Random(rng, 1, kAlphabet), z = Random(rng, 1, kAlphabet);
      std::vector<std::pair<std::string, std::vector<std::string>>> atom = {
          {x, {x}}, {x + "?", {"", x}}, {"(" + x + "|" + y + z + ")", {x, y + z}},
          {"[" + x + y + "]", {x, y}}, {".", {"a", "b", "\xe9", "z"}}, {x + "{2}", {x + x}}};
      const auto& [atom_text, atom_words] = atom[rng() % atom.size()];
      text += atom_text;
      std::vector<std::string> joined;
      for (const std::string& w : words)
        for (const std::string& v : atom_words) joined.push_back(w + v);
      words = std::move(joined);
    }
  }
};

TEST(AgrepRegexMatcher, AgreesWithEnumeratedLanguages) {
  std::mt19937 rng(7);
  for (int p = 0; p < 400; ++p) {
    std::vector<Branch> branches{Branch(rng)};
    if (p % 4 == 0) branches.emplace_back(rng);
    std::string pattern;
    for (const Branch& b : branches) {
      pattern += (pattern.empty() ? "" : "|") + std::string(b.start ? "^" : "") + b.text + (b.end ? "$" : "");
    }
    std::vector<std::unique_ptr<agrep::LineMatcher>> by_errors;
    by_errors.push_back(agrep::MakeExactRegexMatcher(pattern));
    for (int k = 1; k <= 3; ++k) by_errors.push_back(agrep::MakeApproximateRegexMatcher(pattern, k));
    for (int i = 0; i < 40; ++i) {
      const std::string line = Random(rng, rng() % 8, kAlphabet);
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

// The two guards around libtre: insertions in front of `$` count one each,
// and a pattern that may start anywhere and begins with something optional
// still finds its matches.
TEST(AgrepRegexMatcher, AnchorAndUnanchoredPatternGuards) {
  for (auto [pattern, k, line, match] :
       {std::tuple{"^colou?r$", 1, "colours", true}, {"^colou?r$", 1, "colors", true}, {"^colou?r$", 1, "xcolor", true},
        {"^colou?r$", 1, "colo", true}, {"^colou?r$", 1, "colourss", false}, {"^colou?r$", 1, "xcolors", false},
        {"^(color)$", 1, "colors", true}, {"^(color)$", 2, "colorss", true}, {"colou?r$", 1, "the colors", true},
        // The cheapest match without `$` ("ab", cost 0) is not the one that
        // reaches the end of the line ("abxyq" for "abxyz", cost 1).
        {"^ab(c|xyz)?$", 1, "abxyq", true},
        {"^a\\$", 1, "a$x", true}, {"^a\\$", 1, "ab", true}, {"^a\\$", 1, "bb", false},  // a literal dollar
        {"b?ad", 1, "ccd", true}}) {
    EXPECT_EQ(agrep::MakeApproximateRegexMatcher(pattern, k)->matches(line), match) << pattern << " " << line;
  }
  const std::string nul_line("ab\0cd", 5);  // a NUL inside the line does not end it
  EXPECT_TRUE(agrep::MakeExactRegexMatcher("cd$")->matches(nul_line));
  EXPECT_TRUE(agrep::MakeApproximateRegexMatcher("c(d|e)$", 1)->matches(nul_line));
  EXPECT_FALSE(agrep::MakeExactRegexMatcher("^colou?r$")->matches("Colour"));
  EXPECT_THROW(agrep::MakeExactRegexMatcher("a("), std::invalid_argument);
  EXPECT_THROW(agrep::MakeApproximateRegexMatcher("a(", 1), std::invalid_argument);
  EXPECT_THROW(agrep::MakeMatcher("[a", 2), std::invalid_argument);
}

TEST(AgrepPattern, PlainWordsTakeTheWordMatcher) {
  using agrep::ClassifyPattern, agrep::PatternKind;
  EXPECT_EQ(ClassifyPattern("^color$").kind, PatternKind::kAnchoredWord);
  EXPECT_EQ(ClassifyPattern("^color$").word, "color");
  EXPECT_EQ(ClassifyPattern("^$").kind, PatternKind::kAnchoredWord);
  EXPECT_EQ(ClassifyPattern("color").kind, PatternKind::kWord);
  for (const char* regex : {"^colou?r$", "^a.b$", "^a\\$", "^color", "color$", "^", "$", "a|b", "^a$b$"}) {
    EXPECT_EQ(ClassifyPattern(regex).kind, PatternKind::kRegex) << regex;
  }
}

// Ignoring case folds ASCII letters only: a line in mixed case matches as
// its ASCII-lowered form does without the option, on every matcher (the
// word matcher, exact and approximate regular expressions), whatever the
// process's locale; 0xC9 and 0xE9 stay apart.
TEST(AgrepIgnoreCase, FoldsAsciiLettersOnlyOnEveryMatcher) {
  std::mt19937 rng(3);
  auto lower = [](std::string s) {
    for (char& c : s) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    return s;
  };
  auto mixed = [&](std::string s) {
    for (char& c : s) {
      if (rng() % 2) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c == '\xe9' ? '\xc9' : c);
    }
    return s;
  };
  const char* saved = setlocale(LC_ALL, nullptr);
  const std::string restore = saved ? saved : "C";
  // The matchers must not depend on the process's locale: UTF-8 where there
  // is one (0xC9 and 0xE9 alone are no characters there), else code page
  // 1252 (Windows), where they are a case pair, É and é.
  const char* chosen = nullptr;
  for (const char* name : {"C.UTF-8", ".1252"}) {
    if (setlocale(LC_ALL, name)) {
      chosen = name;
      break;
    }
  }
  ASSERT_NE(chosen, nullptr) << "no locale to test under";
  for (const std::string pattern : {"^ab\xe9" "a$", "ab", "^a.b$", "^(ab|\xe9)a?$", "[ab]\xe9", "^a[b\xe9]*$"}) {
    for (int k = 0; k <= 2; ++k) {
      const auto sensitive = agrep::MakeMatcher(pattern, k);
      const auto folded = agrep::MakeMatcher(pattern, k, true);
      for (int i = 0; i < 300; ++i) {
        const std::string line = mixed(Random(rng, rng() % 7, kAlphabet));
        ASSERT_EQ(folded->matches(line), sensitive->matches(lower(line)))
            << "pattern '" << pattern << "' k=" << k << " line '" << line << "'";
      }
    }
  }
  // A byte, a character of the locale or not, is one byte for '.'.
  EXPECT_TRUE(agrep::MakeMatcher("^a.b$", 0)->matches("a\xe9" "b"));
  EXPECT_TRUE(agrep::MakeMatcher("^a.b$", 1, true)->matches("A\xc9" "b"));
  setlocale(LC_ALL, restore.c_str());
}

}  // namespace
