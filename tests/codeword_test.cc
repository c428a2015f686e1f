// Tagged codewords: the byte form, the conversions through the code table,
// and reading one codeword forward or backward from a position.
#include <functional>
#include <memory>

#include "test_support.h"

namespace mtest {
namespace {

class CodewordTest : public LibTest {};

TEST_F(CodewordTest, PlainAndTaggedForms) {
  struct Case { uint32_t plain; int32_t bits; HCodeword tagged; const char* hex; };
  for (const Case& c : {Case{0, 7, 0x80, "80"}, Case{127, 7, 0xFF, "ff"}, Case{300, 14, 0x822C, "82 2c"},
                        Case{0, 28, 0x80000000, "80 00 00 00"}, Case{0x0FFFFFFF, 28, 0xFF7F7F7F, "ff 7f 7f 7f"}}) {
    HCodeword tagged;
    uint32_t plain;
    int32_t bytes, bits;
    HCodeword_TaggedFromPlain(c.plain, c.bits, &tagged, &bytes);
    EXPECT_EQ(tagged, c.tagged);
    EXPECT_EQ(bytes, c.bits / 7);
    HCodeword_PlainFromTagged(c.tagged, bytes, &plain, &bits);
    EXPECT_EQ(plain, c.plain);
    EXPECT_EQ(bits, c.bits);
    HBuffer s;
    HCodeword_tostring(c.tagged, bytes, &s);
    EXPECT_EQ(Str(s.get(), bytes + 1), Hex(c.hex) + Bytes(1, '\0'));
  }
  uint32_t plain;
  int32_t bits;
  HCodeword_PlainFromTagged(0xAB12FF, 1, &plain, &bits);  // bytes above the length are ignored
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

  // Exact-size heap buffer: reading the last byte, or walking back over
  // bytes without a tag, must stay inside.
  std::unique_ptr<unsigned char[]> tail(new unsigned char[2]{0x05, 0x83});
  HCodeword_TaggedGetNext(tail.get() + 1, 1, &cw, &len);
  EXPECT_EQ(cw, 0x83u);
  EXPECT_EQ(len, 1);
  EXPECT_THROW(HCodeword_TaggedGetPrevious(tail.get() + 1, 1, &cw, &len), HFatalFailure);

  // One tagged byte and five untagged ones read as one codeword of 6 bytes.
  const unsigned char six[] = {0x81, 1, 2, 3, 4, 5};
  HCodeword_TaggedGetNext(six, 6, &cw, &len);
  EXPECT_EQ(len, 6);
  Built built("x");
  HBuffer token;
  int32_t n, cw_bytes;
  EXPECT_TRUE(Fails([&] { HToken_TaggedGetNext(six, 6, &built.model, &token, &n, &cw_bytes); },
                    "Error: HToken_RankFromTaggedCw - length no in [1,4]\n"));
}

TEST_F(CodewordTest, FailureMessages) {
  HCodeword cw;
  int32_t n, rank;
  uint32_t plain;
  HBuffer s;
  const unsigned char untagged[] = {0x05, 0x05};
  Built built("a b");  // ranks 0..2, codewords 0x80..0x82
  const HCodetable* t = &built.model.codetable;
  const std::pair<std::function<void()>, const char*> cases[] = {
      {[&] { HCodeword_TaggedFromPlain(1, 8, &cw, &n); }, "Error: HCodeword_TaggedFromPlain, len 8\n"},
      {[&] { HCodeword_PlainFromTagged(0x80, 5, &plain, &n); }, "Error: HCodeword_PlainFromTagged - length no in [1,4]\n"},
      {[&] { HToken_RankFromPlainCw(0, 8, t, &rank); }, "Error: HToken_RankFromPlainCw - length no 7-multiple\n"},
      {[&] { HToken_RankFromTaggedCw(0x80, 0, t, &rank); }, "Error: HToken_RankFromTaggedCw - length no in [1,4]\n"},
      {[&] { HCodeword_tostring(0x80, 5, &s); }, "Error: HCodeword_tostring\n"},
      {[&] { HCodeword_TaggedGetNext(untagged, 0, &cw, &n); }, "Error: no byte left (HCodeword_TaggedGetNext)\n"},
      {[&] { HCodeword_TaggedGetNext(untagged, 2, &cw, &n); }, "Error: no tagged byte (HCodeword_TaggedGetNext)\n"},
      {[&] { HCodeword_TaggedGetPrevious(untagged + 1, 0, &cw, &n); },
       "Error: no byte left (HCodeword_TaggedGetPrevious)\n"},
      {[&] { HCodeword_TaggedGetPrevious(untagged + 1, 1, &cw, &n); },
       "Error: no tagged byte (HCodeword_TaggedGetPrevious)\n"},
      {[&] { HCodeword_TaggedFromToken(U("c"), 1, &built.model, &cw, &n); },
       "Error: token not found (HCodeword_TaggedFromToken)\n"},
      {[&] { HToken_fromTaggedCw(0x83, 1, t, &built.model.dictionary, &s, &n); },
       "Error: token_startpos computation (HToken_fromTaggedCw)\n"},
  };
  for (const auto& [f, message] : cases) EXPECT_TRUE(Fails(f, message));
}

TEST_F(CodewordTest, NewlineTokenIsStoredAsTwoNewlines) {
  Built built("a\nb");  // newline sorts first: LF LF a LF b LF
  const HDictionary& d = built.model.dictionary;
  EXPECT_EQ(Str(d.string, d.string_length), "\n\na\nb\n");
  EXPECT_EQ(std::vector<int32_t>(d.start.get(), d.start.get() + 3), (std::vector<int32_t>{0, 2, 4}));
  HBuffer token;
  int32_t n, cw_bytes;
  HToken_fromTaggedCw(0x80, 1, &built.model.codetable, &d, &token, &n);
  EXPECT_EQ(Str(token.get(), n), "\n");
  EXPECT_EQ(BodyTokens(built.body.get(), built.body_length, built.model), (std::vector<Bytes>{"a", "\n", "b"}));
  EXPECT_EQ(HToken_TaggedGetPrevious(built.body.get() + 2, 0, &built.model, &token, &n, &cw_bytes), 0);
  ASSERT_EQ(HToken_TaggedGetPrevious(built.body.get() + 2, 2, &built.model, &token, &n, &cw_bytes), 1);
  EXPECT_EQ(Str(token.get(), n), "\n");
}

}  // namespace
}  // namespace mtest
