// The wide scans against the scan that steps from codeword to codeword, on
// random bodies and on whole books, every path alike; the limit on hits; the
// count of a codeword's occurrences.
#include <random>

#include "codec/container.h"
#include "wordmodel/hhashtable.h"
#include "search/find_bytes.h"
#include "search/scan.h"
#include "search/vocabulary_match.h"
#include "wordmodel/hdictionary.h"
#include "search_support.h"
#include "tests/samples.h"
#include "wordmodel/hmodel_free.h"

namespace {

using namespace stest;

// The codewords one after the other: the first at 0, each running to the
// next tagged byte; those in the table and flagged are hits.
std::vector<int32_t> SteppingScan(const MyHash& table, const unsigned char* filter, const std::string& body) {
  std::vector<int32_t> hits;
  const auto n = static_cast<int32_t>(body.size());
  for (int32_t r = 0, q; r < n; r = q) {
    for (q = r + 1; q < n && !(U(body)[q] & 0x80); ++q) {
    }
    if (filter[U(body)[r]] && MyHash_lookup(U(body) + r, q - r, &table)) hits.push_back(r);
  }
  return hits;
}

std::vector<int32_t> Scan(const MyHash& table, const unsigned char* filter, const std::string& body,
                          SearchScanPath path, int32_t max_hits = 0) {
  // An exact-size copy: a read past the end shows under the sanitizers.
  std::unique_ptr<unsigned char[]> copy(new unsigned char[body.size()]);
  std::memcpy(copy.get(), body.data(), body.size());
  int32_t count = 0;
  SearchOffsets offsets;
  Search_scanBodyWith(&count, &table, filter, copy.get(), static_cast<int32_t>(body.size()), max_hits, path,
                      &offsets);
  return std::vector<int32_t>(offsets.at.get(), offsets.at.get() + count);
}

const SearchScanPath kPaths[] = {SearchScanPath::kAuto, SearchScanPath::kScalar, SearchScanPath::kSse2,
                                 SearchScanPath::kAvx2};

void ExpectEveryPathAgrees(const MyHash& table, const unsigned char* filter, const std::string& body) {
  const std::vector<int32_t> expected = SteppingScan(table, filter, body);
  for (SearchScanPath path : kPaths) {
    ASSERT_EQ(Scan(table, filter, body, path), expected) << "path " << static_cast<int>(path);
    if (expected.size() > 2) {  // a limit keeps the first hits
      ASSERT_EQ(Scan(table, filter, body, path, 2), std::vector<int32_t>(expected.begin(), expected.begin() + 2));
    }
  }
}

// Random bodies of random codewords (tagged byte then 0 to 4 untagged ones,
// now and then an untagged first byte), keys of 1 to 4 bytes, some of them
// codewords of the body, and filters with extra flags that find no key.
TEST(SearchScanPaths, AgreeWithTheSteppingScanOnRandomBodies) {
  std::mt19937 rng(11);
  for (int round = 0; round < 400; ++round) {
    std::string body;
    const size_t target = rng() % (round < 100 ? 80 : 3000);
    const int tagged_values = 1 + static_cast<int>(rng() % (round % 3 == 0 ? 4 : 128));
    while (body.size() < target) {
      if (rng() % 50 == 0) body.push_back(static_cast<char>(rng() % 0x80));
      body.push_back(static_cast<char>(0x80 + rng() % tagged_values));
      for (int k = static_cast<int>(rng() % 5); k > 0 && rng() % 3; --k) body.push_back(static_cast<char>(rng() % 0x80));
    }
    MyHash table;
    MyHash_create(&table, 100);
    unsigned char filter[256] = {};
    const int keys = 1 + static_cast<int>(rng() % (round % 2 ? 3 : 40));
    for (int k = 0; k < keys; ++k) {
      unsigned char key[4] = {static_cast<unsigned char>(0x80 + rng() % tagged_values)};
      int32_t length = 1 + static_cast<int32_t>(rng() % 3);
      if (!body.empty() && rng() % 2) {  // a codeword of the body
        size_t at = rng() % body.size();
        while (at > 0 && !(U(body)[at] & 0x80)) --at;
        for (length = 1; length < 4 && at + length < body.size() && !(U(body)[at + length] & 0x80); ++length) {
        }
        std::memcpy(key, body.data() + at, static_cast<size_t>(length));
      } else {
        for (int32_t i = 1; i < length; ++i) key[i] = static_cast<unsigned char>(rng() % 0x80);
      }
      MyHash_insert(key, length, 0, &table);
      filter[key[0]] = 1;
    }
    for (int extra = static_cast<int>(rng() % 3); extra > 0; --extra) filter[rng() % 256] = 1;
    ExpectEveryPathAgrees(table, filter, body);
  }
}

// Under the sanitizers, only the smaller books.
#ifdef MORAVINE_TEST_SMALL
constexpr size_t kMaxBytes = 350000;
#else
constexpr size_t kMaxBytes = SIZE_MAX;
#endif

// The codewords of random sets of ranks, from one to a thousand, in the
// bodies of the books under both models.
TEST(SearchScanPaths, AgreeWithTheSteppingScanOnBooks) {
  std::mt19937 rng(5);
  for (const auto& [name, text] : samples::Books(kMaxBytes)) {
    for (int rule : {0, 1}) {
      const std::string file = Compress(text, rule);
      HModel model;
      int32_t text_length, body_length;
      const unsigned char* body;
      HContainer_read(U(file), static_cast<int32_t>(file.size()), &text_length, &body, &body_length, &model,
                      HVocabulary::kBlankOnly);
      const std::string body_bytes(reinterpret_cast<const char*>(body), static_cast<size_t>(body_length));
      for (int ranks : {1, 2, 5, 17, 100, 1000}) {
        MyHash table;
        MyHash_create(&table, 1000);
        unsigned char filter[256] = {};
        for (int i = 0; i < ranks; ++i) {
          // Frequent tokens as often as rare ones.
          const auto rank = static_cast<int32_t>(i % 2 ? rng() % model.dictionary.token_count : rng() % 40);
          Search_addRank(rank, &table, filter, 0, &model);
        }
        SCOPED_TRACE(name + " rule " + std::to_string(rule) + " ranks " + std::to_string(ranks));
        ExpectEveryPathAgrees(table, filter, body_bytes);
      }
      HModel_free(&model, false);
    }
  }
}

// Occurrences of a codeword that begin in a range: one-byte codewords are
// counted by their byte, longer ones need the bytes after the first, and an
// occurrence that starts in the range counts even when it ends after it.
TEST(SearchCountCodeword, CountsOccurrencesBeginningInTheRange) {
  std::string body;
  for (int i = 0; i < 50; ++i) body += std::string("\x81\x90\x05\x90\x06\x81", 6);
  auto count = [&](int32_t from, int32_t to, const char* key, int32_t length) {
    return Search_countCodeword(U(body), static_cast<int32_t>(body.size()), from, to, U(std::string(key, static_cast<size_t>(length))), length);
  };
  EXPECT_EQ(count(0, 300, "\x81", 1), 100);
  EXPECT_EQ(count(1, 299, "\x81", 1), 98);
  EXPECT_EQ(count(0, 300, "\x90\x05", 2), 50);
  EXPECT_EQ(count(0, 300, "\x90\x06", 2), 50);
  EXPECT_EQ(count(0, 300, "\x90\x07", 2), 0);
  EXPECT_EQ(count(0, 2, "\x90\x05", 2), 1);
  EXPECT_EQ(count(2, 2, "\x81", 1), 0);
  EXPECT_EQ(count(-5, 1000, "\x81", 1), 100);
}

TEST(SearchFindBytes, FirstPlaceAsAPlainSearchFindsIt) {
  // Needles of every length up to past a wide compare, in haystacks whose
  // few byte values make partial matches common, and at both ends.
  std::mt19937 random(11);
  for (int round = 0; round < 20000; ++round) {
    std::string hay(random() % 200, 'a');
    for (char& c : hay) c = "ab\xff"[random() % 3];
    std::string needle(random() % 24, 'a');
    for (char& c : needle) c = "ab\xff"[random() % 3];
    if (round % 3 == 0 && hay.size() >= needle.size()) hay.replace(hay.size() - needle.size(), needle.size(), needle);
    const size_t expected = hay.find(needle);
    const unsigned char* found = Search_findBytes(U(hay), hay.size(), U(needle), needle.size());
    ASSERT_EQ(found ? static_cast<size_t>(found - U(hay)) : std::string::npos, expected)
        << "needle of " << needle.size() << " in " << hay.size();
  }
}

TEST(SearchFindBytes, AnyOfSeveralNeedlesAsPlainSearchesFindThem) {
  // Sets of needles, more than one pass holds at times, of lengths that put
  // their rarest bytes anywhere; the answer is whether any plain search finds
  // its needle.
  std::mt19937 random(12);
  for (int round = 0; round < 20000; ++round) {
    std::string hay(random() % 300, 'a');
    for (char& c : hay) c = "abZ\n"[random() % 4];
    std::vector<std::string> needles(random() % 11);
    for (std::string& needle : needles) {
      needle.resize(random() % 12);
      for (char& c : needle) c = "abZ\n"[random() % 4];
    }
    if (round % 4 == 0 && !needles.empty() && hay.size() >= needles.back().size()) {
      hay.replace(hay.size() - needles.back().size(), needles.back().size(), needles.back());
    }
    bool expected = false;
    for (const std::string& needle : needles) expected = expected || hay.find(needle) != std::string::npos;
    const std::vector<std::string_view> views(needles.begin(), needles.end());
    ASSERT_EQ(Search_findAnyBytes(U(hay), hay.size(), views), expected) << "round " << round;
  }
}

}  // namespace

// The newline token is found wherever it stands among the tokens, and not
// at all in a text without line feeds; a damaged dictionary whose token
// begins with a line feed and goes on is no newline token.
TEST(SearchNewlineRank, FoundWhereverItStands) {
  for (auto [string, count, rank] :
       {std::tuple{"\n\nab\n,\n", 3, 0}, {"ab\n\n\n,\n", 3, 1}, {"ab\n,\n\n\n", 3, 2}, {"ab\n,\n", 2, -1},
        {"ab\n\nx\n\n\n", 3, 2}, {"\nx\nab\n", 2, -1}}) {
    const std::string s = string;
    HDictionary dictionary;
    HDictionary_fromstring(U(s), static_cast<int32_t>(s.size()), count, &dictionary);
    EXPECT_EQ(Search_newlineRank(&dictionary), rank) << testing::PrintToString(s);
  }
}
