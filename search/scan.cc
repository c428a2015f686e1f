#include "search/scan.h"

#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "wordmodel/hlog.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define MORAVINE_SCAN_X86 1
#endif

namespace {

class OffsetWriter {
 public:
  OffsetWriter(SearchOffsets* out, int32_t expected) : out_(out) {
    out_->capacity = expected > 100 ? expected : 100;
    out_->at.reset(static_cast<int32_t*>(HMemory_allocate(sizeof(int32_t) * static_cast<size_t>(out_->capacity))));
    if (!out_->at) HFatal("Error: memory allocation (Search_scanBody)\n");
  }

  void append(int32_t offset) {
    if (count_ == out_->capacity) {
      int64_t next = out_->capacity + static_cast<int64_t>(std::sqrt(static_cast<double>(out_->capacity))) + 1;
      void* p = next <= INT32_MAX ? HMemory_resize(out_->at.get(), sizeof(int32_t) * static_cast<size_t>(next)) : nullptr;
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

// Few keys are compared directly; more go through an open-addressed set of
// the keys packed with their lengths, which costs one multiply and a probe
// or two where the table would hash the bytes and walk a chain.
struct KeySet {
  uint32_t keys[16];
  int32_t lengths[16];
  int32_t count = 0;
  bool direct = false;
  std::vector<uint64_t> slots;  // 0: empty
  int shift = 64;

  static uint64_t Pack(const unsigned char* p, int32_t len) {
    uint32_t k = 0;
    std::memcpy(&k, p, static_cast<size_t>(len));
    return static_cast<uint64_t>(len) << 32 | k;
  }
  size_t Slot(uint64_t packed) const { return static_cast<size_t>((packed * 0x9E3779B97F4A7C15ull) >> shift); }

  explicit KeySet(const MyHash* table) {
    if (table->key_count <= 16) {
      for (const auto& node : table->nodes) {
        uint32_t k = 0;
        std::memcpy(&k, node->key, static_cast<size_t>(node->key_length));
        keys[count] = k;
        lengths[count] = node->key_length;
        ++count;
      }
      direct = true;
      return;
    }
    size_t size = 64;
    while (size < 4 * table->nodes.size()) size *= 2;
    shift = 64 - std::countr_zero(size);
    slots.assign(size, 0);
    for (const auto& node : table->nodes) {
      const uint64_t packed = Pack(node->key, node->key_length);
      size_t i = Slot(packed);
      while (slots[i] != 0 && slots[i] != packed) i = (i + 1) & (size - 1);
      slots[i] = packed;
    }
  }

  bool contains(const unsigned char* p, int32_t len, const MyHash*) const {
    if (len > 4) return false;
    if (!direct) {
      const uint64_t packed = Pack(p, len);
      for (size_t i = Slot(packed);; i = (i + 1) & (slots.size() - 1)) {
        if (slots[i] == packed) return true;
        if (slots[i] == 0) return false;
      }
    }
    uint32_t k = 0;
    std::memcpy(&k, p, static_cast<size_t>(len));
    for (int32_t i = 0; i < count; ++i) {
      if (keys[i] == k && lengths[i] == len) return true;
    }
    return false;
  }
};

// What every path shares: the test of one candidate, a tagged byte whose
// filter flag is set, and the offsets found so far.
class Scan {
 public:
  Scan(const MyHash* table, const unsigned char* filter, const unsigned char* body, int32_t length,
       int32_t max_hits, OffsetWriter* out)
      : table_(table), keys_(table), body_(body), length_(length), max_hits_(max_hits), out_(out) {
    for (int b = 0; b < 256; ++b) flagged_[b] = b >= 0x80 && filter[b];
  }

  const unsigned char* body() const { return body_; }
  int32_t length() const { return length_; }
  const unsigned char* flagged() const { return flagged_; }
  const KeySet& keys() const { return keys_; }

  // Takes the codeword at r when it is in the table; false once the scan
  // has all the offsets it may give. `line`: the newline codewords before
  // r, when the scan counts them.
  bool candidate(int32_t r, int64_t line = 0) {
    int32_t e = CodewordEnd(body_, r, length_);
    if (keys_.contains(body_ + r, e - r, table_)) {
      out_->append(r);
      if (lines_) lines_->before.push_back(line);
      if (max_hits_ > 0 && out_->count() >= max_hits_) return false;
    }
    return true;
  }
  // Counts lines when asked to (the caller has checked the newline byte).
  void countLines(SearchLineCount* lines) { lines_ = lines; }
  SearchLineCount* lines() const { return lines_; }
  bool full() const { return max_hits_ > 0 && out_->count() >= max_hits_; }

  // The candidates from p to the end, byte by byte.
  void scalarTail(int32_t p) {
    for (; p < length_; ++p) {
      if (flagged_[body_[p]] && !candidate(p)) return;
    }
  }

 private:
  const MyHash* table_;
  KeySet keys_;
  const unsigned char* body_;
  int32_t length_;
  int32_t max_hits_;
  OffsetWriter* out_;
  unsigned char flagged_[256];
  SearchLineCount* lines_ = nullptr;
};

// With a single flagged byte value the search for it is a memchr.
void ScanMemchr(Scan& scan, unsigned char only, int32_t from) {
  const unsigned char* body = scan.body();
  const unsigned char* p = body + from;
  const unsigned char* end = body + scan.length();
  while (p < end) {
    p = static_cast<const unsigned char*>(std::memchr(p, only, static_cast<size_t>(end - p)));
    if (!p || !scan.candidate(static_cast<int32_t>(p - body))) return;
    ++p;
  }
}

#ifdef MORAVINE_SCAN_X86

// Takes the candidates of one block, bit i of the mask standing for p + i.
template <typename Mask>
inline bool TakeBlock(Scan& scan, int32_t p, Mask mask) {
  while (mask) {
    if (!scan.candidate(p + std::countr_zero(mask))) return false;
    mask &= mask - 1;
  }
  return true;
}

// Up to 8 flagged values are compared one by one; more take every tagged
// byte of the block and look its flag up.
void ScanSse2(Scan& scan, int32_t from) {
  const unsigned char* body = scan.body();
  const int32_t length = scan.length();
  __m128i values[8];
  int count = 0;
  for (int b = 0x80; b < 256; ++b) {
    if (!scan.flagged()[b]) continue;
    if (count == 8) {
      count = 9;
      break;
    }
    values[count++] = _mm_set1_epi8(static_cast<char>(b));
  }
  int32_t p = from;
  for (; p + 16 <= length; p += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(body + p));
    unsigned mask;
    if (count <= 8) {
      __m128i m = _mm_setzero_si128();
      for (int i = 0; i < count; ++i) m = _mm_or_si128(m, _mm_cmpeq_epi8(v, values[i]));
      mask = static_cast<unsigned>(_mm_movemask_epi8(m));
    } else {
      mask = static_cast<unsigned>(_mm_movemask_epi8(v));  // the tagged bytes
      for (unsigned t = mask; t; t &= t - 1) {
        const int i = std::countr_zero(t);
        if (!scan.flagged()[body[p + i]]) mask &= ~(1u << i);
      }
    }
    if (!TakeBlock(scan, p, mask)) return;
  }
  scan.scalarTail(p);
}

// Any set of flagged values in two table look-ups per 32 bytes: a tagged
// byte 1hhhllll is flagged when bit hhh of the entry for llll is set.
__attribute__((target("avx2"))) void ScanAvx2(Scan& scan, int32_t from) {
  const unsigned char* body = scan.body();
  const int32_t length = scan.length();
  alignas(32) unsigned char by_low[32] = {};
  alignas(32) unsigned char by_high[32] = {};
  for (int b = 0x80; b < 256; ++b) {
    if (scan.flagged()[b]) by_low[b & 15] = by_low[(b & 15) + 16] |= static_cast<unsigned char>(1u << ((b >> 4) - 8));
  }
  for (int h = 8; h < 16; ++h) by_high[h] = by_high[h + 16] = static_cast<unsigned char>(1u << (h - 8));
  const __m256i low_table = _mm256_load_si256(reinterpret_cast<const __m256i*>(by_low));
  const __m256i high_table = _mm256_load_si256(reinterpret_cast<const __m256i*>(by_high));
  const __m256i nibble = _mm256_set1_epi8(0x0f);
  const __m256i zero = _mm256_setzero_si256();
  int32_t p = from;
  for (; p + 32 <= length; p += 32) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(body + p));
    const __m256i low = _mm256_and_si256(v, nibble);
    const __m256i high = _mm256_and_si256(_mm256_srli_epi16(v, 4), nibble);
    const __m256i bits = _mm256_and_si256(_mm256_shuffle_epi8(low_table, low), _mm256_shuffle_epi8(high_table, high));
    const uint32_t mask = ~static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(bits, zero)));
    if (mask && !TakeBlock(scan, p, mask)) return;
  }
  scan.scalarTail(p);
}

// As TakeBlock, giving each candidate the newline codewords before it: those
// before the block and those of the block below its bit.
__attribute__((target("popcnt"))) inline bool TakeBlockCounting(Scan& scan, int32_t p, uint32_t mask,
                                                                uint32_t newlines, int64_t line) {
  while (mask) {
    const int i = std::countr_zero(mask);
    if (!scan.candidate(p + i, line + std::popcount(newlines & ((1u << i) - 1)))) return false;
    mask &= mask - 1;
  }
  return true;
}

// Takes the candidates of a block of 32 bytes (v0) and, with lines, counts
// its newline codewords after them.
// Asks for the bytes a page ahead of a scan: the processor's own prefetch
// stops at the end of each page, and the pages of a mapped file lie
// anywhere in memory. (A prefetch of a page not yet mapped is dropped.)
inline void Prefetch(const unsigned char* at) {
  _mm_prefetch(reinterpret_cast<const char*>(at + 4096), _MM_HINT_T0);
}

template <bool kLines>
__attribute__((target("avx2,popcnt"))) inline bool TakeWideBlock(Scan& scan, int32_t p, uint32_t mask, __m256i v0,
                                                                  __m256i newline, int64_t* line) {
  if constexpr (kLines) {
    const auto newlines = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(v0, newline)));
    if (mask && !TakeBlockCounting(scan, p, mask, newlines, *line)) return false;
    *line += std::popcount(newlines);
    return true;
  } else {
    return !mask || TakeBlock(scan, p, mask);
  }
}

// The bytes after the last whole block, one by one; with lines, the count
// goes on to the end and is the scan's total.
template <bool kLines>
void FinishTail(Scan& scan, int32_t p, int64_t line) {
  if constexpr (!kLines) {
    scan.scalarTail(p);
  } else {
    const unsigned char* body = scan.body();
    const auto newline = static_cast<unsigned char>(scan.lines()->newline);
    bool taking = !scan.full();
    for (; p < scan.length(); ++p) {
      if (taking && scan.flagged()[body[p]] && !scan.candidate(p, line)) taking = false;
      line += body[p] == newline;
    }
    scan.lines()->total = line;
    scan.lines()->counted = true;
  }
}

// More keys are looked for by two sets at once: a candidate's byte begins a
// key and its next byte is the second byte of some key, or any tagged byte
// when a key is one byte long (which no longer codeword begins with). Each
// set is two table look-ups per 32 bytes, whatever the number of keys.
template <bool kLines>
__attribute__((target("avx2,popcnt"))) void ScanAvx2Sets(Scan& scan, int32_t from) {
  const unsigned char* body = scan.body();
  const int32_t length = scan.length();
  const KeySet& keys = scan.keys();
  // A tagged first byte 1hhhllll is in the set when bit hhh of first_low[llll]
  // is set; an untagged second byte 0hhhllll when bit hhh of second_low[llll] is.
  alignas(32) unsigned char first_low[32] = {};
  alignas(32) unsigned char second_low[32] = {};
  alignas(32) unsigned char bit_of_high[32] = {};
  bool any_tagged_second = false;
  auto add_key = [&](const unsigned char* key, int32_t len) {
    if (!scan.flagged()[key[0]]) return;
    first_low[key[0] & 15] = first_low[(key[0] & 15) + 16] |= static_cast<unsigned char>(1u << ((key[0] >> 4) - 8));
    if (len == 1) {
      any_tagged_second = true;
    } else if (key[1] < 0x80) {
      second_low[key[1] & 15] = second_low[(key[1] & 15) + 16] |= static_cast<unsigned char>(1u << (key[1] >> 4));
    } else {
      any_tagged_second = true;  // not a codeword's second byte; keeps the filter a superset
    }
  };
  if (keys.direct) {
    for (int32_t i = 0; i < keys.count; ++i) {
      unsigned char bytes[4];
      std::memcpy(bytes, &keys.keys[i], sizeof bytes);
      add_key(bytes, keys.lengths[i]);
    }
  } else {
    for (uint64_t packed : keys.slots) {
      if (packed == 0) continue;
      unsigned char bytes[4];
      const auto k = static_cast<uint32_t>(packed);
      std::memcpy(bytes, &k, sizeof bytes);
      add_key(bytes, static_cast<int32_t>(packed >> 32));
    }
  }
  for (int h = 0; h < 8; ++h) bit_of_high[h] = bit_of_high[h + 16] = static_cast<unsigned char>(1u << h);
  for (int h = 8; h < 16; ++h) bit_of_high[h] = bit_of_high[h + 16] = static_cast<unsigned char>(1u << (h - 8));
  const __m256i first_table = _mm256_load_si256(reinterpret_cast<const __m256i*>(first_low));
  const __m256i second_table = _mm256_load_si256(reinterpret_cast<const __m256i*>(second_low));
  const __m256i high_table = _mm256_load_si256(reinterpret_cast<const __m256i*>(bit_of_high));
  const __m256i nibble = _mm256_set1_epi8(0x0f);
  const __m256i zero = _mm256_setzero_si256();
  const __m256i tagged_second = any_tagged_second ? _mm256_set1_epi8(static_cast<char>(0x80)) : zero;
  const __m256i newline = _mm256_set1_epi8(static_cast<char>(kLines ? scan.lines()->newline : 0));
  int64_t line = kLines ? scan.lines()->total : 0;  // newline codewords before p
  int32_t p = from;
  for (; p + 33 <= length; p += 32) {
    Prefetch(body + p);
    const __m256i v0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(body + p));
    const __m256i v1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(body + p + 1));
    // The first byte: only tagged bytes have bits in the table's entries for
    // high nibbles 8 to 15, and the entry of its low nibble must share one.
    const __m256i high0 = _mm256_and_si256(_mm256_srli_epi16(v0, 4), nibble);
    const __m256i in_first = _mm256_and_si256(_mm256_shuffle_epi8(first_table, _mm256_and_si256(v0, nibble)),
                                              _mm256_shuffle_epi8(high_table, high0));
    const __m256i first_ok = _mm256_andnot_si256(_mm256_cmpeq_epi8(in_first, zero),
                                                 _mm256_cmpgt_epi8(zero, v0));  // tagged: sign bit set
    // The second byte: an untagged one in the set, or a tagged one when
    // one-byte keys are looked for.
    const __m256i high1 = _mm256_and_si256(_mm256_srli_epi16(v1, 4), nibble);
    const __m256i in_second = _mm256_and_si256(_mm256_shuffle_epi8(second_table, _mm256_and_si256(v1, nibble)),
                                               _mm256_shuffle_epi8(high_table, high1));
    const __m256i untagged_ok = _mm256_andnot_si256(_mm256_cmpeq_epi8(in_second, zero), _mm256_cmpgt_epi8(v1, _mm256_set1_epi8(-1)));
    const __m256i tagged_ok = _mm256_cmpeq_epi8(_mm256_and_si256(v1, tagged_second), _mm256_set1_epi8(static_cast<char>(0x80)));
    const __m256i ok = _mm256_and_si256(first_ok, _mm256_or_si256(untagged_ok, tagged_ok));
    const auto mask = static_cast<uint32_t>(_mm256_movemask_epi8(ok));
    if (!TakeWideBlock<kLines>(scan, p, mask, v0, newline, &line)) return;
  }
  FinishTail<kLines>(scan, p, line);
}

// Few keys are looked for by their first two bytes at once: each place
// whose byte is a key's first and whose next byte is that key's second (any
// byte for a key of one byte, which no other codeword begins with) is a
// candidate. Far fewer places pass than by the first byte alone, which
// every codeword of a key's group of 128 shares.
constexpr int32_t kPairKeys = 4;

template <bool kLines>
__attribute__((target("avx2,popcnt"))) void ScanAvx2Pairs(Scan& scan, int32_t from) {
  const unsigned char* body = scan.body();
  const int32_t length = scan.length();
  const KeySet& keys = scan.keys();
  __m256i first[kPairKeys], second[kPairKeys];
  bool any_second[kPairKeys];
  int32_t count = 0;
  for (int32_t i = 0; i < keys.count; ++i) {
    unsigned char bytes[4];
    std::memcpy(bytes, &keys.keys[i], sizeof bytes);
    if (!scan.flagged()[bytes[0]]) continue;  // a key the filter leaves out is never a candidate
    first[count] = _mm256_set1_epi8(static_cast<char>(bytes[0]));
    any_second[count] = keys.lengths[i] == 1;
    second[count] = _mm256_set1_epi8(static_cast<char>(bytes[1]));
    ++count;
  }
  const __m256i all = _mm256_set1_epi8(-1);
  const __m256i newline = _mm256_set1_epi8(static_cast<char>(kLines ? scan.lines()->newline : 0));
  int64_t line = kLines ? scan.lines()->total : 0;  // newline codewords before p
  int32_t p = from;
  for (; p + 33 <= length; p += 32) {
    Prefetch(body + p);
    const __m256i v0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(body + p));
    const __m256i v1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(body + p + 1));
    __m256i m = _mm256_setzero_si256();
    for (int32_t i = 0; i < count; ++i) {
      const __m256i next = any_second[i] ? all : _mm256_cmpeq_epi8(v1, second[i]);
      m = _mm256_or_si256(m, _mm256_and_si256(_mm256_cmpeq_epi8(v0, first[i]), next));
    }
    const auto mask = static_cast<uint32_t>(_mm256_movemask_epi8(m));
    if (!TakeWideBlock<kLines>(scan, p, mask, v0, newline, &line)) return;
  }
  FinishTail<kLines>(scan, p, line);
}

#endif  // MORAVINE_SCAN_X86

SearchScanPath Resolve(SearchScanPath path) {
  if (path == SearchScanPath::kAuto) {
    if (Search_scanPathAvailable(SearchScanPath::kAvx2)) return SearchScanPath::kAvx2;
    if (Search_scanPathAvailable(SearchScanPath::kSse2)) return SearchScanPath::kSse2;
    return SearchScanPath::kScalar;
  }
  return Search_scanPathAvailable(path) ? path : SearchScanPath::kScalar;
}

}  // namespace

bool Search_scanPathAvailable(SearchScanPath path) {
  switch (path) {
    case SearchScanPath::kAuto:
    case SearchScanPath::kScalar:
      return true;
#ifdef MORAVINE_SCAN_X86
    case SearchScanPath::kSse2:
      return __builtin_cpu_supports("sse2");
    case SearchScanPath::kAvx2:
      return __builtin_cpu_supports("avx2");
#else
    case SearchScanPath::kSse2:
    case SearchScanPath::kAvx2:
      return false;
#endif
  }
  return false;
}

void Search_scanBodyWith(int32_t* count, const MyHash* table, const unsigned char* filter, const unsigned char* body,
                         int32_t length, int32_t max_hits, SearchScanPath path, SearchOffsets* offsets,
                         SearchLineCount* lines) {
  OffsetWriter out(offsets, *count);
  if (lines) {
    lines->counted = false;
    lines->total = 0;
    lines->before.clear();
    if (lines->newline < 0x80 || lines->newline > 0xFF) lines = nullptr;  // not a one-byte codeword
  }
  if (length > 0) {
    Scan scan(table, filter, body, length, max_hits, &out);
    // The byte at the start of the body begins a codeword even when it is
    // not tagged; every later codeword begins at a tagged byte.
    int32_t q = CodewordEnd(body, 0, length);
    if (filter[body[0]] && KeySet(table).contains(body, q, table)) {
      out.append(0);
      if (lines) lines->before.push_back(0);
    }
    if (lines) {
      scan.countLines(lines);
      lines->total = body[0] == lines->newline;  // the count before q, where the wide scans begin
    }

    int flagged = 0;
    unsigned char only = 0;
    for (int b = 0x80; b < 256; ++b) {
      if (scan.flagged()[b]) {
        ++flagged;
        only = static_cast<unsigned char>(b);
      }
    }
    if (flagged > 0 && !scan.full()) {
      switch (Resolve(path)) {
        case SearchScanPath::kAuto:
        case SearchScanPath::kScalar:
          if (flagged == 1) {
            ScanMemchr(scan, only, q);
          } else {
            scan.scalarTail(q);
          }
          break;
#ifdef MORAVINE_SCAN_X86
        case SearchScanPath::kSse2:
          ScanSse2(scan, q);
          break;
        case SearchScanPath::kAvx2:
          if (scan.lines() && scan.keys().direct && scan.keys().count <= kPairKeys) {
            ScanAvx2Pairs<true>(scan, q);
          } else if (scan.lines() && path == SearchScanPath::kAuto) {
            ScanAvx2Sets<true>(scan, q);
          } else if (scan.keys().direct && scan.keys().count <= kPairKeys) {
            ScanAvx2Pairs<false>(scan, q);
          } else if (path == SearchScanPath::kAuto) {
            ScanAvx2Sets<false>(scan, q);
          } else if (path == SearchScanPath::kAuto && flagged == 1) {
            ScanMemchr(scan, only, q);  // the C library's own wide search
          } else {
            ScanAvx2(scan, q);
          }
          break;
#else
        case SearchScanPath::kSse2:
        case SearchScanPath::kAvx2:
          scan.scalarTail(q);
          break;
#endif
      }
    }
  }
  *count = out.count();
}

void Search_scanBody(int32_t* count, const MyHash* table, const unsigned char* filter, const unsigned char* body,
                     int32_t length, SearchOffsets* offsets) {
  Search_scanBodyWith(count, table, filter, body, length, 0, SearchScanPath::kAuto, offsets);
}

int64_t Search_countCodeword(const unsigned char* body, int32_t length, int32_t from, int32_t to,
                             const unsigned char* key, int32_t key_length) {
  if (from < 0) from = 0;
  if (to > length) to = length;
  if (from >= to || key_length < 1 || key_length > 4) return 0;
  int64_t n = 0;
  if (key_length == 1) {
    int32_t p = from;
#ifdef MORAVINE_SCAN_X86
    // Each match subtracts -1 from its byte lane; the lanes are summed
    // before any of them can pass 255.
    const __m128i value = _mm_set1_epi8(static_cast<char>(key[0]));
    while (p + 16 <= to) {
      __m128i lanes = _mm_setzero_si128();
      for (int block = 0; block < 255 && p + 16 <= to; ++block, p += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(body + p));
        lanes = _mm_sub_epi8(lanes, _mm_cmpeq_epi8(v, value));
      }
      const __m128i sums = _mm_sad_epu8(lanes, _mm_setzero_si128());
      n += _mm_cvtsi128_si32(sums) + _mm_extract_epi16(sums, 4);
    }
#endif
    for (; p < to; ++p) n += body[p] == key[0];
    return n;
  }
  const unsigned char* p = body + from;
  const unsigned char* end = body + to;
  while (p < end) {
    p = static_cast<const unsigned char*>(std::memchr(p, key[0], static_cast<size_t>(end - p)));
    if (!p) break;
    if (body + length - p >= key_length && std::memcmp(p + 1, key + 1, static_cast<size_t>(key_length - 1)) == 0) ++n;
    ++p;
  }
  return n;
}
