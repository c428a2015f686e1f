// The token scanner is the one definition of a token that counting, coding,
// pointers and search all share; these cases pin its byte classes down.
#include <memory>
#include <utility>

#include "test_support.h"

namespace mtest {
namespace {

using V = std::vector<Bytes>;

class TokenTest : public LibTest {};

TEST_F(TokenTest, SplitsWordsSeparatorsAndSingleNewlines) {
  EXPECT_EQ(Tokens("Hello, world.\r\n\nA1"), (V{"Hello", ", ", "world", ".\r", "\n", "\n", "A1"}));
  EXPECT_EQ(Tokens("caf\xE9 x"), (V{"caf", "\xE9 ", "x"}));  // bytes >= 0x80 are separators
  EXPECT_EQ(Tokens("\n\n\n"), (V{"\n", "\n", "\n"}));
  EXPECT_EQ(Tokens(" \n "), (V{" ", "\n", " "}));
  EXPECT_EQ(Tokens(Bytes("a\0\0b", 4)), (V{"a", Bytes("\0\0", 2), "b"}));
  EXPECT_EQ(Tokens("x\r\ny\r\n"), (V{"x", "\r", "\n", "y", "\r", "\n"}));
  EXPECT_EQ(Tokens("\t\x01~\x7F\xFF"), (V{"\t\x01~\x7F\xFF"}));
  for (int c = 0; c < 256; ++c) EXPECT_EQ(Tokens(Bytes(1, static_cast<char>(c))).size(), 1u) << c;
}

TEST_F(TokenTest, ScannerStopsAtTheRemainingCount) {
  // Exact-size heap buffers: the sanitizers flag any read past the end.
  for (auto [s, whole] : {std::pair<const char*, int32_t>{"abc", 3}, {"  ", 2}, {"a b", 1}}) {
    size_t n = std::strlen(s);
    std::unique_ptr<unsigned char[]> text(new unsigned char[n]);
    std::memcpy(text.get(), s, n);
    int32_t length = 0;
    HToken_getLengthNext(text.get() + n - 1, 1, &length);
    EXPECT_EQ(length, 1);
    HToken_getLengthNext(text.get(), static_cast<int32_t>(n), &length);
    EXPECT_EQ(length, whole);
  }
  // A remaining count shorter than the run ends the token early.
  int32_t length = 0;
  HToken_getLengthNext(U("abcdef"), 4, &length);
  EXPECT_EQ(length, 4);
}

TEST_F(TokenTest, CountingIsCaseSensitiveAndAdditive) {
  Bytes text = "The the the, The\n";
  HModel model;
  HHashtable_create(&model, 0);
  HParse_text(U(text), L(text), &model);
  EXPECT_EQ(model.vocabulary.entry_count, 5);  // The, the, blank, ", ", LF
  HParse_text(U(text), L(text), &model);
  EXPECT_EQ(model.vocabulary.entry_count, 5);
  EXPECT_EQ(HHashtable_lookup(U("The"), 3, &model.vocabulary)->frequency, 4);
  EXPECT_EQ(HHashtable_lookup(U("the"), 3, &model.vocabulary)->frequency, 4);
  EXPECT_EQ(HHashtable_lookup(U(" "), 1, &model.vocabulary)->frequency, 4);
  HModel_free(&model, true);
}

TEST_F(TokenTest, RefusesEmptyInput) {
  int32_t length = 0;
  EXPECT_TRUE(Fails([&] { HToken_getLengthNext(U("a"), 0, &length); }, "Error: HToken_getLengthNext\n"));
  HModel model;
  HHashtable_create(&model, 0);
  const char* empty = "Fatal Error: You're trying to parse an empty file! (HParse_text)\n";
  EXPECT_TRUE(Fails([&] { HParse_text(U("a"), 0, &model); }, empty));
  EXPECT_TRUE(Fails([&] { HParse_text(nullptr, 5, &model); }, empty));
  EXPECT_EQ(model.vocabulary.entry_count, 0);
  HModel_free(&model, true);
}

}  // namespace
}  // namespace mtest
