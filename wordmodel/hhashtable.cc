#include "wordmodel/hhashtable.h"

#include <cstring>
#include <new>

#include "wordmodel/hdictionary.h"
#include "wordmodel/hjumpers.h"
#include "wordmodel/hlog.h"

namespace {

constexpr size_t kArenaBlock = 1 << 16;

inline uint32_t FastRemainder(uint32_t a, uint64_t magic, uint32_t d) {
  uint64_t low = magic * a;
  return static_cast<uint32_t>((static_cast<unsigned __int128>(low) * d) >> 64);
}

inline uint32_t BucketOf(int32_t h, const HHashtable* table) {
  uint32_t magnitude = h < 0 ? 0u - static_cast<uint32_t>(h) : static_cast<uint32_t>(h);
  return FastRemainder(magnitude, table->remainder_magic, static_cast<uint32_t>(table->bucket_count));
}

inline bool Same(const HNode* node, const unsigned char* token, int32_t length, int32_t hash, uint64_t prefix) {
  return node->hash == hash && node->prefix == prefix && node->length == length &&
         (length <= 8 || std::memcmp(node->token + 8, token + 8, static_cast<size_t>(length - 8)) == 0);
}

inline HNode* FindInChain(HNode* node, const unsigned char* token, int32_t length, int32_t hash, uint64_t prefix,
                          HNode** previous) {
  HNode* prev = nullptr;
  for (; node; prev = node, node = node->link) {
    if (Same(node, token, length, hash, prefix)) break;
  }
  *previous = prev;
  return node;
}

}  // namespace

static HNode* InsertHashed(const unsigned char* token, int32_t length, int32_t hash, uint64_t prefix,
                           HHashtable* table, int* is_new);

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
  table->buckets.reset(new (std::nothrow) HNode*[static_cast<size_t>(count)]());
  if (!table->buckets) HFatal("Fatal Error: Hash table allocation\n");
  table->bucket_count = static_cast<int32_t>(count);
  table->entry_count = 0;
  table->remainder_magic = UINT64_MAX / static_cast<uint64_t>(count) + 1;
}

int32_t HHashtable_hashValue(const unsigned char* token, int32_t length) {
  int32_t h = kHHashSeed;
  for (int32_t i = 0; i < length; ++i) h = HHashtable_hashStep(h, token[i]);
  return h;
}

HNode* const* HHashtable_bucketAddress(int32_t hash, const HHashtable* table) {
  return &table->buckets[BucketOf(hash, table)];
}

int32_t HHashtable_hash(const unsigned char* token, int32_t length, const HHashtable* table) {
  return static_cast<int32_t>(BucketOf(HHashtable_hashValue(token, length), table));
}

HNode* HHashtable_lookup(const unsigned char* token, int32_t length, const HHashtable* table) {
  return HHashtable_lookupKey(token, length, HHashtable_hashValue(token, length), HHashtable_prefix(token, length),
                              table);
}

HNode* HHashtable_lookupKey(const unsigned char* token, int32_t length, int32_t hash, uint64_t prefix,
                            const HHashtable* table) {
  if (table->bucket_count <= 0) return nullptr;
  HNode* prev;
  return FindInChain(table->buckets[BucketOf(hash, table)], token, length, hash, prefix, &prev);
}

HNode* HHashtable_insertEntry(const unsigned char* token, int32_t length, HHashtable* table, int* is_new) {
  return InsertHashed(token, length, HHashtable_hashValue(token, length), HHashtable_prefix(token, length), table,
                      is_new);
}

HNode* HHashtable_insertKey(const unsigned char* token, int32_t length, int32_t hash, uint64_t prefix,
                            HHashtable* table) {
  int is_new;
  return InsertHashed(token, length, hash, prefix, table, &is_new);
}

static HNode* InsertHashed(const unsigned char* token, int32_t length, int32_t hash, uint64_t prefix,
                           HHashtable* table, int* is_new) {
  if (table->bucket_count <= 0) HFatal("Error: Insert hash table\n");
  HNode** head = &table->buckets[BucketOf(hash, table)];
  HNode* prev;
  HNode* node = FindInChain(*head, token, length, hash, prefix, &prev);
  if (node) {
    ++node->frequency;
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
  } catch (const std::bad_alloc&) {
    HFatal("Error: Insert hash table\n");
  }
  std::memcpy(copy, token, static_cast<size_t>(length));
  *entry = HNode{copy, length, 1, 0, 0, *head, -1, 0, hash, prefix};
  *head = entry;
  ++table->entry_count;
  *is_new = 1;
  return entry;
}

int HHashtable_insert(const unsigned char* token, int32_t length, HHashtable* table) {
  int is_new;
  HHashtable_insertEntry(token, length, table, &is_new);
  return is_new;
}

void HHashtable_free(HHashtable* table) {
  table->buckets.reset();
  table->storage.clear();
  table->bucket_count = 0;
  table->entry_count = 0;
}

void HModel_free(HModel* model, bool owns_dictionary_string) {
  if (model->dictionary.string_length == -1) return;
  HDictionary_free(&model->dictionary, owns_dictionary_string);
  HHashtable_free(&model->vocabulary);
  HJumpers_free(&model->jumpers);
  model->dictionary.string_length = -1;
}
