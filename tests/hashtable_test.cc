// The vocabulary hash table: the exact hash function (the bucket of a token
// must not depend on the platform), move-to-front, and byte-exact keys.
#include <random>

#include "test_support.h"

namespace mtest {
namespace {

class HashtableTest : public LibTest {};

TEST_F(HashtableTest, HashValuesAndBuckets) {
  HModel model;
  HHashtable_create(&model, 5);
  ASSERT_EQ(model.vocabulary.bucket_count, 18);
  EXPECT_EQ(HHashtable_hashValue(U("a"), 1), 456);
  EXPECT_EQ(HHashtable_hash(U("a"), 1, &model.vocabulary), 6);
  // A negative hash value takes the absolute value of the truncated remainder.
  int32_t h = HHashtable_hashValue(U("abcdefgh"), 8);
  EXPECT_LT(h, 0);
  EXPECT_EQ(h % 18, -15);
  EXPECT_EQ(HHashtable_hash(U("abcdefgh"), 8, &model.vocabulary), 15);
  EXPECT_EQ(HHashtable_hashValue(U(""), 0), 11);

  // Hint 0 gives 13 buckets; every token, whatever its bytes, lands in one.
  HHashtable_create(&model, 0);
  ASSERT_EQ(model.vocabulary.bucket_count, 13);
  std::mt19937 rng(7);
  for (int i = 0; i < 5000; ++i) {
    Bytes token(1 + rng() % 12, '\0');
    for (char& c : token) c = static_cast<char>(rng());
    int32_t b = HHashtable_hash(U(token), L(token), &model.vocabulary);
    int32_t v = HHashtable_hashValue(U(token), L(token));
    ASSERT_TRUE(b >= 0 && b < 13) << b;
    ASSERT_EQ(b, v < 0 ? -(v % 13) : v % 13);
  }
  HModel_free(&model, true);
}

TEST_F(HashtableTest, KnownTokenMovesToTheHeadOfItsChain) {
  HModel model;
  HHashtable_create(&model, 0);
  HHashtable* t = &model.vocabulary;
  // Find a second token that shares the bucket of «a».
  int32_t bucket = HHashtable_hash(U("a"), 1, t);
  Bytes other;
  for (int i = 0; other.empty(); ++i) {
    Bytes candidate = "b" + std::to_string(i);
    if (HHashtable_hash(U(candidate), L(candidate), t) == bucket) other = candidate;
  }
  EXPECT_EQ(HHashtable_insert(U("a"), 1, t), 1);
  EXPECT_EQ(HHashtable_insert(U(other), L(other), t), 1);
  EXPECT_EQ(t->buckets[bucket], HHashtable_lookup(U(other), L(other), t));
  EXPECT_EQ(HHashtable_insert(U("a"), 1, t), 0);
  HNode* a = HHashtable_lookup(U("a"), 1, t);
  EXPECT_EQ(t->buckets[bucket], a);
  EXPECT_EQ(a->frequency, 2);
  EXPECT_EQ(a->link, HHashtable_lookup(U(other), L(other), t));
  EXPECT_EQ(t->entry_count, 2);
  HModel_free(&model, true);
}

TEST_F(HashtableTest, KeysCompareLengthAndEveryByte) {
  HModel model;
  HHashtable_create(&model, 0);
  HHashtable* t = &model.vocabulary;
  const Bytes keys[] = {Bytes("a\0", 2), Bytes("a\x01", 2), "a", "ab", "abc", Bytes("\0", 1)};
  for (const Bytes& k : keys) EXPECT_EQ(HHashtable_insert(U(k), L(k), t), 1) << Escape(k);
  for (const Bytes& k : keys) EXPECT_EQ(HHashtable_insert(U(k), L(k), t), 0) << Escape(k);
  EXPECT_EQ(t->entry_count, 6);
  for (const Bytes& k : keys) EXPECT_EQ(HHashtable_lookup(U(k), L(k), t)->frequency, 2);
  EXPECT_EQ(HHashtable_lookup(U("abcd"), 4, t), nullptr);
  HModel_free(&model, true);
}

TEST_F(HashtableTest, ModelFreeIsIdempotent) {
  Built built("free me twice\n", 1);
  HModel_free(&built.model, true);
  EXPECT_EQ(built.model.dictionary.string_length, -1);
  EXPECT_EQ(built.model.vocabulary.bucket_count, 0);
  EXPECT_EQ(built.model.jumpers.count, 0);
  HModel_free(&built.model, true);  // and once more from ~Built
  EXPECT_EQ(built.model.dictionary.string_length, -1);
}

}  // namespace
}  // namespace mtest
