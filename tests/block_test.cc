// Block decompression: the few words after or before a codeword boundary,
// as the search shows them around a hit.
#include "codec/block.h"
#include "test_support.h"

namespace mtest {
namespace {

using Op = void (*)(const unsigned char*, int32_t, int32_t, HBuffer*, int32_t*, int32_t*, const HModel*);

bool IsWord(const Bytes& token) { return HToken_isWordByte(static_cast<unsigned char>(token[0])); }

class BlockTest : public LibTest {
 protected:
  // The block of n words from (forward) or before (backward) body offset at.
  static Bytes Block(Op op, const Parsed& p, int32_t at, int32_t n, int32_t* covered = nullptr) {
    bool backward = op == HDecompress_previousBlock_tokens || op == HDecompress_previousBlock_tokens_spaceless;
    HBuffer text;
    int32_t length = -1, cov = -1;
    op(p.body + at, backward ? at : p.body_length - at, n, &text, &length, &cov, &p.model);
    if (covered) *covered = cov;
    if (text) text[length] = 0;  // the promised room for a terminator
    return Str(text.get(), length);
  }
};

TEST_F(BlockTest, WordsAndSeparatorsBlocks) {
  // Seven distinct tokens: every codeword is one byte, so offset = token index.
  Parsed p(Compress("one two, three four five", 0));
  const Op next = HDecompress_nextBlock_tokens, previous = HDecompress_previousBlock_tokens;
  int32_t covered;
  EXPECT_EQ(Block(previous, p, 0, 3, &covered), "");
  EXPECT_EQ(covered, 0);
  EXPECT_EQ(Block(next, p, 2, 0, &covered), "");
  EXPECT_EQ(Block(next, p, 2, 1), "two");
  EXPECT_EQ(Block(next, p, 3, 1, &covered), ", three");
  EXPECT_EQ(covered, 2);
  EXPECT_EQ(Block(next, p, 6, 10, &covered), "four five");
  EXPECT_EQ(covered, 3);
  EXPECT_EQ(Block(previous, p, 8, 3, &covered), "two, three four ");
  EXPECT_EQ(covered, 6);
  EXPECT_EQ(Block(previous, p, 4, 10), "one two, ");
}

TEST_F(BlockTest, SpacelessBlocksRestoreBlanksInsideOnly) {
  // Body: alpha beta gamma ", " delta.
  Parsed p(Compress("alpha beta gamma, delta", 1));
  const Op next = HDecompress_nextBlock_tokens_spaceless, previous = HDecompress_previousBlock_tokens_spaceless;
  EXPECT_EQ(Block(next, p, 0, 2), "alpha beta");
  EXPECT_EQ(Block(next, p, 1, 2), "beta gamma");
  EXPECT_EQ(Block(next, p, 2, 5), "gamma, delta");
  EXPECT_EQ(Block(previous, p, 2, 1), "beta");  // the blank before gamma is outside
  EXPECT_EQ(Block(previous, p, 2, 2), "alpha beta");
  EXPECT_EQ(Block(previous, p, 3, 1), "gamma");
  EXPECT_EQ(Block(previous, p, 0, 1), "");
}

TEST_F(BlockTest, ContinuationByteIsRefused) {
  Bytes text;
  for (int i = 0; i < 400; ++i) text += Word("c", i) + " ";
  for (int rule : {0, 1}) {
    Parsed p(Compress(text, rule));
    int32_t at = 1;
    while (at < p.body_length && (p.body[at] & 0x80)) ++at;
    ASSERT_LT(at, p.body_length);
    const std::pair<Op, const char*> ops[] = {
        {HDecompress_nextBlock_tokens, "Error: not a tagged byte (HDecompress_nextBlock_tokens)\n"},
        {HDecompress_nextBlock_tokens_spaceless, "Error: not a tagged byte (HDecompress_nextBlock_tokens_spaceless)\n"},
        {HDecompress_previousBlock_tokens, "Error: not a tagged byte (HDecompress_previousBlock_tokens)\n"},
        {HDecompress_previousBlock_tokens_spaceless,
         "Error: not a tagged byte (HDecompress_previousBlock_tokens_spaceless)\n"},
    };
    for (const auto& [op, message] : ops) EXPECT_TRUE(Fails([&] { Block(op, p, at, 2); }, message));
  }
}

// Every boundary of a body with codewords of one to three bytes, against the
// token sequence that the body encodes.
TEST_F(BlockTest, EveryBoundaryMatchesTheTokenSequence) {
  Bytes text;
  for (int i = 0; i < 6000 / kScale; ++i) {
    text += Word("b", i * i % 20011) + (i % 13 == 0 ? ".\n" : i % 5 == 0 ? ", " : " ");
  }
  for (int rule : {0, 1}) {
    Parsed p(Compress(text, rule));
    ASSERT_GE(p.model.codetable.max_cw_length, 2);
    std::vector<Bytes> tokens = BodyTokens(p.body, p.body_length, p.model);
    std::vector<int32_t> offset = {0};
    for (int32_t at = 1; at < p.body_length; ++at) {
      if (p.body[at] & 0x80) offset.push_back(at);
    }
    ASSERT_EQ(offset.size(), tokens.size());
    offset.push_back(p.body_length);
    auto join = [&](size_t from, size_t to) {
      Bytes out;
      for (size_t t = from; t < to; ++t) {
        if (rule == 1 && t > from && IsWord(tokens[t - 1]) && IsWord(tokens[t])) out += ' ';
        out += tokens[t];
      }
      return out;
    };
    const Op next = rule ? HDecompress_nextBlock_tokens_spaceless : HDecompress_nextBlock_tokens;
    const Op previous = rule ? HDecompress_previousBlock_tokens_spaceless : HDecompress_previousBlock_tokens;
    for (size_t i = 0; i < tokens.size(); ++i) {
      for (int32_t n : {1, 3}) {
        size_t j = i, k = i;
        for (int32_t left = n; j < tokens.size() && left > 0; ++j) left -= IsWord(tokens[j]);
        for (int32_t left = n; k > 0 && left > 0;) left -= IsWord(tokens[--k]);
        int32_t covered;
        ASSERT_EQ(Block(next, p, offset[i], n, &covered), join(i, j)) << "rule " << rule << " token " << i;
        ASSERT_EQ(covered, offset[j] - offset[i]);
        ASSERT_EQ(Block(previous, p, offset[i], n, &covered), join(k, i)) << "rule " << rule << " token " << i;
        ASSERT_EQ(covered, offset[i] - offset[k]);
      }
    }
  }
}

}  // namespace
}  // namespace mtest
