// The vocabulary: a chained hash table of distinct tokens with their counts
// and codewords, and the release of a whole model.
#ifndef MORAVINE_WORDMODEL_HHASHTABLE_H_
#define MORAVINE_WORDMODEL_HHASHTABLE_H_

#include <cstdint>

#include "wordmodel/hmodel.h"

// Makes the model's vocabulary empty with hint + 13 buckets.
void HHashtable_create(HModel* model, int32_t hint);

// The raw hash value of a token (signed 32-bit).
int32_t HHashtable_hashValue(const unsigned char* token, int32_t length);

// The bucket index of a token, 0..bucket count - 1.
int32_t HHashtable_hash(const unsigned char* token, int32_t length, const HHashtable* table);

// The entry of the token, or null.
HNode* HHashtable_lookup(const unsigned char* token, int32_t length, const HHashtable* table);

// Counts one occurrence of the token; 1 when it was new, 0 when known. A
// known entry moves to the head of its chain.
int HHashtable_insert(const unsigned char* token, int32_t length, HHashtable* table);

// As HHashtable_insert, giving the entry as well.
HNode* HHashtable_insertEntry(const unsigned char* token, int32_t length, HHashtable* table, int* is_new);

// Fast forms for hot loops, given the token's raw hash value and its first
// 8 bytes, zero-padded (HHashtable_prefix).
HNode* HHashtable_lookupKey(const unsigned char* token, int32_t length, int32_t hash, uint64_t prefix,
                            const HHashtable* table);
HNode* HHashtable_insertKey(const unsigned char* token, int32_t length, int32_t hash, uint64_t prefix,
                            HHashtable* table);

// The first 8 bytes of a token, zero-padded, as one value.
inline uint64_t HHashtable_prefix(const unsigned char* token, int32_t length) {
  uint64_t v = 0;
  int32_t n = length < 8 ? length : 8;
  for (int32_t i = 0; i < n; ++i) v |= static_cast<uint64_t>(token[i]) << (8 * i);
  return v;
}

// The chain head of a hash value's bucket, for requesting it early.
HNode* const* HHashtable_bucketAddress(int32_t hash, const HHashtable* table);

// One step of the hash function, for callers that hash while they scan.
inline int32_t HHashtable_hashStep(int32_t h, unsigned char byte) {
  uint32_t sum = (static_cast<uint32_t>(h) << 5) + static_cast<uint32_t>(h >> 2) + byte;
  return static_cast<int32_t>(static_cast<uint32_t>(h) ^ sum);
}
constexpr int32_t kHHashSeed = 11;

// Releases every entry and the buckets; the bucket count becomes 0.
void HHashtable_free(HHashtable* table);

// Releases the model once: a second call does nothing.
void HModel_free(HModel* model, bool owns_dictionary_string);

#endif  // MORAVINE_WORDMODEL_HHASHTABLE_H_
