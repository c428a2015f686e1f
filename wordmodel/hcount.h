// The counting pass: every token of a text counted into the vocabulary, and
// the text recorded on the way as a stream of vocabulary ids, so that the
// coding pass needs neither scanning nor hashing.
//
// Ids are given in the order of first occurrence; frequent tokens tend to
// occur early and get small ids, and the stream stores an id in 1, 2 or 4
// bytes by its size. Under the spaceless model the stream leaves out every
// blank that stands between two words, exactly as the body will; the
// blank's count still includes those occurrences.
//
// A long text is split into stretches that start after a newline and are
// counted in parallel, each into a table of its own; the tables are then
// merged in text order, which gives every token the id of its first
// occurrence in the whole text whatever the number of stretches.
#ifndef MORAVINE_WORDMODEL_HCOUNT_H_
#define MORAVINE_WORDMODEL_HCOUNT_H_

#include <bit>
#include <cstdint>
#include <cstring>
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
  int32_t blank_id = -1;           // local id of the blank token, or -1
  std::unique_ptr<HCountTable> table;  // the stretch's own vocabulary, until merged
};

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
void HCount_text(const unsigned char* text, int32_t length, bool spaceless, int32_t threads, HModel* model,
                 HCountResult* result, const HTextRead& text_read = nullptr);

// The id stream's encoding.
inline unsigned char* HIdStream_put(unsigned char* w, uint32_t id) {
  if (id < 0x80) {
    *w = static_cast<unsigned char>(id);
    return w + 1;
  }
  if (id < 0x80 + 0x4000) {
    uint32_t v = id - 0x80;
    w[0] = static_cast<unsigned char>(0x80 | (v >> 8));
    w[1] = static_cast<unsigned char>(v);
    return w + 2;
  }
  w[0] = static_cast<unsigned char>(0xC0 | (id >> 24));
  w[1] = static_cast<unsigned char>(id >> 16);
  w[2] = static_cast<unsigned char>(id >> 8);
  w[3] = static_cast<unsigned char>(id);
  return w + 4;
}

inline const unsigned char* HIdStream_get(const unsigned char* r, uint32_t* id) {
  uint32_t b = r[0];
  if (b < 0x80) {
    *id = b;
    return r + 1;
  }
  if (b < 0xC0) {
    *id = (((b & 0x3F) << 8) | r[1]) + 0x80;
    return r + 2;
  }
  *id = ((b & 0x3F) << 24) | (static_cast<uint32_t>(r[1]) << 16) | (static_cast<uint32_t>(r[2]) << 8) | r[3];
  return r + 4;
}

// HIdStream_put without a branch on the id's size: four bytes are stored
// whatever the size, so the stream needs three bytes of room beyond it.
inline unsigned char* HIdStream_putWide(unsigned char* w, uint32_t id) {
  if constexpr (std::endian::native == std::endian::little) {
    const uint32_t v = id - 0x80;
    const uint32_t two = (0x80 | (v >> 8)) | ((v & 0xFF) << 8);
    const uint32_t four = __builtin_bswap32(0xC0000000u | id);
    const uint32_t wide = id >= 0x80;
    const uint32_t widest = id >= 0x80 + 0x4000;
    // Selected by masks: a compiler turns a choice by conditions back into
    // branches, which the random sizes of ids would mispredict.
    uint32_t e = id ^ ((id ^ two) & (0u - wide));
    e ^= (e ^ four) & (0u - widest);
    std::memcpy(w, &e, 4);
    return w + 1 + wide + 2 * widest;
  } else {
    return HIdStream_put(w, id);
  }
}

// HIdStream_get without a branch on the id's size, for the streams that
// counting writes: every id there is followed by at least three readable
// bytes of its chunk.
inline const unsigned char* HIdStream_getWide(const unsigned char* r, uint32_t* id) {
  if constexpr (std::endian::native == std::endian::little) {
    uint32_t v;
    std::memcpy(&v, r, 4);
    v = __builtin_bswap32(v);  // the id's bytes, first byte highest
    const uint32_t b = v >> 24;
    const uint32_t wide = b >= 0x80;
    const uint32_t widest = b >= 0xC0;
    const uint32_t two = ((v >> 16) & 0x3FFF) + 0x80;
    const uint32_t four = v & 0x3FFFFFFF;
    // Selected by masks: the random sizes of ids would mispredict branches.
    uint32_t x = b ^ ((b ^ two) & (0u - wide));
    x ^= (x ^ four) & (0u - widest);
    *id = x;
    return r + 1 + wide + 2 * widest;
  } else {
    return HIdStream_get(r, id);
  }
}

#endif  // MORAVINE_WORDMODEL_HCOUNT_H_
