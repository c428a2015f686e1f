// The compressed file container: exact bytes of small files, the length
// formula, known corpus sizes, and a reader that refuses every damaged file
// with a fatal failure instead of reading outside it.
#include "test_support.h"

namespace mtest {
namespace {

class ContainerTest : public LibTest {};

const char kLengthError[] = "Error: computing the compressed file length (HDecompress_getBodyAndConsole)\n";

TEST_F(ContainerTest, SmallFilesToTheByte) {
  const Bytes header = Hex(  // text length, token count, code table
      "00 00 00 03  00 00 00 03  00 00 00 01  00 00 00 00 00 00 00 00  00 00 00 00 00 00 00 81 "
      "00 00 00 00 00 00 00 81  00 00 00 00 00 00 00 81");
  EXPECT_EQ(Compress("a b", 0, 128), Hex("00") + header + Hex("00 00 00 01  00 00 00 00 00 00 00 00  00 00 00 06") +
                                         " \na\nb\n" + Hex("00 00 00 03  81 80 82"));
  // The spaceless file has no pointers and leaves the blank out of the body.
  EXPECT_EQ(Compress("a b", 1), Hex("01") + header + Hex("00 00 00 00  00 00 00 06") + " \na\nb\n" +
                                    Hex("00 00 00 02  81 82"));
  EXPECT_EQ(Compress("a b a", 0).substr(45),
            Hex("00 00 00 00  00 00 00 06") + " \na\nb\n" + Hex("00 00 00 05  81 80 82 80 81"));
}

TEST_F(ContainerTest, LengthIsFixedPartPlusPointersDictionaryAndBody) {
  Bytes text;
  for (int i = 0; i < 20000; ++i) text += Word("v", i * 7919 % 3001) + (i % 11 ? " " : ".\r\n");
  for (int rule : {0, 1}) {
    for (int32_t distance : {0, 1, 50, 1 << 30}) {
      Bytes file = Compress(text, rule, distance);
      uint32_t n = Field(file, 45), d = Field(file, 49 + 8 * n), b = Field(file, 53 + 8 * n + d);
      EXPECT_EQ(file.size(), 57 + 8 * n + d + b);
      EXPECT_EQ(Field(file, 1), text.size());
      EXPECT_EQ(n, rule == 1 || distance == 0 ? 0u : distance == 1 << 30 ? 1u : n);
    }
  }
  // One word per line: no blank to leave out, so the files differ only in
  // their first byte.
  Bytes lines = "one\ntwo\nthree\none  two\n";
  EXPECT_EQ(Compress(lines, 0).substr(1), Compress(lines, 1).substr(1));
  // The header's text length is informative only.
  Bytes file = Compress(lines, 0);
  SetField(&file, 1, 5);
  EXPECT_EQ(Decompress(file, 0), lines);
}

TEST_F(ContainerTest, BibleCompressesToKnownSizes) {
  Bytes bible = ReadFile(CorpusDir() / "canterbury" / "bible.txt");
  if (bible.empty()) GTEST_SKIP() << "corpus not found at " << CorpusDir();
  EXPECT_EQ(Compress(bible, 1).size(), 1365460u);
  EXPECT_EQ(Compress(bible, 0, 0).size(), 2011595u);
}

TEST_F(ContainerTest, RefusesEmptyInputAndWrongParsingRule) {
  HBuffer out;
  int32_t n;
  EXPECT_TRUE(Fails([&] { Huffw_compress(U("x"), 0, 0, &out, &n, 0); },
                    "Fatal Error: You're trying to compress an empty file! (Huffw_compress)\n"));
  EXPECT_TRUE(Fails([&] { Huffw_spaceless_compress(nullptr, 5, &out, &n, 0); },
                    "Fatal Error: You're trying to compress an empty file! (Huffw_spaceless_compress)\n"));
  EXPECT_TRUE(Fails([&] { Decompress("", 0); },
                    "Fatal Error: You're trying to decompress an empty file! (Huffw_decompress)\n"));
  EXPECT_TRUE(Fails([&] { Decompress("", 1); },
                    "Fatal Error: You're trying to decompress an empty file! (Huffw_spaceless_decompress)\n"));
  Built built("a b");
  EXPECT_TRUE(Fails([&] { HCompress_getString(&out, &n, 3, built.body.get(), 0, &built.model); },
                    "Fatal Error: You're trying to compress an empty file! (HCompress_getString)\n"));

  Bytes file = Compress("a b", 0, 128);
  file[0] = 2;
  EXPECT_TRUE(Fails([&] { Decompress(file, 0); }, "Fatal Error: First byte of compressed file not 0, actually 2\n"));
  EXPECT_TRUE(Fails([&] { Decompress(file, 1); }, "Fatal Error: First byte of compressed file not 1, actually 2\n"));
  file[0] = '\xFF';
  EXPECT_TRUE(Fails([&] { Decompress(file, 1); }, "Fatal Error: First byte of compressed file not 1, actually -1\n"));
  EXPECT_TRUE(Fails([&] { Decompress(Compress("a b", 1), 0); },
                    "Fatal Error: First byte of compressed file not 0, actually 1\n"));
}

TEST_F(ContainerTest, RefusesTruncatedAndOverlongFiles) {
  for (int rule : {0, 1}) {
    Bytes file = Compress("the cat sat on the mat\n", rule, 4);
    ASSERT_EQ(Decompress(file, rule), "the cat sat on the mat\n");
    for (size_t cut = 1; cut < file.size(); ++cut) {
      ASSERT_TRUE(Fails([&] { Decompress(file.substr(0, cut), rule); }, kLengthError)) << cut;
    }
    EXPECT_TRUE(Fails([&] { Decompress(file + "x", rule); }, kLengthError));
  }
}

TEST_F(ContainerTest, RefusesImpossibleCountsAndLengths) {
  const Bytes good = Compress("a b", 0, 128);  // pointer count at 45, D at 57, B at 67, body at 71
  for (uint32_t huge : {0x7FFFFFFFu, 0xFFFFFFFFu, 0x80000000u, 0x10000000u}) {
    for (size_t at : {45, 57, 67}) {
      Bytes file = good;
      SetField(&file, at, huge);
      EXPECT_TRUE(Fails([&] { Decompress(file, 0); }, kLengthError)) << at << " " << huge;
    }
  }
  for (uint32_t body_length : {2u, 4u}) {
    Bytes file = good;
    SetField(&file, 67, body_length);
    EXPECT_TRUE(Fails([&] { Decompress(file, 0); }, kLengthError));
  }
  Bytes file = good;
  SetField(&file, 5, 2);  // fewer tokens than the dictionary holds
  EXPECT_TRUE(Fails([&] { Decompress(file, 0); }, "Error: num tokens in dictionary (HDictionary_fromstring)\n"));
  file = good;
  file[66] = 'c';  // the dictionary does not end in a newline
  EXPECT_THROW(Decompress(file, 0), HFatalFailure);
  file = good;
  file[71] = 0x01;  // the body does not start with a tagged byte
  EXPECT_TRUE(Fails([&] { Decompress(file, 0); }, "Error: not a tagged byte (HDecompress_nextBlock_bytes)\n"));
  file = Compress("a b", 1);
  file[63] = 0x01;  // the same, caught while putting the blanks back
  EXPECT_TRUE(Fails([&] { Decompress(file, 1); }, "Error: no tagged byte (HCodeword_TaggedGetNext)\n"));
}

// LIBRARY BUG: a stored token count above the number of dictionary entries
// must be refused with the dictionary's "num tokens" message; the reader's
// size guard (two bytes per token) reports the length error instead.
TEST_F(ContainerTest, MoreTokensThanTheDictionaryHoldsIsATokenCountError) {
  for (uint32_t count : {4u, 0x7FFFFFFFu}) {
    Bytes file = Compress("a b", 0, 128);
    SetField(&file, 5, count);
    EXPECT_TRUE(Fails([&] { Decompress(file, 0); }, "Error: num tokens in dictionary (HDictionary_fromstring)\n"))
        << count;
  }
}

TEST_F(ContainerTest, AnySingleByteDamageFailsCleanlyOrDecodes) {
  // The sanitizer build checks that no damaged file is read out of bounds.
  Bytes text;
  for (int i = 0; i < 300; ++i) text += Word("k", i % 150) + (i % 5 ? " " : "\n");
  for (int rule : {0, 1}) {
    const Bytes good = Compress(text, rule, 100);
    for (size_t at = 0; at < good.size(); ++at) {
      for (unsigned v : {0x00u, 0x01u, 0x7Fu, 0x80u, 0xFFu, static_cast<unsigned char>(good[at]) ^ 0x40u}) {
        Bytes file = good;
        file[at] = static_cast<char>(v);
        try {
          Decompress(file, rule);
        } catch (const HFatalFailure&) {
        }
      }
    }
  }
}

}  // namespace
}  // namespace mtest
