// Hits: searches of whole books under both models, checked against
// counts and edit distances computed here from the text itself, and the
// programs' own search giving the same rows; the growth of the scan's
// offsets; the rows that show the hits.
#include <algorithm>
#include <map>
#include <set>

#include "search/myhash.h"
#include "search/scan.h"
#include "search/search_file.h"
#include "search_support.h"
#include "tests/samples.h"
#include "tools/agrep/tests/reference_distance.h"

namespace {

// Under the sanitizers, only the smaller texts.
#ifdef MORAVINE_TEST_SMALL
constexpr size_t kMaxBytes = 350000;
#else
constexpr size_t kMaxBytes = SIZE_MAX;
#endif

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

class BundledHost : public stest::PlatformHost {
 public:
  bool useBundledMatcher() const override { return true; }
};

// The rows of a search as the programs make them: Search_findHits with the
// bundled matcher (which first looks for the word in the dictionary's
// string, and may pass the file over), then Search_hitRows; on an
// exact-size copy of the file. They must be the rows of `expected`.
void ExpectTheProgramsRows(const std::string& file, const std::string& word, int32_t errors,
                           const stest::Result& expected) {
  std::unique_ptr<unsigned char[]> copy(new unsigned char[file.size()]);
  std::memcpy(copy.get(), file.data(), file.size());
  const auto size = static_cast<int32_t>(file.size());
  BundledHost host;
  SearchOptions options;
  options.errors = errors;
  std::vector<SearchHit> hits;
  Search_findHits(word, copy.get(), size, options, &host, &hits);
  std::vector<SearchRow> rows;
  std::string error;
  Search_hitRows("t", copy.get(), size, hits.data(), static_cast<int32_t>(hits.size()), SearchRowOptions(), &rows,
                 &error);
  EXPECT_EQ(error, "");
  // agrep over the vocabulary selects the separators within the distance
  // too; the search of a word keeps its word tokens.
  std::vector<SearchRow> words;
  for (const SearchRow& row : expected.rows) {
    if (stest::IsWord(row.word)) words.push_back(row);
  }
  ASSERT_EQ(rows.size(), words.size()) << word << " with " << errors << " errors";
  for (size_t i = 0; i < rows.size(); ++i) {
    const SearchRow& a = rows[i];
    const SearchRow& b = words[i];
    ASSERT_TRUE(a.position == b.position && a.left == b.left && a.word == b.word && a.right == b.right)
        << word << " with " << errors << " errors, row " << i;
  }
}

void ExpectExactHitsAreTheWordsOccurrences(const samples::Text& text, int rule, SearchHost* host) {
  SCOPED_TRACE(text.name);
  std::map<std::string, int> words = Words(stest::BodyTokens(text.bytes, rule));
  const std::string file = stest::Compress(text.bytes, rule);
  for (const std::string& word : PickWords(words)) {
    stest::Result r = stest::RunSearch(file, word, 0, host);
    ASSERT_EQ(r.count, words[word]) << word;
    for (const auto& row : r.rows) ASSERT_EQ(row.word, word);
    ExpectTheProgramsRows(file, word, 0, r);
  }
}

// The distinct tokens that agrep selects are the body's tokens within the
// allowed distance of the word, separators and the line feed among them;
// the search of the word finds the word tokens among them.
void ExpectApproximateHitsAreTheTokensWithinTheDistance(const samples::Text& text, int rule, SearchHost* host) {
  SCOPED_TRACE(text.name);
  std::vector<std::string> body = stest::BodyTokens(text.bytes, rule);
  std::set<std::string> tokens(body.begin(), body.end());
  std::vector<std::string> picked = PickWords(Words(body));
  const std::string file = stest::Compress(text.bytes, rule);
  for (const std::string& word : {std::string("a"), std::string("of"), picked[8], picked[18], picked.back()}) {
    for (int errors : {1, 2}) {
      std::set<std::string> expected, found;
      for (const auto& t : tokens) {
        if (ReferenceDistance(word, t, true, true) <= errors) expected.insert(t);
      }
      const stest::Result r = stest::RunSearch(file, word, errors, host);
      for (const auto& row : r.rows) found.insert(row.word);
      ASSERT_EQ(found, expected) << word << " with " << errors << " errors";
      ExpectTheProgramsRows(file, word, errors, r);
    }
  }
  // Enough errors to match the whole vocabulary: every codeword is a hit.
  EXPECT_EQ(stest::RunSearch(file, "of", 1000, host).count, static_cast<int32_t>(body.size()));
}

// Searches of the sample books under both models.
class SearchBooks : public testing::TestWithParam<int> {
 protected:
  void TearDown() override { EXPECT_TRUE(dir_.entries().empty()); }
  stest::TempDir dir_;
  stest::PlatformHost host_;
};

TEST_P(SearchBooks, ExactHitsAreTheWordsOccurrences) {
  for (const samples::Text& book : samples::Books(kMaxBytes)) {
    ExpectExactHitsAreTheWordsOccurrences(book, GetParam(), &host_);
  }
}

TEST_P(SearchBooks, ApproximateHitsAreTheTokensWithinTheDistance) {
  for (const samples::Text& book : samples::Books(kMaxBytes)) {
    ExpectApproximateHitsAreTheTokensWithinTheDistance(book, GetParam(), &host_);
  }
}

std::string ModelName(const testing::TestParamInfo<int>& info) { return info.param == 0 ? "Words" : "Spaceless"; }

INSTANTIATE_TEST_SUITE_P(Models, SearchBooks, testing::Values(0, 1), ModelName);

#ifdef MORAVINE_CORPUS_DIR
// The same over the whole Canterbury and Calgary sets; the approximate
// searches over the files of up to 500 kB.
class SearchCorpus : public SearchBooks {};

TEST_P(SearchCorpus, ExactHitsAreTheWordsOccurrences) {
  for (const samples::Text& file : samples::CorpusFiles(kMaxBytes)) {
    ExpectExactHitsAreTheWordsOccurrences(file, GetParam(), &host_);
  }
}

TEST_P(SearchCorpus, ApproximateHitsAreTheTokensWithinTheDistance) {
  for (const samples::Text& file : samples::CorpusFiles(std::min<size_t>(kMaxBytes, 500000))) {
    ExpectApproximateHitsAreTheTokensWithinTheDistance(file, GetParam(), &host_);
  }
}

INSTANTIATE_TEST_SUITE_P(Models, SearchCorpus, testing::Values(0, 1), ModelName);
#endif

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
#ifdef _WIN32
  EXPECT_EQ(Search_displayName("C:\\books\\a.b\\moby.txt.hwz"), "moby.txt");
  EXPECT_EQ(Search_displayName("C:\\books/mixed\\x.hwz"), "x");
#else
  EXPECT_EQ(Search_displayName("dir/back\\slash.hwz"), "back\\slash");  // a name's own character
#endif
  stest::TempDir dir;
  stest::PlatformHost host;
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
  stest::PlatformHost host;
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
