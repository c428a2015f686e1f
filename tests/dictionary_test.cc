// The dictionary string and the code-table block: what a compressed file
// stores so that a reader can rebuild every codeword.
#include "test_support.h"
#include "wordmodel/hdictionary.h"

namespace mtest {
namespace {

class DictionaryTest : public LibTest {};

TEST_F(DictionaryTest, WrapsAStoredStringInPlace) {
  const Bytes s = "aaaa\n";
  HDictionary d;
  HDictionary_fromstring(U(s), L(s), 1, &d);
  EXPECT_EQ(d.string, U(s));
  EXPECT_EQ(d.string_length, 5);
  EXPECT_EQ(d.start[0], 0);

  // The newline token is stored as two newlines, also at the front.
  const Bytes nl = "\n\nx\n\n\ny\n";
  HDictionary_fromstring(U(nl), L(nl), 4, &d);
  EXPECT_EQ(std::vector<int32_t>(d.start.get(), d.start.get() + 4), (std::vector<int32_t>{0, 2, 4, 6}));
  HDictionary_free(&d, false);
  EXPECT_EQ(d.start, nullptr);
}

TEST_F(DictionaryTest, RefusesAMismatchedTokenCount) {
  const Bytes s = " \na\nb\n";
  HDictionary d;
  for (int32_t n : {2, 4, 0}) {
    EXPECT_TRUE(Fails([&] { HDictionary_fromstring(U(s), L(s), n, &d); },
                      "Error: num tokens in dictionary (HDictionary_fromstring)\n")) << n;
  }
  // A last token without its newline: how this is reported is free.
  EXPECT_TRUE(FailsSomehow([&] { HDictionary_fromstring(U(s), L(s) - 1, 3, &d); }));
  EXPECT_TRUE(FailsSomehow([&] { HDictionary_fromstring(U("\n"), 1, 1, &d); }));
}

TEST_F(DictionaryTest, CodeTableBlockRoundTrips) {
  HCodetable t;
  t.max_cw_length = 2;
  for (int l = 1; l <= 4; ++l) {
    t.First_cw[l] = 0x01020304 * l;
    t.Offset[l] = 1000 * l + 7;
  }
  unsigned char block[36];
  HCodetable_tostring(block, &t);
  EXPECT_EQ(Bytes(reinterpret_cast<char*>(block), 8), Hex("00 00 00 02 01 02 03 04"));
  HCodetable back;
  HCodetable_fromstring(block, &back);
  EXPECT_EQ(back.max_cw_length, 2);
  for (int l = 1; l <= 4; ++l) {
    EXPECT_EQ(back.First_cw[l], t.First_cw[l]);
    EXPECT_EQ(back.Offset[l], t.Offset[l]);
  }
}

TEST_F(DictionaryTest, RebuiltVocabularyMatchesTheCompressor) {
  Bytes text;
  for (int i = 0; i < 3000; ++i) text += "t" + std::to_string(i * i % 1009) + (i % 7 ? " " : ",\n");
  Built built(text);
  HBuffer file;
  int32_t file_length;
  HCompress_getString(&file, &file_length, L(text), built.body.get(), built.body_length, &built.model);
  Parsed parsed(Bytes(reinterpret_cast<char*>(file.get()), file_length));
  ASSERT_EQ(parsed.model.vocabulary.entry_count, built.model.vocabulary.entry_count);
  ASSERT_GT(built.model.codetable.max_cw_length, 1);
  const HDictionary& d = parsed.model.dictionary;
  for (int32_t r = 0; r < d.token_count; ++r) {
    int32_t end = r + 1 < d.token_count ? d.start[r + 1] : d.string_length;
    Bytes token(reinterpret_cast<const char*>(d.string) + d.start[r], end - d.start[r] - 1);
    const HNode* mine = built.entry(token);
    const HNode* theirs = HHashtable_lookup(U(token), L(token), &parsed.model.vocabulary);
    ASSERT_TRUE(mine && theirs) << Escape(token);
    EXPECT_EQ(theirs->codeword, mine->codeword);
    EXPECT_EQ(theirs->level, mine->level);
  }
}

TEST_F(DictionaryTest, ListingPrintsBytesReadably) {
  HPrint_string(U("a\t\xFF"), 3);
  EXPECT_EQ(TakeReport(), "a[9][-1]");
  EXPECT_TRUE(Fails([] { HPrint_string(U("a"), -1); }, "Error: negative string length (HPrint_string)\n"));

  Built built("x\ny");
  HDictionary_print(&built.model.dictionary, &built.model, true);
  EXPECT_EQ(TakeReport(),
            "\n\n================== Dictionary ====================\nNumber of tokens = 3, string length = 7\n\n"
            "\n[10]:plain_cw = 0 cwlen 7 (bits)\nx:plain_cw = 1 cwlen 7 (bits)\ny:plain_cw = 2 cwlen 7 (bits)\n\n");
  HDictionary_print(&built.model.dictionary, &built.model, false);
  EXPECT_EQ(TakeReport(),
            "\n\n================== Dictionary ====================\nNumber of tokens = 3, string length = 7\n\n"
            "\n[10]\nx\ny");
}

}  // namespace
}  // namespace mtest
