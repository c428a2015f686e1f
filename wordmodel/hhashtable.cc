#include "wordmodel/hhashtable.h"

#include <atomic>
#include <cstring>
#include <new>
#include <random>

#include "wordmodel/hlog.h"

namespace {

constexpr size_t kArenaBlock = 1 << 16;

// A chain that reaches this length when an entry joins it means the seed
// is unlucky for this text (with a random seed and at most one entry per
// chain on average, a chain of 24 among millions has odds far below one in
// a billion): the table is rebuilt with a fresh seed, a few times at most,
// and otherwise grows.
constexpr int32_t kLongChain = 24;
constexpr int32_t kMaxReseeds = 4;

std::atomic<uint64_t> g_process_seed{0};

uint64_t DrawSeed() {
  std::random_device device;
  uint64_t s = (static_cast<uint64_t>(device()) << 32) ^ device();
  return HHash_mix(s ^ 0x8bb84b93962eacc9ull, 0x4b33a62ed433d4a3ull) | 1;
}

inline bool Same(const HNode* node, const unsigned char* token, int32_t length, uint64_t hash, uint64_t prefix) {
  return node->hash == hash && node->prefix == prefix && node->length == length &&
         (length <= 8 || std::memcmp(node->token + 8, token + 8, static_cast<size_t>(length - 8)) == 0);
}

inline HNode* FindInChain(HNode* node, const unsigned char* token, int32_t length, uint64_t hash, uint64_t prefix,
                          HNode** previous, int32_t* steps) {
  HNode* prev = nullptr;
  int32_t walked = 0;
  for (; node; prev = node, node = node->link, ++walked) {
    if (Same(node, token, length, hash, prefix)) break;
  }
  *previous = prev;
  *steps = walked;
  return node;
}

void AllocateChains(HHashtable* table, uint64_t count) {
  table->chains.reset(new (std::nothrow) HNode*[count]());
  if (!table->chains) HFatal("Fatal Error: Hash table allocation\n");
  table->chain_mask = count - 1;
}

// Relinks every entry into `count` chains, rehashing the tokens when the
// seed changed.
void Rebuild(HHashtable* table, uint64_t count, bool rehash) {
  AllocateChains(table, count);
  for (HNode* node : table->entries) {
    if (rehash) node->hash = HHashtable_keyHash(node->token, node->length, node->prefix, table->seed);
    HNode** head = &table->chains[node->hash & table->chain_mask];
    node->link = *head;
    *head = node;
  }
}

}  // namespace

uint64_t HHashtable_processSeed() {
  uint64_t s = g_process_seed.load(std::memory_order_relaxed);
  if (s == 0) {
    uint64_t drawn = DrawSeed();
    if (g_process_seed.compare_exchange_strong(s, drawn)) s = drawn;
  }
  return s;
}

void HHashtable_setProcessSeed(uint64_t seed) { g_process_seed.store(seed | 1, std::memory_order_relaxed); }

void* HArena::allocate(size_t n) {
  n = (n + 15) & ~static_cast<size_t>(15);
  if (n > left_) {
    if (n > kArenaBlock / 4) {
      // Large tokens get a block of their own; the current block stays open.
      blocks_.emplace_back(new unsigned char[n]);
      return blocks_.back().get();
    }
    blocks_.emplace_back(new unsigned char[kArenaBlock]);
    cursor_ = blocks_.back().get();
    left_ = kArenaBlock;
  }
  void* p = cursor_;
  cursor_ += n;
  left_ -= n;
  return p;
}

void HArena::clear() {
  blocks_.clear();
  cursor_ = nullptr;
  left_ = 0;
}

void HHashtable_create(HModel* model, int32_t hint) {
  HHashtable* table = &model->vocabulary;
  HHashtable_free(table);
  int64_t count = static_cast<int64_t>(hint) + 13;
  if (count < 1 || count > INT32_MAX) HFatal("Fatal Error: Hash table allocation\n");
  // The chains start at the power of two at or above the hint (at most 2^16:
  // a hint from the text length overstates the vocabulary) and grow.
  uint64_t chains = std::bit_ceil(static_cast<uint64_t>(count < (1 << 16) ? count : (1 << 16)));
  AllocateChains(table, chains);
  table->bucket_count = static_cast<int32_t>(count);
  table->entry_count = 0;
  table->seed = HHashtable_processSeed();
  table->reseeds = 0;
}

int32_t HHashtable_hashValue(const unsigned char* token, int32_t length) {
  int32_t h = kHHashSeed;
  for (int32_t i = 0; i < length; ++i) h = HHashtable_hashStep(h, token[i]);
  return h;
}

int32_t HHashtable_hash(const unsigned char* token, int32_t length, const HHashtable* table) {
  int32_t h = HHashtable_hashValue(token, length);
  uint32_t magnitude = h < 0 ? 0u - static_cast<uint32_t>(h) : static_cast<uint32_t>(h);
  return static_cast<int32_t>(magnitude % static_cast<uint32_t>(table->bucket_count));
}

HNode* HHashtable_lookup(const unsigned char* token, int32_t length, const HHashtable* table) {
  if (table->bucket_count <= 0) return nullptr;
  uint64_t prefix = HHashtable_prefix(token, length);
  return HHashtable_lookupKey(token, length, HHashtable_keyHash(token, length, prefix, table->seed), prefix, table);
}

HNode* HHashtable_lookupKey(const unsigned char* token, int32_t length, uint64_t hash, uint64_t prefix,
                            const HHashtable* table) {
  if (table->bucket_count <= 0) return nullptr;
  HNode* prev;
  int32_t steps;
  return FindInChain(*HHashtable_bucketAddress(hash, table), token, length, hash, prefix, &prev, &steps);
}

static HNode* InsertHashed(const unsigned char* token, int32_t length, uint64_t hash, uint64_t prefix,
                           HHashtable* table, int* is_new, int32_t add = 1) {
  if (table->bucket_count <= 0) HFatal("Error: Insert hash table\n");
  HNode** head = &table->chains[hash & table->chain_mask];
  HNode* prev;
  int32_t steps;
  HNode* node = FindInChain(*head, token, length, hash, prefix, &prev, &steps);
  if (node) {
    node->frequency += add;
    if (prev) {
      prev->link = node->link;
      node->link = *head;
      *head = node;
    }
    *is_new = 0;
    return node;
  }
  HNode* entry;
  unsigned char* copy;
  try {
    entry = static_cast<HNode*>(table->storage.allocate(sizeof(HNode)));
    copy = static_cast<unsigned char*>(table->storage.allocate(static_cast<size_t>(length)));
    table->entries.push_back(entry);
  } catch (const std::bad_alloc&) {
    HFatal("Error: Insert hash table\n");
  }
  std::memcpy(copy, token, static_cast<size_t>(length));
  *entry = HNode{copy, length, add, 0, 0, *head, -1, 0, hash, prefix, table->entry_count};
  *head = entry;
  ++table->entry_count;
  *is_new = 1;

  uint64_t chains = table->chain_mask + 1;
  if (steps + 1 >= kLongChain && table->reseeds < kMaxReseeds) {
    ++table->reseeds;
    table->seed = HHash_mix(table->seed ^ 0x9e3779b97f4a7c15ull, HHashtable_processSeed() + table->reseeds) | 1;
    Rebuild(table, chains, true);
  } else if (static_cast<uint64_t>(table->entry_count) > chains ||
             (steps + 1 >= kLongChain && chains < 4 * static_cast<uint64_t>(table->entry_count))) {
    Rebuild(table, chains * 2, false);
  }
  return entry;
}

HNode* HHashtable_insertEntry(const unsigned char* token, int32_t length, HHashtable* table, int* is_new) {
  uint64_t prefix = HHashtable_prefix(token, length);
  return InsertHashed(token, length, HHashtable_keyHash(token, length, prefix, table->seed), prefix, table, is_new);
}

HNode* HHashtable_insertKey(const unsigned char* token, int32_t length, uint64_t hash, uint64_t prefix,
                            HHashtable* table) {
  int is_new;
  return InsertHashed(token, length, hash, prefix, table, &is_new);
}

HNode* HHashtable_internKey(const unsigned char* token, int32_t length, uint64_t hash, uint64_t prefix,
                            HHashtable* table) {
  int is_new;
  return InsertHashed(token, length, hash, prefix, table, &is_new, 0);
}

int HHashtable_insert(const unsigned char* token, int32_t length, HHashtable* table) {
  int is_new;
  HHashtable_insertEntry(token, length, table, &is_new);
  return is_new;
}

void HHashtable_reserve(HHashtable* table, int32_t count) {
  if (table->bucket_count <= 0 || count <= 0) return;
  const uint64_t want = std::bit_ceil(static_cast<uint64_t>(count));
  if (want > table->chain_mask + 1) Rebuild(table, want, false);
  table->entries.reserve(static_cast<size_t>(count));
}

int32_t HHashtable_longestChain(const HHashtable* table) {
  int32_t longest = 0;
  if (table->bucket_count <= 0) return 0;
  for (uint64_t i = 0; i <= table->chain_mask; ++i) {
    int32_t n = 0;
    for (const HNode* node = table->chains[i]; node; node = node->link) ++n;
    if (n > longest) longest = n;
  }
  return longest;
}

void HHashtable_free(HHashtable* table) {
  table->chains.reset();
  table->chain_mask = 0;
  table->entries = std::vector<HNode*>();
  table->storage.clear();
  table->bucket_count = 0;
  table->entry_count = 0;
}

