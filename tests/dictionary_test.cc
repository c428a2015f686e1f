// The dictionary string and the code-table block: what a compressed file
// stores so that a reader can rebuild every codeword.
#include "test_support.h"
#include "wordmodel/hdictionary.h"

namespace mtest {
namespace {

class DictionaryTest : public LibTest {};

TEST_F(DictionaryTest, WrapsAStoredStringInPlace) {
  const Bytes one = "aaaa\n", nl = "\n\nx\n\n\ny\n";  // the newline token is stored as two newlines
  HDictionary d;
  HDictionary_fromstring(U(one), L(one), 1, &d);
  EXPECT_EQ(d.string, U(one));
  EXPECT_EQ(d.start[0], 0);
  HDictionary_fromstring(U(nl), L(nl), 4, &d);
  EXPECT_EQ(std::vector<int32_t>(d.start.get(), d.start.get() + 4), (std::vector<int32_t>{0, 2, 4, 6}));

  const Bytes s = " \na\nb\n";
  for (int32_t n : {0, 2, 4}) {
    EXPECT_TRUE(Fails([&] { HDictionary_fromstring(U(s), L(s), n, &d); },
                      "Error: num tokens in dictionary (HDictionary_fromstring)\n"))
        << n;
  }
  // A last entry without its newline: the wording of the refusal is free.
  EXPECT_THROW(HDictionary_fromstring(U(s), L(s) - 1, 3, &d), HFatalFailure);
  EXPECT_THROW(HDictionary_fromstring(U("\n"), 1, 1, &d), HFatalFailure);
  HDictionary_free(&d, false);
  EXPECT_EQ(d.start, nullptr);
}

TEST_F(DictionaryTest, CodeTableBlockRoundTrips) {
  HCodetable t, back;
  t.max_cw_length = 2;
  for (int l = 1; l <= 4; ++l) {
    t.First_cw[l] = 0x01020304 * l;
    t.Offset[l] = 1000 * l + 7;
  }
  unsigned char block[36];
  HCodetable_tostring(block, &t);
  EXPECT_EQ(Str(block, 8), Hex("00 00 00 02 01 02 03 04"));
  HCodetable_fromstring(block, &back);
  EXPECT_EQ(back.max_cw_length, 2);
  for (int l = 1; l <= 4; ++l) {
    EXPECT_EQ(back.First_cw[l], t.First_cw[l]);
    EXPECT_EQ(back.Offset[l], t.Offset[l]);
  }
}

TEST_F(DictionaryTest, RebuiltVocabularyMatchesTheCompressor) {
  Bytes text;
  for (int i = 0; i < 3000; ++i) text += Word("t", i * i % 1009) + (i % 7 ? " " : ",\n");
  Built built(text);
  ASSERT_GT(built.model.codetable.max_cw_length, 1);
  HBuffer file;
  int32_t file_length;
  HCompress_getString(&file, &file_length, L(text), built.body.get(), built.body_length, &built.model);
  Parsed parsed(Str(file.get(), file_length));
  ASSERT_EQ(parsed.model.vocabulary.entry_count, built.model.vocabulary.entry_count);
  for (const Bytes& token : BodyTokens(parsed.body, parsed.body_length, parsed.model)) {
    const HNode* theirs = HHashtable_lookup(U(token), L(token), &parsed.model.vocabulary);
    ASSERT_EQ(theirs->codeword, built.entry(token)->codeword) << Escape(token);
    ASSERT_EQ(theirs->level, built.entry(token)->level) << Escape(token);
  }
}

TEST_F(DictionaryTest, ListingPrintsBytesReadably) {
  HPrint_string(U("a\t\xFF"), 3);
  EXPECT_EQ(TakeReport(), "a[9][-1]");
  EXPECT_TRUE(Fails([] { HPrint_string(U("a"), -1); }, "Error: negative string length (HPrint_string)\n"));

  Built built("x\ny");
  const std::string head =
      "\n\n================== Dictionary ====================\nNumber of tokens = 3, string length = 6\n\n";
  HDictionary_print(&built.model.dictionary, &built.model, true);
  EXPECT_EQ(TakeReport(), head + "\n[10]:plain_cw = 0 cwlen 7 (bits)\nx:plain_cw = 1 cwlen 7 (bits)\n"
                                 "y:plain_cw = 2 cwlen 7 (bits)\n\n");
  HDictionary_print(&built.model.dictionary, &built.model, false);
  EXPECT_EQ(TakeReport(), head + "\n[10]\nx\ny");
}

}  // namespace
}  // namespace mtest
