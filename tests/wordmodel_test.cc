// The word model's parts: the token scanner (the one definition of a token
// that counting, coding, pointers and search share), the vocabulary hash
// table, tagged codewords, and the radix-128 Huffman code: levels from the
// tree, the canonical code table (including levels without tokens), rank
// order and rescaling.
#include <functional>
#include <memory>
#include <random>

#include "test_support.h"
#include "wordmodel/hdecode.h"
#include "wordmodel/hdictionary.h"
#include "wordmodel/hufftree.h"
#include "wordmodel/hmodel_free.h"
#include "wordmodel/hsort.h"

namespace mtest {
namespace {

class WordModelTest : public LibTest {};

V Tokens(const Bytes& text) {
  V tokens;
  for (int32_t p = 0, n = 0; p < L(text); p += n) {
    HToken_getLengthNext(U(text) + p, L(text) - p, &n);
    tokens.push_back(text.substr(p, n));
  }
  return tokens;
}

TEST_F(WordModelTest, TokensAreWordsSeparatorsAndSingleNewlines) {
  EXPECT_EQ(Tokens("Hello, world.\r\n\nA1"), (V{"Hello", ", ", "world", ".\r", "\n", "\n", "A1"}));
  EXPECT_EQ(Tokens("caf\xE9 x"), (V{"caf", "\xE9 ", "x"}));  // bytes from 0x80 up are separators
  EXPECT_EQ(Tokens(" \n "), (V{" ", "\n", " "}));
  EXPECT_EQ(Tokens(Bytes("a\0\0b", 4)), (V{"a", Bytes(2, '\0'), "b"}));
  EXPECT_EQ(Tokens("\t\x01~\x7F\xFFZz09"), (V{"\t\x01~\x7F\xFF", "Zz09"}));
  // The scanner stops at the remaining count; the exact-size buffer lets the
  // sanitizers catch any read past it.
  std::unique_ptr<unsigned char[]> text(new unsigned char[2]{'a', 'b'});
  int32_t n;
  HToken_getLengthNext(text.get(), 1, &n);
  EXPECT_EQ(n, 1);
  EXPECT_TRUE(Fails([&] { HToken_getLengthNext(text.get(), 0, &n); }, "Error: HToken_getLengthNext\n"));
}

// The token starts of a dictionary string, read the plain way: each token
// from its first byte to the next newline after it.
std::vector<int32_t> PlainStarts(const Bytes& s, bool* complete) {
  std::vector<int32_t> starts;
  *complete = true;
  for (size_t pos = 0; pos < s.size();) {
    starts.push_back(static_cast<int32_t>(pos));
    const size_t nl = s.find('\n', pos + 1);
    if (nl == Bytes::npos) {
      *complete = false;
      break;
    }
    pos = nl + 1;
  }
  return starts;
}

TEST_F(WordModelTest, DictionaryStartsOnRandomStringsAndDamage) {
  // Strings of short tokens over a small alphabet with many newlines, so
  // that runs of newlines (the newline token, and damage) fall at every
  // place of the wide compares; the count given is right, one less or one
  // more.
  std::mt19937 random(7);
  const char alphabet[] = "ab \n\n\n";
  for (int round = 0; round < 3000; ++round) {
    Bytes s(random() % 600, 'x');
    // Half the strings have newline runs only now and then, so that whole
    // blocks of them have no two newlines side by side.
    const bool sparse = round % 2;
    for (char& c : s) c = sparse && random() % 8 ? "abcdefg\n"[random() % 8] : alphabet[random() % (sizeof alphabet - 1)];
    bool complete;
    const std::vector<int32_t> starts = PlainStarts(s, &complete);
    const auto n = static_cast<int32_t>(starts.size());
    for (int32_t given : {n, n - 1, n + 1}) {
      if (given < 0) continue;
      // The counting reader checks and fails as the indexing one does.
      for (auto read : {HDictionary_fromstring, HDictionary_fromstringCounted}) {
        HDictionary d;
        if (!complete) {
          EXPECT_TRUE(Fails([&] { read(U(s), L(s), given, &d); },
                            "Error: dictionary string does not end with a newline (HDictionary_fromstring)\n"));
        } else if (given != n) {
          EXPECT_TRUE(Fails([&] { read(U(s), L(s), given, &d); },
                            "Error: num tokens in dictionary (HDictionary_fromstring)\n"))
              << Escape(s);
        } else {
          read(U(s), L(s), given, &d);
          EXPECT_EQ(d.token_count, n);
          if (d.start) {
            ASSERT_EQ(std::vector<int32_t>(d.start.get(), d.start.get() + n), starts) << Escape(s);
          }
        }
      }
    }
  }
}

// The block-wise token starts give the scanner's tokens exactly: every byte
// value, tokens across blocks of 64 and much longer than one, stretches
// that start after a newline anywhere and end anywhere (cutting a token),
// and texts that end inside a block. The text is an exact-size copy, so
// that the sanitizers catch a read past it.
TEST_F(WordModelTest, BlockwiseTokenStartsAgreeWithTheScanner) {
  std::mt19937 rng(5);
  const Bytes pieces[] = {"a", "Zq9", " ", "\n", "\r\n", ".,;", "\xE9", Bytes(1, '\0'), "\x7F\xFF",
                          Bytes(150, 'x'), Bytes(70, ' '), "@[`{/:", "b c", "d e f"};
  for (int round = 0; round < 40; ++round) {
    Bytes text;
    const size_t target = 1 + rng() % (round < 20 ? 200 : 5000);
    while (text.size() < target) text += pieces[rng() % std::size(pieces)];
    if (round % 3 == 0) {  // every byte value
      for (int c = 0; c < 256; ++c) text.push_back(static_cast<char>(rng() % 256));
    }
    std::unique_ptr<unsigned char[]> copy(new unsigned char[text.size()]);
    std::memcpy(copy.get(), text.data(), text.size());
    const int64_t length = L(text);
    std::vector<int64_t> begins = {0};
    for (int64_t i = 0; i + 1 < length; ++i) {
      if (text[static_cast<size_t>(i)] == '\n') begins.push_back(i + 1);
    }
    for (int64_t begin : begins) {
      for (int64_t end : {length, begin + 1 + static_cast<int64_t>(rng() % static_cast<uint32_t>(length - begin))}) {
        for (bool drop : {false, true}) {
          // The scanner's tokens; with `drop`, the spaceless variant's: the
          // blanks that stand alone between two letters or digits of the
          // stretch are left out, each flagged on the start that follows.
          std::vector<int32_t> expected, expected_flags;
          int32_t flag = 0;
          for (int64_t p = begin; p < end;) {
            int64_t q = p + HToken_scan(copy.get() + p, static_cast<int32_t>(end - p));
            if (drop && q + 1 < end && copy[q] == ' ' && HToken_isWordByte(copy[q - 1]) &&
                HToken_isWordByte(copy[q + 1])) {
              ++q;  // the blank is left out
              flag = 1;
            }
            expected.push_back(static_cast<int32_t>(q));
            expected_flags.push_back(q < end ? flag : 0);
            flag = 0;
            p = q;
          }
          // Filled a block at a time, whatever the number asked for.
          HTokenStarts starts;
          if (drop) HTokenStarts_init<true>(&starts, copy.get(), length, begin, end);
          else HTokenStarts_init(&starts, copy.get(), length, begin, end);
          std::vector<int32_t> filled, filled_flags;
          std::vector<int32_t> at(200), after(200);
          for (int64_t p = begin; p < end;) {
            const int32_t want = 1 + static_cast<int32_t>(rng() % 40);
            const int32_t n = drop ? HTokenStarts_fill<true>(&starts, want, at.data(), after.data())
                                   : HTokenStarts_fill(&starts, want, at.data(), after.data());
            ASSERT_TRUE(n >= 1 && n <= want + 64) << n;
            ASSERT_TRUE(n >= want || at[static_cast<size_t>(n - 1)] == end) << "fewer only at the end";
            for (int32_t i = 0; i < n; ++i) {
              filled.push_back(at[static_cast<size_t>(i)]);
              filled_flags.push_back(drop ? after[static_cast<size_t>(i)] : 0);
            }
            p = at[static_cast<size_t>(n - 1)];
          }
          ASSERT_EQ(filled, expected) << "round " << round << ", stretch [" << begin << ", " << end << "), drop "
                                      << drop;
          ASSERT_EQ(filled_flags, expected_flags) << "round " << round << ", drop " << drop;
        }
      }
    }
  }
}

// The same under the Unicode models: characters of every class and length,
// single-code-point words among words, and malformed UTF-8 (cut sequences,
// surrogates, overlong forms, bytes beyond U+10FFFF), in stretches that
// start after any newline and end anywhere.
TEST_F(WordModelTest, UnicodeBlockwiseTokenStartsAgreeWithTheScanner) {
  std::mt19937 rng(11);
  const Bytes pieces[] = {"a", "Zq9", " ", "\n", "\r\n", ".,", "\xC3\xA9", "\xC3\x9F", "\xE6\x97\xA5", "\xE6\x9C\xAC",
                          "\xE0\xB8\x81", "\xE0\xB8\xB1", "\xCE\xA3", "\xF0\x9F\x92\xA1", "\xC2\xBD", "\xCC\x81",
                          "\xE2\x80\x94", "\xD0\x9C\xD0\xBE", "\xC3", "\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                          "\xC0\xAF", "\xE3\x81\x82 \xE3\x81\x84", "x \xC3\xA9", Bytes(70, ' '),
                          "\xF0\xA0\x80\x80", "\xE2\x80\xA8"};
  for (int round = 0; round < 40; ++round) {
    Bytes text;
    const size_t target = 1 + rng() % (round < 20 ? 200 : 5000);
    while (text.size() < target) text += pieces[rng() % std::size(pieces)];
    std::unique_ptr<unsigned char[]> copy(new unsigned char[text.size()]);
    std::memcpy(copy.get(), text.data(), text.size());
    const int64_t length = L(text);
    std::vector<int64_t> begins = {0};
    for (int64_t i = 0; i + 1 < length; ++i) {
      if (text[static_cast<size_t>(i)] == '\n') begins.push_back(i + 1);
    }
    for (int64_t begin : begins) {
      for (int64_t end : {length, begin + 1 + static_cast<int64_t>(rng() % static_cast<uint32_t>(length - begin))}) {
        // A stretch ends after a newline or at the text's end: never inside a character.
        if (end < length && copy[end - 1] != '\n') continue;
        for (bool drop : {false, true}) {
          std::vector<int32_t> expected, expected_flags;
          int32_t flag = 0;
          for (int64_t p = begin; p < end;) {
            int64_t q = p + HUnicode_scan(copy.get() + p, end - p);
            int64_t before;
            int32_t n;
            if (drop && q + 1 < end && copy[q] == ' ' && HUnicode_classBefore(copy.get(), q, &before) == HCHAR_WORD &&
                HUnicode_classAt(copy.get() + q + 1, end - q - 1, &n) == HCHAR_WORD) {
              ++q;
              flag = 1;
            }
            expected.push_back(static_cast<int32_t>(q));
            expected_flags.push_back(q < end ? flag : 0);
            flag = 0;
            p = q;
          }
          HTokenStarts starts;
          if (drop) HTokenStarts_init<true, true>(&starts, copy.get(), length, begin, end);
          else HTokenStarts_init<false, true>(&starts, copy.get(), length, begin, end);
          std::vector<int32_t> filled, filled_flags;
          std::vector<int32_t> at(200), after(200);
          for (int64_t p = begin; p < end;) {
            const int32_t want = 1 + static_cast<int32_t>(rng() % 40);
            const int32_t n = drop ? HTokenStarts_fill<true, true>(&starts, want, at.data(), after.data())
                                   : HTokenStarts_fill<false, true>(&starts, want, at.data(), after.data());
            for (int32_t i = 0; i < n; ++i) {
              filled.push_back(at[static_cast<size_t>(i)]);
              filled_flags.push_back(drop ? after[static_cast<size_t>(i)] : 0);
            }
            p = at[static_cast<size_t>(n - 1)];
          }
          ASSERT_EQ(filled, expected) << "round " << round << ", stretch [" << begin << ", " << end << "), drop "
                                      << drop;
          ASSERT_EQ(filled_flags, expected_flags) << "round " << round << ", drop " << drop;
        }
      }
    }
  }
}

TEST_F(WordModelTest, HashValuesAndBuckets) {
  HModel model;
  HHashtable_create(&model, 5);
  const HHashtable* t = &model.vocabulary;
  ASSERT_EQ(t->bucket_count, 18);
  EXPECT_EQ(HHashtable_hashValue(U("a"), 1), 456);
  EXPECT_EQ(HHashtable_hash(U("a"), 1, t), 6);
  // A negative hash value: the truncated remainder is -15, the bucket 15.
  int32_t h = HHashtable_hashValue(U("abcdefgh"), 8);
  EXPECT_TRUE(h < 0 && h % 18 == -15) << h;
  EXPECT_EQ(HHashtable_hash(U("abcdefgh"), 8, t), 15);
  HModel_free(&model, true);
}

// Words crafted to share one documented hash value must not share a chain:
// a table placed by that value would hold all of them in one chain and make
// counting, coding and the decoder's rebuild quadratic.
TEST_F(WordModelTest, CraftedCollisionsSpreadOverShortChains) {
  const V words = CraftedCollisions(12);
  ASSERT_EQ(words.size(), 4096u);
  const int32_t value = HHashtable_hashValue(U(words[0]), L(words[0]));
  HModel model;
  HHashtable_create(&model, 0);
  for (const Bytes& w : words) {
    ASSERT_EQ(HHashtable_hashValue(U(w), L(w)), value) << w;
    ASSERT_EQ(HHashtable_insert(U(w), L(w), &model.vocabulary), 1) << w;
  }
  const HHashtable& t = model.vocabulary;
  EXPECT_EQ(t.entry_count, 4096);
  EXPECT_LE(HHashtable_longestChain(&t), 24);
  EXPECT_GE(t.chain_mask + 1, static_cast<uint64_t>(t.entry_count));  // the chains grew with the entries
  for (int32_t i = 0; i < t.entry_count; ++i) {
    ASSERT_EQ(HHashtable_lookup(U(words[i]), L(words[i]), &t), t.entries[i]);
    ASSERT_EQ(t.entries[i]->id, i);
  }
  HModel_free(&model, true);

  Bytes text;
  for (const Bytes& w : words) text += w + " ";
  Parsed p(Compress(text, 0));  // the decoder's table, rebuilt from the dictionary
  EXPECT_EQ(p.model.vocabulary.entry_count, 4097);
  EXPECT_LE(HHashtable_longestChain(&p.model.vocabulary), 24);
}

// The linear sort orders as a stable comparison sort does: keys that differ
// only in high bits, in low bits, or not at all, lists below and above the
// size where it takes over.
TEST_F(WordModelTest, RadixSortIsAStableSortByKey) {
  std::mt19937_64 random(7);
  for (size_t n : {0, 1, 2047, 2048, 100000}) {
    for (uint64_t mask : {~uint64_t{0}, uint64_t{0xFF00000000000000}, uint64_t{0x3}, uint64_t{0}}) {
      std::vector<std::pair<uint64_t, size_t>> items(n);
      for (size_t i = 0; i < n; ++i) items[i] = {random() & mask, i};
      auto expected = items;
      std::stable_sort(expected.begin(), expected.end(),
                       [](const auto& x, const auto& y) { return x.first < y.first; });
      HSort_radix(&items, [](const std::pair<uint64_t, size_t>& x) { return x.first; });
      ASSERT_TRUE(items == expected) << "n " << n << ", mask " << std::hex << mask;
    }
  }
}

TEST_F(WordModelTest, CodewordConversions) {
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
}

#if defined(__SSE2__)
// The block decoder reads the plain value of every codeword of a 64-byte
// block at once, from the four bytes before each codeword end. Random
// blocks of codewords of one to four bytes, those reaching back into the
// four bytes before the block included, give what the codeword conversion
// gives for each of them.
TEST_F(WordModelTest, BlockPlainsAreThoseOfTheCodewords) {
  std::mt19937 rng(11);
  for (int round = 0; round < 2000; ++round) {
    unsigned char bytes[4 + 64 + 8];
    std::vector<int> starts;  // codeword starts, as offsets into bytes
    int at = static_cast<int>(rng() % 4);
    while (at < 4 + 64) {
      const int len = 1 + static_cast<int>(rng() % 4);
      starts.push_back(at);
      for (int k = 0; k < len && at + k < static_cast<int>(sizeof bytes); ++k) {
        // Untagged bytes from 0 to 0x7F, extremes often.
        const uint32_t r = rng();
        const unsigned char b = r % 5 == 0 ? 0x7F : r % 5 == 1 ? 0x00 : static_cast<unsigned char>(r & 0x7F);
        bytes[at + k] = k == 0 ? static_cast<unsigned char>(b | 0x80) : b;
      }
      at += len;
    }
    for (int k = 0; k < 4; ++k) {  // bytes before the first start: untagged
      if (k < starts[0]) bytes[k] = static_cast<unsigned char>(rng() & 0x7F);
    }
    alignas(16) uint32_t plain[64];
    HDecode_blockPlains(bytes + 4, plain);
    for (size_t i = 0; i + 1 < starts.size(); ++i) {
      const int end = starts[i + 1];  // the codeword ends before the next start
      if (end < 4 || end >= 4 + 64) continue;
      const int len = end - starts[i];
      HCodeword tagged = 0;
      for (int k = 0; k < len; ++k) tagged = (tagged << 8) | bytes[starts[i] + k];
      uint32_t expected;
      int32_t bits;
      HCodeword_PlainFromTagged(tagged, len, &expected, &bits);
      ASSERT_EQ(plain[end - 4], expected) << "round " << round << ", codeword of " << len << " bytes ending at "
                                          << end - 4;
    }
  }
}
#endif

// Exact-size heap buffers: reading the last byte, or walking back over
// bytes without a tag, must stay inside.
TEST_F(WordModelTest, CodewordsReadForwardAndBackward) {
  std::unique_ptr<unsigned char[]> body(new unsigned char[3]{0x81, 0x05, 0x83});
  HCodeword cw;
  int32_t len, rank;
  HCodeword_TaggedGetNext(body.get(), 3, &cw, &len);
  EXPECT_EQ(std::make_pair(cw, len), std::make_pair(0x8105u, 2));
  HCodeword_TaggedGetPrevious(body.get() + 2, 2, &cw, &len);
  EXPECT_EQ(std::make_pair(cw, len), std::make_pair(0x8105u, 2));
  HCodeword_TaggedGetNext(body.get() + 2, 1, &cw, &len);
  EXPECT_EQ(std::make_pair(cw, len), std::make_pair(0x83u, 1));

  // The newline token is stored as two newlines and read back as one.
  Parsed p(Compress("a\nb", 0));  // newline sorts first: LF LF a LF b LF
  const HDictionary& d = p.model.dictionary;
  EXPECT_EQ(Str(d.string, d.string_length), "\n\na\nb\n");
  EXPECT_EQ(std::vector<int32_t>(d.start.get(), d.start.get() + 3), (std::vector<int32_t>{0, 2, 4}));
  EXPECT_EQ(BodyTokens(p.body, p.body_length, p.model), (V{"a", "\n", "b"}));
  HBuffer token;
  EXPECT_EQ(HToken_TaggedGetPrevious(p.body + 2, 0, &p.model, &token, &len, &rank), 0);
  ASSERT_EQ(HToken_TaggedGetPrevious(p.body + 2, 2, &p.model, &token, &len, &rank), 1);
  EXPECT_EQ(Str(token.get(), len), "\n");

  const unsigned char* u = body.get() + 1;  // 05 83
  const unsigned char six[] = {0x81, 1, 2, 3, 4, 5};
  const std::pair<std::function<void()>, const char*> failures[] = {
      // One tagged byte and five untagged ones read as one codeword of 6 bytes.
      {[&] { HToken_TaggedGetNext(six, 6, &p.model, &token, &len, &rank); },
       "Error: HToken_RankFromTaggedCw - length no in [1,4]\n"},
      {[&] { HCodeword_TaggedGetNext(u, 0, &cw, &len); }, "Error: no byte left (HCodeword_TaggedGetNext)\n"},
      {[&] { HCodeword_TaggedGetNext(u, 1, &cw, &len); }, "Error: no tagged byte (HCodeword_TaggedGetNext)\n"},
      {[&] { HCodeword_TaggedGetPrevious(u, 0, &cw, &len); }, "Error: no byte left (HCodeword_TaggedGetPrevious)\n"},
      {[&] { HCodeword_TaggedGetPrevious(u, 1, &cw, &len); }, "Error: no tagged byte (HCodeword_TaggedGetPrevious)\n"},
      {[&] { HCodeword_TaggedGetPrevious(u + 1, 1, &cw, &len); },
       "Error: no tagged byte before the position (HCodeword_TaggedGetPrevious)\n"},
      {[&] { HCodeword_TaggedFromToken(U("c"), 1, &p.model, &cw, &len); },
       "Error: token not found (HCodeword_TaggedFromToken)\n"},
      {[&] { HToken_fromTaggedCw(0x83, 1, &p.model.codetable, &d, &token, &len); },
       "Error: token_startpos computation (HToken_fromTaggedCw)\n"},
  };
  for (const auto& [f, message] : failures) EXPECT_TRUE(Fails(f, message)) << message;
}

using Ints = std::vector<int32_t>;

class HufftreeTest : public LibTest {
 protected:
  ~HufftreeTest() override { HModel_free(&model_, true); }

  // Tokens "w0", "w1", ... with the given frequencies, and their code.
  template <class F>
  void Build(int32_t n, F freq, int32_t threads = 1, const char* prefix = "w") {
    HHashtable_create(&model_, n);
    int is_new;
    for (int32_t i = 0; i < n; ++i) {
      HHashtable_insertEntry(U(Word(prefix, i)), L(Word(prefix, i)), &model_.vocabulary, &is_new)->frequency = freq(i);
    }
    Hufftree_build(&model_, &storage_, threads);
    HCodetable_fromtree(storage_.array.data(), &model_.codetable, &model_);
  }
  const HNode* Entry(int32_t i) { return HHashtable_lookup(U(Word("w", i)), L(Word("w", i)), &model_.vocabulary); }

  // The table; then every rank converts to a codeword of 1..max bytes and
  // back, and each token holds the codeword of its rank.
  void ExpectCode(int32_t max, Ints first_cw, Ints offset) {
    const HCodetable& t = model_.codetable;
    EXPECT_EQ(t.max_cw_length, max);
    EXPECT_EQ(Ints(t.First_cw + 1, t.First_cw + 5), first_cw);
    EXPECT_EQ(Ints(t.Offset + 1, t.Offset + 5), offset);
    ASSERT_EQ(t.token_count, model_.vocabulary.entry_count);
    for (int32_t r = 0; r < t.token_count; ++r) {
      HCodeword cw;
      int32_t bytes, back;
      HCodeword_TaggedFromTokenrank(r, &t, &cw, &bytes);
      ASSERT_TRUE(bytes >= 1 && bytes <= max);
      HToken_RankFromTaggedCw(cw, bytes, &t, &back);
      ASSERT_EQ(back, r);
      ASSERT_EQ(storage_.array[r]->codeword, cw);
      ASSERT_EQ(storage_.array[r]->level, bytes);
    }
  }

  HModel model_;
  HTreeStorage storage_;
};

TEST_F(HufftreeTest, SmallTextsShareLevelOneInByteOrder) {
  Parsed b(Compress("a b a", 0));
  EXPECT_EQ(b.model.codetable.max_cw_length, 1);
  EXPECT_EQ(Ints(b.model.codetable.Offset + 1, b.model.codetable.Offset + 5), (Ints{0, 129, 129, 129}));
  EXPECT_EQ(b.entry(" ")->codeword, 0x80u);
  EXPECT_EQ(b.entry("a")->codeword, 0x81u);
  EXPECT_EQ(b.entry("b")->codeword, 0x82u);
  EXPECT_EQ(Str(b.body, b.body_length), Hex("81 80 82 80 81"));
  EXPECT_EQ(Str(b.model.dictionary.string, b.model.dictionary.string_length), " \na\nb\n");
  Parsed u(Compress("a\xE9z", 0));  // bytes compare unsigned: 0xE9 after 'z'
  EXPECT_EQ(Str(u.model.dictionary.string, 6), "a\nz\n\xE9\n");
}

TEST_F(HufftreeTest, OneRareTokenOfHundredTwentyEightGoesDown) {
  Build(128, [](int32_t i) { return i == 77 ? 1 : 2; });
  ExpectCode(2, {1, 0, 0, 0}, {1, 0, 256, 256});
  EXPECT_EQ(storage_.array[0], Entry(77));
  EXPECT_EQ(Entry(77)->codeword, 0x8000u);
  EXPECT_EQ(storage_.array[1]->codeword, 0x81u);
  EXPECT_EQ(storage_.array[127]->codeword, 0xFFu);
}

TEST_F(HufftreeTest, EmptyMiddleLevel) {
  // 127 tokens heavier than the 16257 single ones together: level 2 holds
  // no token, but its prefixes 0..127 lead on to level 3.
  const int32_t n = 16384;
  Build(n, [](int32_t i) { return i < 127 ? 20000 : 1; });
  ExpectCode(3, {1, 128, 0, 0}, {n - 127, 16512, 0, 16512});
  EXPECT_EQ(storage_.array[n - 127]->codeword, 0x81u);
  EXPECT_EQ(storage_.array[n - 127]->level, 1);
  EXPECT_EQ(Entry(n - 1)->level, 3);
}

TEST_F(HufftreeTest, DeepTreeIsRescaledToFourLevels) {
  // Groups of frequencies 1, 3, 130, 521, each above the node that the
  // group before it forms, chain the first tree five levels deep; only the
  // rescaling changes frequencies.
  Build(2 + 4 * 127, [](int32_t i) { return i < 129 ? 1 : i < 256 ? 3 : i < 383 ? 130 : 521; });
  EXPECT_LE(model_.codetable.max_cw_length, 4);
  EXPECT_EQ(Entry(0)->frequency, 1);
  EXPECT_EQ(Entry(200)->frequency, 2);
  EXPECT_EQ(Entry(300)->frequency, 81);
  EXPECT_EQ(Entry(400)->frequency, 323);  // 0.6180339887 would give 322
  const HCodetable& t = model_.codetable;  // as built: only its consistency is checked
  ExpectCode(t.max_cw_length, Ints(t.First_cw + 1, t.First_cw + 5), Ints(t.Offset + 1, t.Offset + 5));
}

// A large vocabulary is sorted by its bytes on a second thread while the
// tree is built, and that order serves every rescaling round: the code is
// the one a single thread builds. Most tokens share their first 8 bytes.
TEST_F(HufftreeTest, SecondThreadGivesTheSameCode) {
  const int32_t n = 40000;  // above the size that takes the second thread
  auto freq = [](int32_t i) { return i % 1000 == 0 ? 1000000 + i : 1 + (i * 7919) % 97; };
  Build(n, freq, 1, "wwwwwwww");
  std::vector<std::pair<Bytes, HCodeword>> one;
  for (int32_t r = 0; r < n; ++r) one.emplace_back(Str(storage_.array[r]->token, storage_.array[r]->length),
                                                   storage_.array[r]->codeword);
  HModel_free(&model_, true);
  model_ = HModel();
  storage_ = HTreeStorage();
  Build(n, freq, 2, "wwwwwwww");
  for (int32_t r = 0; r < n; ++r) {
    ASSERT_EQ(Str(storage_.array[r]->token, storage_.array[r]->length), one[r].first) << r;
    ASSERT_EQ(storage_.array[r]->codeword, one[r].second) << r;
  }
}

}  // namespace
}  // namespace mtest
