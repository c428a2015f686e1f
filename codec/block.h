// Block decompression: the text of a few words after or before a codeword
// boundary of a body, without decoding the rest.
#ifndef MORAVINE_CODEC_BLOCK_H_
#define MORAVINE_CODEC_BLOCK_H_

#include <cstdint>

#include "wordmodel/hbuffer.h"
#include "wordmodel/hmodel.h"

// From the codeword at position through the n-th word token after it;
// `available` is the number of body bytes from the position to the end.
void HDecompress_nextBlock_tokens(const unsigned char* position, int32_t available, int32_t n, HBuffer* text,
                                  int32_t* text_length, int32_t* covered, const HModel* model);
void HDecompress_nextBlock_tokens_spaceless(const unsigned char* position, int32_t available, int32_t n,
                                            HBuffer* text, int32_t* text_length, int32_t* covered,
                                            const HModel* model);

// From the n-th word token before the position up to the position
// (excluded); `available` is the number of body bytes before the position.
void HDecompress_previousBlock_tokens(const unsigned char* position, int32_t available, int32_t n, HBuffer* text,
                                      int32_t* text_length, int32_t* covered, const HModel* model);
void HDecompress_previousBlock_tokens_spaceless(const unsigned char* position, int32_t available, int32_t n,
                                                HBuffer* text, int32_t* text_length, int32_t* covered,
                                                const HModel* model);

#endif  // MORAVINE_CODEC_BLOCK_H_
