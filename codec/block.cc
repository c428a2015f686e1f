#include "codec/block.h"

#include "codec/decompress.h"
#include "wordmodel/hcodeword.h"
#include "wordmodel/hdecode.h"
#include "wordmodel/hlog.h"

namespace {

// The body bytes that n word tokens span from the position, forward or back.
int32_t CoverForward(const unsigned char* position, int32_t available, int32_t n, const HModel* model) {
  const HDictionary* dict = &model->dictionary;
  int32_t covered = 0;
  while (covered < available && n > 0) {
    int32_t len = HDecode_codewordLength(position + covered, available - covered);
    int32_t rank = HDecode_rank(position + covered, len, &model->codetable, dict->token_count);
    if (HDecode_isWord(dict, rank)) --n;
    covered += len;
  }
  return covered;
}

int32_t CoverBackward(const unsigned char* position, int32_t available, int32_t n, const HModel* model) {
  const HDictionary* dict = &model->dictionary;
  int32_t covered = 0;
  while (covered < available && n > 0) {
    HCodeword cw;
    int32_t len;
    HCodeword_TaggedGetPrevious(position - covered, available - covered, &cw, &len);
    int32_t rank = HDecode_rank(position - covered - len, len, &model->codetable, dict->token_count);
    if (HDecode_isWord(dict, rank)) --n;
    covered += len;
  }
  if (!(position[-covered] & 0x80)) HFatal("Error: not a tagged byte (HDecompress_previousBlock_Tokens)\n");
  return covered;
}

bool Empty(const unsigned char* position, int32_t available, int32_t n, HBuffer* text, int32_t* text_length,
           int32_t* covered) {
  if (position != nullptr && available > 0 && n > 0) return false;
  text->reset();
  *text_length = 0;
  *covered = 0;
  return true;
}

void DecodeExpanded(const unsigned char* start, int32_t length, HBuffer* text, int32_t* text_length,
                    const HModel* model) {
  HBuffer expanded;
  int32_t expanded_length;
  HDecompress_expandSpaces(start, length, &expanded, &expanded_length, model);
  HDecompress_nextBlock_bytes(expanded ? expanded.get() : start, expanded_length, text, text_length, model);
}

}  // namespace

void HDecompress_nextBlock_tokens(const unsigned char* position, int32_t available, int32_t n, HBuffer* text,
                                  int32_t* text_length, int32_t* covered, const HModel* model) {
  if (Empty(position, available, n, text, text_length, covered)) return;
  if (!(position[0] & 0x80)) HFatal("Error: not a tagged byte (HDecompress_nextBlock_tokens)\n");
  *covered = CoverForward(position, available, n, model);
  HDecompress_nextBlock_bytes(position, *covered, text, text_length, model);
}

void HDecompress_nextBlock_tokens_spaceless(const unsigned char* position, int32_t available, int32_t n,
                                            HBuffer* text, int32_t* text_length, int32_t* covered,
                                            const HModel* model) {
  if (Empty(position, available, n, text, text_length, covered)) return;
  if (!(position[0] & 0x80)) HFatal("Error: not a tagged byte (HDecompress_nextBlock_tokens_spaceless)\n");
  *covered = CoverForward(position, available, n, model);
  DecodeExpanded(position, *covered, text, text_length, model);
}

void HDecompress_previousBlock_tokens(const unsigned char* position, int32_t available, int32_t n, HBuffer* text,
                                      int32_t* text_length, int32_t* covered, const HModel* model) {
  if (Empty(position, available, n, text, text_length, covered)) return;
  if (!(position[0] & 0x80)) HFatal("Error: not a tagged byte (HDecompress_previousBlock_tokens)\n");
  *covered = CoverBackward(position, available, n, model);
  HDecompress_nextBlock_bytes(position - *covered, *covered, text, text_length, model);
}

void HDecompress_previousBlock_tokens_spaceless(const unsigned char* position, int32_t available, int32_t n,
                                                HBuffer* text, int32_t* text_length, int32_t* covered,
                                                const HModel* model) {
  if (Empty(position, available, n, text, text_length, covered)) return;
  if (!(position[0] & 0x80)) HFatal("Error: not a tagged byte (HDecompress_previousBlock_tokens_spaceless)\n");
  *covered = CoverBackward(position, available, n, model);
  DecodeExpanded(position - *covered, *covered, text, text_length, model);
}
