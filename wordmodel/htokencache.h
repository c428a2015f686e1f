// A small direct-mapped cache in front of the vocabulary for the two passes
// over a text. Frequent tokens (blanks, punctuation, common words) stay in a
// table that fits the processor's cache, so most tokens cost neither a hash
// over their bytes nor a walk through the large vocabulary. Only tokens of
// at most 8 bytes are cached: their bytes fit one 64-bit key.
#ifndef MORAVINE_WORDMODEL_HTOKENCACHE_H_
#define MORAVINE_WORDMODEL_HTOKENCACHE_H_

#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>

#include "wordmodel/hmodel.h"

// Up to 2^14 slots, fewer for short texts, which would not fill them.
constexpr int32_t kHTokenCacheMaxBits = 14;

inline int32_t HTokenCache_bitsFor(int32_t text_length) {
  int32_t bits = 6;
  while (bits < kHTokenCacheMaxBits && (int64_t{1} << (bits + 4)) < text_length) ++bits;
  return bits;
}

// The first min(length, 8) bytes of the token at p, zero-padded; `available`
// is the number of readable bytes from p (at least length).
inline uint64_t HTokenCache_key(const unsigned char* p, int32_t length, int64_t available) {
  if constexpr (std::endian::native == std::endian::little) {
    if (available >= 8) {
      uint64_t v;
      std::memcpy(&v, p, 8);
      return length >= 8 ? v : v & ((uint64_t{1} << (8 * length)) - 1);
    }
  }
  uint64_t v = 0;
  int32_t n = length < 8 ? length : 8;
  for (int32_t i = 0; i < n; ++i) v |= static_cast<uint64_t>(p[i]) << (8 * i);
  return v;
}

inline uint32_t HTokenCache_slot(uint64_t key, int32_t length, int32_t bits) {
  return static_cast<uint32_t>(((key ^ static_cast<uint64_t>(length)) * 0x9E3779B97F4A7C15ull) >> (64 - bits));
}

struct HTokenCacheEntry {
  uint64_t key;
  int32_t length;   // 0: empty slot
  int32_t pending;  // occurrences counted here, not yet added to the node
  HNode* node;
};

// The counting pass's cache: slots zero-initialised (empty).
struct HTokenCache {
  explicit HTokenCache(int32_t text_length)
      : bits(HTokenCache_bitsFor(text_length)), slots(new HTokenCacheEntry[size_t{1} << bits]()) {}

  HTokenCacheEntry& at(uint64_t key, int32_t length) { return slots[HTokenCache_slot(key, length, bits)]; }

  // Adds every pending count to its node.
  void flush() {
    for (int32_t i = 0; i < (1 << bits); ++i) {
      HTokenCacheEntry& e = slots[i];
      if (e.length && e.pending) {
        e.node->frequency += e.pending;
        e.pending = 0;
      }
    }
  }

  int32_t bits;
  std::unique_ptr<HTokenCacheEntry[]> slots;
};

// The coding pass's cache: the codeword of each cached token.
struct HCodeCacheEntry {
  uint64_t key;
  int32_t length;  // 0: empty slot
  uint32_t body_bytes;
  int32_t level;
};

struct HCodeCache {
  explicit HCodeCache(int32_t text_length)
      : bits(HTokenCache_bitsFor(text_length)), slots(new HCodeCacheEntry[size_t{1} << bits]()) {}

  HCodeCacheEntry& at(uint64_t key, int32_t length) { return slots[HTokenCache_slot(key, length, bits)]; }

  int32_t bits;
  std::unique_ptr<HCodeCacheEntry[]> slots;
};

#endif  // MORAVINE_WORDMODEL_HTOKENCACHE_H_
