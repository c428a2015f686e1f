// The Unicode models (parsing rules 2 and 3): round trips on texts of many
// scripts and on malformed UTF-8, the checksum that finds any single flipped
// bit, and the same file as the ASCII model's on a text of ASCII alone.
#include <random>
#include <string>

#include "codec/container.h"
#include "codec/decompress.h"
#include "test_support.h"
#include "tests/samples.h"
#include "wordmodel/hrule.h"

namespace mtest {
namespace {

class UnicodeTest : public LibTest {};

// Texts the Unicode tokenizer must give back byte for byte: every script of
// the sample, malformed sequences of every kind, a text that is nothing but
// single-code-point words, blanks between words of both kinds, and every
// byte value.
std::vector<Bytes> HardTexts() {
  std::vector<Bytes> texts = {samples::Read("scripts.txt")};
  std::mt19937 rng(3);
  const Bytes pieces[] = {"\xC3", "\x80\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xC0\xAF", "\xE3\x81",
                          "\xE6\x97\xA5\xE6\x9C\xAC", " ", "  ", "a", "\xC3\xA9t\xC3\xA9", "\n", "\xE0\xB8\x81",
                          "\xCC\x81", "x \xE6\x97\xA5 y", "\xF0\x9F\x92\xA1"};
  Bytes mixed;
  for (int i = 0; i < 20000; ++i) mixed += pieces[rng() % std::size(pieces)];
  texts.push_back(mixed);
  const Bytes han[] = {"\xE6\x97\xA5", "\xE6\x9C\xAC", "\xE8\xAA\x9E"};
  Bytes ideographs;
  for (int i = 0; i < 5000; ++i) ideographs += han[rng() % 3];
  texts.push_back(ideographs);
  Bytes all;
  for (int i = 0; i < 4096; ++i) all.push_back(static_cast<char>(rng() % 256));
  texts.push_back(all);
  return texts;
}

TEST_F(UnicodeTest, RoundTripsOfEveryScriptAndOfMalformedText) {
  for (const Bytes& text : HardTexts()) {
    for (int rule : {2, 3}) {
      for (int32_t distance : {0, 1, 64}) {
        if (rule == 3 && distance > 0) continue;
        const Bytes file = Compress(text, rule, distance);
        ASSERT_EQ(file[0], static_cast<char>(rule));
        ASSERT_EQ(Decompress(file, rule), text) << "rule " << rule << ", distance " << distance;
        ASSERT_EQ(DecompressStreamed(file), text) << "rule " << rule;
        EXPECT_NO_THROW(HDecompress_checkPointers(U(file), L(file)));
      }
    }
  }
  // A long text of the sample's scripts, counted by several threads: the
  // file is the same whatever their number.
  Bytes long_text;
  for (int i = 0; long_text.size() < (6u << 20); ++i) long_text += samples::Read("scripts.txt") + Word("\n", i) + "\n";
  for (int rule : {2, 3}) {
    HBuffer one, three;
    int32_t n1 = 0, n3 = 0;
    HCompress_rule(U(long_text), L(long_text), rule, 128, &one, &n1, 0, 1);
    HCompress_rule(U(long_text), L(long_text), rule, 128, &three, &n3, 0, 3);
    ASSERT_EQ(Str(one.get(), n1), Str(three.get(), n3)) << "rule " << rule;
    ASSERT_EQ(Decompress(Str(one.get(), n1), rule), long_text);
  }
}

// On a text of ASCII alone the Unicode models make the same tokens as the
// ASCII ones: the files differ in the rule byte and the four bytes of the
// checksum after the body, nothing else.
TEST_F(UnicodeTest, AsciiTextGivesTheAsciiModelsFileWithAChecksum) {
  Bytes ascii;
  for (char c : samples::Read("tom-sawyer.txt")) {
    if (static_cast<unsigned char>(c) < 0x80) ascii.push_back(c);
  }
  for (int rule : {0, 1}) {
    const Bytes plain = Compress(ascii, rule, 128);
    const Bytes unicode = Compress(ascii, rule + 2, 128);
    ASSERT_EQ(unicode.size(), plain.size() + 4);
    EXPECT_EQ(unicode[0], static_cast<char>(rule + 2));
    EXPECT_EQ(unicode.substr(1, plain.size() - 1), plain.substr(1));
  }
}

// Every single flipped bit of a small file of either Unicode model is found:
// by the decoder, and for the pointers of the words model by their check.
TEST_F(UnicodeTest, TheChecksumFindsEverySingleFlippedBit) {
  const Bytes text = samples::Read("scripts.txt").substr(0, 900);
  for (int rule : {2, 3}) {
    const Bytes file = Compress(text, rule, rule == 2 ? 16 : 0);
    for (size_t at = 0; at < file.size(); ++at) {
      for (int bit = 0; bit < 8; ++bit) {
        Bytes damaged = file;
        damaged[at] = static_cast<char>(damaged[at] ^ (1 << bit));
        bool found = false;
        try {
          Decompress(damaged, rule);
          HDecompress_checkPointers(U(damaged), L(damaged));
        } catch (const HFatalFailure&) {
          found = true;
        }
        ASSERT_TRUE(found) << "rule " << rule << ", byte " << at << ", bit " << bit;
      }
    }
  }
}

}  // namespace
}  // namespace mtest
