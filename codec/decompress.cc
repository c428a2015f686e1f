#include "codec/decompress.h"

#include <algorithm>
#include <utility>
#include <bit>
#include <cstdio>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <zlib.h>

#include "codec/container.h"
#include "wordmodel/hcodeword.h"
#include "wordmodel/hcoding.h"
#include "wordmodel/hdecode.h"
#include "wordmodel/hdictionary.h"
#include "wordmodel/hhashtable.h"
#include "wordmodel/hlog.h"
#include "wordmodel/hreport.h"
#include "wordmodel/hmodel_free.h"
#include "wordmodel/hrule.h"

namespace {

constexpr int64_t kCopySlack = 16;

const HNode* BlankEntry(const HModel* model) {
  return HHashtable_lookup(reinterpret_cast<const unsigned char*>(" "), 1, &model->vocabulary);
}

// Whether the blank's codeword, put back between two words, decodes to the
// blank itself. It always does in a file that the compressor made; a
// damaged code table can send it to another token, and then the blanks
// must go back as codewords and be decoded like any other.
bool BlankDecodesToItself(const HModel* model, const HNode* blank) {
  const int32_t len = blank->level;
  if (len < 1 || len > 4) return false;
  unsigned char bytes[4];
  for (int32_t i = 0; i < len; ++i) bytes[i] = static_cast<unsigned char>(blank->codeword >> (8 * (len - 1 - i)));
  if (!(bytes[0] & 0x80)) return false;
  uint32_t plain = bytes[0] & 0x7Fu;
  for (int32_t k = 1; k < len; ++k) {
    if (bytes[k] & 0x80) return false;
    plain = (plain << 7) | bytes[k];
  }
  const HCodetable* table = &model->codetable;
  const int64_t rank = static_cast<int64_t>(table->Offset[len]) + plain - static_cast<int64_t>(table->First_cw[len]);
  if (rank < 0 || rank >= model->dictionary.token_count) return false;
  int32_t length;
  const unsigned char* token = HDecode_token(&model->dictionary, static_cast<int32_t>(rank), &length);
  return length == 1 && token[0] == ' ';
}

// Where decoded text goes: a buffer that grows, a fixed area that the
// caller provides, or a small buffer handed to a sink whenever it fills.
struct Output {
  HBuffer owned;                  // growing and streamed forms
  unsigned char* base = nullptr;  // fixed form when owned is empty
  int64_t capacity = 0;
  bool fixed = false;
  const HDecodeSink* sink = nullptr;  // streamed form
  int64_t handed = 0;                 // bytes already given to the sink
  // The longest text accepted, and the failure for a longer one (null: the
  // text would not fit a 32-bit length).
  int64_t limit = INT32_MAX;
  const char* too_long = nullptr;
  // Under the Unicode rules, the CRC-32 of the text handed to the sink.
  bool checksum = false;
  uLong crc = 0;

  unsigned char* data() { return fixed ? base : owned.get(); }
};

// Hands text to the streamed form's sink.
void Hand(Output* out, const unsigned char* text, int64_t length) {
  if (out->checksum) out->crc = crc32_z(out->crc, text, static_cast<z_size_t>(length));
  (*out->sink)(text, length);
}

// The streamed form's buffer: small enough to stay in the nearest
// processor cache, so that decoded text is stored to it and the sink copies
// it from there. Decompressing one file again and again, a buffer of
// 256 KiB took 15 % longer in about a third of the runs (where it fell in
// memory), one of 32 KiB in hardly any.
constexpr int64_t kStreamBuffer = 32 * 1024;
// Below this much room, the buffer is handed over before the next run: a
// run needs room for 16 bytes per codeword.
constexpr int64_t kStreamRefill = 8 * 1024;

[[noreturn]] void TooLong(const Output* out, int64_t need) {
  if (need > INT32_MAX || out->too_long == nullptr) {
    HFatal("Error: decoded text would reach 2 GiB or more (HDecompress_nextBlock_bytes)\n");
  }
  HFatal("%s", out->too_long);
}

// A run of codewords decoded by the fast loop: the run's codewords start at
// least kRunTail bytes before the end of the stretch, so that whole blocks
// of bytes can be read, and the output has room for 16 bytes per codeword.
constexpr int64_t kRunBytesPerCodeword = 16;
constexpr int64_t kRunTail = 80;
constexpr int64_t kMinRun = 64;

// Bit i set when byte i of the 64 at q is tagged.
inline uint64_t TagMask(const unsigned char* q) {
#if defined(__SSE2__)
  uint64_t m = 0;
  for (int k = 0; k < 4; ++k) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 16 * k));
    m |= static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(v))) << (16 * k);
  }
  return m;
#else
  uint64_t m = 0;
  for (int k = 0; k < 8; ++k) {
    uint64_t v;
    std::memcpy(&v, q + 8 * k, 8);
    m |= (((v & 0x8080808080808080ull) * 0x0002040810204081ull) >> 56) << (8 * k);
  }
  return m;
#endif
}

// The codewords of one block of 64 body bytes, found from its tag bits
// alone: their records and starts, up to the first malformed codeword.
struct BlockScan {
  const HDecodeEntry* records[64];
  int32_t count;       // codewords whose records are found
  uint32_t next;       // where the next block starts: the block's last codeword
  const char* failure;  // the malformed codeword's message (after `count`), or null
};

// Hints that a record will be read soon, so that a rare token's record
// comes from memory while earlier codewords are still being copied.
inline void PrefetchRecord(const HDecodeEntry* record) {
#if defined(__GNUC__) || defined(__clang__)
  __builtin_prefetch(record);
#else
  (void)record;
#endif
}

// The bits of a codeword of 1 to 4 bytes below its tag bit.
constexpr uint32_t kCodewordBits[5] = {0, 0x7Fu, 0x7FFFu, 0x7FFFFFu, 0x7FFFFFFFu};

// Per codeword length, the plain values that stand for tokens: a codeword
// whose value minus `first` is `count` or more belongs to no token.
struct LevelRanges {
  uint32_t first[5];
  uint32_t count[5];
  int64_t offset[5];

  explicit LevelRanges(const HCodetable* table) {
    first[0] = count[0] = 0;
    offset[0] = 0;
    for (int k = 1; k <= 4; ++k) {
      first[k] = static_cast<uint32_t>(table->First_cw[k]);
      count[k] = static_cast<uint32_t>(table->level_count[k]);
      offset[k] = table->Offset[k];
    }
  }
};

// The codeword that ends before byte `next` of q, `len` bytes long (1 to
// 4): its plain value.
inline uint32_t BlockPlain(const unsigned char* q, uint32_t next, uint32_t len) {
  // The four bytes that end with the codeword, the last one least
  // significant; the codeword's own bytes, its tag bit left out, form the
  // 7-bit groups of its plain value.
  uint32_t lo;
  std::memcpy(&lo, q + next - 4, 4);
  const uint32_t last_least = (lo << 24) | ((lo & 0xFF00u) << 8) | ((lo >> 8) & 0xFF00u) | (lo >> 24);
  // Every byte's top bit is clear in x; taking out the gaps: b0 + 2^8 b1
  // - 2^7 b1 = b0 + 2^7 b1 for each half, then p0 + 2^16 p1 - 3 * 2^14 p1.
  const uint32_t x = last_least & kCodewordBits[len];
  const uint32_t pairs = x - ((x >> 1) & 0x3F803F80u);
  return pairs - 3 * ((pairs >> 2) & 0x0FFFC000u);
}


// Scans the block at q, which must have 4 readable bytes before it.
// Inlined: the run calls it once a block, and the call cost shows.
__attribute__((always_inline)) inline void ScanBlock(const unsigned char* q, const HDecodeEntry* entries,
                                                     const LevelRanges& levels, BlockScan* b) {
  const uint64_t tags = TagMask(q);
  uint64_t rest = tags & (tags - 1);  // bit 0 is the codeword at q
  uint32_t s = 0;
  int32_t count = 0;
  b->failure = nullptr;
  // Four untagged bytes in a row before the block's last tag make a
  // codeword too long; a block without them, the usual one, needs no check
  // of each length.
  if (rest != 0) {
    const uint64_t untagged = ~tags;
    const uint64_t four = untagged & (untagged >> 1) & (untagged >> 2) & (untagged >> 3);
    const uint64_t before_last = (uint64_t{1} << (63 - std::countl_zero(tags))) - 1;
    if ((four & before_last) == 0) {
      const HDecodeEntry** records = b->records;
#if defined(__SSE2__)
      alignas(16) uint32_t plain[64];
      HDecode_blockPlains(q, plain);
#endif
      do {
        const uint32_t next = static_cast<uint32_t>(std::countr_zero(rest));
        const uint32_t len = next - s;
#if defined(__SSE2__)
        const uint32_t index = plain[next] - levels.first[len];
#else
        const uint32_t index = BlockPlain(q, next, len) - levels.first[len];
#endif
        if (index >= levels.count[len]) {
          b->failure = "Error: token_startpos computation (HToken_fromTaggedCw)\n";
          break;
        }
        const HDecodeEntry* record = entries + levels.offset[len] + index;
        records[count] = record;
        PrefetchRecord(record);
        ++count;
        s = next;
        rest &= rest - 1;
      } while (rest != 0);
      b->count = count;
      b->next = s;
      return;
    }
  }
  while (rest != 0) {
    const uint32_t next = static_cast<uint32_t>(std::countr_zero(rest));
    const uint32_t len = next - s;
    if (len > 4) {
      b->failure = "Error: HToken_RankFromTaggedCw - length no in [1,4]\n";
      break;
    }
    const uint32_t index = BlockPlain(q, next, len) - levels.first[len];
    if (index >= levels.count[len]) {
      b->failure = "Error: token_startpos computation (HToken_fromTaggedCw)\n";
      break;
    }
    const HDecodeEntry* record = entries + levels.offset[len] + index;
    b->records[count] = record;
    PrefetchRecord(record);
    ++count;
    s = next;
    rest &= rest - 1;
  }
  // No tag among the 63 bytes after a codeword's start: it is too long.
  if (s == 0 && b->failure == nullptr) b->failure = "Error: HToken_RankFromTaggedCw - length no in [1,4]\n";
  b->count = count;
  b->next = s;
}

// Decodes the codewords that start before `stop` (at most kRunTail bytes
// before the end of the stretch), from *p on, into base + *w, a block of 64
// bytes at a time: the block's tag bits give every codeword's start and
// length at once, so that no codeword waits for the length of the one
// before it, and the next block is scanned before this one is copied, so
// that its records are on their way meanwhile. Per codeword, the rank comes
// from its bytes without a branch on the length, and the token is a 16-byte
// copy of its record advanced by the token's length. With kExpand, a blank
// is stored at the output position first and kept only when a word follows
// a word. Stops early, before a codeword, at a token too long to be inline;
// the caller decodes that one. A malformed codeword fails once every
// codeword before it is decoded. The last codeword of a block is decoded
// with the next block.
template <bool kExpand>
void DecodeRun(const unsigned char* stretch, int32_t* p, int32_t stop, unsigned char* base, int64_t* w,
               bool* after_word, const HDecodeEntry* entries, const LevelRanges& levels) {
  const unsigned char* q = stretch + *p;
  const unsigned char* const end = stretch + stop;
  unsigned char* dst = base + *w;
  uint32_t aw = *after_word ? 1 : 0;
  BlockScan scans[2];
  BlockScan* cur = &scans[0];
  BlockScan* ahead = &scans[1];
  if (q < end) ScanBlock(q, entries, levels, cur);
  while (q < end) {
    const bool more = cur->failure == nullptr && q + cur->next < end;
    if (more) ScanBlock(q + cur->next, entries, levels, ahead);
    int32_t i = 0;
    for (; i < cur->count; ++i) {
      const HDecodeEntry* r = cur->records[i];
      const uint32_t length = r->length;
      if (length == 0) break;
#if defined(__SSE2__)
      // The record in one register, so that the stores below cannot make
      // the compiler read it again.
      const __m128i e = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r));
#else
      HDecodeEntry e;  // a copy, for the same reason
      std::memcpy(&e, r, sizeof e);
#endif
      if constexpr (kExpand) {
        const uint32_t word = r->is_word;
        const uint32_t blank = aw & word;
        *dst = ' ';
        dst += blank;
        aw = word;
      }
      std::memcpy(dst, &e, sizeof e);  // the whole record; the room left absorbs the excess
      dst += length;
    }
    if (i < cur->count) {  // a long token: the caller goes on from its start, the block's i-th
      uint64_t starts = TagMask(q);
      for (int32_t k = 0; k < i; ++k) starts &= starts - 1;
      q += std::countr_zero(starts);
      break;
    }
    if (cur->failure != nullptr) HFatal("%s", cur->failure);
    q += cur->next;
    if (!more) break;
    std::swap(cur, ahead);
  }
  *p = static_cast<int32_t>(q - stretch);
  *w = dst - base;
  *after_word = aw != 0;
}

// Decodes a stretch; with kExpand, a blank goes between every two adjacent
// word tokens, exactly as decoding the expanded stretch would give. Returns
// false when a fixed output is too small; a growing one always fits, with
// room for one more byte. Long runs of codewords go through DecodeRun; the
// rest (tokens too long to be inline, the last bytes of the stretch, the
// last bytes of room) one codeword at a time with every check.
template <bool kExpand>
bool DecodeStretch(const unsigned char* stretch, int32_t length, Output* out, int32_t* text_length,
                   const HModel* model, bool* state = nullptr) {
  static_assert(sizeof(HDecodeEntry) == kCopySlack);
  const HDictionary* dict = &model->dictionary;
  const HCodetable* table = &model->codetable;
  const HDecodeEntry* entries = model->decode_table.get();
  const int32_t n = dict->token_count;
  const LevelRanges levels(table);

  const bool streamed = out->sink != nullptr;
  if (streamed) {
    if (!out->owned) {  // a stream decoded in several stretches keeps its buffer
      out->capacity = kStreamBuffer + kCopySlack;
      out->owned = HBuffer_allocate(static_cast<size_t>(out->capacity));
      if (!out->owned) HFatal("Error: memory allocation (HDecompress_nextBlock_bytes)\n");
    }
  } else if (!out->fixed) {
    out->capacity = std::min<int64_t>(2 * static_cast<int64_t>(length), out->limit) + 1 + kCopySlack;
    out->owned = HBuffer_allocate(static_cast<size_t>(out->capacity));
    if (!out->owned) HFatal("Error: memory allocation (HDecompress_nextBlock_bytes)\n");
  }
  unsigned char* base = out->data();
  // Never more room than the limit needs: then the check below sees every
  // token that could pass the limit. In the streamed form the limit counts
  // the bytes already handed over.
  int64_t capacity = std::min(out->capacity, out->limit - out->handed + 1 + kCopySlack);
  int64_t w = 0;
  auto hand_over = [&] {
    if (w > 0) Hand(out, base, w);
    out->handed += w;
    w = 0;
    capacity = std::min(out->capacity, out->limit - out->handed + 1 + kCopySlack);
  };
  // Whether the last token decoded was a word; a stretch that goes on from
  // another one starts in the state where that one ended.
  bool after_word = state != nullptr && *state;
  for (int32_t p = 0; p < length;) {
    if (streamed && w > 0 && capacity - w < kStreamRefill) hand_over();
    if constexpr (std::endian::native == std::endian::little) {
      if (entries != nullptr) {
        // A run may decode up to a block's codewords beyond its stop.
        int64_t run = std::min<int64_t>(length - kRunTail - p,
                                        (capacity - w - 2 * kCopySlack) / kRunBytesPerCodeword - 64);
        if (run >= kMinRun && p >= 4) {  // the codewords' bytes are read as the 4 bytes that end them
          DecodeRun<kExpand>(stretch, &p, p + static_cast<int32_t>(run), base, &w, &after_word, entries, levels);
          if (p >= length) break;
        }
      }
    }
    int32_t cw = HDecode_codewordLength(stretch + p, length - p);
    int32_t rank = HDecode_rank(stretch + p, cw, table, n);
    p += cw;
    const unsigned char* src;
    int32_t tl;
    bool word;
    bool inline_token = entries && entries[rank].length;
    if (inline_token) {
      src = reinterpret_cast<const unsigned char*>(&entries[rank]);
      tl = entries[rank].length;
      word = entries[rank].is_word;
    } else {
      src = HDecode_token(dict, rank, &tl);
      word = HDecode_takesBlank(dict, rank);
    }
    // Room for the blank that may precede the token, the token, one more
    // byte and the slack of a whole-record copy.
    if (w + 2 + tl + kCopySlack > capacity) {
      int64_t need = out->handed + w + (kExpand && after_word && word ? 1 : 0) + tl;
      if (need > out->limit) TooLong(out, need);
      if (streamed) {
        hand_over();
        if (w + 2 + tl + kCopySlack > capacity) {  // a token longer than the buffer goes straight to the sink
          if (kExpand && after_word && word) {
            const unsigned char blank = ' ';
            Hand(out, &blank, 1);
            ++out->handed;
          }
          after_word = word;
          Hand(out, src, tl);
          out->handed += tl;
          capacity = std::min(out->capacity, out->limit - out->handed + 1 + kCopySlack);
          continue;
        }
      } else if (out->fixed) {
        if (need > capacity) return false;
      } else {
        int64_t next = static_cast<int64_t>(static_cast<double>(capacity) * 1.4) + tl + 1 + kCopySlack;
        next = std::min(next, out->limit + 1 + kCopySlack);
        next = std::max(next, need + 1 + kCopySlack);
        if (!HBuffer_resize(&out->owned, static_cast<size_t>(next))) {
          HFatal("memory exhausted in HDecompress_nextBlock_bytes\n");
        }
        capacity = out->capacity = next;  // at most limit + 1 + kCopySlack, so the clamp above holds
        base = out->owned.get();
      }
    }
    unsigned char* dst = base + w;
    if constexpr (kExpand) {
      if (after_word && word) {
        *dst++ = ' ';
        ++w;
      }
      after_word = word;
    } else {
      (void)word;
    }
    if (inline_token && w + kCopySlack <= capacity) {
      std::memcpy(dst, src, kCopySlack);  // the whole record; the output's slack absorbs the excess
    } else {
      std::memcpy(dst, src, static_cast<size_t>(tl));
    }
    w += tl;
  }
  if (streamed && w > 0) hand_over();
  *text_length = static_cast<int32_t>(out->handed + w);
  if (state != nullptr) *state = after_word;
  return true;
}

// The name of a rule's decoder, for messages.
const char* DecoderName(int rule) {
  switch (rule) {
    case kHRuleWords: return "Huffw_decompress";
    case kHRuleUnicodeWords: return "Huffw_unicode_decompress";
    case kHRuleUnicodeSpaceless: return "Huffw_unicode_spaceless_decompress";
    default: return "Huffw_spaceless_decompress";
  }
}

// The decoder that a file's first byte selects: an unknown byte goes to the
// spaceless one, which refuses it.
int RuleOf(const unsigned char* file, int32_t file_length) {
  return file != nullptr && file_length > 0 && HRule_known(file[0]) ? static_cast<int>(file[0]) : static_cast<int>(kHRuleSpaceless);
}

[[noreturn]] void ChecksumFailure(uint32_t found, uint32_t stated, const char* who) {
  // Besides damage, a spaceless file decodes otherwise when a character
  // next to a left-out blank changed its class between the Unicode version
  // the file was written with and this one.
  HFatal("Error: the text's CRC-32 is %08x, the file states %08x; the file is damaged%s (%s)\n", found, stated,
         std::strcmp(who, "Huffw_unicode_spaceless_decompress") == 0 ? HUnicode_versionNote() : "", who);
}

bool DecodeFile(const unsigned char* file, int32_t file_length, Output* out, int32_t* out_length,
                int32_t report_level, int rule) {
  const char* who = DecoderName(rule);
  if (file == nullptr || file_length <= 0) {
    HFatal("Fatal Error: You're trying to decompress an empty file! (%s)\n", who);
  }
  if (file[0] != rule) {
    HFatal("Fatal Error: First byte of compressed file not %d, actually %d\n", rule,
           static_cast<int>(static_cast<signed char>(file[0])));
  }
  HModel model;
  int32_t header_length;
  const unsigned char* body;
  int32_t body_length;
  // Decoding finds tokens by rank and needs only the blank token's entry;
  // the dictionary listing of the report looks every token up.
  HContainer_read(file, file_length, &header_length, &body, &body_length, &model,
                  report_level >= 2 ? HVocabulary::kFull : HVocabulary::kBlankOnly);
  HDictionary_checkTokens(&model.dictionary);
  if (body_length > (1 << 16)) HDecode_buildTable(&model);
  // The text must come out exactly as long as the header states: a longer
  // one is refused as soon as it passes the length, so that memory stays
  // bounded by what the header announces, and a shorter one at the end.
  char too_long[160];
  std::snprintf(too_long, sizeof too_long, "Error: body decodes to more than the %d bytes of text the header states (%s)\n",
                header_length > 0 ? header_length : 0, who);
  out->limit = std::max<int32_t>(header_length, 0);
  out->too_long = too_long;
  out->checksum = HRule_unicode(rule);
  out->crc = crc32(0, nullptr, 0);
  *out_length = 0;
  if (body_length > 0) {
    const HNode* blank = HRule_spaceless(rule) ? BlankEntry(&model) : nullptr;
    bool fits;
    if (blank && !BlankDecodesToItself(&model, blank)) {
      HBuffer expanded;
      int32_t expanded_length = 0;
      HDecompress_expandSpaces(body, body_length, &expanded, &expanded_length, &model);
      const unsigned char* stretch = expanded ? expanded.get() : body;
      const int32_t stretch_length = expanded ? expanded_length : body_length;
      if (!(stretch[0] & 0x80)) HFatal("Error: not a tagged byte (HDecompress_nextBlock_bytes)\n");
      fits = DecodeStretch<false>(stretch, stretch_length, out, out_length, &model);
    } else if (blank) {
      // The expansion walks the body before any decoding.
      if (!(body[0] & 0x80)) HFatal("Error: no tagged byte (HCodeword_TaggedGetNext)\n");
      fits = DecodeStretch<true>(body, body_length, out, out_length, &model);
    } else {
      if (!(body[0] & 0x80)) HFatal("Error: not a tagged byte (HDecompress_nextBlock_bytes)\n");
      fits = DecodeStretch<false>(body, body_length, out, out_length, &model);
    }
    if (!fits) return false;
  }
  if (*out_length != header_length) {
    HFatal("Error: body decodes to %d bytes of text, the header states %d (%s)\n", *out_length, header_length, who);
  }
  if (out->checksum) {
    if (out->sink == nullptr) out->crc = crc32_z(out->crc, out->data(), static_cast<z_size_t>(*out_length));
    if (out->crc != model.text_checksum) ChecksumFailure(static_cast<uint32_t>(out->crc), model.text_checksum, who);
  }
  if (report_level != 0) HPrint_globalInfos(&model, body_length, *out_length, file_length, rule, report_level);
  HModel_free(&model, false);
  return true;
}

}  // namespace

void HDecompress_nextBlock_bytes(const unsigned char* stretch, int32_t length, HBuffer* text, int32_t* text_length,
                                 const HModel* model) {
  text->reset();
  *text_length = 0;
  if (stretch == nullptr || length <= 0) return;
  if (!(stretch[0] & 0x80)) HFatal("Error: not a tagged byte (HDecompress_nextBlock_bytes)\n");
  Output out;
  DecodeStretch<false>(stretch, length, &out, text_length, model);
  *text = std::move(out.owned);
}

void HDecompress_expandSpaces(const unsigned char* body, int32_t body_length, HBuffer* expanded,
                              int32_t* expanded_length, const HModel* model) {
  expanded->reset();
  *expanded_length = 0;
  if (body == nullptr || body_length <= 0) return;
  const HNode* blank = BlankEntry(model);
  if (!blank) {
    *expanded_length = body_length;
    return;
  }
  if (!(body[0] & 0x80)) HFatal("Error: no tagged byte (HCodeword_TaggedGetNext)\n");
  const HDictionary* dict = &model->dictionary;
  int64_t capacity = 2 * static_cast<int64_t>(body_length);
  HBuffer out = HBuffer_allocate(static_cast<size_t>(capacity));
  if (!out) HFatal("Fatal Error: No memory for body (HDecompress_expandSpaces\n");
  unsigned char blank_bytes[4];
  for (int32_t i = 0; i < blank->level; ++i) {
    blank_bytes[i] = static_cast<unsigned char>(blank->codeword >> (8 * (blank->level - 1 - i)));
  }
  int64_t w = 0;
  bool after_word = false;
  for (int32_t p = 0; p < body_length;) {
    int32_t len = HDecode_codewordLength(body + p, body_length - p);
    int32_t rank = HDecode_rank(body + p, len, &model->codetable, dict->token_count);
    bool word = HDecode_takesBlank(dict, rank);
    // A body of one-byte words and a long blank codeword can exceed twice
    // its length: grow rather than overrun.
    if (w + len + blank->level > capacity) {
      int64_t next = capacity * 2 + len + blank->level;
      if (next > INT32_MAX) HFatal("Error: expanded body would reach 2 GiB or more (HDecompress_expandSpaces)\n");
      if (!HBuffer_resize(&out, static_cast<size_t>(next))) {
        HFatal("Fatal Error: No memory for body (HDecompress_expandSpaces\n");
      }
      capacity = next;
    }
    if (after_word && word) {
      std::memcpy(out.get() + w, blank_bytes, static_cast<size_t>(blank->level));
      w += blank->level;
    }
    std::memcpy(out.get() + w, body + p, static_cast<size_t>(len));
    w += len;
    after_word = word;
    p += len;
  }
  *expanded = std::move(out);
  *expanded_length = static_cast<int32_t>(w);
}

void Huffw_decompress(const unsigned char* file, int32_t file_length, HBuffer* out, int32_t* out_length,
                      int32_t report_level) {
  Output output;
  DecodeFile(file, file_length, &output, out_length, report_level, 0);
  *out = std::move(output.owned);
}

void Huffw_spaceless_decompress(const unsigned char* file, int32_t file_length, HBuffer* out, int32_t* out_length,
                                int32_t report_level) {
  Output output;
  DecodeFile(file, file_length, &output, out_length, report_level, 1);
  *out = std::move(output.owned);
}

void Huffw_unicode_decompress(const unsigned char* file, int32_t file_length, HBuffer* out, int32_t* out_length,
                              int32_t report_level) {
  Output output;
  DecodeFile(file, file_length, &output, out_length, report_level, kHRuleUnicodeWords);
  *out = std::move(output.owned);
}

void Huffw_unicode_spaceless_decompress(const unsigned char* file, int32_t file_length, HBuffer* out,
                                        int32_t* out_length, int32_t report_level) {
  Output output;
  DecodeFile(file, file_length, &output, out_length, report_level, kHRuleUnicodeSpaceless);
  *out = std::move(output.owned);
}

void HDecompress_file(const unsigned char* file, int32_t file_length, HBuffer* out, int32_t* out_length,
                      int32_t report_level) {
  Output output;
  DecodeFile(file, file_length, &output, out_length, report_level, RuleOf(file, file_length));
  *out = std::move(output.owned);
}

void HDecompress_fileStream(const unsigned char* file, int32_t file_length, const HDecodeSink& sink,
                           int32_t* out_length, int32_t report_level) {
  Output output;
  output.sink = &sink;
  DecodeFile(file, file_length, &output, out_length, report_level, RuleOf(file, file_length));
}

bool HDecompress_fileInto(const unsigned char* file, int32_t file_length, unsigned char* destination,
                          int64_t capacity, int32_t* out_length, int32_t report_level) {
  Output output;
  output.base = destination;
  output.capacity = capacity;
  output.fixed = true;
  return DecodeFile(file, file_length, &output, out_length, report_level, RuleOf(file, file_length));
}

void HDecompress_checkPointers(const unsigned char* file, int32_t file_length) {
  HModel model;
  struct Free {
    HModel* model;
    ~Free() { HModel_free(model, false); }
  } free_model{&model};
  int32_t header_length;
  const unsigned char* body;
  int32_t body_length;
  HContainer_read(file, file_length, &header_length, &body, &body_length, &model, HVocabulary::kBlankOnly);
  const HJumpers& pairs = model.jumpers;
  if (pairs.count == 0) return;
  if (HRule_spaceless(file[0])) {
    HFatal("Error: a spaceless file holds %d pointers (HDecompress_checkPointers)\n", pairs.count);
  }
  const HDictionary* dictionary = &model.dictionary;
  int64_t text = 0;
  int32_t p = 0;
  for (int32_t k = 0; k < pairs.count;) {
    const int32_t at_body = pairs.body_positions[k];
    const int32_t at_text = pairs.text_positions[k];
    const bool increasing = k == 0 || (at_body > pairs.body_positions[k - 1] && at_text > pairs.text_positions[k - 1]);
    if (!increasing || at_body < p || (at_body > p && p >= body_length)) {
      HFatal("Error: pointer %d (text %d, body %d) is out of order or beyond the body (HDecompress_checkPointers)\n",
             k, at_text, at_body);
    }
    if (at_body == p) {
      if (text != at_text) {
        HFatal("Error: pointer %d (text %d, body %d) does not match the body, which puts text %lld there "
               "(HDecompress_checkPointers)\n",
               k, at_text, at_body, static_cast<long long>(text));
      }
      ++k;
      continue;
    }
    const int32_t len = HDecode_codewordLength(body + p, body_length - p);
    int32_t token_length;
    HDecode_token(dictionary, HDecode_rank(body + p, len, &model.codetable, dictionary->token_count), &token_length);
    text += token_length;
    p += len;
    if (p > at_body) {
      HFatal("Error: pointer %d (text %d, body %d) falls inside a codeword (HDecompress_checkPointers)\n", k,
             at_text, at_body);
    }
  }
}

struct HDecodeStreamState {
  HModel model;
  int rule = 0;
  int32_t text_length = 0;  // as the header states
  int32_t body_length = 0;
  int64_t body_seen = 0;
  bool expand = false;  // spaceless, with blanks to put back
  bool after_word = false;
  unsigned char carry[8];  // the codeword begun at the end of the last piece
  int32_t carry_length = 0;
  unsigned char trailer[4];  // the bytes after the body: the checksum under the Unicode rules
  int32_t trailer_length = 0;
  Output out;
  const char* who = "Huffw_decompress";
  char too_long[160] = {};

  ~HDecodeStreamState() { HModel_free(&model, false); }
};

namespace {

void StreamStretch(HDecodeStreamState* s, const unsigned char* stretch, int32_t length, const HDecodeSink& sink) {
  s->out.sink = &sink;
  int32_t decoded = 0;
  if (s->expand) {
    DecodeStretch<true>(stretch, length, &s->out, &decoded, &s->model, &s->after_word);
  } else {
    DecodeStretch<false>(stretch, length, &s->out, &decoded, &s->model, &s->after_word);
  }
  s->out.sink = nullptr;
}

[[noreturn]] void CodewordTooLong() { HFatal("Error: HToken_RankFromTaggedCw - length no in [1,4]\n"); }

}  // namespace

HDecodeStream::HDecodeStream() = default;
HDecodeStream::~HDecodeStream() = default;

void HDecodeStream_begin(HDecodeStream* stream, const unsigned char* header, int32_t header_length,
                         int32_t* body_length) {
  auto s = std::make_unique<HDecodeStreamState>();
  if (header == nullptr || header_length <= 0) {
    HFatal("Fatal Error: You're trying to decompress an empty file! (Huffw_spaceless_decompress)\n");
  }
  s->rule = RuleOf(header, header_length);
  s->who = DecoderName(s->rule);
  if (!HRule_known(header[0])) {
    HFatal("Fatal Error: First byte of compressed file not 1, actually %d\n",
           static_cast<int>(static_cast<signed char>(header[0])));
  }
  HContainer_readHeader(header, header_length, &s->text_length, &s->body_length, &s->model, HVocabulary::kBlankOnly);
  HDictionary_checkTokens(&s->model.dictionary);
  if (s->body_length > (1 << 16)) HDecode_buildTable(&s->model);
  const HNode* blank = HRule_spaceless(s->rule) ? BlankEntry(&s->model) : nullptr;
  if (blank && !BlankDecodesToItself(&s->model, blank)) {
    HFatal("Error: the blank's codeword decodes to another token (HDecompress_expandSpaces)\n");
  }
  s->expand = blank != nullptr;
  s->out.sink = nullptr;
  s->out.limit = std::max<int32_t>(s->text_length, 0);
  std::snprintf(s->too_long, sizeof s->too_long,
                "Error: body decodes to more than the %d bytes of text the header states (%s)\n",
                static_cast<int>(s->out.limit), s->who);
  s->out.too_long = s->too_long;
  s->out.checksum = HRule_unicode(s->rule);
  s->out.crc = crc32(0, nullptr, 0);
  *body_length = s->body_length;
  stream->state = std::move(s);
}

void HDecodeStream_feed(HDecodeStream* stream, const unsigned char* bytes, int32_t length, const HDecodeSink& sink) {
  HDecodeStreamState* s = stream->state.get();
  if (length <= 0) return;
  if (s->body_seen + length > s->body_length) {  // the trailer, if any, follows the body
    const int64_t beyond = s->body_seen + length - s->body_length;
    const int32_t trailer = HRule_trailerBytes(s->rule);
    if (beyond + s->trailer_length > trailer) HContainer_lengthError();
    const int32_t in_body = static_cast<int32_t>(length - beyond);
    std::memcpy(s->trailer + s->trailer_length, bytes + in_body, static_cast<size_t>(beyond));
    s->trailer_length += static_cast<int32_t>(beyond);
    length = in_body;
    if (length <= 0) return;
  }
  if (s->body_seen == 0 && !(bytes[0] & 0x80)) HFatal("Error: not a tagged byte (HDecompress_nextBlock_bytes)\n");
  s->body_seen += length;
  int32_t last = length - 1;
  while (last >= 0 && !(bytes[last] & 0x80)) --last;
  if (last < 0) {  // the piece goes on with the carried codeword
    if (s->carry_length + length > 4) CodewordTooLong();
    std::memcpy(s->carry + s->carry_length, bytes, static_cast<size_t>(length));
    s->carry_length += length;
    return;
  }
  int32_t first = 0;
  while (!(bytes[first] & 0x80)) ++first;
  if (s->carry_length > 0) {
    if (s->carry_length + first > 4) CodewordTooLong();
    std::memcpy(s->carry + s->carry_length, bytes, static_cast<size_t>(first));
    StreamStretch(s, s->carry, s->carry_length + first, sink);
  }
  if (last > first) StreamStretch(s, bytes + first, last - first, sink);
  s->carry_length = length - last;
  if (s->carry_length > 4) CodewordTooLong();
  std::memcpy(s->carry, bytes + last, static_cast<size_t>(s->carry_length));
}

void HDecodeStream_finish(HDecodeStream* stream, const HDecodeSink& sink, int32_t* out_length) {
  HDecodeStreamState* s = stream->state.get();
  if (s->body_seen != s->body_length || s->trailer_length != HRule_trailerBytes(s->rule)) HContainer_lengthError();
  if (s->carry_length > 0) StreamStretch(s, s->carry, s->carry_length, sink);
  s->carry_length = 0;
  const int64_t decoded = s->out.handed;
  if (decoded != s->text_length) {
    HFatal("Error: body decodes to %lld bytes of text, the header states %d (%s)\n", static_cast<long long>(decoded),
           s->text_length, s->who);
  }
  if (s->out.checksum) {
    int32_t stated;
    HInt_fromstring(s->trailer, &stated);
    if (s->out.crc != static_cast<uint32_t>(stated)) {
      ChecksumFailure(static_cast<uint32_t>(s->out.crc), static_cast<uint32_t>(stated), s->who);
    }
  }
  *out_length = static_cast<int32_t>(decoded);
}
