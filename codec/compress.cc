#include "codec/compress.h"

#include <bit>
#include <cstring>

#include "codec/container.h"
#include "wordmodel/hcodeword.h"
#include "wordmodel/hdecode.h"
#include "wordmodel/hdictionary.h"
#include "wordmodel/hhashtable.h"
#include "wordmodel/hjumpers.h"
#include "wordmodel/hlog.h"
#include "wordmodel/hreport.h"
#include "wordmodel/htokencache.h"
#include "wordmodel/htokenpipe.h"
#include "wordmodel/htoken.h"

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

// Tree, code table and dictionary of a counted vocabulary.
void BuildCode(HModel* model, HTreeStorage* storage) {
  Hufftree_build(model, storage);
  HCodetable_fromtree(storage->array.data(), &model->codetable, model);
  HDictionary_fromtree(storage->array.data(), model->codetable.token_count, &model->dictionary);
}

void CheckText(const unsigned char* text, int32_t length, const char* where) {
  if (text == nullptr || length < 1) HFatal("Fatal Error: You're trying to compress an empty file! (%s)\n", where);
}

// Codes the body straight into the container buffer, after room for the
// header, then writes the header: the same bytes as HCompress_getString
// gives for the separately coded body, without a second copy of the body.
template <bool kSpaceless>
void EncodeContainer(const unsigned char* text, int32_t length, const HModel* model, int rule, HBuffer* out,
                     int32_t* out_length, int32_t* body_length) {
  int64_t header = HContainer_headerSize(model);
  BodyWriter writer(header, length / 2);
  EncodeBody<kSpaceless>(text, length, model, &writer);
  int64_t blen = writer.bodyLength();
  if (blen <= 0) HFatal("Fatal Error: You're trying to compress an empty file! (HCompress_getString)\n");
  HContainer_writeHeader(writer.data(), length, static_cast<int32_t>(blen), model);
  writer.data()[0] = static_cast<unsigned char>(rule);
  *out = writer.release(out_length);
  *body_length = static_cast<int32_t>(blen);
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
                    int32_t report_level) {
  CheckText(text, length, "Huffw_compress");
  HModel model;
  HTreeStorage storage;
  HHashtable_create(&model, length / 1000 + 5);
  HParse_text(text, length, &model);
  BuildCode(&model, &storage);
  // The pointers need only the codeword lengths, so they are made before the
  // body, which then goes straight into the container.
  HJumpers_fromds(text, length, &model, distance, &model.jumpers);
  int32_t body_length;
  EncodeContainer<false>(text, length, &model, 0, out, out_length, &body_length);
  if (report_level != 0) HPrint_globalInfos(&model, body_length, length, *out_length, 0, report_level);
  storage = HTreeStorage();
  HModel_free(&model, true);
}

void Huffw_spaceless_compress(const unsigned char* text, int32_t length, HBuffer* out, int32_t* out_length,
                              int32_t report_level) {
  CheckText(text, length, "Huffw_spaceless_compress");
  HModel model;
  HTreeStorage storage;
  HHashtable_create(&model, length / 1000 + 5);
  HParse_text(text, length, &model);
  BuildCode(&model, &storage);
  // The spaceless body is coded directly; it equals the full body with
  // HCompress_contractSpaces applied.
  int32_t body_length;
  EncodeContainer<true>(text, length, &model, 1, out, out_length, &body_length);
  if (report_level != 0) HPrint_globalInfos(&model, body_length, length, *out_length, 1, report_level);
  HModel_free(&model, true);
}
