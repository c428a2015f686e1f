// The radix-128 Huffman code: tree construction over the vocabulary, rank
// order, and the canonical code table.
#ifndef MORAVINE_WORDMODEL_HUFFTREE_H_
#define MORAVINE_WORDMODEL_HUFFTREE_H_

#include <cstdint>
#include <memory>
#include <vector>

#include "wordmodel/hmodel.h"

// The tree array and the filler leaves and inner nodes of one construction.
// The token leaves belong to the vocabulary.
struct HTreeStorage {
  std::vector<HNode*> array;
  std::unique_ptr<HNode[]> nodes;
};

// Builds the tree, rescaling the frequencies until no token lies deeper than
// level 4. The first n entries of storage->array are then the tokens in rank
// order. With threads > 1, a large vocabulary's tokens are sorted by their
// bytes on a second thread meanwhile.
void Hufftree_build(HModel* model, HTreeStorage* storage, int32_t threads = 1);

// Fills leaves[0..a) with the vocabulary entries and a - n new filler leaves
// (taken from storage) and sorts them by frequency, highest first.
void Hufftree_createLeaves(HNode** leaves, int32_t a, HModel* model, HTreeStorage* storage);

// Builds the tree over the sorted leaves in tree[0..a); the result is the
// index of the root and *node_count = a + b. The array must have room for
// a + b entries; inner nodes are taken from storage after the filler leaves.
int32_t Hufftree_fromLeaves(HNode** tree, int32_t* node_count, int32_t a, HTreeStorage* storage);

// Sets the levels and sorts the nodes into level order; the result is the
// maximum level.
int32_t Hufftree_levels(HNode** tree, int32_t root, int32_t node_count);

// Fills the code table from the level-sorted tree array and writes every
// token's codeword and length into its vocabulary entry.
void HCodetable_fromtree(HNode* const* tree, HCodetable* table, HModel* model);

// Fills the canonical code table of n tokens of which count[l] have
// codewords of l bytes (l = 1..4).
void HCodetable_fromcounts(const int32_t count[5], int32_t n, HCodetable* table);

// Checks a code table read from a file, whose token_count is set, against
// the canonical table of its token count: every value must be the one the
// compressor writes for some split of the tokens into lengths. Fills
// level_count; fails with "Error: damaged code table" otherwise.
void HCodetable_check(HCodetable* table);

// The number of leaves a for n tokens: n - (n mod 127) + 128.
inline int32_t Hufftree_leafCount(int32_t n) { return n - (n % 127) + 128; }

#endif  // MORAVINE_WORDMODEL_HUFFTREE_H_
