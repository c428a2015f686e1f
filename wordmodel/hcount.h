// The counting pass: every token of a text counted into the vocabulary, and
// the text recorded on the way as a stream of vocabulary ids, so that the
// coding pass needs neither scanning nor hashing.
//
// Ids are given in the order of first occurrence; frequent tokens tend to
// occur early and get small ids, and the stream stores an id in 2 or 4
// bytes by its size. A blank that stands between two words has no entry of
// its own: under the words model the word's entry is flagged, under the
// spaceless model the blank is simply left out, exactly as the body will
// leave it out. The blank's count includes those occurrences.
//
// A long text is split into stretches that start after a newline and are
// counted in parallel, each into a table of its own; the tables are then
// merged in text order, which gives every token the id of its first
// occurrence in the whole text whatever the number of stretches.
#ifndef MORAVINE_WORDMODEL_HCOUNT_H_
#define MORAVINE_WORDMODEL_HCOUNT_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "wordmodel/hbuffer.h"
#include "wordmodel/hcounttable.h"
#include "wordmodel/hmodel.h"

// One stretch of the text [begin, end) as counted.
struct HCountStretch {
  int32_t begin = 0;
  int32_t end = 0;
  // The id stream, in local ids, in chunks that the coding pass releases as
  // it goes; no id spans two chunks.
  std::vector<HBuffer> chunks;
  std::vector<int32_t> chunk_lengths;
  std::vector<int32_t> counts;     // occurrences by local id
  std::vector<int32_t> global_id;  // local id -> id in the model's vocabulary
  int64_t dropped_blanks = 0;      // blanks left out of the stream (spaceless)
  uint32_t checksum = 0;           // the CRC-32 of the stretch's text, when asked for
  int32_t blank_id = -1;           // local id of the blank token, or -1
  std::unique_ptr<HCountTable> table;  // the stretch's own vocabulary, until merged
  // With pointer marks: the tokens that get a pair, found assuming
  // `pairs_first` pairs before the stretch. Each one's start in the text
  // and its place in the id stream: chunk index << 32 | byte offset of its
  // entry, with kHPairOnBlank when the token is the blank flagged there.
  int64_t pairs_first = 0;
  int64_t pairs_after = 0;  // pairs before the next stretch
  std::vector<int32_t> pair_text;
  std::vector<uint64_t> pair_place;
};

constexpr uint64_t kHPairOnBlank = uint64_t{1} << 31;

struct HCountResult {
  std::vector<HCountStretch> stretches;
};

// Called with parts [begin, end) of the text that counting has passed and
// will not read again, from the counting threads, possibly several at once.
using HTextRead = std::function<void(int32_t begin, int32_t end)>;

// Counts the text into the model's vocabulary (created by the caller, empty)
// with up to `threads` threads; every entry's frequency is its count. When
// `text_read` is set, every part of the text is handed to it once counted,
// a few MiB at a time.
// With a `distance` above 0 (words model only), counting also finds the
// tokens of the auxiliary pointers: a pair goes to the first token that
// starts at or after the next mark, the marks `distance` bytes apart, each
// pair moving the mark on by one step, at most length / distance + 1 pairs.
// A stretch assumes the pairs before it that the marks give when no token
// before it was long enough to hold them back.
// With `unicode`, the tokens are those of the Unicode models (hunicode.h);
// with `checksum`, each stretch's CRC-32 is taken too (HCountStretch).
void HCount_text(const unsigned char* text, int32_t length, bool spaceless, int32_t threads, HModel* model,
                 HCountResult* result, const HTextRead& text_read = nullptr, int32_t distance = 0,
                 bool unicode = false, bool checksum = false);

// The pairs that stretch `k` of `result` assumes before it.
int64_t HCount_assumedPairs(const HCountResult* result, size_t k, int32_t distance);

// The id stream's entries: a local id below 2^30, and under the words model
// whether the blank token follows the token, a blank that stands between
// two words (kHIdStreamBlank set). Such blanks, about a third of an English
// text's tokens, cost no entry of their own in counting or in coding.
constexpr uint32_t kHIdStreamBlank = 1u << 30;
constexpr uint32_t kHIdStreamIdMask = kHIdStreamBlank - 1;

// The encoding: 16-bit units, least significant byte first; bit 14 of the
// first unit is the blank flag. An id below 2^14 takes one unit; a larger
// one two, the first with its top bit set and the id's bits from 16 on,
// the second with its low 16 bits. Nearly every token of a text has an id
// below 2^14, so the stream takes about two bytes a token.
constexpr uint32_t kHIdStreamShort = 0x4000;

// Stores four bytes whatever the entry's size: the stream needs two bytes
// of room beyond the entry's own.
inline unsigned char* HIdStream_put(unsigned char* w, uint32_t entry) {
  const uint32_t id = entry & kHIdStreamIdMask;
  const uint32_t blank = (entry >> 16) & 0x4000u;
  const uint32_t wide = id >= kHIdStreamShort;
  const uint32_t short_form = id | blank;
  const uint32_t long_form = (0x8000u | blank | (id >> 16)) | (id << 16);
  // Selected by a mask: a compiler may turn a choice by condition back into
  // a branch.
  const uint32_t e = short_form ^ ((short_form ^ long_form) & (0u - wide));
  w[0] = static_cast<unsigned char>(e);
  w[1] = static_cast<unsigned char>(e >> 8);
  w[2] = static_cast<unsigned char>(e >> 16);
  w[3] = static_cast<unsigned char>(e >> 24);
  return w + 2 + 2 * wide;
}

// Reads an entry without a branch on its size: four bytes, which the
// writer's stores always leave in the stream's buffer.
inline const unsigned char* HIdStream_get(const unsigned char* r, uint32_t* entry) {
  const uint32_t v = r[0] | (static_cast<uint32_t>(r[1]) << 8) | (static_cast<uint32_t>(r[2]) << 16) |
                     (static_cast<uint32_t>(r[3]) << 24);
  const uint32_t wide = v & 0x8000u;
  const uint32_t id = v & 0x3FFFu;
  *entry = (wide ? (id << 16) | (v >> 16) : id) | ((v & 0x4000u) << 16);
  return r + 2 + (wide >> 14);
}

#endif  // MORAVINE_WORDMODEL_HCOUNT_H_
