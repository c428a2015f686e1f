// Auxiliary pointers: where the marks fall, the stored block, and that each
// pair really links a token start to the start of its codeword.
#include "test_support.h"
#include "wordmodel/hjumpers.h"

namespace mtest {
namespace {

using Pairs = std::vector<std::pair<int32_t, int32_t>>;

Pairs PairsOf(const HJumpers& j) {
  Pairs out;
  for (int32_t i = 0; i < j.count; ++i) out.emplace_back(j.text_positions[i], j.body_positions[i]);
  return out;
}

class JumpersTest : public LibTest {};

TEST_F(JumpersTest, MarksFallOnTheFirstTokenStartAtOrAfterThem) {
  EXPECT_EQ(PairsOf(Built("aaaa bb", 3).model.jumpers), (Pairs{{0, 0}, {4, 1}}));
  // After a token longer than the distance, each token gets a pair until
  // the mark catches up.
  EXPECT_EQ(PairsOf(Built("abcdef gh", 2).model.jumpers), (Pairs{{0, 0}, {6, 1}, {7, 2}}));
  EXPECT_EQ(PairsOf(Built("abcdef gh", 100).model.jumpers), (Pairs{{0, 0}}));
  EXPECT_EQ(PairsOf(Built("ab, cd\n\nef", 1).model.jumpers), (Pairs{{0, 0}, {2, 1}, {4, 2}, {6, 3}, {7, 4}, {8, 5}}));
  EXPECT_EQ(Built("abcdef gh", 0).model.jumpers.count, 0);
}

TEST_F(JumpersTest, BlockLayoutAndRoundTrip) {
  unsigned char empty[4] = {1, 1, 1, 1}, block[20];
  Built none("abc", 0);
  HJumpers_tostring(empty, &none.model.jumpers);
  EXPECT_EQ(Str(empty, 4), Hex("00 00 00 00"));
  Built two("aaaa bb", 3);
  ASSERT_EQ(HJumpers_blockSize(&two.model.jumpers), 20);
  HJumpers_tostring(block, &two.model.jumpers);
  EXPECT_EQ(Str(block, 20), Hex("0 0 0 2  0 0 0 0  0 0 0 0  0 0 0 4  0 0 0 1"));
  HJumpers back;
  HJumpers_fromstring(block, 20, &back);
  EXPECT_EQ(PairsOf(back), (Pairs{{0, 0}, {4, 1}}));
  HJumpers_fromstring(empty, 4, &back);
  EXPECT_EQ(back.count, 0);
  EXPECT_EQ(back.text_positions, nullptr);
  EXPECT_THROW(HJumpers_fromstring(block, 19, &back), HFatalFailure);  // the count does not fit
  EXPECT_TRUE(
      Fails([&] { HJumpers_tostring(nullptr, &two.model.jumpers); }, "Error: memory allocation (HJumpers_tostring)\n"));
}

TEST_F(JumpersTest, PairsPointAtTheCodewordOfTheirToken) {
  Bytes text;
  for (int i = 0; i < 4000; ++i) text += Word("w", i % 700) + (i % 9 ? " " : ";\n");
  for (int32_t distance : {1, 7, 64, 1000}) {
    Built b(text, distance);
    ASSERT_GT(b.model.codetable.max_cw_length, 1);
    // Token index at each token start, and at each codeword start.
    std::vector<int32_t> token_at(text.size(), -1), codeword_at(static_cast<size_t>(b.body_length), -1);
    for (int32_t p = 0, q = 0, k = 0, n = 0; p < L(text); p += n, ++k) {
      HToken_getLengthNext(U(text) + p, L(text) - p, &n);
      token_at[p] = codeword_at[q] = k;
      q += b.entry(text.substr(p, n))->level;
    }
    const HJumpers& j = b.model.jumpers;
    ASSERT_GT(j.count, 0);
    EXPECT_LE(j.count, L(text) / distance + 1);
    EXPECT_EQ(j.text_positions[0], 0);
    for (int32_t i = 0; i < j.count; ++i) {
      ASSERT_GE(j.text_positions[i], static_cast<int64_t>(i) * distance);
      ASSERT_NE(token_at[j.text_positions[i]], -1) << i;
      ASSERT_EQ(token_at[j.text_positions[i]], codeword_at[j.body_positions[i]]) << i;
      ASSERT_TRUE(i == 0 || j.text_positions[i] > j.text_positions[i - 1]) << i;
    }
  }
}

}  // namespace
}  // namespace mtest
