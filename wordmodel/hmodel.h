// The records of the coding model of one compressed file.
#ifndef MORAVINE_WORDMODEL_HMODEL_H_
#define MORAVINE_WORDMODEL_HMODEL_H_

#include <cstdint>
#include <memory>
#include <vector>

#include "wordmodel/hbuffer.h"

// A tagged codeword: the codeword bytes in the low 1..4 bytes, the tagged
// first byte most significant.
using HCodeword = uint32_t;

// A vocabulary entry, which is also a node of the Huffman tree.
struct HNode {
  unsigned char* token;  // owned by the vocabulary; null for filler and inner nodes
  int32_t length;        // token length in bytes; 0 for filler and inner nodes
  int32_t frequency;     // occurrences (possibly rescaled); sum of children for inner nodes
  HCodeword codeword;    // tagged codeword, once the code is built
  int32_t level;         // depth while building, then the codeword length in bytes
  HNode* link;           // next entry of the same bucket chain
  int32_t child;         // index of the first child in the tree array (inner nodes)
  uint32_t body_bytes;   // the codeword bytes in body order, first byte lowest
  uint64_t hash;         // the vocabulary's keyed hash of the token (HHashtable_keyHash)
  uint64_t prefix;       // the token's first 8 bytes, zero-padded, for fast comparison
  int32_t id;            // order of first insertion into the vocabulary, from 0
};

// Chunked storage for vocabulary entries and their token bytes, so that the
// vocabulary does not make one heap allocation per entry.
class HArena {
 public:
  // Returns n bytes aligned for any record; throws std::bad_alloc.
  void* allocate(size_t n);
  void clear();

 private:
  std::vector<std::unique_ptr<unsigned char[]>> blocks_;
  unsigned char* cursor_ = nullptr;
  size_t left_ = 0;
};

// Entries are placed by a hash keyed with a per-process random seed, in a
// power-of-two number of chains that doubles as the vocabulary grows, so no
// text can steer its tokens into a few long chains. `bucket_count` keeps the
// nominal count that HHashtable_hash reduces the documented hash value by.
struct HHashtable {
  int32_t bucket_count = 0;  // nominal bucket count; 0 once freed
  int32_t entry_count = 0;
  std::unique_ptr<HNode*[]> chains;  // chain heads, chain_mask + 1 of them
  uint64_t chain_mask = 0;
  uint64_t seed = 0;        // key of the placement hash
  int32_t reseeds = 0;      // times the table was rebuilt with a fresh seed
  std::vector<HNode*> entries;  // every entry, by id (first-insertion order)
  HArena storage;
};

struct HDictionary {
  const unsigned char* string = nullptr;
  int32_t string_length = 0;  // -1 marks a freed model
  int32_t token_count = 0;
  std::unique_ptr<int32_t[]> start;  // start position of each token, by rank
  HBuffer owned_string;              // set when the dictionary owns its string
  // Under the Unicode rules, the class of each token by rank (HCharClass:
  // separator, word, or single-code-point word); empty under the ASCII
  // rules, where a token's first byte tells.
  std::unique_ptr<unsigned char[]> classes;
};

struct HCodetable {
  int32_t First_cw[5] = {0, 0, 0, 0, 0};  // index 1..4 by codeword length
  int32_t Offset[5] = {0, 0, 0, 0, 0};
  int32_t max_cw_length = 0;
  int32_t token_count = 0;
  // The number of codewords of each length: the plain values of length l
  // run from First_cw[l] to First_cw[l] + level_count[l] - 1 and stand for
  // the ranks from Offset[l] on. Filled when the table is built and when a
  // table read from a file passes HCodetable_check; a codeword outside its
  // length's range belongs to no token.
  int32_t level_count[5] = {0, 0, 0, 0, 0};
};

struct HJumpers {
  int32_t count = 0;
  std::unique_ptr<int32_t[]> text_positions;
  std::unique_ptr<int32_t[]> body_positions;
};

// Per-rank decoding entry for whole-file decoding: tokens of up to 14 bytes
// inline, so that decoding a codeword touches one 16-byte record.
struct HDecodeEntry {
  unsigned char bytes[14];
  unsigned char length;   // 0 for a longer token: read it from the dictionary
  unsigned char is_word;  // a word that takes a blank between it and another such word (HDecode_takesBlank)
};

struct HModel {
  HHashtable vocabulary;
  HDictionary dictionary;
  HCodetable codetable;
  HJumpers jumpers;
  std::unique_ptr<HDecodeEntry[]> decode_table;  // optional, built for whole-file decoding
  int32_t rule = 0;            // the parsing rule (hrule.h), as read from a file or compressed with
  uint32_t text_checksum = 0;  // under the Unicode rules, the CRC-32 of the text that the file states
};

#endif  // MORAVINE_WORDMODEL_HMODEL_H_
