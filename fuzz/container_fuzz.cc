// Arbitrary bytes as a compressed file: the container reader, both decoders
// and the four block decoders must either succeed or throw HFatalFailure.
// Anything else (a sanitizer report, another exception, a broken invariant)
// is a finding.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "codec/block.h"
#include "codec/container.h"
#include "codec/decompress.h"
#include "wordmodel/hrule.h"
#include "wordmodel/hhashtable.h"
#include "wordmodel/hlog.h"
#include "wordmodel/hmodel_free.h"

namespace {

struct Decoded {
  bool ok = false;
  HBuffer text;
  int32_t length = 0;
};

using FileDecoder = void (*)(const unsigned char*, int32_t, HBuffer*, int32_t*, int32_t);
using BlockDecoder = void (*)(const unsigned char*, int32_t, int32_t, HBuffer*, int32_t*, int32_t*, const HModel*);

Decoded DecodeWhole(FileDecoder decode, const unsigned char* file, int32_t length) {
  Decoded d;
  try {
    decode(file, length, &d.text, &d.length, 0);
    d.ok = true;
  } catch (const HFatalFailure&) {
  }
  return d;
}

[[noreturn]] void Finding(const char* what) {
  std::fprintf(stderr, "container_fuzz: %s\n", what);
  std::abort();
}

// Runs one block decoder; returns false when it refused the input.
bool DecodeBlock(BlockDecoder decode, const unsigned char* position, int32_t available, int32_t n,
                 const HModel* model, HBuffer* text, int32_t* text_length) {
  int32_t covered = -1;
  try {
    decode(position, available, n, text, text_length, &covered, model);
  } catch (const HFatalFailure&) {
    return false;
  }
  if (covered < 0 || covered > available) Finding("block covers bytes outside the body");
  if (*text_length < 0) Finding("negative block length");
  return true;
}

bool IsPrefix(const HBuffer& block, int32_t block_length, const Decoded& whole) {
  if (block_length > whole.length) return false;
  return block_length == 0 || std::memcmp(block.get(), whole.text.get(), static_cast<size_t>(block_length)) == 0;
}

// The block decoders at a few codeword boundaries (bytes with the tag bit).
void FuzzBlocks(const unsigned char* body, int32_t body_length, const HModel* model, const Decoded& words,
                const Decoded& spaceless, uint8_t pick) {
  std::vector<int32_t> boundaries;
  for (int32_t i = 0; i < body_length; ++i) {
    if (body[i] & 0x80) boundaries.push_back(i);
  }
  if (boundaries.empty()) return;
  const size_t count = boundaries.size();
  const int32_t chosen[] = {boundaries[0], boundaries[count / 2], boundaries[count - 1], boundaries[pick % count]};

  for (int32_t pos : chosen) {
    const unsigned char* p = body + pos;
    for (int32_t n : {1, 3}) {
      HBuffer text;
      int32_t length = 0;
      // Forward from the very start of the body: a prefix of the whole text.
      if (DecodeBlock(HDecompress_nextBlock_tokens, p, body_length - pos, n, model, &text, &length) && pos == 0 &&
          words.ok && !IsPrefix(text, length, words)) {
        Finding("forward block is not a prefix of the decompressed text");
      }
      if (DecodeBlock(HDecompress_nextBlock_tokens_spaceless, p, body_length - pos, n, model, &text, &length) &&
          pos == 0 && spaceless.ok && !IsPrefix(text, length, spaceless)) {
        Finding("spaceless forward block is not a prefix of the decompressed text");
      }
      DecodeBlock(HDecompress_previousBlock_tokens, p, pos, n, model, &text, &length);
      DecodeBlock(HDecompress_previousBlock_tokens_spaceless, p, pos, n, model, &text, &length);
    }
  }
}

// "ok TOKENS BODY" or the failure's message.
std::string ReadOutcome(const unsigned char* file, int32_t length, HVocabulary vocabulary) {
  HModel model;
  int32_t text_length = 0, body_length = 0;
  const unsigned char* body = nullptr;
  try {
    HContainer_read(file, length, &text_length, &body, &body_length, &model, vocabulary);
  } catch (const HFatalFailure& failure) {
    return failure.what();
  }
  std::string outcome = "ok " + std::to_string(model.dictionary.token_count) + " " + std::to_string(body_length);
  HModel_free(&model, false);
  return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  const int32_t length = static_cast<int32_t>(size);
  const Decoded words = DecodeWhole(Huffw_decompress, data, length);
  const Decoded spaceless = DecodeWhole(Huffw_spaceless_decompress, data, length);
  // The decoder the first byte selects: the Unicode rules too.
  const Decoded any = DecodeWhole(HDecompress_file, data, length);

  // The reader that only counts the dictionary's tokens (the search's first
  // look at a file) accepts and refuses exactly what the indexing one does.
  if (ReadOutcome(data, length, HVocabulary::kCounted) != ReadOutcome(data, length, HVocabulary::kBlankOnly)) {
    Finding("counting and indexing readers disagree");
  }

  HModel model;
  int32_t text_length = 0;
  const unsigned char* body = nullptr;
  int32_t body_length = 0;
  try {
    HDecompress_getBodyAndConsole(data, length, &text_length, &body, &body_length, &model);
  } catch (const HFatalFailure&) {
    return 0;
  }
  if (body < data || body_length < 0 || body + body_length + HRule_trailerBytes(data[0]) != data + size) {
    Finding("body outside the file");
  }
  // A text that decodes has exactly the stated length.
  if ((words.ok && words.length != text_length) || (spaceless.ok && spaceless.length != text_length) ||
      (any.ok && any.length != text_length)) {
    Finding("decoded text of another length than the header states");
  }
  FuzzBlocks(body, body_length, &model, words, spaceless, size > 0 ? data[size - 1] : 0);
  HModel_free(&model, false);
  return 0;
}
