// A look-ahead over the tokens of a text for the two hot passes. Tokens are
// scanned a few steps before they are used, and the memory they will touch
// is requested early: the token cache slot first; for a token that the cache
// does not hold, its vocabulary bucket and then the entry at the bucket's
// head. The passes then find that memory at hand instead of waiting for it.
// Only the timing changes: every token is handed over once, in text order.
// A hash made early is valid only while the table keeps the seed it was made
// with (HPipeToken_hash checks).
#ifndef MORAVINE_WORDMODEL_HTOKENPIPE_H_
#define MORAVINE_WORDMODEL_HTOKENPIPE_H_

#include <cstdint>

#include "wordmodel/hhashtable.h"
#include "wordmodel/htoken.h"
#include "wordmodel/htokencache.h"

struct HPipeToken {
  int32_t position;
  int32_t length;
  uint64_t key;     // the cache key; meaningful when length <= 8
  uint64_t hash;    // placement hash under `seed`, when computed
  uint64_t seed;
  bool hashed;
  bool predicted_miss;
};

// The token's placement hash under the table's current seed.
inline uint64_t HPipeToken_hash(const HPipeToken& t, const unsigned char* text, uint64_t prefix,
                                const HHashtable* table) {
  if (t.hashed && t.seed == table->seed) return t.hash;
  return HHashtable_keyHash(text + t.position, t.length, prefix, table->seed);
}

// Cache is HTokenCache or HCodeCache: slots with `key` and `length` first.
template <typename Cache, typename Visit>
void HTokenPipe_walk(const unsigned char* text, int32_t length, Cache* cache, const HHashtable* table, Visit visit) {
  constexpr int kRing = 16;
  constexpr int kLookBucket = 5;  // steps between requesting the slot and checking it
  constexpr int kLookNode = 10;   // steps between requesting the bucket and its head entry
  HPipeToken ring[kRing];
  int32_t p = 0;
  int64_t scanned = 0;  // tokens scanned so far
  int64_t done = 0;     // tokens handed over so far
  for (;;) {
    // Stage 1: scan the next token and request its cache slot.
    if (p < length) {
      HPipeToken& t = ring[scanned % kRing];
      t.position = p;
      t.length = HToken_scan(text + p, length - p);
      t.hashed = false;
      t.predicted_miss = false;
      if (t.length <= 8) {
        t.key = HTokenCache_key(text + p, t.length, length - p);
        __builtin_prefetch(&cache->at(t.key, t.length));
      }
      p += t.length;
      ++scanned;
    } else if (done == scanned) {
      break;
    }
    // Stage 2: a token whose slot holds another key will go to the
    // vocabulary: hash it and request its bucket.
    int64_t b = scanned - 1 - kLookBucket;
    if (b >= done) {
      HPipeToken& t = ring[b % kRing];
      if (!t.hashed) {
        bool miss = t.length > 8;
        if (!miss) {
          const auto& e = cache->at(t.key, t.length);
          miss = e.key != t.key || e.length != t.length;
        }
        if (miss) {
          t.seed = table->seed;
          t.hash = HHashtable_keyHash(text + t.position, t.length,
                                      t.length <= 8 ? t.key : HHashtable_prefix(text + t.position, t.length), t.seed);
          t.hashed = true;
          t.predicted_miss = true;
          __builtin_prefetch(HHashtable_bucketAddress(t.hash, table));
        }
      }
    }
    // Stage 3: request the entry at the head of the bucket.
    int64_t c = scanned - 1 - kLookNode;
    if (c >= done) {
      HPipeToken& t = ring[c % kRing];
      if (t.predicted_miss) {
        if (const HNode* head = *HHashtable_bucketAddress(t.hash, table)) __builtin_prefetch(head);
      }
    }
    // Stage 4: hand over the oldest token once the ring is full or the text
    // is exhausted.
    if (scanned - done >= kRing - 1 || p >= length) {
      visit(ring[done % kRing]);
      ++done;
    }
  }
}

#endif  // MORAVINE_WORDMODEL_HTOKENPIPE_H_
