// The word table, the body scan and the result rows.
#include <random>
#include <set>

#include "search/myhash.h"
#include "search/scan.h"
#include "search_support.h"
#include "shell/posix_search_host.h"

namespace {

using Body = std::vector<unsigned char>;

std::vector<int32_t> Scan(const Body& body, const MyHash& table, const unsigned char* filter, int32_t* capacity,
                          int32_t expected = 0) {
  SearchOffsets offsets;
  Search_scanBody(&expected, &table, filter, body.data(), static_cast<int32_t>(body.size()), &offsets);
  *capacity = offsets.capacity;
  return std::vector<int32_t>(offsets.at.get(), offsets.at.get() + expected);
}

TEST(SearchTable, OneNodePerKeyMovedToTheFrontWhenInsertedAgain) {
  MyHash table;
  MyHash_create(&table, 1);  // 10 buckets: chains form at once
  const unsigned char key[5] = {0x81, 0x01, 0x02, 0x03, 0x04};
  for (int32_t n = 1; n <= 5; ++n) EXPECT_EQ(MyHash_insert(key, n, n, &table), n <= 4 ? 1 : 0);
  for (int i = 0; i < 30; ++i) {
    const unsigned char other[2] = {static_cast<unsigned char>(0x90 + i % 7), static_cast<unsigned char>(i)};
    EXPECT_EQ(MyHash_insert(other, 2, 0, &table), 1);
  }
  int moved = 0;
  for (int32_t b = 0; b < table.bucket_count; ++b) {
    MyHashNode* tail = table.buckets[b];
    while (tail && tail->next) tail = tail->next;
    if (tail == table.buckets[b]) continue;
    EXPECT_EQ(MyHash_insert(tail->key, tail->key_length, -7, &table), 0);
    EXPECT_EQ(table.buckets[b], tail);
    ++moved;
  }
  EXPECT_GT(moved, 0);
  EXPECT_EQ(table.key_count, 34);
  for (int32_t n = 1; n <= 5; ++n) {  // every chain is still whole; values stay
    const MyHashNode* node = MyHash_lookup(key, n, &table);
    EXPECT_EQ(node ? node->value : 0, n <= 4 ? n : 0);
  }
}

TEST(SearchScan, CapacityIs100OrTheEstimateAndGrowsBySquareRoot) {
  MyHash table;
  MyHash_create(&table, 10);
  MyHash_insert(Body{0x81}.data(), 1, 0, &table);
  unsigned char filter[256] = {};
  filter[0x81] = 1;
  int32_t capacity = 0;
  EXPECT_TRUE(Scan({}, table, filter, &capacity).empty());
  EXPECT_EQ(capacity, 100);
  EXPECT_TRUE(Scan({}, table, filter, &capacity, 500).empty());
  EXPECT_EQ(capacity, 500);
  for (auto [hits, expected] : {std::pair{100, 100}, {101, 111}, {111, 111}, {112, 122}, {123, 134}}) {
    std::vector<int32_t> offsets = Scan(Body(static_cast<size_t>(hits), 0x81), table, filter, &capacity);
    EXPECT_EQ(capacity, expected) << hits;
    ASSERT_EQ(offsets.size(), static_cast<size_t>(hits));
    EXPECT_EQ(offsets.back(), hits - 1);
  }
}

// Random bodies over a small alphabet, so that codewords repeat and one often
// begins with another, against a plain split at the tagged bytes. The key
// counts cover the direct comparison (up to 16 keys) and the table, with one
// or several flagged first bytes, one of them sometimes without a key.
TEST(SearchScan, FindsExactlyTheCodewordsThatAreKeys) {
  std::mt19937 rng(7);
  for (int wanted : {1, 2, 16, 17, 60}) {
    for (int trial = 0; trial < 20; ++trial) {
      Body body;
      std::vector<std::string> codewords;
      for (int i = 0; i < 400; ++i) {
        std::string cw(1, static_cast<char>(0x80 + rng() % (wanted < 3 ? 2 : 6)));
        for (int j = rng() % 5; j > 0; --j) cw.push_back(static_cast<char>(rng() % 3));  // up to 5 bytes
        codewords.push_back(cw);
        body.insert(body.end(), cw.begin(), cw.end());
      }
      MyHash table;
      MyHash_create(&table, 1000);
      unsigned char filter[256] = {};
      std::set<std::string> keys;
      while (keys.size() < static_cast<size_t>(wanted)) {
        const std::string& cw = codewords[rng() % codewords.size()];
        if (cw.size() > 4) continue;
        keys.insert(cw);
        MyHash_insert(stest::U(cw), static_cast<int32_t>(cw.size()), 0, &table);
        filter[stest::U(cw)[0]] = 1;
      }
      if (trial % 2) filter[0xF0] = 1;
      std::vector<int32_t> expected;
      for (size_t r = 0, q; r < body.size(); r = q) {
        for (q = r + 1; q < body.size() && body[q] < 0x80;) ++q;
        if (keys.count(std::string(body.begin() + r, body.begin() + q))) expected.push_back(static_cast<int32_t>(r));
      }
      int32_t capacity;
      ASSERT_EQ(Scan(body, table, filter, &capacity), expected) << wanted << " keys, trial " << trial;
    }
  }
}

TEST(SearchRows, DisplayName) {
  EXPECT_EQ(Search_displayName("dir/x.hwz"), "x");
  EXPECT_EQ(Search_displayName("/a/b.c/book1.hwz"), "book1");
  EXPECT_EQ(Search_displayName("dir/.hwz"), ".hwz");
  EXPECT_EQ(Search_displayName("a.hwz.hwz"), "a.hwz");
  EXPECT_EQ(Search_displayName("a.HWZ"), "a.HWZ");
}

// Three words before the hit, then the hit's token and the text after it up
// to the third word after it, less the byte that follows the token. The
// spaceless model does not put back the blank just before the hit.
TEST(SearchRows, ContextsUnderBothModels) {
  stest::TempDir dir;
  moravine::PosixSearchHost host;
  for (int rule : {0, 1}) {
    SCOPED_TRACE(rule);
    std::string file = stest::Compress("one two three four five six seven eight nine.", rule);
    for (auto [word, left, right] : {std::tuple{"one", "", "two three four"},
                                     {"five", "two three four ", "six seven eight"},
                                     {"eight", "five six seven ", "nine."}, {"nine", "six seven eight ", ""}}) {
      stest::Result r = stest::RunSearch(file, word, 0, &host, "f");
      ASSERT_EQ(r.rows.size(), 1u) << word;
      EXPECT_EQ(r.rows[0].file, "f");
      std::string expected_left = rule == 1 && *left ? std::string(left, std::strlen(left) - 1) : left;
      EXPECT_EQ(r.rows[0].left, expected_left) << word;
      EXPECT_EQ(r.rows[0].word, word);
      EXPECT_EQ(r.rows[0].right, right) << word;
    }
    EXPECT_EQ(stest::RunSearch(file, "one", 0, &host).offsets, std::vector<int32_t>{0});

    std::string controls = stest::Compress("one\ttwo\r\nthree\x01 four five", rule);
    stest::Result two = stest::RunSearch(controls, "two", 0, &host), tab = stest::RunSearch(controls, "\t", 0, &host);
    ASSERT_EQ(two.rows.size(), 1u);
    ASSERT_EQ(tab.rows.size(), 1u);
    EXPECT_EQ(two.rows[0].left, "one ");
    EXPECT_EQ(two.rows[0].right, " three  four five");
    EXPECT_EQ(tab.rows[0].word, "\t");
    EXPECT_EQ(tab.rows[0].left, "one");
  }
}

}  // namespace
