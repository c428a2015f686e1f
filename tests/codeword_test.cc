// Tagged codewords: the byte form, the conversions through the code table,
// and reading one codeword forward or backward from a position.
#include <memory>

#include "test_support.h"

namespace mtest {
namespace {

class CodewordTest : public LibTest {};

TEST_F(CodewordTest, PlainAndTaggedForms) {
  struct Case { uint32_t plain; int32_t bits; HCodeword tagged; int32_t bytes; const char* hex; };
  const Case cases[] = {
      {0, 7, 0x80, 1, "80"},
      {127, 7, 0xFF, 1, "ff"},
      {300, 14, 0x822C, 2, "82 2c"},
      {0, 28, 0x80000000, 4, "80 00 00 00"},
      {0x0FFFFFFF, 28, 0xFF7F7F7F, 4, "ff 7f 7f 7f"},
  };
  for (const Case& c : cases) {
    HCodeword tagged;
    int32_t bytes;
    HCodeword_TaggedFromPlain(c.plain, c.bits, &tagged, &bytes);
    EXPECT_EQ(tagged, c.tagged);
    EXPECT_EQ(bytes, c.bytes);
    uint32_t plain;
    int32_t bits;
    HCodeword_PlainFromTagged(c.tagged, c.bytes, &plain, &bits);
    EXPECT_EQ(plain, c.plain);
    EXPECT_EQ(bits, c.bits);
    HBuffer s;
    HCodeword_tostring(c.tagged, c.bytes, &s);
    EXPECT_EQ(Bytes(reinterpret_cast<char*>(s.get()), c.bytes + 1), Hex(c.hex) + Bytes(1, '\0'));
  }
  // Bytes above the codeword's length are ignored.
  uint32_t plain;
  int32_t bits;
  HCodeword_PlainFromTagged(0xAB12FF, 1, &plain, &bits);
  EXPECT_EQ(plain, 127u);
}

TEST_F(CodewordTest, ReadsForwardAndBackward) {
  const unsigned char body[] = {0x81, 0x05, 0x83};
  HCodeword cw;
  int32_t len;
  HCodeword_TaggedGetNext(body, 3, &cw, &len);
  EXPECT_EQ(cw, 0x8105u);
  EXPECT_EQ(len, 2);
  HCodeword_TaggedGetPrevious(body + 2, 2, &cw, &len);
  EXPECT_EQ(cw, 0x8105u);
  EXPECT_EQ(len, 2);

  // Exact-size heap buffers: reading the last byte, or walking back over a
  // body with no tagged byte, must stay inside.
  std::unique_ptr<unsigned char[]> tail(new unsigned char[2]{0x05, 0x83});
  HCodeword_TaggedGetNext(tail.get() + 1, 1, &cw, &len);
  EXPECT_EQ(cw, 0x83u);
  EXPECT_EQ(len, 1);
  EXPECT_TRUE(FailsSomehow([&] { HCodeword_TaggedGetPrevious(tail.get() + 1, 1, &cw, &len); }));

  // Six bytes: one tagged byte and five untagged ones.
  const unsigned char six[] = {0x81, 1, 2, 3, 4, 5};
  HCodeword_TaggedGetNext(six, 6, &cw, &len);
  EXPECT_EQ(len, 6);
  int32_t rank;
  HCodetable table;
  EXPECT_TRUE(Fails([&] { HToken_RankFromTaggedCw(cw, len, &table, &rank); },
                    "Error: HToken_RankFromTaggedCw - length no in [1,4]\n"));
}

TEST_F(CodewordTest, FailureMessages) {
  HCodeword cw;
  int32_t n, rank;
  uint32_t plain;
  const unsigned char untagged[] = {0x05, 0x05};
  Built built("a b");
  const HCodetable* table = &built.model.codetable;
  EXPECT_TRUE(Fails([&] { HCodeword_TaggedFromPlain(1, 8, &cw, &n); }, "Error: HCodeword_TaggedFromPlain, len 8\n"));
  EXPECT_TRUE(Fails([&] { HCodeword_PlainFromTagged(0x80, 5, &plain, &n); },
                    "Error: HCodeword_PlainFromTagged - length no in [1,4]\n"));
  EXPECT_TRUE(Fails([&] { HToken_RankFromPlainCw(0, 8, table, &rank); },
                    "Error: HToken_RankFromPlainCw - length no 7-multiple\n"));
  EXPECT_TRUE(Fails([&] { HToken_RankFromTaggedCw(0x80, 0, table, &rank); },
                    "Error: HToken_RankFromTaggedCw - length no in [1,4]\n"));
  EXPECT_TRUE(Fails([&] { HBuffer s; HCodeword_tostring(0x80, 5, &s); }, "Error: HCodeword_tostring\n"));
  EXPECT_TRUE(Fails([&] { HCodeword_TaggedGetNext(untagged, 0, &cw, &n); },
                    "Error: no byte left (HCodeword_TaggedGetNext)\n"));
  EXPECT_TRUE(Fails([&] { HCodeword_TaggedGetNext(untagged, 2, &cw, &n); },
                    "Error: no tagged byte (HCodeword_TaggedGetNext)\n"));
  EXPECT_TRUE(Fails([&] { HCodeword_TaggedGetPrevious(untagged + 1, 0, &cw, &n); },
                    "Error: no byte left (HCodeword_TaggedGetPrevious)\n"));
  EXPECT_TRUE(Fails([&] { HCodeword_TaggedGetPrevious(untagged + 1, 1, &cw, &n); },
                    "Error: no tagged byte (HCodeword_TaggedGetPrevious)\n"));
  EXPECT_TRUE(Fails([&] { HCodeword_TaggedFromToken(U("c"), 1, &built.model, &cw, &n); },
                    "Error: token not found (HCodeword_TaggedFromToken)\n"));
  // Three tokens have ranks 0..2; the codeword 0x83 would be rank 3.
  HBuffer token;
  EXPECT_TRUE(Fails([&] { HToken_fromTaggedCw(0x83, 1, table, &built.model.dictionary, &token, &n); },
                    "Error: token_startpos computation (HToken_fromTaggedCw)\n"));
}

TEST_F(CodewordTest, TokensOfCodewordsIncludingTheNewline) {
  // Newline sorts first: dictionary LF LF a LF b LF, start positions 0, 2, 4.
  Built built("a\nb");
  const HDictionary& d = built.model.dictionary;
  EXPECT_EQ(Bytes(reinterpret_cast<const char*>(d.string), d.string_length), "\n\na\nb\n");
  EXPECT_EQ(d.start[0], 0);
  EXPECT_EQ(d.start[1], 2);
  EXPECT_EQ(d.start[2], 4);
  HBuffer token;
  int32_t n;
  HToken_fromTaggedCw(0x80, 1, &built.model.codetable, &d, &token, &n);
  EXPECT_EQ(Bytes(reinterpret_cast<char*>(token.get()), n), "\n");
  EXPECT_EQ(BodyTokens(built.body.get(), built.body_length, built.model), (std::vector<Bytes>{"a", "\n", "b"}));
  int32_t cw_bytes;
  EXPECT_EQ(HToken_TaggedGetNext(built.body.get(), 0, &built.model, &token, &n, &cw_bytes), 0);
  ASSERT_EQ(HToken_TaggedGetPrevious(built.body.get() + 2, 2, &built.model, &token, &n, &cw_bytes), 1);
  EXPECT_EQ(Bytes(reinterpret_cast<char*>(token.get()), n), "\n");
}

}  // namespace
}  // namespace mtest
