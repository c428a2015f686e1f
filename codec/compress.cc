#include "codec/compress.h"

#include <zlib.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#include "codec/container.h"
#include "wordmodel/hcoding.h"
#include "wordmodel/hrule.h"
#include "wordmodel/hcodeword.h"
#include "wordmodel/hcount.h"
#include "wordmodel/hdecode.h"
#include "wordmodel/hdictionary.h"
#include "wordmodel/hhashtable.h"
#include "wordmodel/hjumpers.h"
#include "wordmodel/hlog.h"
#include "wordmodel/hparts.h"
#include "wordmodel/hreport.h"
#include "wordmodel/htokencache.h"
#include "wordmodel/htokenpipe.h"
#include "wordmodel/htoken.h"
#include "wordmodel/hmodel_free.h"

namespace {

// A growing buffer that receives the body after `base` reserved bytes (room
// for a container header). Appends store four bytes at once, so the buffer
// keeps four bytes of slack beyond its length.
class BodyWriter {
 public:
  BodyWriter(int64_t base, int64_t initial) : base_(base), length_(base) {
    capacity_ = base + initial + kSlack;
    buffer_ = HBuffer_allocate(static_cast<size_t>(capacity_));
    if (!buffer_) HFatal("Error: memory allocation (HCompress_getBody)\n");
  }

  void append(uint32_t body_bytes, int32_t level) {
    if (length_ + kSlack >= capacity_) grow();
    unsigned char* dst = buffer_.get() + length_;
    if constexpr (std::endian::native == std::endian::little) {
      std::memcpy(dst, &body_bytes, 4);
    } else {
      for (int i = 0; i < 4; ++i) dst[i] = static_cast<unsigned char>(body_bytes >> (8 * i));
    }
    length_ += level;
  }
  void append(const HNode* node) { append(node->body_bytes, node->level); }

  int64_t bodyLength() const { return length_ - base_; }
  unsigned char* data() { return buffer_.get(); }

  // Hands the buffer over; fails when the whole would not fit a 32-bit length.
  HBuffer release(int32_t* total) {
    if (length_ > INT32_MAX) HFatal("Error: compressed file would reach 2 GiB or more (HCompress_getBody)\n");
    *total = static_cast<int32_t>(length_);
    return std::move(buffer_);
  }

 private:
  static constexpr int64_t kSlack = 4;

  void grow() {
    int64_t next = static_cast<int64_t>(static_cast<double>(capacity_) * 1.4) + 64;
    if (!HBuffer_resize(&buffer_, static_cast<size_t>(next))) HFatal("memory exhausted in HCompress_getBody\n");
    capacity_ = next;
  }

  HBuffer buffer_;
  int64_t base_;
  int64_t capacity_ = 0;
  int64_t length_;
};

// Codes the text token by token. In the spaceless form, a blank token with a
// word token on both sides is left out.
template <bool kSpaceless>
void EncodeBody(const unsigned char* text, int32_t length, const HModel* model, BodyWriter* out) {
  const HHashtable* table = &model->vocabulary;
  const HNode* blank = kSpaceless ? HHashtable_lookup(reinterpret_cast<const unsigned char*>(" "), 1, table) : nullptr;
  enum { kOther, kAfterWord, kHeldBlank } state = kOther;
  HCodeCache cache(length);
  HTokenPipe_walk(text, length, &cache, table, [&](const HPipeToken& t) {
    const unsigned char* token = text + t.position;
    int32_t n = t.length;
    uint32_t body_bytes;
    int32_t level;
    bool is_blank;
    if (n <= 8) {
      HCodeCacheEntry& e = cache.at(t.key, n);
      if (e.key != t.key || e.length != n) {
        const HNode* node = HHashtable_lookupKey(token, n, HPipeToken_hash(t, text, t.key, table), t.key, table);
        if (!node) HFatal("Error: token not found (HCodeword_TaggedFromToken)\n");
        e = HCodeCacheEntry{t.key, n, node->body_bytes, node->level};
      }
      body_bytes = e.body_bytes;
      level = e.level;
      is_blank = n == 1 && token[0] == ' ';
    } else {
      uint64_t prefix = HHashtable_prefix(token, n);
      const HNode* node = HHashtable_lookupKey(token, n, HPipeToken_hash(t, text, prefix, table), prefix, table);
      if (!node) HFatal("Error: token not found (HCodeword_TaggedFromToken)\n");
      body_bytes = node->body_bytes;
      level = node->level;
      is_blank = false;
    }
    if constexpr (!kSpaceless) {
      out->append(body_bytes, level);
    } else {
      bool word = HToken_isWordByte(token[0]);
      if (state == kAfterWord && is_blank) {
        state = kHeldBlank;
      } else {
        if (state == kHeldBlank && !word) out->append(blank);
        out->append(body_bytes, level);
        state = word ? kAfterWord : kOther;
      }
    }
  });
  if (kSpaceless && state == kHeldBlank) out->append(blank);
}

// Tree, code table and dictionary of a counted vocabulary. With a second
// thread, the dictionary is written while the codewords are assigned: both
// only read the rank order, and they write different fields of the entries.
void BuildCode(HModel* model, HTreeStorage* storage, int32_t threads = 1) {
  Hufftree_build(model, storage, threads);
  HNode* const* tree = storage->array.data();
  if (threads < 2) {
    HCodetable_fromtree(tree, &model->codetable, model);
    HDictionary_fromtree(tree, model->codetable.token_count, &model->dictionary);
    return;
  }
  HRunParts(2, [&](size_t k) {
    if (k == 0) {
      HCodetable_fromtree(tree, &model->codetable, model);
    } else {
      HDictionary_fromtree(tree, model->vocabulary.entry_count, &model->dictionary);
    }
  });
}

void CheckText(const unsigned char* text, int32_t length, const char* where) {
  if (text == nullptr || length < 1) HFatal("Fatal Error: You're trying to compress an empty file! (%s)\n", where);
}

// The codeword of every vocabulary id, for coding from id streams.
struct CodeRecord {
  uint32_t body_bytes;
  int32_t level;
};

// The body bytes of one counted stretch: its ids' codewords, with the
// blanks that the stream left out subtracted.
int64_t StretchBodyLength(const HCountStretch& s, const std::vector<CodeRecord>& codes) {
  int64_t total = 0;
  for (size_t lid = 0; lid < s.counts.size(); ++lid) {
    size_t id = s.global_id.empty() ? lid : static_cast<size_t>(s.global_id[lid]);
    total += static_cast<int64_t>(s.counts[lid]) * codes[id].level;
  }
  if (s.dropped_blanks > 0) {
    size_t id = s.global_id.empty() ? static_cast<size_t>(s.blank_id) : static_cast<size_t>(s.global_id[s.blank_id]);
    total -= s.dropped_blanks * codes[id].level;
  }
  return total;
}

// The auxiliary pointers of one stretch: the walk of HJumpers_fromds, which
// records a pair at a token that starts at or after the next mark, the
// marks `distance` apart, each recorded pair moving the mark on by one
// step. The stretch's walk starts with `first` pairs before it.
struct StretchJumpers {
  int64_t first = 0;  // pairs before the stretch that the walk assumed
  int64_t after = 0;  // pairs before the next stretch
  std::vector<int32_t> text_positions;
  std::vector<int32_t> body_positions;
};

// A table by vocabulary id as the stretch's own ids read it, so that each
// token costs one load: the table itself when the two ids are the same,
// otherwise a copy in *local.
template <typename T>
const T* ByLocalId(const HCountStretch& s, const std::vector<T>& by_id, std::vector<T>* local) {
  if (s.global_id.empty()) return by_id.data();
  local->resize(s.global_id.size());
  for (size_t lid = 0; lid < local->size(); ++lid) (*local)[lid] = by_id[static_cast<size_t>(s.global_id[lid])];
  return local->data();
}

// How many tokens ahead of the one being coded its record is asked for: a
// vocabulary's records do not fit the nearer caches.
constexpr int kCodeAhead = 8;

inline void PrefetchCode(const void* record) {
#if defined(__GNUC__) || defined(__clang__)
  __builtin_prefetch(record);
#else
  (void)record;
#endif
}

// Codes a stretch's id stream into exactly [dst, dst + body_length): whole
// 8-byte stores while they stay inside, so that stretches coded at the same
// time never touch each other's bytes. An entry flagged for the blank after
// its word gives both codewords with one store. With the pointers, the body
// position of each paired token (by its place in the stream, in stream
// order) goes to *pair_body, counted from body_begin.
void CodeStretch(HCountStretch& s, const std::vector<CodeRecord>& codes, unsigned char* dst, int64_t body_length,
                 int64_t body_begin = 0, std::vector<int32_t>* pair_body = nullptr) {
  std::vector<CodeRecord> local;
  const CodeRecord* rec = ByLocalId(s, codes, &local);
  const CodeRecord blank = s.blank_id >= 0 ? rec[s.blank_id] : CodeRecord{0, 0};
  const uint64_t blank_bytes = blank.body_bytes;
  unsigned char* w = dst;
  unsigned char* const end = dst + body_length;
  const std::vector<uint64_t>& places = s.pair_place;
  size_t next_pair = 0;
  if (pair_body) {
    pair_body->clear();
    pair_body->reserve(places.size());
  }
  // Each chunk is released once coded: the body grows as the stream shrinks.
  for (size_t k = 0; k < s.chunks.size(); ++k) {
    const unsigned char* r = s.chunks[k].get();
    const unsigned char* r_end = r + s.chunk_lengths[k];
    const unsigned char* ahead = r;
    for (int i = 0; i < kCodeAhead && ahead < r_end; ++i) {
      uint32_t entry;
      ahead = HIdStream_get(ahead, &entry);
      PrefetchCode(rec + (entry & kHIdStreamIdMask));
    }
    // The stream runs from one paired token to the next without a check
    // per token.
    for (;;) {
      const bool paired = pair_body && next_pair < places.size() && (places[next_pair] >> 32) == k;
      const unsigned char* stop =
          paired ? s.chunks[k].get() + (places[next_pair] & (kHPairOnBlank - 1)) : r_end;
      while (r < stop) {
        if (ahead < r_end) {
          uint32_t later;
          ahead = HIdStream_get(ahead, &later);
          PrefetchCode(rec + (later & kHIdStreamIdMask));
        }
        uint32_t entry;
        r = HIdStream_get(r, &entry);
        const CodeRecord c = rec[entry & kHIdStreamIdMask];
        const uint64_t with_blank = uint64_t{0} - (entry >> 30);  // all ones when the blank follows
        const uint64_t bytes = c.body_bytes | ((blank_bytes << (8 * c.level)) & with_blank);
        const int32_t level = c.level + (blank.level & static_cast<int32_t>(with_blank));
        if (end - w >= 8) {
          if constexpr (std::endian::native == std::endian::little) {
            std::memcpy(w, &bytes, 8);
          } else {
            for (int i = 0; i < 8; ++i) w[i] = static_cast<unsigned char>(bytes >> (8 * i));
          }
        } else {
          for (int32_t i = 0; i < level; ++i) w[i] = static_cast<unsigned char>(bytes >> (8 * i));
        }
        w += level;
      }
      if (!paired) break;
      if (r != stop) HFatal("Error: body length (HCompress_getBody)\n");  // a place between two entries
      int64_t at = w - dst;
      if (places[next_pair] & kHPairOnBlank) {  // the blank after the word of this entry
        uint32_t entry;
        if (r >= r_end || !(HIdStream_get(r, &entry), entry & kHIdStreamBlank)) {
          HFatal("Error: body length (HCompress_getBody)\n");
        }
        at += rec[entry & kHIdStreamIdMask].level;
      }
      pair_body->push_back(static_cast<int32_t>(body_begin + at));
      ++next_pair;
    }
    s.chunks[k].reset();
  }
  if (w != end) HFatal("Error: body length (HCompress_getBody)\n");
  if (pair_body && next_pair != places.size()) HFatal("Error: body length (HCompress_getBody)\n");
}

// A token's length in the text and in the body, by id.
struct TokenSpan {
  int32_t text;
  int32_t body;
};

// The pointer walk of one stretch from its id stream, for a stretch whose
// assumption about the pairs before it was wrong: it starts with `first`.
void StretchJumpersFromIds(const HCountStretch& s, int64_t body_begin, int64_t first, int32_t distance,
                           int64_t capacity, const std::vector<TokenSpan>& spans, StretchJumpers* out) {
  out->first = first;
  out->text_positions.clear();
  out->body_positions.clear();
  std::vector<TokenSpan> local;
  const TokenSpan* span = ByLocalId(s, spans, &local);
  int64_t count = first;
  int64_t mark = count * distance;  // where the next pair may be recorded
  int64_t p = s.begin, q = body_begin;
  const TokenSpan blank = s.blank_id >= 0 ? span[s.blank_id] : TokenSpan{0, 0};
  auto token = [&](const TokenSpan& t) {
    if (p >= mark && count < capacity) {
      out->text_positions.push_back(static_cast<int32_t>(p));
      out->body_positions.push_back(static_cast<int32_t>(q));
      ++count;
      mark = count * distance;
    }
    p += t.text;
    q += t.body;
  };
  for (size_t k = 0; k < s.chunks.size(); ++k) {
    const unsigned char* r = s.chunks[k].get();
    const unsigned char* r_end = r + s.chunk_lengths[k];
    while (r < r_end) {
      uint32_t entry;
      r = HIdStream_get(r, &entry);
      token(span[entry & kHIdStreamIdMask]);
      if (entry & kHIdStreamBlank) token(blank);
    }
  }
  out->after = count;
}

// Counts, builds the code, and codes the id streams straight into the
// container buffer, stretches in parallel, each into its own place. The
// words model's pointers: counting has found their tokens, and the number
// of pairs is known once each stretch's assumption about the pairs before
// it is checked; a stretch whose assumption was wrong is walked again from
// its id stream. Coding then notes the body position of each paired token.
void CompressCounted(const unsigned char* text, int32_t length, HRule rule, int32_t distance, int32_t threads,
                     const HTextRead& text_read, const HOutputSpace& space, HModel* model, HBuffer* out,
                     int32_t* out_length, int32_t* body_length) {
  const bool spaceless = HRule_spaceless(rule);
  const bool unicode = HRule_unicode(rule);
  const bool pointers = !spaceless && distance > 0;
  HTreeStorage storage;
  HHashtable_create(model, length / 1000 + 5);
  model->rule = rule;
  HCountResult counted;
  HCount_text(text, length, spaceless, threads, model, &counted, text_read, pointers ? distance : 0, unicode,
              unicode);
  if (unicode) {
    uLong crc = crc32(0, nullptr, 0);
    for (const HCountStretch& s : counted.stretches) crc = crc32_combine(crc, s.checksum, s.end - s.begin);
    model->text_checksum = static_cast<uint32_t>(crc);
  }
  BuildCode(model, &storage, threads);
  storage = HTreeStorage();  // the dictionary holds the rank order now
  const size_t parts = counted.stretches.size();
  std::vector<CodeRecord> codes(model->vocabulary.entries.size());
  for (const HNode* node : model->vocabulary.entries) {
    codes[static_cast<size_t>(node->id)] = CodeRecord{node->body_bytes, node->level};
  }
  std::vector<int64_t> offset(parts + 1, 0);
  for (size_t k = 0; k < parts; ++k) offset[k + 1] = offset[k] + StretchBodyLength(counted.stretches[k], codes);
  for (HCountStretch& s : counted.stretches) s.counts = std::vector<int32_t>();
  const int64_t blen = offset[parts];
  if (blen <= 0) HFatal("Fatal Error: You're trying to compress an empty file! (HCompress_getString)\n");
  HJumpers_free(&model->jumpers);
  std::vector<StretchJumpers> walks(parts);
  std::vector<char> walked(parts, 0);  // stretches whose pairs came from a walk of their ids
  if (pointers) {
    const int64_t capacity = length / distance + 1;
    std::vector<TokenSpan> spans;
    int64_t count = 0;
    for (size_t k = 0; k < parts; ++k) {
      HCountStretch& s = counted.stretches[k];
      if (s.pairs_first != count) {
        if (spans.empty()) {
          spans.resize(model->vocabulary.entries.size());
          for (const HNode* node : model->vocabulary.entries) {
            spans[static_cast<size_t>(node->id)] = TokenSpan{node->length, node->level};
          }
        }
        StretchJumpersFromIds(s, offset[k], count, distance, capacity, spans, &walks[k]);
        walked[k] = 1;
        count = walks[k].after;
      } else {
        walks[k].first = count;
        walks[k].text_positions = std::move(s.pair_text);
        count = walks[k].after = s.pairs_after;
      }
      s.pair_text = std::vector<int32_t>();
    }
    model->jumpers.count = static_cast<int32_t>(count);
  }
  const int64_t header = HContainer_headerSize(model);
  const int32_t trailer = HRule_trailerBytes(rule);
  if (header + blen + trailer > INT32_MAX) {
    HFatal("Error: compressed file would reach 2 GiB or more (HCompress_getBody)\n");
  }
  unsigned char* file = space ? space(header + blen + trailer) : nullptr;
  HBuffer buffer;
  if (file == nullptr) {
    buffer = HBuffer_allocateLarge(static_cast<size_t>(header + blen + trailer));
    if (!buffer) HFatal("Error: memory allocation (HCompress_getBody)\n");
    file = buffer.get();
  }
  unsigned char* body = file + header;
  // Each stretch writes its own pairs into the header once coded.
  HRunParts(parts, [&](size_t k) {
    const bool note = pointers && !walked[k];
    StretchJumpers& w = walks[k];
    CodeStretch(counted.stretches[k], codes, body + offset[k], offset[k + 1] - offset[k], offset[k],
                note ? &w.body_positions : nullptr);
    if (pointers) {
      if (w.text_positions.size() != w.body_positions.size()) HFatal("Error: body length (HCompress_getBody)\n");
      HContainer_writePairs(file, w.first, w.text_positions.data(), w.body_positions.data(),
                            static_cast<int64_t>(w.text_positions.size()));
    }
  });
  HContainer_writeHeader(file, length, static_cast<int32_t>(blen), model, pointers);
  file[0] = static_cast<unsigned char>(rule);
  if (trailer > 0) HInt_tostring(static_cast<int32_t>(model->text_checksum), file + header + blen);
  *out = std::move(buffer);
  *out_length = static_cast<int32_t>(header + blen + trailer);
  *body_length = static_cast<int32_t>(blen);
}

void CompressRule(const unsigned char* text, int32_t length, HRule rule, int32_t distance, HBuffer* out,
                  int32_t* out_length, int32_t report_level, int32_t threads, const HTextRead& text_read,
                  const HOutputSpace& space, const char* who) {
  CheckText(text, length, who);
  HModel model;
  int32_t body_length;
  CompressCounted(text, length, rule, distance, threads, text_read, space, &model, out, out_length, &body_length);
  if (report_level != 0) HPrint_globalInfos(&model, body_length, length, *out_length, rule, report_level);
  HModel_free(&model, true);
}

}  // namespace

void HCompress_getBody(const unsigned char* text, int32_t length, const HModel* model, HBuffer* body,
                       int32_t* body_length) {
  CheckText(text, length, "HCompress_getBody");
  BodyWriter writer(0, length / 2);
  EncodeBody<false>(text, length, model, &writer);
  int32_t total;
  *body = writer.release(&total);
  *body_length = total;
}

void HCompress_getBodyAndConsole(const unsigned char* text, int32_t length, int32_t distance, HBuffer* body,
                                 int32_t* body_length, HModel* model, HTreeStorage* storage) {
  CheckText(text, length, "HCompress_getBodyAndConsole");
  BuildCode(model, storage);
  HCompress_getBody(text, length, model, body, body_length);
  HJumpers_fromds(text, length, model, distance, &model->jumpers);
}

void HCompress_contractSpaces(const unsigned char* body, int32_t body_length, HBuffer* contracted,
                              int32_t* contracted_length, const HModel* model) {
  if (body == nullptr || body_length <= 0) {
    HFatal("Fatal Error: You're trying to compress an empty file! (HCompress_contractSpaces)\n");
  }
  contracted->reset();
  const HNode* blank = HHashtable_lookup(reinterpret_cast<const unsigned char*>(" "), 1, &model->vocabulary);
  if (!blank) {
    *contracted_length = body_length;
    return;
  }
  HBuffer out = HBuffer_allocate(static_cast<size_t>(body_length));
  if (!out) HFatal("Fatal Error: No memory for spaceless body (HCompress_contractSpaces\n");
  if (!(body[0] & 0x80)) HFatal("Error: no tagged byte (HCodeword_TaggedGetNext)\n");

  const HDictionary* dict = &model->dictionary;
  const HCodetable* table = &model->codetable;
  const unsigned char* blank_at = nullptr;
  int32_t blank_len = blank->level;
  int32_t w = 0;
  enum { kOther, kAfterWord, kHeldBlank } state = kOther;
  for (int32_t p = 0; p < body_length;) {
    int32_t len = HDecode_codewordLength(body + p, body_length - p);
    int32_t rank = HDecode_rank(body + p, len, table, dict->token_count);
    int32_t token_length;
    const unsigned char* token = HDecode_token(dict, rank, &token_length);
    bool word = HToken_isWordByte(token[0]);
    bool is_blank = token_length == 1 && token[0] == ' ';
    if (state == kAfterWord && is_blank) {
      blank_at = body + p;
      state = kHeldBlank;
    } else {
      if (state == kHeldBlank && !word) {
        std::memcpy(out.get() + w, blank_at, static_cast<size_t>(blank_len));
        w += blank_len;
      }
      std::memcpy(out.get() + w, body + p, static_cast<size_t>(len));
      w += len;
      state = word ? kAfterWord : kOther;
    }
    p += len;
  }
  if (state == kHeldBlank) {
    std::memcpy(out.get() + w, blank_at, static_cast<size_t>(blank_len));
    w += blank_len;
  }
  *contracted = std::move(out);
  *contracted_length = w;
}

void Huffw_compress(const unsigned char* text, int32_t length, int32_t distance, HBuffer* out, int32_t* out_length,
                    int32_t report_level, int32_t threads, const HTextRead& text_read, const HOutputSpace& space) {
  CompressRule(text, length, kHRuleWords, distance, out, out_length, report_level, threads, text_read, space,
               "Huffw_compress");
}

void Huffw_spaceless_compress(const unsigned char* text, int32_t length, HBuffer* out, int32_t* out_length,
                              int32_t report_level, int32_t threads, const HTextRead& text_read,
                              const HOutputSpace& space) {
  CompressRule(text, length, kHRuleSpaceless, 0, out, out_length, report_level, threads, text_read, space,
               "Huffw_spaceless_compress");
}

void Huffw_unicode_compress(const unsigned char* text, int32_t length, int32_t distance, HBuffer* out,
                            int32_t* out_length, int32_t report_level, int32_t threads, const HTextRead& text_read,
                            const HOutputSpace& space) {
  CompressRule(text, length, kHRuleUnicodeWords, distance, out, out_length, report_level, threads, text_read, space,
               "Huffw_unicode_compress");
}

void Huffw_unicode_spaceless_compress(const unsigned char* text, int32_t length, HBuffer* out, int32_t* out_length,
                                      int32_t report_level, int32_t threads, const HTextRead& text_read,
                                      const HOutputSpace& space) {
  CompressRule(text, length, kHRuleUnicodeSpaceless, 0, out, out_length, report_level, threads, text_read, space,
               "Huffw_unicode_spaceless_compress");
}

void HCompress_rule(const unsigned char* text, int32_t length, int32_t rule, int32_t distance, HBuffer* out,
                    int32_t* out_length, int32_t report_level, int32_t threads, const HTextRead& text_read,
                    const HOutputSpace& space) {
  switch (rule) {
    case kHRuleWords:
      return Huffw_compress(text, length, distance, out, out_length, report_level, threads, text_read, space);
    case kHRuleSpaceless:
      return Huffw_spaceless_compress(text, length, out, out_length, report_level, threads, text_read, space);
    case kHRuleUnicodeWords:
      return Huffw_unicode_compress(text, length, distance, out, out_length, report_level, threads, text_read,
                                    space);
    case kHRuleUnicodeSpaceless:
      return Huffw_unicode_spaceless_compress(text, length, out, out_length, report_level, threads, text_read,
                                              space);
  }
  HFatal("Error: unknown parsing rule %d (HCompress_rule)\n", rule);
}
