#include "search/myhash.h"

#include <cstring>
#include <new>

#include "wordmodel/hhashtable.h"
#include "wordmodel/hlog.h"

namespace {

int32_t BucketOf(const unsigned char* key, int32_t length, const MyHash* table) {
  int32_t h = HHashtable_hashValue(key, length);
  int32_t r = h % table->bucket_count;
  return r < 0 ? -r : r;
}

MyHashNode* Find(const unsigned char* key, int32_t length, const MyHash* table, int32_t bucket, MyHashNode** prev) {
  MyHashNode* before = nullptr;
  MyHashNode* node = table->buckets[bucket];
  for (; node; before = node, node = node->next) {
    if (node->key_length == length && std::memcmp(node->key, key, static_cast<size_t>(length)) == 0) break;
  }
  *prev = before;
  return node;
}

}  // namespace

void MyHash_create(MyHash* table, int32_t expected) {
  MyHash_destroy(table);
  int64_t count = 10 * static_cast<int64_t>(expected);
  if (count < 1 || count > INT32_MAX) HFatal("Fatal Error: MyHash table allocation\n");
  table->buckets.reset(new (std::nothrow) MyHashNode*[static_cast<size_t>(count)]());
  if (!table->buckets) HFatal("Fatal Error: MyHash table allocation\n");
  table->bucket_count = static_cast<int32_t>(count);
  table->key_count = 0;
}

void MyHash_destroy(MyHash* table) {
  table->nodes.clear();
  table->buckets.reset();
  table->bucket_count = 0;
  table->key_count = 0;
}

MyHashNode* MyHash_lookup(const unsigned char* key, int32_t length, const MyHash* table) {
  if (table->bucket_count <= 0 || length < 1 || length > 4) return nullptr;
  MyHashNode* prev;
  return Find(key, length, table, BucketOf(key, length, table), &prev);
}

int MyHash_insert(const unsigned char* key, int32_t length, int32_t value, MyHash* table) {
  if (table->bucket_count <= 0 || length < 1 || length > 4) return 0;
  int32_t bucket = BucketOf(key, length, table);
  MyHashNode* prev;
  MyHashNode* node = Find(key, length, table, bucket, &prev);
  if (node) {
    if (prev) {
      prev->next = node->next;
      node->next = table->buckets[bucket];
      table->buckets[bucket] = node;
    }
    return 0;
  }
  std::unique_ptr<MyHashNode> fresh(new (std::nothrow) MyHashNode{});
  if (!fresh) HFatal("Error: Insert hash table\n");
  std::memcpy(fresh->key, key, static_cast<size_t>(length));
  fresh->key_length = length;
  fresh->value = value;
  fresh->next = table->buckets[bucket];
  table->buckets[bucket] = fresh.get();
  try {
    table->nodes.push_back(std::move(fresh));
  } catch (const std::bad_alloc&) {
    table->buckets[bucket] = table->buckets[bucket]->next;
    HFatal("Error: Insert hash table\n");
  }
  ++table->key_count;
  return 1;
}
