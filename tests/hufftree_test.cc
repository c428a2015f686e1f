// The radix-128 Huffman code: levels from the tree, the canonical code table
// (including levels without tokens), rank order and rescaling.
#include <set>

#include "test_support.h"
#include "wordmodel/hufftree.h"

namespace mtest {
namespace {

class HufftreeTest : public LibTest {
 protected:
  ~HufftreeTest() override { HModel_free(&model_, true); }

  // Tokens "w0", "w1", ... with the given frequencies.
  template <class F>
  void Vocabulary(int32_t n, F freq) {
    HHashtable_create(&model_, n);
    int is_new;
    for (int32_t i = 0; i < n; ++i) {
      HHashtable_insertEntry(U(Word("w", i)), L(Word("w", i)), &model_.vocabulary, &is_new)->frequency = freq(i);
    }
  }
  void Build() {
    Hufftree_build(&model_, &storage_);
    HCodetable_fromtree(storage_.array.data(), &model_.codetable, &model_);
  }
  const HNode* Entry(int32_t i) { return HHashtable_lookup(U(Word("w", i)), L(Word("w", i)), &model_.vocabulary); }

  void ExpectTable(int32_t max, std::vector<int32_t> first_cw, std::vector<int32_t> offset) {
    const HCodetable& t = model_.codetable;
    EXPECT_EQ(t.max_cw_length, max);
    EXPECT_EQ(std::vector<int32_t>(t.First_cw + 1, t.First_cw + 5), first_cw);
    EXPECT_EQ(std::vector<int32_t>(t.Offset + 1, t.Offset + 5), offset);
  }

  // Every rank converts to a codeword of 1..4 bytes and back, each token
  // holds the codeword of its rank, and no codeword prefixes another.
  void ExpectConsistentCode() {
    ASSERT_EQ(model_.codetable.token_count, model_.vocabulary.entry_count);
    std::set<Bytes> codewords;
    for (int32_t r = 0; r < model_.codetable.token_count; ++r) {
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
      codewords.insert(Str(s.get(), bytes));
    }
    for (const Bytes& cw : codewords) {
      for (size_t k = 1; k < cw.size(); ++k) ASSERT_EQ(codewords.count(cw.substr(0, k)), 0u);
    }
  }

  HModel model_;
  HTreeStorage storage_;
};

TEST_F(HufftreeTest, SmallTextsShareLevelOneInByteOrder) {
  Built b("a b a");
  EXPECT_EQ(b.model.codetable.max_cw_length, 1);
  EXPECT_EQ(std::vector<int32_t>(b.model.codetable.Offset + 1, b.model.codetable.Offset + 5),
            (std::vector<int32_t>{0, 129, 129, 129}));
  EXPECT_EQ(b.entry(" ")->codeword, 0x80u);
  EXPECT_EQ(b.entry("a")->codeword, 0x81u);
  EXPECT_EQ(b.entry("b")->codeword, 0x82u);
  EXPECT_EQ(Str(b.body.get(), b.body_length), Hex("81 80 82 80 81"));
  EXPECT_EQ(Str(b.model.dictionary.string, b.model.dictionary.string_length), " \na\nb\n");
  Built u("a\xE9z");  // bytes compare unsigned: 0xE9 after 'z'
  EXPECT_EQ(Str(u.model.dictionary.string, 6), "a\nz\n\xE9\n");
  Built one("aaaa");
  EXPECT_EQ(one.entry("aaaa")->codeword, 0x80u);
  EXPECT_EQ(Str(one.model.dictionary.string, one.model.dictionary.string_length), "aaaa\n");
}

TEST_F(HufftreeTest, HundredTwentySevenTokensFillLevelOne) {
  Vocabulary(127, [](int32_t i) { return 1 + i % 5; });  // 128 fillers: an inner node of weight 0
  Build();
  ExpectTable(1, {0, 0, 0, 0}, {0, 256, 256, 256});
  std::set<HCodeword> codewords;
  for (int32_t i = 0; i < 127; ++i) codewords.insert(Entry(i)->codeword);
  EXPECT_EQ(*codewords.begin(), 0x80u);
  EXPECT_EQ(*codewords.rbegin(), 0xFEu);  // 0xFF stays unused
  ExpectConsistentCode();
}

TEST_F(HufftreeTest, OneRareTokenOfHundredTwentyEightGoesDown) {
  Vocabulary(128, [](int32_t i) { return i == 77 ? 1 : 2; });
  Build();
  ExpectTable(2, {1, 0, 0, 0}, {1, 0, 256, 256});
  EXPECT_EQ(storage_.array[0], Entry(77));
  EXPECT_EQ(Entry(77)->codeword, 0x8000u);
  EXPECT_EQ(storage_.array[1]->codeword, 0x81u);
  EXPECT_EQ(storage_.array[127]->codeword, 0xFFu);
  ExpectConsistentCode();
}

TEST_F(HufftreeTest, EmptyMiddleLevel) {
  // 127 tokens heavier than the 16257 single ones together: level 2 holds
  // no token, but its prefixes 0..127 lead on to level 3.
  const int32_t n = 16384;
  Vocabulary(n, [](int32_t i) { return i < 127 ? 20000 : 1; });
  Build();
  ExpectTable(3, {1, 128, 0, 0}, {n - 127, 16512, 0, 16512});
  EXPECT_EQ(storage_.array[n - 127]->codeword, 0x81u);
  EXPECT_EQ(storage_.array[n - 127]->level, 1);
  EXPECT_EQ(Entry(n - 1)->level, 3);
  ExpectConsistentCode();
}

TEST_F(HufftreeTest, DeepTreeIsRescaledToFourLevels) {
  // Groups of frequencies 1, 3, 130, 521, each above the node that the
  // group before it forms, chain the first tree five levels deep; only the
  // rescaling changes frequencies.
  Vocabulary(2 + 4 * 127, [](int32_t i) { return i < 129 ? 1 : i < 256 ? 3 : i < 383 ? 130 : 521; });
  Build();
  EXPECT_LE(model_.codetable.max_cw_length, 4);
  EXPECT_EQ(Entry(0)->frequency, 1);
  EXPECT_EQ(Entry(200)->frequency, 2);
  EXPECT_EQ(Entry(300)->frequency, 81);
  EXPECT_EQ(Entry(400)->frequency, 323);  // 0.6180339887 would give 322
  ExpectConsistentCode();
}

}  // namespace
}  // namespace mtest
