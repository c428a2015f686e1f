// The vocabulary hash table: the exact hash function (a token's bucket must
// not depend on the platform), move-to-front, and byte-exact keys.
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
  // A negative hash value: the truncated remainder is -15, the bucket 15.
  int32_t h = HHashtable_hashValue(U("abcdefgh"), 8);
  EXPECT_LT(h, 0);
  EXPECT_EQ(h % 18, -15);
  EXPECT_EQ(HHashtable_hash(U("abcdefgh"), 8, &model.vocabulary), 15);

  HHashtable_create(&model, 0);  // 13 buckets; every token lands in one of them
  ASSERT_EQ(model.vocabulary.bucket_count, 13);
  std::mt19937 rng(7);
  for (int i = 0; i < 5000; ++i) {
    Bytes token(1 + rng() % 12, '\0');
    for (char& c : token) c = static_cast<char>(rng());
    int32_t v = HHashtable_hashValue(U(token), L(token));
    ASSERT_EQ(HHashtable_hash(U(token), L(token), &model.vocabulary), v < 0 ? -(v % 13) : v % 13);
  }
  HModel_free(&model, true);
}

TEST_F(HashtableTest, KnownTokenMovesToTheHeadOfItsChain) {
  HModel model;
  HHashtable_create(&model, 0);
  HHashtable* t = &model.vocabulary;
  int32_t bucket = HHashtable_hash(U("a"), 1, t);
  Bytes other;  // a token in the same bucket as «a»
  for (int i = 0; other.empty(); ++i) {
    if (HHashtable_hash(U(Word("b", i)), L(Word("b", i)), t) == bucket) other = Word("b", i);
  }
  EXPECT_EQ(HHashtable_insert(U("a"), 1, t), 1);
  EXPECT_EQ(HHashtable_insert(U(other), L(other), t), 1);
  HNode* a = HHashtable_lookup(U("a"), 1, t);
  HNode* b = HHashtable_lookup(U(other), L(other), t);
  EXPECT_EQ(t->buckets[bucket], b);
  EXPECT_EQ(HHashtable_insert(U("a"), 1, t), 0);
  EXPECT_EQ(t->buckets[bucket], a);
  EXPECT_EQ(a->link, b);
  EXPECT_EQ(a->frequency, 2);
  EXPECT_EQ(t->entry_count, 2);
  HModel_free(&model, true);
}

TEST_F(HashtableTest, KeysCompareLengthAndEveryByte) {
  HModel model;
  HHashtable_create(&model, 0);
  HHashtable* t = &model.vocabulary;
  const Bytes keys[] = {Bytes("a\0", 2), Bytes("a\x01", 2), "a", "ab", "abc", Bytes(1, '\0')};
  for (const Bytes& k : keys) EXPECT_EQ(HHashtable_insert(U(k), L(k), t), 1) << Escape(k);
  for (const Bytes& k : keys) EXPECT_EQ(HHashtable_insert(U(k), L(k), t), 0) << Escape(k);
  EXPECT_EQ(t->entry_count, 6);
  EXPECT_EQ(HHashtable_lookup(U("abcd"), 4, t), nullptr);
  HModel_free(&model, true);
}

TEST_F(HashtableTest, ModelFreeTwiceIsHarmless) {
  Built built("free me twice\n", 1);
  HModel_free(&built.model, true);
  EXPECT_EQ(built.model.dictionary.string_length, -1);
  EXPECT_EQ(built.model.vocabulary.bucket_count, 0);
  HModel_free(&built.model, true);  // and a third time in ~Built
  EXPECT_EQ(built.model.dictionary.string_length, -1);
}

}  // namespace
}  // namespace mtest
