// The vocabulary: a chained hash table of distinct tokens with their counts
// and codewords, and the release of a whole model.
//
// Two hash functions live here. HHashtable_hashValue and HHashtable_hash are
// the documented token hash and its bucket index; they are part of the
// format's description and other components may rely on their values. The
// table itself places entries by HHashtable_keyHash, a hash keyed with a
// random per-process seed: the documented function is easy to invert, and a
// text whose tokens all share one of its values would otherwise make
// counting and coding quadratic.
#ifndef MORAVINE_WORDMODEL_HHASHTABLE_H_
#define MORAVINE_WORDMODEL_HHASHTABLE_H_

#include <bit>
#include <cstdint>
#include <cstring>

#include "wordmodel/hmodel.h"

// Makes the model's vocabulary empty; the nominal bucket count is hint + 13.
void HHashtable_create(HModel* model, int32_t hint);

// The documented hash value of a token (signed 32-bit).
int32_t HHashtable_hashValue(const unsigned char* token, int32_t length);

// The documented bucket index of a token, 0..bucket count - 1.
int32_t HHashtable_hash(const unsigned char* token, int32_t length, const HHashtable* table);

// The entry of the token, or null.
HNode* HHashtable_lookup(const unsigned char* token, int32_t length, const HHashtable* table);

// Counts one occurrence of the token; 1 when it was new, 0 when known. A
// known entry moves to the head of its chain.
int HHashtable_insert(const unsigned char* token, int32_t length, HHashtable* table);

// As HHashtable_insert, giving the entry as well.
HNode* HHashtable_insertEntry(const unsigned char* token, int32_t length, HHashtable* table, int* is_new);

// The first 8 bytes of a token, zero-padded, as one value.
inline uint64_t HHashtable_prefix(const unsigned char* token, int32_t length) {
  uint64_t v = 0;
  int32_t n = length < 8 ? length : 8;
  for (int32_t i = 0; i < n; ++i) v |= static_cast<uint64_t>(token[i]) << (8 * i);
  return v;
}

// 64-bit halves of a 128-bit product, folded.
inline uint64_t HHash_mix(uint64_t a, uint64_t b) {
  unsigned __int128 r = static_cast<unsigned __int128>(a) * b;
  return static_cast<uint64_t>(r) ^ static_cast<uint64_t>(r >> 64);
}

inline uint64_t HHash_load8(const unsigned char* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  return v;
}

// The placement hash of a token under a seed, given its prefix
// (HHashtable_prefix). Every byte and the length take part.
inline uint64_t HHashtable_keyHash(const unsigned char* token, int32_t length, uint64_t prefix, uint64_t seed) {
  const uint64_t k1 = seed ^ 0xa0761d6478bd642full;
  uint64_t a = prefix;
  uint64_t b = 0;
  uint64_t s = seed;
  if (length > 16) {
    int32_t i = 0;
    for (; length - i > 16; i += 16) s = HHash_mix(HHash_load8(token + i) ^ k1, HHash_load8(token + i + 8) ^ s);
    a = HHash_load8(token + length - 16);
    b = HHash_load8(token + length - 8);
  } else if (length > 8) {
    b = HHash_load8(token + length - 8);
  }
  return HHash_mix(k1 ^ static_cast<uint64_t>(length), HHash_mix(a ^ k1, b ^ s ^ 0xe7037ed1a0b428dbull));
}

// Fast forms for hot loops, given the token's placement hash under the
// table's current seed and its prefix.
HNode* HHashtable_lookupKey(const unsigned char* token, int32_t length, uint64_t hash, uint64_t prefix,
                            const HHashtable* table);
HNode* HHashtable_insertKey(const unsigned char* token, int32_t length, uint64_t hash, uint64_t prefix,
                            HHashtable* table);

// The entry of the token, added with frequency 0 when new; a known entry
// keeps its frequency.
HNode* HHashtable_internKey(const unsigned char* token, int32_t length, uint64_t hash, uint64_t prefix,
                            HHashtable* table);

// The chain head for a placement hash, for requesting it early.
inline HNode* const* HHashtable_bucketAddress(uint64_t hash, const HHashtable* table) {
  return &table->chains[hash & table->chain_mask];
}

// Makes room for `count` entries in all, so that adding them does not
// relink the table on the way.
void HHashtable_reserve(HHashtable* table, int32_t count);

// The number of entries in the longest chain.
int32_t HHashtable_longestChain(const HHashtable* table);

// The seed that new tables take; drawn at random once per process. Tests may
// set it: no output of the library depends on it.
uint64_t HHashtable_processSeed();
void HHashtable_setProcessSeed(uint64_t seed);

// One step of the documented hash function.
inline int32_t HHashtable_hashStep(int32_t h, unsigned char byte) {
  uint32_t sum = (static_cast<uint32_t>(h) << 5) + static_cast<uint32_t>(h >> 2) + byte;
  return static_cast<int32_t>(static_cast<uint32_t>(h) ^ sum);
}
constexpr int32_t kHHashSeed = 11;

// Releases every entry and the chains; the bucket count becomes 0.
void HHashtable_free(HHashtable* table);


#endif  // MORAVINE_WORDMODEL_HHASHTABLE_H_
