// The radix-128 Huffman code: levels from the tree, the canonical code table
// (including levels without tokens), rank order and rescaling.
#include <algorithm>
#include <cstdio>
#include <set>

#include "test_support.h"
#include "wordmodel/hufftree.h"

namespace mtest {
namespace {

class HufftreeTest : public LibTest {
 protected:
  ~HufftreeTest() override { HModel_free(&model_, true); }

  // Enters n tokens "wNNNNN", token i with frequency freq(i).
  template <class F>
  void Vocabulary(int32_t n, F freq) {
    HHashtable_create(&model_, n);
    for (int32_t i = 0; i < n; ++i) {
      int is_new;
      HHashtable_insertEntry(U(Name(i)), 6, &model_.vocabulary, &is_new)->frequency = freq(i);
    }
  }
  void Build() {
    Hufftree_build(&model_, &storage_);
    HCodetable_fromtree(storage_.array.data(), &model_.codetable, &model_);
  }
  static Bytes Name(int32_t i) {
    char s[8];
    std::snprintf(s, sizeof s, "w%05d", static_cast<int>(i));
    return s;
  }
  const HNode* Entry(const Bytes& t) { return HHashtable_lookup(U(t), L(t), &model_.vocabulary); }

  void ExpectTable(int32_t max, std::vector<int32_t> first_cw, std::vector<int32_t> offset) {
    const HCodetable& t = model_.codetable;
    EXPECT_EQ(t.max_cw_length, max);
    EXPECT_EQ(std::vector<int32_t>(t.First_cw + 1, t.First_cw + 5), first_cw);
    EXPECT_EQ(std::vector<int32_t>(t.Offset + 1, t.Offset + 5), offset);
  }

  // Every rank converts to a codeword of at most 4 bytes and back, each
  // token holds the codeword of its rank, and no codeword prefixes another.
  void ExpectConsistentCode() {
    int32_t n = model_.codetable.token_count;
    ASSERT_EQ(n, model_.vocabulary.entry_count);
    std::set<Bytes> codewords;
    for (int32_t r = 0; r < n; ++r) {
      HCodeword cw;
      int32_t bytes, back;
      HCodeword_TaggedFromTokenrank(r, &model_.codetable, &cw, &bytes);
      ASSERT_TRUE(bytes >= 1 && bytes <= 4);
      HToken_RankFromTaggedCw(cw, bytes, &model_.codetable, &back);
      ASSERT_EQ(back, r);
      ASSERT_EQ(storage_.array[r]->codeword, cw);
      ASSERT_EQ(storage_.array[r]->level, bytes);
      HBuffer s;
      HCodeword_tostring(cw, bytes, &s);
      codewords.emplace(reinterpret_cast<char*>(s.get()), bytes);
    }
    for (const Bytes& cw : codewords) {
      for (size_t k = 1; k < cw.size(); ++k) ASSERT_EQ(codewords.count(cw.substr(0, k)), 0u);
    }
  }

  HModel model_;
  HTreeStorage storage_;
};

TEST_F(HufftreeTest, ThreeTokensShareLevelOneInByteOrder) {
  Built b("a b a");
  EXPECT_EQ(b.model.codetable.max_cw_length, 1);
  EXPECT_EQ(b.model.codetable.Offset[1], 0);
  EXPECT_EQ(b.model.codetable.Offset[2], 129);
  EXPECT_EQ(b.model.codetable.Offset[4], 129);
  EXPECT_EQ(b.entry(" ")->codeword, 0x80u);
  EXPECT_EQ(b.entry("a")->codeword, 0x81u);
  EXPECT_EQ(b.entry("b")->codeword, 0x82u);
  EXPECT_EQ(Bytes(reinterpret_cast<char*>(b.body.get()), b.body_length), Hex("81 80 82 80 81"));
  EXPECT_EQ(Bytes(reinterpret_cast<const char*>(b.model.dictionary.string), 6), " \na\nb\n");
  // Bytes compare unsigned: 0xE9 sorts after 'z'.
  Built u("a\xE9z");
  EXPECT_EQ(Bytes(reinterpret_cast<const char*>(u.model.dictionary.string), 6), "a\nz\n\xE9\n");
  Built one("aaaa");
  EXPECT_EQ(one.entry("aaaa")->codeword, 0x80u);
  EXPECT_EQ(one.model.codetable.Offset[2], 129);
}

TEST_F(HufftreeTest, HundredTwentySevenTokensFillLevelOne) {
  Vocabulary(127, [](int32_t i) { return 1 + i % 5; });
  Build();
  ExpectTable(1, {0, 0, 0, 0}, {0, 129 + 127, 129 + 127, 129 + 127});
  for (int32_t r = 0; r < 127; ++r) EXPECT_EQ(Entry(Name(r))->codeword, 0x80u + r);  // 0xFF stays unused
  ExpectConsistentCode();
}

TEST_F(HufftreeTest, OneRareTokenOfHundredTwentyEightGoesDown) {
  Vocabulary(128, [](int32_t i) { return i == 77 ? 1 : 2; });
  Build();
  ExpectTable(2, {1, 0, 0, 0}, {1, 0, 256, 256});
  EXPECT_EQ(storage_.array[0], Entry(Name(77)));
  EXPECT_EQ(Entry(Name(77))->codeword, 0x8000u);
  EXPECT_EQ(Entry(Name(0))->codeword, 0x81u);
  EXPECT_EQ(Entry(Name(127))->codeword, 0xFFu);
  ExpectConsistentCode();
}

TEST_F(HufftreeTest, EmptyMiddleLevel) {
  // 127 tokens heavier than the 16257 single ones together: level 2 holds
  // no token, but its prefixes 0..127 still lead to level 3.
  const int32_t n = 16384;
  Vocabulary(n, [](int32_t i) { return i < 127 ? 20000 : 1; });
  Build();
  ExpectTable(3, {1, 128, 0, 0}, {n - 127, 16512, 0, 16512});
  EXPECT_EQ(storage_.array[n - 127], Entry(Name(0)));
  EXPECT_EQ(Entry(Name(0))->codeword, 0x81u);
  EXPECT_EQ(Entry(Name(n - 1))->level, 3);
  ExpectConsistentCode();
}

TEST_F(HufftreeTest, DeepTreeIsRescaledToFourLevels) {
  // Groups of frequencies 1, 3, 130, 511, each above the node that the
  // group before it forms, chain the first tree five levels deep.
  Vocabulary(2 + 4 * 127, [](int32_t i) { return i < 129 ? 1 : i < 256 ? 3 : i < 383 ? 130 : 511; });
  int32_t a = Hufftree_leafCount(model_.vocabulary.entry_count);
  HTreeStorage probe;
  probe.array.resize(static_cast<size_t>(a + (a - 1) / 127));
  Hufftree_createLeaves(probe.array.data(), a, &model_, &probe);
  int32_t nodes;
  int32_t root = Hufftree_fromLeaves(probe.array.data(), &nodes, a, &probe);
  EXPECT_EQ(nodes, a + 5);
  EXPECT_EQ(Hufftree_levels(probe.array.data(), root, nodes), 5);

  Build();
  EXPECT_LE(model_.codetable.max_cw_length, 4);
  EXPECT_EQ(Entry(Name(0))->frequency, 1);    // 1 stays 1
  EXPECT_EQ(Entry(Name(200))->frequency, 2);  // 3 becomes 2
  EXPECT_EQ(Entry(Name(300))->frequency, 81);
  EXPECT_EQ(Entry(Name(400))->frequency, 316);
  ExpectConsistentCode();
}

TEST_F(HufftreeTest, LargeSkewedVocabularyStaysWithinFourBytes) {
  Vocabulary(40000 / kScale, [](int32_t i) { return 1 + 1000000 / (i + 1); });
  Build();
  EXPECT_GE(model_.codetable.max_cw_length, 2);
  ExpectConsistentCode();
}

}  // namespace
}  // namespace mtest
