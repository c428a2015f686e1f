// The counting pass's own structures: the open-addressed vocabulary that
// gives each distinct token its id, and the id stream between the counting
// and coding passes.
#include "test_support.h"
#include "wordmodel/hcount.h"
#include "wordmodel/hcounttable.h"

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

// Ids of every size read back as written, each stepped over by its size,
// with the stream's stated bytes at the boundary of the sizes.
TEST(IdStreamTest, IdsOfEverySizeReadBackAsWritten) {
  const uint32_t ids[] = {0, 1, 0x7F, 0x80, 0x7FFF, 0x8000, 0x8001, 0xFFFF, 0x10000, 0xFFFFF, (1u << 31) - 1};
  std::vector<unsigned char> stream(4 * std::size(ids) + 2);
  unsigned char* w = stream.data();
  for (uint32_t id : ids) w = HIdStream_put(w, id);
  const unsigned char* r = stream.data();
  for (uint32_t id : ids) {
    uint32_t got = 0;
    const unsigned char* next = HIdStream_get(r, &got);
    ASSERT_EQ(got, id);
    ASSERT_EQ(next - r, id < 0x8000 ? 2 : 4) << id;
    r = next;
  }
  EXPECT_EQ(r, w);
  unsigned char one[6];
  HIdStream_put(one, 0x7FFF);
  EXPECT_EQ(Str(one, 2), Hex("ff 7f"));
  HIdStream_put(one, 0x12345);
  EXPECT_EQ(Str(one, 4), Hex("01 80 45 23"));
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

}  // namespace
}  // namespace mtest
