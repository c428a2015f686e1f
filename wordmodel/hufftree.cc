#include "wordmodel/hufftree.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <new>
#include <thread>
#include <vector>

#include "wordmodel/hcodeword.h"
#include "wordmodel/hlog.h"
#include "wordmodel/hsort.h"

namespace {

constexpr int32_t kRadix = 128;
constexpr double kRescale = 0.6180469715698392;

// The order of tokens by their bytes, a prefix first.
bool BytesLess(const HNode* x, const HNode* y) {
  int32_t n = std::min(x->length, y->length);
  int c = std::memcmp(x->token, y->token, static_cast<size_t>(n));
  if (c != 0) return c < 0;
  return x->length < y->length;
}

// Vocabularies from this size on have their byte order sorted on a thread
// of its own while the tree is built, when a second thread is allowed.
constexpr size_t kParallelByteOrder = 1 << 14;

// The tokens in the order of their bytes: by the first 8 bytes as one
// number in the order of their bytes, so that most comparisons read no
// token, and tokens that share those by all their bytes.
std::vector<HNode*> ByteOrder(const std::vector<HNode*>& tokens) {
  struct Key {
    uint64_t first8;
    uint32_t at;
  };
  std::vector<Key> keys;
  keys.reserve(tokens.size());
  for (size_t i = 0; i < tokens.size(); ++i) {
    keys.push_back(Key{__builtin_bswap64(tokens[i]->prefix), static_cast<uint32_t>(i)});
  }
  HSort_radix(&keys, [](const Key& k) { return k.first8; });
  for (size_t i = 0; i < keys.size();) {
    size_t j = i + 1;
    while (j < keys.size() && keys[j].first8 == keys[i].first8) ++j;
    if (j - i > 1) {
      std::sort(keys.begin() + static_cast<std::ptrdiff_t>(i), keys.begin() + static_cast<std::ptrdiff_t>(j),
                [&](const Key& x, const Key& y) { return BytesLess(tokens[x.at], tokens[y.at]); });
    }
    i = j;
  }
  std::vector<HNode*> order(tokens.size());
  for (size_t i = 0; i < keys.size(); ++i) order[i] = tokens[keys[i].at];
  return order;
}

// Sets the levels from the root down and puts the tokens first, deepest
// level first and in byte order within a level (`byte_order` holds every
// token); the other nodes all have level -1 and follow in any order.
int32_t LevelOrder(HNode** tree, int32_t root, int32_t node_count, const std::vector<HNode*>& byte_order);

uint32_t BodyBytes(HCodeword tagged, int32_t bytes) {
  uint32_t v = 0;
  for (int32_t i = 0; i < bytes; ++i) v |= ((tagged >> (8 * (bytes - 1 - i))) & 0xFFu) << (8 * i);
  return v;
}

}  // namespace

void Hufftree_createLeaves(HNode** leaves, int32_t a, HModel* model, HTreeStorage* storage) {
  HHashtable* table = &model->vocabulary;
  int32_t n = table->entry_count;
  int32_t fillers = a - n;
  int32_t b = (a - 1) / (kRadix - 1);
  storage->nodes.reset(new (std::nothrow) HNode[static_cast<size_t>(fillers) + static_cast<size_t>(b)]);
  if (!storage->nodes) HFatal("Error: Hufftree_createLeaves\n");

  // Sort keys: frequency descending, then the order of first occurrence in
  // the text. Neither depends on where the table placed the entries, so the
  // code, and the file, are the same whatever the table's seed.
  std::vector<uint64_t> keys;
  keys.reserve(static_cast<size_t>(a));
  std::vector<HNode*> order;
  order.reserve(static_cast<size_t>(a));
  for (HNode* node : table->entries) {
    keys.push_back((static_cast<uint64_t>(INT32_MAX - node->frequency) << 32) | order.size());
    order.push_back(node);
  }
  for (int32_t i = 0; i < fillers; ++i) {
    HNode* filler = &storage->nodes[i];
    *filler = HNode{nullptr, 0, 0, 0, -1, nullptr, -1, 0, 0, 0, -1};
    keys.push_back((static_cast<uint64_t>(INT32_MAX) << 32) | order.size());
    order.push_back(filler);
  }
  HSort_radix(&keys, [](uint64_t k) { return k; });
  for (int32_t i = 0; i < a; ++i) leaves[i] = order[keys[i] & 0xFFFFFFFFu];
}

int32_t Hufftree_fromLeaves(HNode** tree, int32_t* node_count, int32_t a, HTreeStorage* storage) {
  int32_t b = (a - 1) / (kRadix - 1);
  int32_t fillers = 0;
  for (int32_t i = 0; i < a; ++i) fillers += tree[i]->token == nullptr;
  HNode* inner = &storage->nodes[fillers];

  std::vector<HNode*> kids;
  try {
    kids.resize(static_cast<size_t>(b) * kRadix);
  } catch (const std::bad_alloc&) {
    HFatal("Out of mem: Node_queue creation in Hufftree_fromLeaves\n");
  }
  int32_t next_leaf = a - 1;  // the lightest leaf not yet taken
  int32_t head = 0;           // queue of inner nodes: inner[head..made)
  int32_t made = 0;
  for (int32_t step = 0; step < b; ++step) {
    HNode* node = &inner[made];
    int64_t sum = 0;
    for (int32_t j = 0; j < kRadix; ++j) {
      HNode* pick;
      if (next_leaf >= 0 && (head == made || tree[next_leaf]->frequency <= inner[head].frequency)) {
        pick = tree[next_leaf--];
      } else {
        pick = &inner[head++];
      }
      kids[static_cast<size_t>(made) * kRadix + j] = pick;
      sum += pick->frequency;
    }
    *node = HNode{nullptr, 0, static_cast<int32_t>(sum), 0, 0, nullptr, made, 0, 0, 0, -1};
    ++made;
  }

  // Lay the tree out root first, parents before children, the 128 children
  // of a node consecutive with the last picked first.
  tree[0] = &inner[made - 1];
  int32_t fill = 1;
  for (int32_t i = 0; i < fill; ++i) {
    HNode* node = tree[i];
    if (node->token != nullptr || node->child < 0) continue;
    const HNode* const* picks = &kids[static_cast<size_t>(node->child) * kRadix];
    node->child = fill;
    for (int32_t j = kRadix - 1; j >= 0; --j) tree[fill++] = const_cast<HNode*>(picks[j]);
  }
  *node_count = fill;
  return 0;
}

int32_t Hufftree_levels(HNode** tree, int32_t root, int32_t node_count) {
  std::vector<HNode*> tokens;
  for (int32_t i = 0; i < node_count; ++i) {
    if (tree[i]->token != nullptr) tokens.push_back(tree[i]);
  }
  return LevelOrder(tree, root, node_count, ByteOrder(tokens));
}

namespace {

int32_t LevelOrder(HNode** tree, int32_t root, int32_t node_count, const std::vector<HNode*>& byte_order) {
  int32_t max_level = 0;
  tree[root]->level = 0;
  for (int32_t i = root; i < node_count; ++i) {
    HNode* node = tree[i];
    if (node->token != nullptr || node->child < 0 || node->frequency == 0) continue;
    int32_t level = node->level + 1;
    for (int32_t j = 0; j < kRadix; ++j) {
      HNode* child = tree[node->child + j];
      if (child->frequency != 0) {
        child->level = level;
        max_level = std::max(max_level, level);
      } else {
        child->level = -1;
      }
    }
    node->level = -1;
  }
  HNode** end = std::stable_partition(tree, tree + node_count, [](const HNode* x) { return x->token != nullptr; });
  if (static_cast<size_t>(end - tree) != byte_order.size()) HFatal("Error: tree_array_ptr (Hufftree_build)\n");
  // Each level read once, in one pass whose reads do not wait on each
  // other: the sort then reads no entry.
  struct Key {
    uint64_t deeper_first;
    HNode* node;
  };
  std::vector<Key> keys(byte_order.size());
  for (size_t i = 0; i < keys.size(); ++i) {
    keys[i] = Key{static_cast<uint64_t>(int64_t{INT32_MAX} - byte_order[i]->level), byte_order[i]};
  }
  HSort_radix(&keys, [](const Key& k) { return k.deeper_first; });
  for (size_t i = 0; i < keys.size(); ++i) tree[i] = keys[i].node;
  return max_level;
}

}  // namespace

void Hufftree_build(HModel* model, HTreeStorage* storage, int32_t threads) {
  HHashtable* table = &model->vocabulary;
  int32_t n = table->entry_count;
  if (n <= 0) HFatal("Fatal Error: You're trying to parse an empty file! (Hufftree_build)\n");
  int32_t a = Hufftree_leafCount(n);
  int32_t b = (a - 1) / (kRadix - 1);
  try {
    storage->array.assign(static_cast<size_t>(a) + static_cast<size_t>(b), nullptr);
  } catch (const std::bad_alloc&) {
    HFatal("Error: tree_array_ptr (Hufftree_build)\n");
  }
  // The byte order does not depend on the frequencies: it is sorted once,
  // meanwhile the first tree is built when a second thread may.
  std::vector<HNode*> byte_order;
  std::exception_ptr failure;
  std::thread sorter;
  if (threads > 1 && table->entries.size() >= kParallelByteOrder) {
    sorter = std::thread([&] {
      try {
        byte_order = ByteOrder(table->entries);
      } catch (...) {
        failure = std::current_exception();
      }
    });
  } else {
    byte_order = ByteOrder(table->entries);
  }
  for (;;) {
    HNode** tree = storage->array.data();
    int32_t node_count = 0;
    int32_t root = 0;
    try {
      Hufftree_createLeaves(tree, a, model, storage);
      root = Hufftree_fromLeaves(tree, &node_count, a, storage);
    } catch (...) {
      if (sorter.joinable()) sorter.join();
      throw;
    }
    if (sorter.joinable()) {
      sorter.join();
      if (failure) std::rethrow_exception(failure);
    }
    if (LevelOrder(tree, root, node_count, byte_order) <= 4) return;

    bool changed = false;
    for (HNode* node : table->entries) {
      int32_t f = static_cast<int32_t>(node->frequency * kRescale + 1.0);
      changed |= f != node->frequency;
      node->frequency = f;
    }
    // Frequencies of 1 and 2 no longer change; a vocabulary that does not fit
    // even then can never fit.
    if (!changed) {
      HFatal("Error: vocabulary of %d distinct tokens does not fit codewords of at most 4 bytes (Hufftree_build)\n",
             n);
    }
  }
}

void HCodetable_fromcounts(const int32_t count[5], int32_t n, HCodetable* table) {
  int32_t cnt[6] = {0, count[1], count[2], count[3], count[4], 0};
  int32_t top = 4;
  while (top > 1 && cnt[top] == 0) --top;
  table->max_cw_length = top;
  table->token_count = n;
  for (int32_t l = 1; l <= 4; ++l) table->First_cw[l] = table->Offset[l] = 0;
  table->First_cw[top] = kRadix - (n % 127);
  for (int32_t l = top - 1; l >= 1; --l) {
    table->Offset[l] = table->Offset[l + 1] + cnt[l + 1];
    table->First_cw[l] = (table->First_cw[l + 1] + cnt[l + 1]) >> 7;
  }
  table->First_cw[top] = 0;
  for (int32_t k = 4; k >= 1; --k) {
    if (cnt[k] == 0) table->Offset[k] = n - (n % 127) + 129;
    table->level_count[k] = cnt[k];
  }
}

void HCodetable_fromtree(HNode* const* tree, HCodetable* table, HModel* model) {
  int32_t n = model->vocabulary.entry_count;
  int32_t cnt[5] = {0, 0, 0, 0, 0};
  for (int32_t r = 0; r < n; ++r) {
    int32_t level = tree[r]->level;
    if (level < 1 || level > 4) HFatal("Error: token level %d out of range (HCodetable_fromtree)\n", level);
    ++cnt[level];
  }
  HCodetable_fromcounts(cnt, n, table);
  for (int32_t r = 0; r < n; ++r) {
    HNode* node = tree[r];
    HCodeword_TaggedFromTokenrank(r, table, &node->codeword, &node->level);
    node->body_bytes = BodyBytes(node->codeword, node->level);
  }
}

void HCodetable_check(HCodetable* table) {
  const int64_t n = table->token_count;
  if (n < 0) HFatal("Error: damaged code table (HCodetable_check)\n");
  // A length without tokens holds the filler offset; the others start
  // where the next longer length's ranks end, the longest at rank 0.
  const int64_t filler = n - (n % 127) + 129;
  int32_t count[5] = {0, 0, 0, 0, 0};
  int64_t end = n;
  for (int32_t l = 1; l <= 4; ++l) {
    const int64_t offset = table->Offset[l];
    if (offset == filler) continue;
    if (offset < 0 || offset > end) HFatal("Error: damaged code table (HCodetable_check)\n");
    count[l] = static_cast<int32_t>(end - offset);
    end = offset;
  }
  HCodetable canonical;
  HCodetable_fromcounts(count, static_cast<int32_t>(n), &canonical);
  bool same = end == 0 && canonical.max_cw_length == table->max_cw_length;
  // Every codeword of a length must have a plain value that the length's
  // 7-bit digits hold: a split that puts more tokens at a length than it
  // has codewords would give two tokens the same bytes.
  int64_t room = 1;
  for (int32_t l = 1; l <= 4; ++l) {
    room *= 128;
    same = same && (count[l] == 0 || static_cast<int64_t>(canonical.First_cw[l]) + count[l] <= room);
  }
  for (int32_t l = 1; l <= 4; ++l) {
    same = same && canonical.First_cw[l] == table->First_cw[l] && canonical.Offset[l] == table->Offset[l];
  }
  if (!same) HFatal("Error: damaged code table (HCodetable_check)\n");
  for (int32_t l = 1; l <= 4; ++l) table->level_count[l] = canonical.level_count[l];
}
