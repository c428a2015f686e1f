// The counting pass's own structures: the open-addressed vocabulary that
// gives each distinct token its id, and the id stream between the counting
// and coding passes.
#include <map>
#include <random>

#include "test_support.h"
#include "wordmodel/hcount.h"
#include "wordmodel/hcounttable.h"
#include "wordmodel/hmodel_free.h"
#include "wordmodel/htoken.h"

namespace mtest {
namespace {

int32_t IdOf(HCountTable* table, const Bytes& token) {
  return HCountTable_id(table, U(token), L(token), HHashtable_prefix(U(token), L(token)),
                        HCountTable_tail(U(token), L(token)));
}

// Tokens longer than 16 bytes are keyed by their first and last 8 bytes like
// short ones, so tokens that differ only in between must still be told
// apart; the table grows far beyond its first size and keeps every id.
TEST(CountTableTest, IdsInOrderOfFirstAdditionThroughGrowth) {
  HCountTable table;
  HCountTable_create(&table, 0);
  const uint64_t first_size = table.mask + 1;
  V tokens;
  for (int i = 0; i < 40000 / kScale; ++i) {
    Bytes middle = std::to_string(i);
    tokens.push_back(Bytes("aaaaaaaa").append(middle).append("zzzzzzzz"));  // same head and tail
    tokens.push_back(Word("w", i));                                        // at most 8 bytes
    tokens.push_back(Word("word-of-", i * 31L));  // 9 to 16 bytes
  }
  tokens.push_back(Bytes("\0", 1));  // zero bytes are not padding
  tokens.push_back(Bytes("\0\0", 2));
  tokens.push_back(Bytes(100000, 'x'));
  for (size_t i = 0; i < tokens.size(); ++i) ASSERT_EQ(IdOf(&table, tokens[i]), static_cast<int32_t>(i)) << i;
  EXPECT_GT(table.mask + 1, first_size);
  EXPECT_EQ(HCountTable_size(&table), static_cast<int32_t>(tokens.size()));
  for (size_t i = 0; i < tokens.size(); ++i) {
    ASSERT_EQ(IdOf(&table, tokens[i]), static_cast<int32_t>(i)) << "again " << i;
    ASSERT_EQ(HCountTable_find(&table, U(tokens[i]), L(tokens[i])), static_cast<int32_t>(i));
    ASSERT_EQ(Str(table.tokens[i], table.lengths[i]), tokens[i]);
  }
  EXPECT_EQ(HCountTable_find(&table, U("aaaaaaaa-zzzzzzzz"), 17), -1);
  EXPECT_EQ(HCountTable_find(&table, U("w"), 1), -1);
  EXPECT_EQ(HCountTable_size(&table), static_cast<int32_t>(tokens.size()));
}

// Entries of every size read back as written, with and without the blank
// flag, each stepped over by its size, with the stream's stated bytes at
// the boundary of the sizes.
TEST(IdStreamTest, EntriesOfEverySizeReadBackAsWritten) {
  const uint32_t ids[] = {0, 1, 0x7F, 0x80, 0x3FFF, 0x4000, 0x4001, 0x7FFF, 0xFFFF, 0x10000, 0xFFFFF, (1u << 30) - 1};
  std::vector<unsigned char> stream(8 * std::size(ids) + 2);
  unsigned char* w = stream.data();
  for (uint32_t id : ids) {
    w = HIdStream_put(w, id);
    w = HIdStream_put(w, id | kHIdStreamBlank);
  }
  const unsigned char* r = stream.data();
  for (uint32_t id : ids) {
    for (uint32_t flag : {0u, kHIdStreamBlank}) {
      uint32_t got = 0;
      const unsigned char* next = HIdStream_get(r, &got);
      ASSERT_EQ(got, id | flag);
      ASSERT_EQ(next - r, id < 0x4000 ? 2 : 4) << id;
      r = next;
    }
  }
  EXPECT_EQ(r, w);
  unsigned char one[6];
  HIdStream_put(one, 0x3FFF);
  EXPECT_EQ(Str(one, 2), Hex("ff 3f"));
  HIdStream_put(one, 0x3FFF | kHIdStreamBlank);
  EXPECT_EQ(Str(one, 2), Hex("ff 7f"));
  HIdStream_put(one, 0x12345 | kHIdStreamBlank);
  EXPECT_EQ(Str(one, 4), Hex("01 c0 45 23"));
}

// With a pointer distance, counting names the tokens that get a pair: in
// one stretch, the first token at or after each mark, as a walk over the
// tokens finds them, and each one's place in the id stream holds the id of
// exactly that token. In several stretches, each walk assumes the pairs
// before it; lines of one token longer than the distance make some of
// those assumptions wrong, which the coder puts right.
TEST(CountMarksTest, PairedTokensAndTheirPlacesInTheStream) {
  Bytes text;
  for (int line = 0; L(text) < (3 << 20) + (1 << 18); ++line) {  // three stretches of at least 1 MiB
    if (line % 40 == 7) text += Bytes(static_cast<size_t>(300 + line % 5), 'q');
    for (int w = 0; w < 9; ++w) text += Word("w", (line * 9 + w) % 5000) + (w % 4 ? " " : ", ");
    text += "\n";
  }
  for (int32_t distance : {1, 16, 128, 1000}) {
    for (int32_t threads : {1, 3}) {
      SCOPED_TRACE("distance " + std::to_string(distance) + ", threads " + std::to_string(threads));
      HModel model;
      HHashtable_create(&model, L(text) / 1000 + 5);
      HCountResult counted;
      HCount_text(U(text), L(text), false, threads, &model, &counted, nullptr, distance);
      ASSERT_EQ(counted.stretches.size(), static_cast<size_t>(threads));
      const int64_t capacity = L(text) / distance + 1;
      for (size_t k = 0; k < counted.stretches.size(); ++k) {
        const HCountStretch& s = counted.stretches[k];
        ASSERT_EQ(s.pairs_first, HCount_assumedPairs(&counted, k, distance));
        // The walk over the stretch's tokens from its assumption.
        std::vector<int32_t> expected;
        int64_t count = s.pairs_first;
        for (int32_t p = s.begin, n = 0; p < s.end; p += n) {
          HToken_getLengthNext(U(text) + p, L(text) - p, &n);
          if (p >= count * distance && count < capacity) {
            expected.push_back(p);
            ++count;
          }
        }
        ASSERT_EQ(s.pair_text, expected) << "stretch " << k;
        ASSERT_EQ(s.pairs_after, count);
        ASSERT_EQ(s.pair_place.size(), expected.size());
        for (size_t i = 0; i < expected.size(); ++i) {
          const size_t chunk = static_cast<size_t>(s.pair_place[i] >> 32);
          ASSERT_LT(chunk, s.chunks.size());
          const uint32_t offset = static_cast<uint32_t>(s.pair_place[i] & (kHPairOnBlank - 1));
          ASSERT_LT(static_cast<int32_t>(offset), s.chunk_lengths[chunk]);
          uint32_t entry = 0;
          HIdStream_get(s.chunks[chunk].get() + offset, &entry);
          const uint32_t local = entry & kHIdStreamIdMask;
          int32_t id = s.global_id.empty() ? static_cast<int32_t>(local) : s.global_id[local];
          if (s.pair_place[i] & kHPairOnBlank) {  // the blank flagged on this entry
            ASSERT_TRUE(entry & kHIdStreamBlank) << "pair " << i << " of stretch " << k;
            id = s.global_id.empty() ? s.blank_id : s.global_id[static_cast<size_t>(s.blank_id)];
          }
          const HNode* node = model.vocabulary.entries[static_cast<size_t>(id)];
          int32_t n = 0;
          HToken_getLengthNext(U(text) + expected[i], L(text) - expected[i], &n);
          ASSERT_EQ(Str(node->token, node->length), text.substr(static_cast<size_t>(expected[i]), static_cast<size_t>(n)))
              << "pair " << i << " of stretch " << k;
        }
      }
      HModel_free(&model, true);
    }
  }
}

// Each blank that stands between two words of a stretch has no entry of its
// own in the id stream: under the spaceless model it is left out, under the
// words model the word's entry is flagged; every other token has its entry.
// The blank still counts every occurrence, ids follow the first occurrences
// in the whole text, and each spaceless stretch states how many blanks it
// left out. Texts where the first blank of a stretch stands between words
// or not, or where there is none, and (in large texts) stretches that
// begin with a blank.
TEST(CountStreamTest, BlanksBetweenWordsHaveNoEntry) {
  std::mt19937 rng(11);
  const Bytes pieces[] = {"a", "Zq9", " ", "  ", "\n", "\r\n", ". ", ",", "b c", "d e f", " \n", "\n "};
  std::vector<std::pair<Bytes, int32_t>> cases = {{"a b", 1}, {" a b", 1}, {"a  b c", 1}, {"a b ", 1},
                                                  {"x", 1},   {"  ", 1},   {"a\n b c", 1}, {".a b\n", 1}};
  for (int round = 0; round < 30; ++round) {
    Bytes text;
    const size_t target = 1 + rng() % 3000;
    while (text.size() < target) text += pieces[rng() % std::size(pieces)];
    cases.emplace_back(text, 1);
  }
  Bytes large;
  for (int line = 0; L(large) < (3 << 20) + (1 << 18); ++line) {  // three stretches of at least 1 MiB
    if (line % 3 == 0) large += " ";
    for (int w = 0; w < 7; ++w) large += Word("w", (line * 7 + w) % 3000) + (w % 3 ? " " : ", ");
    large += line % 5 ? "\n" : "\r\n";
  }
  cases.emplace_back(large, 3);
  for (const auto& [text, threads] : cases) {
   for (bool spaceless : {true, false}) {
    SCOPED_TRACE(text.size() < 40 ? "text \"" + text + "\"" : "text of " + std::to_string(text.size()) + " bytes");
    SCOPED_TRACE(spaceless ? "spaceless" : "words");
    HModel model;
    HHashtable_create(&model, L(text) / 100 + 5);
    HCountResult counted;
    HCount_text(U(text), L(text), spaceless, threads, &model, &counted);
    ASSERT_EQ(counted.stretches.size(), static_cast<size_t>(threads));
    std::map<Bytes, int64_t> occurrences;
    V first_seen;
    for (const HCountStretch& s : counted.stretches) {
      V tokens;
      for (int32_t p = s.begin, n = 0; p < s.end; p += n) {
        HToken_getLengthNext(U(text) + p, s.end - p, &n);
        tokens.push_back(text.substr(static_cast<size_t>(p), static_cast<size_t>(n)));
      }
      V expected;
      int64_t left_out = 0;
      bool seen_blank = false;
      for (size_t i = 0; i < tokens.size(); ++i) {
        if (occurrences[tokens[i]]++ == 0) first_seen.push_back(tokens[i]);
        const bool between_words = tokens[i] == " " && i > 0 && i + 1 < tokens.size() &&
                                   HToken_isWordByte(tokens[i - 1][0]) && HToken_isWordByte(tokens[i + 1][0]);
        // Under the words model the stretch's first blank, which gives the
        // blank its id, keeps an entry of its own.
        if (between_words && (spaceless || seen_blank)) {
          ++left_out;
          if (!spaceless) expected.push_back("(flag)");
        } else {
          left_out += between_words;
          expected.push_back(tokens[i]);
        }
        seen_blank = seen_blank || tokens[i] == " ";
      }
      V streamed;
      for (size_t c = 0; c < s.chunks.size(); ++c) {
        const unsigned char* r = s.chunks[c].get();
        for (const unsigned char* chunk_end = r + s.chunk_lengths[c]; r < chunk_end;) {
          uint32_t entry = 0;
          r = HIdStream_get(r, &entry);
          const uint32_t local = entry & kHIdStreamIdMask;
          const int32_t id = s.global_id.empty() ? static_cast<int32_t>(local) : s.global_id[local];
          const HNode* node = model.vocabulary.entries[static_cast<size_t>(id)];
          streamed.push_back(Str(node->token, node->length));
          if (entry & kHIdStreamBlank) streamed.push_back("(flag)");
        }
      }
      ASSERT_EQ(streamed, expected);
      ASSERT_EQ(s.dropped_blanks, spaceless ? left_out : 0);
    }
    ASSERT_EQ(model.vocabulary.entries.size(), first_seen.size());
    for (size_t id = 0; id < first_seen.size(); ++id) {
      const HNode* node = model.vocabulary.entries[id];
      ASSERT_EQ(Str(node->token, node->length), first_seen[id]) << "id " << id;
      ASSERT_EQ(node->frequency, occurrences[first_seen[id]]) << "token \"" << first_seen[id] << "\"";
    }
    HModel_free(&model, true);
   }
  }
}

std::vector<std::pair<void*, size_t>> g_offered;
void RecordOffer(void* data, size_t size) { g_offered.emplace_back(data, size); }

// Large buffers are aligned for large pages and offered to the hook, whole;
// small ones are aligned for any record and not offered.
TEST(LargeBufferTest, AlignedAndOfferedFromTheLargePageSizeOn) {
  g_offered.clear();
  HBuffer_setLargeBufferHook(&RecordOffer);
  HBuffer small = HBuffer_allocateLarge(100);
  HBuffer large = HBuffer_allocateLarge(kHLargeBuffer + 1);
  HBuffer_setLargeBufferHook(nullptr);
  HBuffer unhooked = HBuffer_allocateLarge(kHLargeBuffer);
  ASSERT_TRUE(small && large && unhooked);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(small.get()) % 64, 0u);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(large.get()) % kHLargeBuffer, 0u);
  ASSERT_EQ(g_offered.size(), 1u);
  EXPECT_EQ(g_offered[0].first, large.get());
  EXPECT_EQ(g_offered[0].second, 2 * kHLargeBuffer);  // the whole rounded size
  std::memset(large.get(), 1, kHLargeBuffer + 1);
  EXPECT_FALSE(HBuffer_allocateLarge(SIZE_MAX - 10));
}

// Growing and shrinking keeps the first bytes, of plain and of aligned
// buffers alike (where aligned blocks are kept apart from the C library's,
// a resize may have to move them within the new block).
TEST(LargeBufferTest, ResizingKeepsTheBytes) {
  std::mt19937 random(7);
  auto fill = [&](HBuffer& b, size_t n) {
    std::string bytes(n, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    std::memcpy(b.get(), bytes.data(), n);
    return bytes;
  };
  auto kept = [](const HBuffer& b, const std::string& bytes, size_t n) {
    return std::memcmp(b.get(), bytes.data(), n) == 0;
  };
  for (size_t first : {size_t{100}, size_t{4096}, kHLargeBuffer + 1}) {
    for (bool aligned : {false, true}) {
      HBuffer b = aligned ? HBuffer_allocateLarge(first) : HBuffer_allocate(first);
      ASSERT_TRUE(b);
      std::string bytes = fill(b, first);
      size_t size = first;
      for (size_t next : {first * 3 + 17, first / 2 + 1, 3 * kHLargeBuffer + 5, size_t{33}, first + 1}) {
        ASSERT_TRUE(HBuffer_resize(&b, next)) << first << " to " << next;
        EXPECT_TRUE(kept(b, bytes, std::min(size, next))) << first << " to " << next << (aligned ? " aligned" : "");
        size = next;
        bytes = fill(b, size);
      }
    }
  }
}

}  // namespace
}  // namespace mtest
