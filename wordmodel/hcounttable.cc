#include "wordmodel/hcounttable.h"

#include <bit>
#include <new>

#include "wordmodel/hlog.h"

namespace {

// The table stays at most half full, so that most lookups end on their
// first line.
constexpr uint64_t kMinSlots = 1 << 10;

// A probe sequence this long when a token joins means the seed is unlucky
// for this text (with a random seed and a table at most half full, odds far
// below one in a billion): the table is rebuilt with a fresh seed, a few
// times at most, and otherwise grows.
constexpr int32_t kLongProbe = 64;
constexpr int32_t kMaxReseeds = 4;

void AllocateSlots(HCountTable* table, uint64_t count) {
  HBuffer memory = HBuffer_allocateLarge(static_cast<size_t>(count) * sizeof(HCountSlot));
  if (!memory) HFatal("Fatal Error: Hash table allocation\n");
  std::memset(memory.get(), 0, static_cast<size_t>(count) * sizeof(HCountSlot));  // every cell empty
  table->memory = std::move(memory);
  table->cells = reinterpret_cast<HCountSlot*>(table->memory.get());
  table->mask = count - 1;
}

// Places every token again into `count` slots, rehashing them when the seed
// changed.
void Rebuild(HCountTable* table, uint64_t count, bool rehash) {
  AllocateSlots(table, count);
  const int32_t size = HCountTable_size(table);
  for (int32_t id = 0; id < size; ++id) {
    const unsigned char* token = table->tokens[static_cast<size_t>(id)];
    const int32_t n = table->lengths[static_cast<size_t>(id)];
    const uint64_t head = HHashtable_prefix(token, n);
    uint64_t& hash = table->hashes[static_cast<size_t>(id)];
    if (rehash) hash = HHashtable_keyHash(token, n, head, table->seed);
    uint64_t place = hash & table->mask;
    while (table->cells[place].length != 0) place = (place + 1) & table->mask;
    table->cells[place] = HCountSlot{hash, head, HCountTable_tail(token, n), n, id};
  }
}

}  // namespace

void HCountTable_create(HCountTable* table, int64_t text_length) {
  // About one distinct token per 500 bytes of a long text; the table grows
  // when the guess falls short.
  uint64_t want = static_cast<uint64_t>(text_length / 256);
  if (want < kMinSlots) want = kMinSlots;
  if (want > (uint64_t{1} << 20)) want = uint64_t{1} << 20;
  AllocateSlots(table, std::bit_ceil(want));
  table->seed = HHashtable_processSeed();
  table->reseeds = 0;
  table->tokens.clear();
  table->lengths.clear();
  table->hashes.clear();
  table->storage.clear();
}

int32_t HCountTable_add(HCountTable* table, const unsigned char* token, int32_t n, uint64_t head, uint64_t tail,
                        uint64_t hash, uint64_t place, int32_t steps) {
  const int32_t id = HCountTable_size(table);
  try {
    unsigned char* copy = static_cast<unsigned char*>(table->storage.allocate(static_cast<size_t>(n)));
    std::memcpy(copy, token, static_cast<size_t>(n));
    table->tokens.push_back(copy);
    table->lengths.push_back(n);
    table->hashes.push_back(hash);
  } catch (const std::bad_alloc&) {
    HFatal("Error: Insert hash table\n");
  }
  table->cells[place] = HCountSlot{hash, head, tail, n, id};
  const uint64_t capacity = table->mask + 1;
  if (steps + 1 >= kLongProbe && table->reseeds < kMaxReseeds) {
    ++table->reseeds;
    table->seed = HHash_mix(table->seed ^ 0x9e3779b97f4a7c15ull, HHashtable_processSeed() + table->reseeds) | 1;
    Rebuild(table, capacity, true);
  } else if (2 * static_cast<uint64_t>(id + 1) > capacity ||
             (steps + 1 >= kLongProbe && capacity < 8 * static_cast<uint64_t>(id + 1))) {
    Rebuild(table, capacity * 2, false);
  }
  return id;
}

int32_t HCountTable_find(const HCountTable* table, const unsigned char* token, int32_t n) {
  const uint64_t head = HHashtable_prefix(token, n);
  const uint64_t tail = HCountTable_tail(token, n);
  const uint64_t hash = HHashtable_keyHash(token, n, head, table->seed);
  for (uint64_t place = hash & table->mask;; place = (place + 1) & table->mask) {
    const HCountSlot& s = table->cells[place];
    if (s.length == 0) return -1;
    if (s.hash == hash && s.head == head && s.tail == tail && s.length == n &&
        std::memcmp(table->tokens[static_cast<size_t>(s.id)], token, static_cast<size_t>(n)) == 0) {
      return s.id;
    }
  }
}
