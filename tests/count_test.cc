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

// The stream's fast forms write and read the bytes of the plain forms, at
// every size boundary, and step over each id by its size.
TEST(IdStreamTest, WideFormsAgreeWithThePlainOnes) {
  const uint32_t ids[] = {0, 1, 0x7F, 0x80, 0x81, 0x407F, 0x4080, 0x4081, 0xFFFFF, (1u << 30) - 1};
  std::vector<unsigned char> plain(64), wide(64 + 3);
  unsigned char* p = plain.data();
  unsigned char* w = wide.data();
  for (uint32_t id : ids) {
    p = HIdStream_put(p, id);
    w = HIdStream_putWide(w, id);
    ASSERT_EQ(p - plain.data(), w - wide.data()) << id;
  }
  const size_t length = static_cast<size_t>(p - plain.data());
  ASSERT_TRUE(std::equal(plain.begin(), plain.begin() + static_cast<std::ptrdiff_t>(length), wide.begin()));
  const unsigned char* r = wide.data();
  for (uint32_t id : ids) {
    uint32_t got = 0;
    r = HIdStream_getWide(r, &got);
    ASSERT_EQ(got, id);
  }
  EXPECT_EQ(static_cast<size_t>(r - wide.data()), length);
}

}  // namespace
}  // namespace mtest
