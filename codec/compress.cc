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
#include "wordmodel/htoken.h"

namespace {

// A growing body buffer. Appends store four bytes at once, so the buffer
// keeps four bytes of slack beyond its length.
class BodyWriter {
 public:
  explicit BodyWriter(int64_t initial) {
    capacity_ = initial + kSlack;
    buffer_ = HBuffer_allocate(static_cast<size_t>(capacity_));
    if (!buffer_) HFatal("Error: memory allocation (HCompress_getBody)\n");
  }

  void append(const HNode* node) {
    if (length_ + kSlack >= capacity_) grow();
    unsigned char* dst = buffer_.get() + length_;
    if constexpr (std::endian::native == std::endian::little) {
      std::memcpy(dst, &node->body_bytes, 4);
    } else {
      for (int i = 0; i < 4; ++i) dst[i] = static_cast<unsigned char>(node->body_bytes >> (8 * i));
    }
    length_ += node->level;
  }

  void appendBytes(const unsigned char* bytes, int32_t n) {
    while (length_ + n + kSlack >= capacity_) grow();
    std::memcpy(buffer_.get() + length_, bytes, static_cast<size_t>(n));
    length_ += n;
  }

  // Hands the body over; fails when it is too long for a 32-bit length.
  void finish(HBuffer* body, int32_t* body_length, const char* where) {
    if (length_ > INT32_MAX - kHContainerFixedBytes) {
      HFatal("Error: compressed body would reach 2 GiB or more (%s)\n", where);
    }
    *body = std::move(buffer_);
    *body_length = static_cast<int32_t>(length_);
  }

 private:
  static constexpr int64_t kSlack = 4;

  void grow() {
    int64_t next = static_cast<int64_t>(static_cast<double>(capacity_) * 1.4) + 64;
    if (!HBuffer_resize(&buffer_, static_cast<size_t>(next))) HFatal("memory exhausted in HCompress_getBody\n");
    capacity_ = next;
  }

  HBuffer buffer_;
  int64_t capacity_ = 0;
  int64_t length_ = 0;
};

// Codes the text token by token. In the spaceless form, a blank token with a
// word token on both sides is left out.
template <bool kSpaceless>
void EncodeBody(const unsigned char* text, int32_t length, const HModel* model, HBuffer* body, int32_t* body_length) {
  const HHashtable* table = &model->vocabulary;
  const HNode* blank = kSpaceless ? HHashtable_lookup(reinterpret_cast<const unsigned char*>(" "), 1, table) : nullptr;
  BodyWriter out(length / 2);
  enum { kOther, kAfterWord, kHeldBlank } state = kOther;
  int32_t p = 0;
  while (p < length) {
    int32_t hash;
    int32_t n = HToken_scanHash(text + p, length - p, &hash);
    const HNode* node = HHashtable_lookupHashed(text + p, n, hash, table);
    if (!node) HFatal("Error: token not found (HCodeword_TaggedFromToken)\n");
    if constexpr (!kSpaceless) {
      out.append(node);
    } else {
      bool word = HToken_isWordByte(text[p]);
      if (state == kAfterWord && node == blank) {
        state = kHeldBlank;
      } else {
        if (state == kHeldBlank && !word) out.append(blank);
        out.append(node);
        state = word ? kAfterWord : kOther;
      }
    }
    p += n;
  }
  if (kSpaceless && state == kHeldBlank) out.append(blank);
  out.finish(body, body_length, "HCompress_getBody");
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

}  // namespace

void HCompress_getBody(const unsigned char* text, int32_t length, const HModel* model, HBuffer* body,
                       int32_t* body_length) {
  CheckText(text, length, "HCompress_getBody");
  EncodeBody<false>(text, length, model, body, body_length);
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
  HBuffer body;
  int32_t body_length;
  HCompress_getBodyAndConsole(text, length, distance, &body, &body_length, &model, &storage);
  HCompress_getString(out, out_length, length, body.get(), body_length, &model);
  body.reset();
  (*out)[0] = 0;
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
  HBuffer body;
  int32_t body_length;
  EncodeBody<true>(text, length, &model, &body, &body_length);
  HCompress_getString(out, out_length, length, body.get(), body_length, &model);
  body.reset();
  (*out)[0] = 1;
  if (report_level != 0) HPrint_globalInfos(&model, body_length, length, *out_length, 1, report_level);
  HModel_free(&model, true);
}
