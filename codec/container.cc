#include "codec/container.h"

#include <bit>
#include <cstring>

#include "wordmodel/hcodeword.h"
#include "wordmodel/hcoding.h"
#include "wordmodel/hdecode.h"
#include "wordmodel/hhashtable.h"
#include "wordmodel/hdictionary.h"
#include "wordmodel/hjumpers.h"
#include "wordmodel/hlog.h"
#include "wordmodel/hrule.h"
#include "wordmodel/hufftree.h"

namespace {

[[noreturn]] void ReadLengthError() { HContainer_lengthError(); }

// The vocabulary with the blank token alone. A code table that cannot give
// every rank a codeword fails here as a full rebuild would: rank 0 is the
// one that needs the lowest Offset.
void RebuildBlankOnly(HModel* model) {
  const HDictionary* dict = &model->dictionary;
  int32_t n = dict->token_count;
  HHashtable_create(model, 0);
  if (n == 0) return;
  HCodeword cw;
  int32_t bytes;
  HCodeword_TaggedFromTokenrank(0, &model->codetable, &cw, &bytes);
  // The blank is the string " \n" at a token's start: a token of one byte
  // starts two bytes before the next one (or the string's end).
  const int32_t* start = dict->start.get();
  for (int32_t r = 0; r < n; ++r) {
    const int32_t end = r + 1 < n ? start[r + 1] : dict->string_length;
    if (end - start[r] != 2 || dict->string[start[r]] != ' ') continue;
    int is_new;
    HNode* node = HHashtable_insertEntry(dict->string + start[r], 1, &model->vocabulary, &is_new);
    HCodeword_TaggedFromTokenrank(r, &model->codetable, &node->codeword, &node->level);
  }
}

}  // namespace

int64_t HContainer_headerSize(const HModel* model) {
  return static_cast<int64_t>(model->dictionary.string_length) + (HJumpers_blockSize(&model->jumpers) - 4) +
         kHContainerFixedBytes;
}

// Where the pointer block starts: the rule, the text length, the token
// count and the code table come first.
constexpr int64_t kPairBlockAt = 1 + 4 + 4 + 36;

void HContainer_writePairs(unsigned char* b, int64_t first, const int32_t* text_positions,
                           const int32_t* body_positions, int64_t n) {
  unsigned char* w = b + kPairBlockAt + 4 + 8 * first;
  if constexpr (std::endian::native == std::endian::little) {
    // One store a pair: both numbers turned to big-endian byte order in
    // registers (compilers make each a single byte swap).
    auto big = [](int32_t value) {
      const uint32_t v = static_cast<uint32_t>(value);
      return uint64_t{(v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24)};
    };
    for (int64_t i = 0; i < n; ++i, w += 8) {
      const uint64_t pair = big(text_positions[i]) | (big(body_positions[i]) << 32);
      std::memcpy(w, &pair, 8);
    }
  } else {
    for (int64_t i = 0; i < n; ++i, w += 8) {
      HInt_tostring(text_positions[i], w);
      HInt_tostring(body_positions[i], w + 4);
    }
  }
}

void HContainer_writeHeader(unsigned char* b, int32_t text_length, int32_t body_length, const HModel* model,
                            bool pairs_written) {
  const HDictionary* dict = &model->dictionary;
  int64_t w = 1;
  HInt_tostring(text_length, b + w);
  w += 4;
  HInt_tostring(model->codetable.token_count, b + w);
  w += 4;
  HCodetable_tostring(b + w, &model->codetable);
  w += 36;
  if (pairs_written) {
    HInt_tostring(model->jumpers.count, b + w);
  } else {
    HJumpers_tostring(b + w, &model->jumpers);
  }
  w += HJumpers_blockSize(&model->jumpers);
  HInt_tostring(dict->string_length, b + w);
  w += 4;
  if (dict->string_length > 0) std::memcpy(b + w, dict->string, static_cast<size_t>(dict->string_length));
  w += dict->string_length;
  HInt_tostring(body_length, b + w);
}

void HCompress_getString(HBuffer* out, int32_t* out_length, int32_t text_length, const unsigned char* body,
                         int32_t body_length, const HModel* model) {
  if (text_length <= 0 || body == nullptr || body_length <= 0) {
    HFatal("Fatal Error: You're trying to compress an empty file! (HCompress_getString)\n");
  }
  int64_t header = HContainer_headerSize(model);
  int64_t total = header + body_length;
  if (total > INT32_MAX) HFatal("Error: compressed file would reach 2 GiB or more (HCompress_getString)\n");
  HBuffer buffer = HBuffer_allocate(static_cast<size_t>(total));
  if (!buffer) HFatal("Error: memory allocation (HCompress_getString)\n");
  buffer[0] = 0;
  HContainer_writeHeader(buffer.get(), text_length, body_length, model);
  std::memcpy(buffer.get() + header, body, static_cast<size_t>(body_length));
  *out = std::move(buffer);
  *out_length = static_cast<int32_t>(total);
}

void HDecompress_getBodyAndConsole(const unsigned char* file, int32_t file_length, int32_t* text_length,
                                   const unsigned char** body, int32_t* body_length, HModel* model) {
  HContainer_read(file, file_length, text_length, body, body_length, model, HVocabulary::kFull);
}

void HContainer_lengthError() {
  HFatal("Error: computing the compressed file length (HDecompress_getBodyAndConsole)\n");
}

void HContainer_readHeader(const unsigned char* file, int32_t header_length, int32_t* text_length,
                           int32_t* body_length, HModel* model, HVocabulary vocabulary) {
  if (file == nullptr || header_length <= 0) {
    HFatal("Fatal Error: You're trying to decompress an empty file! (HDecompress_getBodyAndConsole)\n");
  }
  // 49 bytes: rule, text length, token count, code table, pointer count.
  if (header_length < 49) ReadLengthError();
  int64_t pos = 1;
  HInt_fromstring(file + pos, text_length);
  pos += 4;
  int32_t token_count;
  HInt_fromstring(file + pos, &token_count);
  pos += 4;
  HCodetable_fromstring(file + pos, &model->codetable);
  model->codetable.token_count = token_count;
  pos += 36;

  HJumpers_fromstring(file + pos, header_length - pos, &model->jumpers);
  pos += HJumpers_blockSize(&model->jumpers);

  if (header_length - pos < 4) ReadLengthError();
  int32_t dict_length;
  HInt_fromstring(file + pos, &dict_length);
  pos += 4;
  // Every token takes at least two bytes of the string: a count that the
  // string cannot hold is refused before anything is allocated for it.
  if (dict_length < 0 || dict_length > header_length - pos) ReadLengthError();
  if (token_count < 0 || static_cast<int64_t>(token_count) * 2 > dict_length) {
    HFatal("Error: num tokens in dictionary (HDictionary_fromstring)\n");
  }
  if (vocabulary == HVocabulary::kCounted) {
    HDictionary_fromstringCounted(file + pos, dict_length, token_count, &model->dictionary);
  } else {
    HDictionary_fromstring(file + pos, dict_length, token_count, &model->dictionary);
  }
  pos += dict_length;
  // Once the token count is known to match the dictionary, the code table
  // must be the canonical one for it.
  HCodetable_check(&model->codetable);
  model->rule = file[0];
  if (HRule_unicode(file[0]) && vocabulary != HVocabulary::kCounted) HDictionary_classify(&model->dictionary);

  if (vocabulary == HVocabulary::kFull) {
    HHashtable_fromdict(&model->dictionary, &model->codetable, model);
  } else if (vocabulary == HVocabulary::kBlankOnly) {
    RebuildBlankOnly(model);
  } else if (token_count > 0) {
    // The one check of the rebuild that can fail.
    HCodeword cw;
    int32_t bytes;
    HCodeword_TaggedFromTokenrank(0, &model->codetable, &cw, &bytes);
  }

  if (header_length - pos != 4) ReadLengthError();
  HInt_fromstring(file + pos, body_length);
  if (*body_length < 0 || static_cast<int64_t>(header_length) + *body_length > INT32_MAX) ReadLengthError();
}

void HContainer_read(const unsigned char* file, int32_t file_length, int32_t* text_length,
                     const unsigned char** body, int32_t* body_length, HModel* model, HVocabulary vocabulary) {
  if (file == nullptr || file_length <= 0) {
    HFatal("Fatal Error: You're trying to decompress an empty file! (HDecompress_getBodyAndConsole)\n");
  }
  if (file_length < 49) ReadLengthError();
  const int64_t header = HContainer_headerEnd(file, file_length);
  if (header < 0 || header > file_length) ReadLengthError();
  HContainer_readHeader(file, static_cast<int32_t>(header), text_length, body_length, model, vocabulary);
  const int32_t trailer = HRule_trailerBytes(file[0]);
  if (header + static_cast<int64_t>(*body_length) + trailer != file_length) ReadLengthError();
  *body = file + header;
  if (trailer > 0) {
    int32_t checksum;
    HInt_fromstring(file + file_length - 4, &checksum);
    model->text_checksum = static_cast<uint32_t>(checksum);
  }
}

int64_t HContainer_headerEnd(const unsigned char* prefix, int64_t have) {
  if (have < 49) return -1;
  int32_t pairs;
  HInt_fromstring(prefix + 45, &pairs);
  if (pairs < 0 || pairs > (INT32_MAX - 57) / 8) ReadLengthError();
  const int64_t dictionary_at = 49 + 8 * static_cast<int64_t>(pairs) + 4;
  if (have < dictionary_at) return -1;
  int32_t dict_length;
  HInt_fromstring(prefix + dictionary_at - 4, &dict_length);
  const int64_t end = dictionary_at + static_cast<int64_t>(dict_length) + 4;
  if (dict_length < 0 || end > INT32_MAX) ReadLengthError();
  return end;
}

int64_t HContainer_prefixNeeds(const unsigned char* prefix, int64_t have) {
  if (have < 49) return 49;
  // The first 49 bytes already tell much: the code table must be the
  // canonical one for the token count, and there are no more pointer pairs
  // than bytes of text (none in a spaceless file). Bytes that are no
  // compressed file fail here, before anything more is read.
  int32_t text_length, pairs;
  HInt_fromstring(prefix + 1, &text_length);
  HInt_fromstring(prefix + 45, &pairs);
  HCodetable table;
  HCodetable_fromstring(prefix + 9, &table);
  HInt_fromstring(prefix + 5, &table.token_count);
  HCodetable_check(&table);
  if (text_length < 0 || pairs < 0 || pairs > (INT32_MAX - 57) / 8 || pairs > static_cast<int64_t>(text_length) + 1 ||
      (HRule_spaceless(prefix[0]) && pairs != 0)) {
    ReadLengthError();
  }
  const int64_t dictionary_at = 49 + 8 * static_cast<int64_t>(pairs) + 4;
  if (have < dictionary_at) return dictionary_at;
  const int64_t end = HContainer_headerEnd(prefix, have);
  if (have < end) return end;
  int32_t body_length;
  HInt_fromstring(prefix + end - 4, &body_length);
  const int64_t total = end + body_length + HRule_trailerBytes(prefix[0]);
  if (body_length < 0 || total > INT32_MAX) ReadLengthError();
  return total;
}
