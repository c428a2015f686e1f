// Hits: searches of the shared corpus under both models, checked against
// counts and edit distances computed here from the text itself; the growth
// of the scan's offsets; the rows that show the hits.
#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "search/myhash.h"
#include "search/scan.h"
#include "search_support.h"
#include "shell/posix_search_host.h"
#include "tools/agrep/tests/reference_distance.h"

namespace {

// The texts of the corpus; under the sanitizers only the smaller ones.
std::vector<std::pair<std::string, std::string>> LoadCorpus() {
  std::vector<std::pair<std::string, std::string>> out;
  for (const char* set : {"/canterbury", "/calgary"}) {
    std::error_code missing;
    for (const auto& entry : stest::fs::directory_iterator(MORAVINE_CORPUS_DIR + std::string(set), missing)) {
#ifdef MORAVINE_TEST_SMALL
      if (entry.file_size() > 200000) continue;
#endif
      std::ifstream in(entry.path(), std::ios::binary);
      out.push_back({entry.path().string(), (std::ostringstream() << in.rdbuf()).str()});
    }
  }
  return out;
}

// The words of the body with their counts, and about 30 of them to search:
// short words, numbers, a capitalised word, a word that does not occur, the
// most frequent words and words spread over all ranks down to the rarest.
std::map<std::string, int> Words(const std::vector<std::string>& tokens) {
  std::map<std::string, int> words;
  for (const auto& t : tokens) words[t] += stest::IsWord(t);
  return words;
}
std::vector<std::string> PickWords(const std::map<std::string, int>& words) {
  std::vector<std::pair<int, std::string>> ranked;
  for (const auto& [w, n] : words)
    if (n > 0) ranked.push_back({-n, w});
  std::sort(ranked.begin(), ranked.end());
  std::vector<std::string> chosen{"a", "I", "The", "x", "1", "0", "qzxjvw"};
  for (size_t i = 0; i < ranked.size(); i += i < 8 ? 1 : ranked.size() / 16 + 1) chosen.push_back(ranked[i].second);
  chosen.push_back(ranked.back().second);
  return chosen;
}

class SearchCorpus : public testing::TestWithParam<int> {
 protected:
  void SetUp() override { if (corpus_.empty()) GTEST_SKIP() << "no corpus in " << MORAVINE_CORPUS_DIR; }
  void TearDown() override { EXPECT_TRUE(dir_.entries().empty()); }
  std::vector<std::pair<std::string, std::string>> corpus_ = LoadCorpus();
  stest::TempDir dir_;
  moravine::PosixSearchHost host_;
};

TEST_P(SearchCorpus, ExactHitsAreTheWordsOccurrences) {
  for (const auto& [name, text] : corpus_) {
    SCOPED_TRACE(name);
    std::map<std::string, int> words = Words(stest::BodyTokens(text, GetParam()));
    const std::string file = stest::Compress(text, GetParam());
    for (const std::string& word : PickWords(words)) {
      stest::Result r = stest::RunSearch(file, word, 0, &host_);
      ASSERT_EQ(r.count, words[word]) << word;
      for (const auto& row : r.rows) ASSERT_EQ(row.word, word);
    }
  }
}

// The distinct tokens at the hits are the body's tokens within the allowed
// distance of the word; separators and the line feed count like words.
TEST_P(SearchCorpus, ApproximateHitsAreTheTokensWithinTheDistance) {
  for (const auto& [name, text] : corpus_) {
    if (text.size() > 500000) continue;
    SCOPED_TRACE(name);
    std::vector<std::string> body = stest::BodyTokens(text, GetParam());
    std::set<std::string> tokens(body.begin(), body.end());
    std::vector<std::string> picked = PickWords(Words(body));
    const std::string file = stest::Compress(text, GetParam());
    for (const std::string& word : {std::string("a"), std::string("of"), picked[8], picked[18], picked.back()}) {
      for (int errors : {1, 2}) {
        std::set<std::string> expected, found;
        for (const auto& t : tokens) {
          if (ReferenceDistance(word, t, true, true) <= errors) expected.insert(t);
        }
        for (const auto& row : stest::RunSearch(file, word, errors, &host_).rows) found.insert(row.word);
        ASSERT_EQ(found, expected) << word << " with " << errors << " errors";
      }
    }
    // Enough errors to match the whole vocabulary: every codeword is a hit.
    EXPECT_EQ(stest::RunSearch(file, "of", 1000, &host_).count, static_cast<int32_t>(body.size()));
  }
}

INSTANTIATE_TEST_SUITE_P(Models, SearchCorpus, testing::Values(0, 1), [](const testing::TestParamInfo<int>& info) {
  return std::string(info.param == 0 ? "Words" : "Spaceless");
});

// Scans n codewords 0x81 with 0x81 as the only key; the estimate goes in
// as the count. The capacity of the offsets.
int32_t Capacity(int32_t n, int32_t expected = 0) {
  MyHash table;
  MyHash_create(&table, 10);
  const std::vector<unsigned char> body(static_cast<size_t>(n), 0x81);
  const unsigned char key[1] = {0x81};
  MyHash_insert(key, 1, 0, &table);
  unsigned char filter[256] = {};
  filter[0x81] = 1;
  SearchOffsets offsets;
  Search_scanBody(&expected, &table, filter, body.data(), n, &offsets);
  EXPECT_EQ(expected, n);
  EXPECT_EQ(n == 0 ? -1 : offsets.at[n - 1], n - 1);
  return offsets.capacity;
}

TEST(SearchScan, CapacityIs100OrTheEstimateAndGrowsBySquareRoot) {
  EXPECT_EQ(Capacity(0), 100);
  EXPECT_EQ(Capacity(0, 500), 500);
  for (auto [hits, expected] : {std::pair{100, 100}, {101, 111}, {111, 111}, {112, 122}, {123, 134}}) {
    EXPECT_EQ(Capacity(hits), expected) << hits;
  }
}

// Rows: the display name; three words before the hit, then the hit's token
// and the text after it up to the third word after it, less a blank that
// follows the token. The spaceless model does not put back the blank just
// before the hit.
TEST(SearchRows, DisplayNameAndContextsUnderBothModels) {
  for (auto [path, name] : {std::pair{"dir/x.hwz", "x"}, {"/a/b.c/book1.hwz", "book1"}, {"dir/.hwz", ".hwz"},
                            {"a.hwz.hwz", "a.hwz"}, {"a.HWZ", "a.HWZ"}}) {
    EXPECT_EQ(Search_displayName(path), name);
  }
  stest::TempDir dir;
  moravine::PosixSearchHost host;
  auto row = [&](const std::string& text, int rule, const char* word) {  // of the only hit
    stest::Result r = stest::RunSearch(stest::Compress(text, rule), word, 0, &host, "f");
    EXPECT_EQ(r.rows.size(), 1u) << word;
    return r.rows.empty() ? "" : r.rows[0].file + "|" + r.rows[0].left + "|" + r.rows[0].word + "|" + r.rows[0].right;
  };
  for (int rule : {0, 1}) {
    for (auto [word, left, right] : {std::tuple{"one", "", "two three four"},
                                     {"five", "two three four ", "six seven eight"},
                                     {"eight", "five six seven ", "nine."}, {"nine", "six seven eight ", "."}}) {
      std::string expected_left = rule == 1 && *left ? std::string(left, std::strlen(left) - 1) : left;
      EXPECT_EQ(row("one two three four five six seven eight nine.", rule, word),
                "f|" + expected_left + "|" + word + "|" + right) << rule;
    }
    EXPECT_EQ(row("one\ttwo\r\nthree\x01 four five", rule, "two"), "f|one |two|  three  four five") << rule;
    EXPECT_EQ(row("one\ttwo\r\nthree\x01 four five", rule, "\t").substr(0, 8), "f|one|\t|") << rule;
  }
}

// The right context keeps the byte after the hit unless it is a blank: an
// apostrophe, the first letter of the word after a separator hit, the rest
// of a UTF-8 character.
TEST(SearchRows, OnlyABlankAfterTheHitIsLeftOut) {
  stest::TempDir dir;
  moravine::PosixSearchHost host;
  for (int rule : {0, 1}) {
    for (auto [text, word, right, after_blank] :
         {std::tuple{"Love's not here", "Love", "'s not here", false}, {"Love's not here", "s", "not here", true},
          {"a, b c d e f", ", ", "b c d e", false}, {"caf\xc3\xa9 au lait", "caf", "\xc3\xa9 au lait", false},
          {"one  two", "one", " two", true}, {"end.", "end", ".", false}}) {
      stest::Result r = stest::RunSearch(stest::Compress(text, rule), word, 0, &host);
      ASSERT_EQ(r.rows.size(), 1u) << text;
      EXPECT_EQ(r.rows[0].right, right) << text << " " << rule;
      EXPECT_EQ(r.rows[0].right_after_blank, after_blank) << text << " " << rule;
    }
  }
}

}  // namespace
