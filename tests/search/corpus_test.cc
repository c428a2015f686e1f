// Searches of the shared corpus under both models, checked against counts
// and edit distances computed here from the text itself.
#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

#include "search_support.h"
#include "shell/posix_search_host.h"

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
      out.push_back({entry.path().string(), std::string(std::istreambuf_iterator<char>(in), {})});
    }
  }
  return out;
}

// About 30 words: one-letter words, numbers, a word that does not occur, the
// most frequent words, words spread over all ranks down to those that occur
// once, and capitalised words.
std::vector<std::string> PickWords(const std::map<std::string, int>& words) {
  std::vector<std::pair<int, std::string>> ranked;
  for (const auto& [w, n] : words) ranked.push_back({-n, w});
  std::sort(ranked.begin(), ranked.end());
  std::vector<std::string> chosen{"a", "I", "x", "1", "0", "qzxjvw"};
  auto take = [&](size_t limit, auto wanted) {
    for (size_t i = 0, taken = 0; i < ranked.size() && taken < limit; ++i) {
      const std::string& w = ranked[i].second;
      if (wanted(i, w) && std::find(chosen.begin(), chosen.end(), w) == chosen.end()) chosen.push_back(w), ++taken;
    }
  };
  take(8, [](size_t, const std::string&) { return true; });
  take(8, [&](size_t i, const std::string&) { return i % (ranked.size() / 8 + 1) == ranked.size() / 9; });
  take(4, [](size_t, const std::string& w) { return w.size() > 1 && w[0] >= 'A' && w[0] <= 'Z'; });
  take(4, [](size_t, const std::string& w) { return w.find_first_not_of("0123456789") == std::string::npos; });
  return chosen;
}

size_t Levenshtein(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0]++;
    for (size_t j = 1; j <= b.size(); ++j) {
      size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
      diagonal = above;
    }
  }
  return row[b.size()];
}

class SearchCorpus : public testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    if (corpus_.empty()) GTEST_SKIP() << "no corpus in " << MORAVINE_CORPUS_DIR;
  }
  std::map<std::string, int> Words(const std::vector<std::string>& tokens) {
    std::map<std::string, int> words;
    for (const auto& t : tokens) {
      if (stest::IsWord(t)) ++words[t];
    }
    return words;
  }
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
  EXPECT_TRUE(dir_.entries().empty());
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
    for (const std::string& word : {std::string("a"), std::string("of"), picked[6], picked[15], picked[23]}) {
      for (int errors : {1, 2}) {
        std::set<std::string> expected, found;
        for (const auto& t : tokens) {
          if (Levenshtein(t, word) <= static_cast<size_t>(errors)) expected.insert(t);
        }
        for (const auto& row : stest::RunSearch(file, word, errors, &host_).rows) found.insert(row.word);
        ASSERT_EQ(found, expected) << word << " with " << errors << " errors";
      }
    }
    // Enough errors to match the whole vocabulary: every codeword is a hit.
    EXPECT_EQ(stest::RunSearch(file, "of", 1000, &host_).count, static_cast<int32_t>(body.size()));
  }
  EXPECT_TRUE(dir_.entries().empty());
}

INSTANTIATE_TEST_SUITE_P(Models, SearchCorpus, testing::Values(0, 1), [](const testing::TestParamInfo<int>& info) {
  return std::string(info.param == 0 ? "Words" : "Spaceless");
});

}  // namespace
