// The vocabulary of the counting pass: an open-addressed table whose slots
// hold each distinct token's keyed hash, its first and last 8 bytes and its
// length and id, so that finding a token costs one cache line. Frequent
// tokens' lines stay in the processor's caches; a rare token costs one
// memory access, not a walk through a chain of entries.
//
// Ids are given in order of first addition, from 0. Tokens are placed by
// HHashtable_keyHash under a random seed; a probe sequence that grows long
// all the same makes the table draw a fresh seed, as the chained vocabulary
// does, so no text can make counting quadratic.
#ifndef MORAVINE_WORDMODEL_HCOUNTTABLE_H_
#define MORAVINE_WORDMODEL_HCOUNTTABLE_H_

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "wordmodel/hbuffer.h"
#include "wordmodel/hhashtable.h"
#include "wordmodel/hmodel.h"

struct alignas(32) HCountSlot {
  uint64_t hash;
  uint64_t head;   // the first 8 bytes, zero-padded (HHashtable_prefix)
  uint64_t tail;   // the last 8 bytes of a token longer than 8; else 0
  int32_t length;  // 0: empty slot
  int32_t id;
};

struct HCountTable {
  HBuffer memory;                // holds the cells
  HCountSlot* cells = nullptr;
  uint64_t mask = 0;  // slot count - 1
  uint64_t seed = 0;
  int32_t reseeds = 0;
  // By id: a copy of the token, its length and its hash under `seed`.
  std::vector<const unsigned char*> tokens;
  std::vector<int32_t> lengths;
  std::vector<uint64_t> hashes;
  HArena storage;
};

// An empty table sized for a text of the given length; it grows as needed.
void HCountTable_create(HCountTable* table, int64_t text_length);

// The last 8 bytes of a token of n bytes at p when n > 8, else 0.
inline uint64_t HCountTable_tail(const unsigned char* p, int32_t n) {
  static constexpr unsigned char kZero[8] = {};
  // Chosen by address, so that short and long tokens take one path.
  return HHash_load8(n > 8 ? p + n - 8 : kZero);
}

// Adds the token at the empty slot `place` reached after `steps` probes;
// gives its id. The slow path of HCountTable_id.
int32_t HCountTable_add(HCountTable* table, const unsigned char* token, int32_t n, uint64_t head, uint64_t tail,
                        uint64_t hash, uint64_t place, int32_t steps);

// The placement hash of a token under the table's current seed.
inline uint64_t HCountTable_hash(const HCountTable* table, const unsigned char* token, int32_t n, uint64_t head) {
  return HHashtable_keyHash(token, n, head, table->seed);
}

// The id of the token at `token` (n bytes, head and tail as above, `hash`
// from HCountTable_hash under the current seed), added when new.
inline int32_t HCountTable_idHashed(HCountTable* table, const unsigned char* token, int32_t n, uint64_t head,
                                    uint64_t tail, uint64_t hash) {
  uint64_t place = hash & table->mask;
  for (int32_t steps = 0;; ++steps) {
    const HCountSlot& s = table->cells[place];
    if (s.hash == hash && s.head == head && s.tail == tail && s.length == n) {
      // Head and tail cover a token of up to 16 bytes; a longer one is
      // compared in full.
      if (n <= 16 || std::memcmp(table->tokens[static_cast<size_t>(s.id)], token, static_cast<size_t>(n)) == 0) {
        return s.id;
      }
    } else if (s.length == 0) {
      return HCountTable_add(table, token, n, head, tail, hash, place, steps);
    }
    place = (place + 1) & table->mask;
  }
}

inline int32_t HCountTable_id(HCountTable* table, const unsigned char* token, int32_t n, uint64_t head,
                              uint64_t tail) {
  return HCountTable_idHashed(table, token, n, head, tail, HCountTable_hash(table, token, n, head));
}

// The id of the token, or -1 when the table does not hold it.
int32_t HCountTable_find(const HCountTable* table, const unsigned char* token, int32_t n);

// The number of distinct tokens.
inline int32_t HCountTable_size(const HCountTable* table) { return static_cast<int32_t>(table->tokens.size()); }

#endif  // MORAVINE_WORDMODEL_HCOUNTTABLE_H_
