// The token scanner is the one definition of a token that counting, coding,
// pointers and search share; these cases pin its byte classes down.
#include <memory>

#include "test_support.h"

namespace mtest {
namespace {

using V = std::vector<Bytes>;

V Tokens(const Bytes& text) {
  V tokens;
  for (int32_t p = 0, n = 0; p < L(text); p += n) {
    HToken_getLengthNext(U(text) + p, L(text) - p, &n);
    tokens.push_back(text.substr(p, n));
  }
  return tokens;
}

class TokenTest : public LibTest {};

TEST_F(TokenTest, SplitsWordsSeparatorsAndSingleNewlines) {
  EXPECT_EQ(Tokens("Hello, world.\r\n\nA1"), (V{"Hello", ", ", "world", ".\r", "\n", "\n", "A1"}));
  EXPECT_EQ(Tokens("caf\xE9 x"), (V{"caf", "\xE9 ", "x"}));  // bytes from 0x80 up are separators
  EXPECT_EQ(Tokens("\n\n\n"), (V{"\n", "\n", "\n"}));
  EXPECT_EQ(Tokens(" \n "), (V{" ", "\n", " "}));
  EXPECT_EQ(Tokens(Bytes("a\0\0b", 4)), (V{"a", Bytes(2, '\0'), "b"}));
  EXPECT_EQ(Tokens("\t\x01~\x7F\xFFZz09"), (V{"\t\x01~\x7F\xFF", "Zz09"}));
  for (int c = 0; c < 256; ++c) EXPECT_EQ(Tokens(Bytes(1, static_cast<char>(c))).size(), 1u) << c;

  // The scanner stops at the remaining count; exact-size buffers let the
  // sanitizers catch any read past it.
  std::unique_ptr<unsigned char[]> text(new unsigned char[4]{'a', 'b', ' ', ' '});
  int32_t n;
  HToken_getLengthNext(text.get(), 1, &n);
  EXPECT_EQ(n, 1);
  HToken_getLengthNext(text.get() + 2, 2, &n);
  EXPECT_EQ(n, 2);
  EXPECT_TRUE(Fails([&] { HToken_getLengthNext(text.get(), 0, &n); }, "Error: HToken_getLengthNext\n"));
}

TEST_F(TokenTest, CountingIsCaseSensitiveAndAdditive) {
  Bytes text = "The the the, The\n";
  HModel model;
  HHashtable_create(&model, 0);
  const char* empty = "Fatal Error: You're trying to parse an empty file! (HParse_text)\n";
  EXPECT_TRUE(Fails([&] { HParse_text(U(text), 0, &model); }, empty));
  EXPECT_TRUE(Fails([&] { HParse_text(nullptr, 5, &model); }, empty));
  HParse_text(U(text), L(text), &model);
  EXPECT_EQ(model.vocabulary.entry_count, 5);  // The, the, blank, ", ", LF
  HParse_text(U(text), L(text), &model);
  EXPECT_EQ(model.vocabulary.entry_count, 5);
  for (const char* t : {"The", "the", " "}) EXPECT_EQ(HHashtable_lookup(U(t), L(t), &model.vocabulary)->frequency, 4);
  HModel_free(&model, true);
}

}  // namespace
}  // namespace mtest
