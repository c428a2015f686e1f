// The word table: the set of codewords that a search looks for in a body,
// keyed by the codeword's bytes (1 to 4, tagged byte first).
#ifndef MORAVINE_SEARCH_MYHASH_H_
#define MORAVINE_SEARCH_MYHASH_H_

#include <cstdint>
#include <memory>
#include <vector>

struct MyHashNode {
  unsigned char key[4];
  int32_t key_length;
  int32_t value;
  MyHashNode* next;
};

struct MyHash {
  int32_t bucket_count = 0;
  int32_t key_count = 0;
  std::unique_ptr<MyHashNode*[]> buckets;
  std::vector<std::unique_ptr<MyHashNode>> nodes;  // owns every node
};

// Makes the table empty with 10 * expected buckets.
void MyHash_create(MyHash* table, int32_t expected);
void MyHash_destroy(MyHash* table);
MyHashNode* MyHash_lookup(const unsigned char* key, int32_t length, const MyHash* table);
// 1 when the key was added, 0 when it was present (it then moves to the head
// of its chain and keeps its value). Keys longer than 4 bytes are refused.
int MyHash_insert(const unsigned char* key, int32_t length, int32_t value, MyHash* table);

#endif  // MORAVINE_SEARCH_MYHASH_H_
