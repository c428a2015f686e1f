// The compressed file container: exact bytes of small files, the length
// formula, known sizes of whole books, the auxiliary pointers, the exact refusals of
// damaged files, and the statistics report that lands in the log file.
#include <functional>
#include <string>
#include <vector>

#include "codec/block.h"
#include "test_support.h"
#include "tests/samples.h"
#include "wordmodel/hdictionary.h"
#include "wordmodel/hreport.h"

namespace mtest {
namespace {

class ContainerTest : public LibTest {};

const char kLengthError[] = "Error: computing the compressed file length (HDecompress_getBodyAndConsole)\n";
const char kTokenCount[] = "Error: num tokens in dictionary (HDictionary_fromstring)\n";

TEST_F(ContainerTest, SmallFilesToTheByte) {
  const Bytes header = Hex(  // text length, token count, code table
      "00 00 00 03  00 00 00 03  00 00 00 01  00 00 00 00 00 00 00 00  00 00 00 00 00 00 00 81 "
      "00 00 00 00 00 00 00 81  00 00 00 00 00 00 00 81");
  const Bytes words = Compress("a b", 0, 128), spaceless = Compress("a b", 1);  // 74 and 65 bytes
  EXPECT_EQ(words, Hex("00") + header + Hex("00 00 00 01  00 00 00 00 00 00 00 00  00 00 00 06") + " \na\nb\n" +
                       Hex("00 00 00 03  81 80 82"));
  // The spaceless file has no pointers and leaves the blank out of the body.
  EXPECT_EQ(spaceless, Hex("01") + header + Hex("00 00 00 00  00 00 00 06") + " \na\nb\n" + Hex("00 00 00 02  81 82"));
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

  // Known sizes of whole books, one with CR LF line ends and one with LF.
  const Bytes tom = samples::Read("tom-sawyer.txt"), plants = samples::Read("climbing-plants.txt");
  EXPECT_EQ(Compress(tom, 1).size(), 223282u);
  EXPECT_EQ(Compress(tom, 0, 0).size(), 280713u);
  EXPECT_EQ(Compress(plants, 1).size(), 126136u);
  EXPECT_EQ(Compress(plants, 0, 0).size(), 170101u);
}

using Pairs = std::vector<std::pair<int32_t, int32_t>>;

Pairs PairsOf(const HJumpers& j) {
  Pairs out;
  for (int32_t i = 0; i < j.count; ++i) out.emplace_back(j.text_positions[i], j.body_positions[i]);
  return out;
}
Pairs Marks(const Bytes& text, int32_t distance) { return PairsOf(Parsed(Compress(text, 0, distance)).model.jumpers); }

TEST_F(ContainerTest, PointerMarksFallOnTheFirstTokenStartAtOrAfterThem) {
  EXPECT_EQ(Marks("aaaa bb", 3), (Pairs{{0, 0}, {4, 1}}));
  // After a token longer than the distance, each token gets a pair until
  // the mark catches up.
  EXPECT_EQ(Marks("abcdef gh", 2), (Pairs{{0, 0}, {6, 1}, {7, 2}}));
  EXPECT_EQ(Marks("abcdef gh", 100), (Pairs{{0, 0}}));
  EXPECT_EQ(Marks("ab, cd\n\nef", 1), (Pairs{{0, 0}, {2, 1}, {4, 2}, {6, 3}, {7, 4}, {8, 5}}));
  EXPECT_EQ(Marks("abcdef gh", 0), Pairs{});

  // The stored block: a count, then text and body position pairs.
  EXPECT_EQ(Compress("aaaa bb", 0, 3).substr(45, 20), Hex("0 0 0 2  0 0 0 0  0 0 0 0  0 0 0 4  0 0 0 1"));
}

// Decoding from a pointer's body position gives the text from its text position.
TEST_F(ContainerTest, PointerPairsPointAtTheCodewordOfTheirToken) {
  Bytes text;
  for (int i = 0; i < 4000; ++i) text += Word("w", i % 700) + (i % 9 ? " " : ";\n");
  for (int32_t distance : {1, 7, 64, 1000}) {
    Parsed p(Compress(text, 0, distance));
    ASSERT_GT(p.model.codetable.max_cw_length, 1);
    const HJumpers& j = p.model.jumpers;
    EXPECT_LE(j.count, L(text) / distance + 1);
    for (int32_t i = 0; i < j.count; ++i) {
      const int32_t at = j.text_positions[i], from = j.body_positions[i];
      ASSERT_TRUE(at >= i * distance && (i == 0 || at > j.text_positions[i - 1])) << i;
      ASSERT_TRUE(from >= 0 && from < p.body_length) << i;
      HBuffer decoded;
      int32_t n, covered;
      HDecompress_nextBlock_tokens(p.body + from, p.body_length - from, 2, &decoded, &n, &covered, &p.model);
      ASSERT_EQ(Str(decoded.get(), n), text.substr(at, n)) << i;
    }
  }
}

TEST_F(ContainerTest, RefusalsOfEmptyAndDamagedFiles) {
  HBuffer out;
  int32_t n;
  // good: pointer count at 45, D at 57, B at 67, body at 71; spaceless: body at 63.
  const Bytes good = Compress("a b", 0, 128), spaceless = Compress("a b", 1);
  auto with = [](Bytes f, size_t at, char v) { return f[at] = v, f; };
  struct Case { std::function<void()> f; int rule; Bytes file; std::string message; };
  const Case cases[] = {
      {[&] { Huffw_compress(U("x"), 0, 0, &out, &n, 0); }, 0, "",
       "Fatal Error: You're trying to compress an empty file! (Huffw_compress)\n"},
      {[&] { Huffw_spaceless_compress(nullptr, 5, &out, &n, 0); }, 0, "",
       "Fatal Error: You're trying to compress an empty file! (Huffw_spaceless_compress)\n"},
      {nullptr, 0, "", "Fatal Error: You're trying to decompress an empty file! (Huffw_decompress)\n"},
      {nullptr, 1, "", "Fatal Error: You're trying to decompress an empty file! (Huffw_spaceless_decompress)\n"},
      {nullptr, 0, with(good, 0, 2), "Fatal Error: First byte of compressed file not 0, actually 2\n"},
      {nullptr, 1, with(good, 0, 2), "Fatal Error: First byte of compressed file not 1, actually 2\n"},
      {nullptr, 1, with(good, 0, '\xFF'), "Fatal Error: First byte of compressed file not 1, actually -1\n"},
      {nullptr, 0, spaceless, "Fatal Error: First byte of compressed file not 0, actually 1\n"},
      {nullptr, 0, good + "x", kLengthError},  // a byte more
      {nullptr, 1, spaceless + "x", kLengthError},
      {nullptr, 0, WithField(good, 67, 2), kLengthError},  // body length
      {nullptr, 0, WithField(good, 67, 4), kLengthError},
      {nullptr, 0, WithField(good, 5, 2), kTokenCount},  // fewer or more tokens than the dictionary holds
      {nullptr, 0, WithField(good, 5, 4), kTokenCount},
      {nullptr, 0, WithField(good, 5, 0x7FFFFFFF), kTokenCount},
      {nullptr, 0, with(good, 66, 'c'),
       "Error: dictionary string does not end with a newline (HDictionary_fromstring)\n"},
      {nullptr, 0, with(good, 71, 1), "Error: not a tagged byte (HDecompress_nextBlock_bytes)\n"},
      {nullptr, 1, with(spaceless, 63, 1), "Error: no tagged byte (HCodeword_TaggedGetNext)\n"},  // putting blanks back
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(Fails(c.f ? c.f : [&] { Decompress(c.file, c.rule); }, c.message)) << Escape(c.file);
  }
  for (uint32_t huge : {0x7FFFFFFFu, 0xFFFFFFFFu, 0x80000000u, 0x10000000u}) {
    for (size_t at : {45, 57, 67}) EXPECT_TRUE(Fails([&] { Decompress(WithField(good, at, huge), 0); }, kLengthError));
  }
  for (int rule : {0, 1}) {
    const Bytes file = Compress("the cat sat on the mat\n", rule, 4);
    for (size_t cut = 1; cut < file.size(); ++cut) {
      ASSERT_TRUE(Fails([&] { Decompress(file.substr(0, cut), rule); }, kLengthError)) << cut;
    }
  }
}

// The text must be exactly as long as the header states, on every decode
// path: an understated length is refused as soon as the text passes it (so
// memory stays bounded by the header), an overstated one at the end.
TEST_F(ContainerTest, TextOfAnotherLengthThanStatedIsRefused) {
  Bytes text;
  for (int i = 0; L(text) < 70000; ++i) text += Word("x", i % 500) + (i % 9 ? " " : ",\n");
  const int32_t n = L(text);
  std::vector<unsigned char> area(text.size() + 16);
  int32_t written = 0;
  for (int rule : {0, 1}) {
    const Bytes file = Compress(text, rule);
    EXPECT_EQ(Decompress(file, rule), text);
    EXPECT_EQ(DecompressStreamed(file), text);
    const char* who = rule == 0 ? "Huffw_decompress" : "Huffw_spaceless_decompress";
    for (uint32_t stated : {uint32_t(n - 1), 1000u, 0u, 0x80000000u, uint32_t(n + 1), 0x7FFFFFFFu}) {
      const int32_t as_read = static_cast<int32_t>(stated);
      // A length beyond 31 bits counts as 0.
      const std::string message =
          as_read < n
              ? "Error: body decodes to more than the " + std::to_string(std::max(as_read, 0)) + " bytes of text the header states (" +
                    who + ")\n"
              : "Error: body decodes to " + std::to_string(n) + " bytes of text, the header states " +
                    std::to_string(as_read) + " (" + who + ")\n";
      const Bytes damaged = WithField(file, 1, stated);
      EXPECT_TRUE(Fails([&] { Decompress(damaged, rule); }, message)) << stated;
      EXPECT_TRUE(Fails([&] { DecompressStreamed(damaged); }, message)) << stated;
      if (as_read < n) {
        EXPECT_TRUE(Fails([&] { HDecompress_fileInto(U(damaged), L(damaged), area.data(), static_cast<int64_t>(area.size()), &written, 0); },
                          message))
            << stated;
      }
    }
  }
}

TEST_F(ContainerTest, ReportLines) {
  Compress("a b", 0, 0, 1);
  EXPECT_EQ(TakeReport(),
            "\n------------------- Global infos --------------------\n\n"
            "Parsing rule = 0\nText length = 3\nCompressed body length = 3\n"
            "Dictionary size = 3, Dictionary length = 6\nMax codeword length = 1\n"
            "Number of jumpers = 0, average jump size = 0 chars\n\nOffset[1] = 0, First_cw[1] = 0\n"
            "\n Overall compressed file length = 66, compression ratio (percentage) = 2200.0 \n\n");
  Compress("a b", 0, 0, 0);
  EXPECT_EQ(TakeReport(), "");

  Decompress(Compress("a b", 1), 1, 1);
  std::string report = TakeReport();
  EXPECT_NE(report.find("Parsing rule = 1\nText length = 3\nCompressed body length = 2\n"), std::string::npos);
  EXPECT_NE(report.find("file length = 65, compression ratio (percentage) = 2166.7 \n"), std::string::npos);
  Decompress(Compress("a b", 0, 128), 0, 2);  // level 2 appends the dictionary listing
  report = TakeReport();
  EXPECT_NE(report.find("Number of jumpers = 1, average jump size = 3 chars\n\n"), std::string::npos);
  EXPECT_EQ(report.substr(report.find("\n\n=====")),
            "\n\n================== Dictionary ====================\nNumber of tokens = 3, string length = 6\n\n\n"
            " :plain_cw = 0 cwlen 7 (bits)\na:plain_cw = 1 cwlen 7 (bits)\nb:plain_cw = 2 cwlen 7 (bits)\n\n");

  // Other bytes print as signed values.
  HPrint_string(U("a\t\xFF"), 3);
  EXPECT_EQ(TakeReport(), "a[9][-1]");
  EXPECT_TRUE(Fails([] { HPrint_string(U("a"), -1); }, "Error: negative string length (HPrint_string)\n"));

  // Figures passed in for a three-level table.
  Parsed built(Compress("x\ny", 0));
  built.model.codetable = HCodetable{{0, 1, 128, 0, 0}, {0, 16257, 16512, 0, 16512}, 3, 16384};
  HPrint_globalInfos(&built.model, 100, 1000, 250, 0, 1);
  EXPECT_NE(TakeReport().find("Offset[3] = 0, First_cw[3] = 0\nOffset[2] = 16512, First_cw[2] = 80\n"
                              "Offset[1] = 16257, First_cw[1] = 1\n\n Overall compressed file length = 250, "
                              "compression ratio (percentage) = 25.0 \n\n"),
            std::string::npos);
}

}  // namespace
}  // namespace mtest
