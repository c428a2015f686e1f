// Compression followed by decompression gives back every byte, under both
// models, for the corpus and for texts built to hit the code's corners.
#include <algorithm>
#include <random>

#include "test_support.h"

namespace mtest {
namespace {

class RoundTripTest : public LibTest {
 protected:
  void ExpectRoundTrip(const Bytes& text, int32_t distance = 128) {
    for (int rule : {0, 1}) {
      Bytes back = Decompress(Compress(text, rule, distance), rule);
      ASSERT_EQ(back.size(), text.size()) << "rule " << rule;
      auto diff = std::mismatch(back.begin(), back.end(), text.begin()).first;
      ASSERT_TRUE(diff == back.end()) << "rule " << rule << ", first difference at " << (diff - back.begin());
    }
  }
};

TEST_F(RoundTripTest, Corpus) {
  int files = 0;
  for (const char* set : {"canterbury", "calgary"}) {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(CorpusDir() / set, ec)) {
      SCOPED_TRACE(entry.path().string());
      ExpectRoundTrip(ReadFile(entry.path()));
      ++files;
    }
  }
  if (files == 0) GTEST_SKIP() << "corpus not found at " << CorpusDir();
}

TEST_F(RoundTripTest, ArbitraryBytes) {
  std::mt19937 rng(2024);
  Bytes noise(200000 / kScale, '\0');
  for (char& c : noise) c = static_cast<char>(rng());
  ExpectRoundTrip(noise, 1);
  // Mostly text, with CR LF line ends, zero bytes and bytes from 0x80 up.
  const std::vector<Bytes> pieces = {"caf\xE9", " ", "\r\n", "word", Bytes(1, '\0'), "\xFF\xFE", "x1", "  ", "\t"};
  Bytes mixed;
  for (int i = 0; i < 100000 / kScale; ++i) mixed += pieces[rng() % pieces.size()];
  ExpectRoundTrip(mixed + Bytes(2, '\0'), 3);
}

TEST_F(RoundTripTest, DegenerateTexts) {
  for (int c : {0x61, 0x20, 0x0A, 0x0D, 0x00, 0x80, 0xFF}) ExpectRoundTrip(Bytes(1, static_cast<char>(c)));
  for (const char* s : {" ", "  ", " a", "a ", "a b ", " a b", "a \n", "a b\n", "\n a", "a  b", "1 2 3", "\n\n"}) {
    SCOPED_TRACE(Escape(s));
    ExpectRoundTrip(s, 1);
  }
  ExpectRoundTrip(Bytes(30000 / kScale, '\n'));
  ExpectRoundTrip(Bytes(2000000 / kScale, 'x'));                      // one huge word
  ExpectRoundTrip(Bytes("a").append(1000000 / kScale, '-') + "b\n");  // one huge separator
  Bytes no_blanks;
  for (int i = 0; i < 5000; ++i) no_blanks += Word("line", i % 300) + (i % 3 ? ",\n" : "\n");
  ExpectRoundTrip(no_blanks);
}

// 127, 254 and 255 tokens leave 128, 128 and 127 filler leaves in the
// tree; 128 of them form an inner node of weight 0.
TEST_F(RoundTripTest, VocabularySizesAroundMultiplesOf127) {
  for (int tokens : {127, 128, 254, 255, 381, 382}) {
    Bytes text;
    for (int i = 0; i < tokens - 1; ++i) text += Word("q", i) + (i % 4 ? " " : " q0 q1 ");
    ASSERT_EQ(Field(Compress(text, 0), 5), static_cast<uint32_t>(tokens));
    SCOPED_TRACE(tokens);
    ExpectRoundTrip(text);
  }
}

TEST_F(RoundTripTest, VocabularyThatNeedsRescaling) {
  // Frequencies 1, 3, 130 and 521 in groups of 127 words chain the first
  // Huffman tree five levels deep.
  std::vector<Bytes> words;
  auto add = [&](int from, int to, int freq) {
    for (int i = from; i < to; ++i) words.insert(words.end(), freq, Word("r", i));
  };
  add(0, 129, 1);
  add(129, 256, 3);
  add(256, 383, 130);
  add(383, 509, 521);
  std::shuffle(words.begin(), words.end(), std::mt19937(5));
  Bytes text;
  for (const Bytes& w : words) text += w + " ";
  Bytes file = Compress(text, 0);
  EXPECT_EQ(Field(file, 5), 510u);
  EXPECT_LE(Field(file, 9), 4u);
  ExpectRoundTrip(text);
}

// The spaceless body is the words-and-separators body without the blanks
// that stand between two words, and expanding it gives the full body back.
TEST_F(RoundTripTest, SpacelessBodyIsTheContractedFullBody) {
  std::vector<Bytes> texts = {"a b \nc , d  e f ", " a b", "a b ", "a \n\n b"};
  texts.push_back(ReadFile(CorpusDir() / "canterbury" / "alice29.txt"));
  HBuffer contracted, expanded;
  int32_t contracted_length, expanded_length;
  for (const Bytes& text : texts) {
    if (text.empty()) continue;
    SCOPED_TRACE(Escape(text.substr(0, 20)));
    Parsed full(Compress(text, 0)), spaceless(Compress(text, 1));
    HCompress_contractSpaces(full.body, full.body_length, &contracted, &contracted_length, &full.model);
    ASSERT_EQ(Str(contracted.get(), contracted_length), Str(spaceless.body, spaceless.body_length));
    HDecompress_expandSpaces(spaceless.body, spaceless.body_length, &expanded, &expanded_length, &spaceless.model);
    ASSERT_EQ(Str(expanded.get(), expanded_length), Str(full.body, full.body_length));
  }
  // Without a blank token the body itself is the result.
  Parsed lines(Compress("a\nb,c\n", 0));
  HCompress_contractSpaces(lines.body, lines.body_length, &contracted, &contracted_length, &lines.model);
  EXPECT_EQ(contracted, nullptr);
  EXPECT_EQ(contracted_length, lines.body_length);
  HDecompress_expandSpaces(lines.body, lines.body_length, &expanded, &expanded_length, &lines.model);
  EXPECT_EQ(expanded, nullptr);
  EXPECT_EQ(expanded_length, lines.body_length);
  EXPECT_TRUE(Fails([&] { HCompress_contractSpaces(nullptr, 0, &contracted, &contracted_length, &lines.model); },
                    "Fatal Error: You're trying to compress an empty file! (HCompress_contractSpaces)\n"));
}

TEST_F(RoundTripTest, SpacelessModelDropsOnlyBlanksBetweenWords) {
  using V = std::vector<Bytes>;
  auto body = [](const Bytes& text) {
    Parsed p(Compress(text, 1));
    return BodyTokens(p.body, p.body_length, p.model);
  };
  EXPECT_EQ(body("a b"), (V{"a", "b"}));
  EXPECT_EQ(body("a  b"), (V{"a", "  ", "b"}));
  EXPECT_EQ(body("a b\n"), (V{"a", "b", "\n"}));
  EXPECT_EQ(body("a \n"), (V{"a", " ", "\n"}));
  EXPECT_EQ(body("a b "), (V{"a", "b", " "}));
  EXPECT_EQ(body(" a b, c"), (V{" ", "a", "b", ", ", "c"}));
  EXPECT_EQ(Field(Compress("a b", 1), 5), 3u);  // the blank is still in the vocabulary
}

}  // namespace
}  // namespace mtest
