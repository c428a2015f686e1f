// One file searched by several threads, each a stretch of the body: the
// hits, their lines and offsets, and the rows are those of one thread, for
// words, errors, case and phrases, under every model; and the lines that
// the wide scans count on the way are those counted after a plain scan.
#include <atomic>
#include <stdexcept>
#include <thread>

#include "search/hits.h"
#include "search/search_file.h"
#include "search/stretch_threads.h"
#include "search_support.h"
#include "tests/samples.h"

namespace {

using namespace stest;

class BundledHost : public stest::PlatformHost {
 public:
  bool useBundledMatcher() const override { return true; }
};

struct Found {
  std::vector<SearchHit> hits;
  std::vector<SearchRow> rows;
  std::string error;
};

Found Search(const std::string& file, const std::string& word, SearchOptions options, int32_t threads) {
  BundledHost host;
  options.threads = threads;
  options.stretch_bytes = 1;  // as many stretches as threads, even in a small body
  options.phrase = Search_isPhrase(word);
  options.line_numbers = options.text_offsets = true;
  Found f;
  Search_findHits(word, U(file), static_cast<int32_t>(file.size()), options, &host, &f.hits);
  SearchRowOptions rows;
  rows.whole_line = true;
  rows.lines_before = 1;
  Search_hitRows("f", U(file), static_cast<int32_t>(file.size()), f.hits.data(), static_cast<int32_t>(f.hits.size()),
                 rows, &f.rows, &f.error, threads);
  return f;
}

void ExpectSame(const Found& a, const Found& b) {
  ASSERT_EQ(a.hits.size(), b.hits.size());
  for (size_t i = 0; i < a.hits.size(); ++i) {
    ASSERT_EQ(a.hits[i].offset, b.hits[i].offset) << i;
    ASSERT_EQ(a.hits[i].length, b.hits[i].length) << i;
    ASSERT_EQ(a.hits[i].line, b.hits[i].line) << i;
    ASSERT_EQ(a.hits[i].text_offset, b.hits[i].text_offset) << i;
  }
  ASSERT_EQ(a.rows.size(), b.rows.size());
  for (size_t i = 0; i < a.rows.size(); ++i) {
    ASSERT_EQ(a.rows[i].left, b.rows[i].left) << i;
    ASSERT_EQ(a.rows[i].word, b.rows[i].word) << i;
    ASSERT_EQ(a.rows[i].right, b.rows[i].right) << i;
    ASSERT_EQ(RowLines(a.rows[i]), RowLines(b.rows[i])) << i;
  }
  EXPECT_EQ(a.error, b.error);
}

// The books one after the other: both kinds of line end, short lines and
// long ones; under the sanitizers the start of each.
#ifdef MORAVINE_TEST_SMALL
constexpr size_t kBookBytes = 150000;
#else
constexpr size_t kBookBytes = SIZE_MAX;
#endif

TEST(SearchThreads, StretchesFindWhatOneThreadFinds) {
  std::string text;
  for (const samples::Text& book : samples::Books()) text += book.bytes.substr(0, kBookBytes);
  for (int rule : {0, 1}) {
    const std::string file = Compress(text, rule);
    struct Case {
      const char* word;
      int32_t errors;
      bool ignore_case;
      int32_t max_hits;
    } cases[] = {{"the", 0, false, 0},         {"Polly", 1, false, 0}, {"iago", 0, true, 0},
                 {"of the stem", 1, false, 0}, {"the", 0, false, 777}, {"Hanburya", 0, false, 0}};
    for (const Case& c : cases) {
      SearchOptions options;
      options.errors = c.errors;
      options.ignore_case = c.ignore_case;
      options.max_hits = c.max_hits;
      const Found one = Search(file, c.word, options, 1);
      EXPECT_FALSE(one.hits.empty()) << c.word;
      {
        // The byte-by-byte scan counts lines after it; the wide scans on the way.
        SCOPED_TRACE(std::string(c.word) + " rule " + std::to_string(rule) + " scalar");
        SearchOptions scalar = options;
        scalar.scan_path = SearchScanPath::kScalar;
        ExpectSame(one, Search(file, c.word, scalar, 1));
      }
      for (int32_t threads : {2, 3, 7}) {
        SCOPED_TRACE(std::string(c.word) + " rule " + std::to_string(rule) + " threads " + std::to_string(threads));
        ExpectSame(one, Search(file, c.word, options, threads));
      }
    }
  }
}

}  // namespace

// Searches on several threads at once share the helper threads: each gets
// every stretch done once, and a failure comes back to its own caller.
TEST(SearchThreads, HelpersServeManyCallersAtOnce) {
  Search_startHelpers(2);
  std::vector<std::thread> callers;
  std::atomic<int> wrong{0};
  for (int c = 0; c < 6; ++c) {
    callers.emplace_back([&, c] {
      for (int round = 0; round < 40; ++round) {
        const size_t n = 1 + static_cast<size_t>((c + round) % 5);
        std::vector<std::atomic<int>> done(n);
        bool failed = false;
        try {
          Search_forEachStretch(n, [&](size_t i) {
            done[i]++;
            if (round % 7 == 3 && i + 1 == n && n > 1) throw std::runtime_error("stretch failed");
          });
        } catch (const std::runtime_error&) {
          failed = true;
        }
        for (size_t i = 0; i < n; ++i) wrong += done[i].load() != 1;
        wrong += failed != (round % 7 == 3 && n > 1);
      }
    });
  }
  for (std::thread& t : callers) t.join();
  EXPECT_EQ(wrong.load(), 0);
}
