#include "search/scan.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "wordmodel/hlog.h"

namespace {

class OffsetWriter {
 public:
  OffsetWriter(SearchOffsets* out, int32_t expected) : out_(out) {
    out_->capacity = expected > 100 ? expected : 100;
    out_->at.reset(static_cast<int32_t*>(std::malloc(sizeof(int32_t) * static_cast<size_t>(out_->capacity))));
    if (!out_->at) HFatal("Error: memory allocation (Search_scanBody)\n");
  }

  void append(int32_t offset) {
    if (count_ == out_->capacity) {
      int64_t next = out_->capacity + static_cast<int64_t>(std::sqrt(static_cast<double>(out_->capacity))) + 1;
      void* p = next <= INT32_MAX ? std::realloc(out_->at.get(), sizeof(int32_t) * static_cast<size_t>(next)) : nullptr;
      if (!p) HFatal("Error: memory allocation (Search_scanBody)\n");
      out_->at.release();
      out_->at.reset(static_cast<int32_t*>(p));
      out_->capacity = static_cast<int32_t>(next);
    }
    out_->at[count_++] = offset;
  }

  int32_t count() const { return count_; }

 private:
  SearchOffsets* out_;
  int32_t count_ = 0;
};

// The codeword at r runs to the next tagged byte or the end of the body.
inline int32_t CodewordEnd(const unsigned char* body, int32_t r, int32_t length) {
  int32_t q = r + 1;
  while (q < length && !(body[q] & 0x80)) ++q;
  return q;
}

// Few keys are compared directly; more go through the table.
struct KeySet {
  uint32_t keys[16];
  int32_t lengths[16];
  int32_t count = 0;
  bool direct = false;

  explicit KeySet(const MyHash* table) {
    if (table->key_count > 16) return;
    for (const auto& node : table->nodes) {
      uint32_t k = 0;
      std::memcpy(&k, node->key, static_cast<size_t>(node->key_length));
      keys[count] = k;
      lengths[count] = node->key_length;
      ++count;
    }
    direct = true;
  }

  bool contains(const unsigned char* p, int32_t len, const MyHash* table) const {
    if (len > 4) return false;
    if (!direct) return MyHash_lookup(p, len, table) != nullptr;
    uint32_t k = 0;
    std::memcpy(&k, p, static_cast<size_t>(len));
    for (int32_t i = 0; i < count; ++i) {
      if (keys[i] == k && lengths[i] == len) return true;
    }
    return false;
  }
};

}  // namespace

void Search_scanBody(int32_t* count, const MyHash* table, const unsigned char* filter, const unsigned char* body,
                     int32_t length, SearchOffsets* offsets) {
  OffsetWriter out(offsets, *count);
  KeySet keys(table);
  if (length > 0) {
    // The byte at the start of the body begins a codeword even when it is
    // not tagged; every later codeword begins at a tagged byte.
    int32_t q = CodewordEnd(body, 0, length);
    if (filter[body[0]] && keys.contains(body, q, table)) out.append(0);

    // Candidates are tagged bytes whose filter flag is set. With a single
    // flagged byte value the search for it is a memchr.
    int flagged = 0;
    unsigned char only = 0;
    for (int b = 0x80; b < 256; ++b) {
      if (filter[b]) {
        ++flagged;
        only = static_cast<unsigned char>(b);
      }
    }
    if (flagged == 1) {
      const unsigned char* p = body + q;
      const unsigned char* end = body + length;
      while (p < end) {
        p = static_cast<const unsigned char*>(std::memchr(p, only, static_cast<size_t>(end - p)));
        if (!p) break;
        int32_t r = static_cast<int32_t>(p - body);
        int32_t e = CodewordEnd(body, r, length);
        if (keys.contains(p, e - r, table)) out.append(r);
        p = body + e;
      }
    } else if (flagged > 1) {
      unsigned char hit[256];
      for (int b = 0; b < 256; ++b) hit[b] = (b >= 0x80) && filter[b];
      for (int32_t r = q; r < length; ++r) {
        if (!hit[body[r]]) continue;
        int32_t e = CodewordEnd(body, r, length);
        if (keys.contains(body + r, e - r, table)) out.append(r);
        r = e - 1;
      }
    }
  }
  *count = out.count();
}
