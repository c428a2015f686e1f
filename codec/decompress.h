// The decompressor: a compressed file in memory back to its text.
#ifndef MORAVINE_CODEC_DECOMPRESS_H_
#define MORAVINE_CODEC_DECOMPRESS_H_

#include <cstdint>
#include <functional>

#include "wordmodel/hbuffer.h"
#include "wordmodel/hmodel.h"

// A whole-file decoder refuses a body that decodes to more than this many
// bytes beyond the text length stated in the header; a shorter text, or one
// slightly longer, is returned as decoded. Files that the compressor makes
// always state their exact length.
constexpr int64_t kHDecodeExcess = 64 * 1024;

// Parsing rule 0. The decoded text may be empty (an empty buffer, length 0).
void Huffw_decompress(const unsigned char* file, int32_t file_length, HBuffer* out, int32_t* out_length,
                      int32_t report_level);

// Parsing rule 1: the blanks between words are put back.
void Huffw_spaceless_decompress(const unsigned char* file, int32_t file_length, HBuffer* out, int32_t* out_length,
                                int32_t report_level);

// Decodes a whole file with the decoder that its first byte selects: 0 the
// words-and-separators decoder, any other value the spaceless one.
void HDecompress_file(const unsigned char* file, int32_t file_length, HBuffer* out, int32_t* out_length,
                      int32_t report_level);

// Decodes a whole file, with the decoder that its first byte selects (0:
// words-and-separators, any other: spaceless), straight into `destination`.
// Returns false, having written nothing useful, when the text does not fit
// in `capacity` bytes; fails as the decoders do. The statistics report is
// written only when the text fits.
bool HDecompress_fileInto(const unsigned char* file, int32_t file_length, unsigned char* destination,
                          int64_t capacity, int32_t* out_length, int32_t report_level);

// Receives decoded text a piece at a time, in order; may throw to stop the
// decoding.
using HDecodeSink = std::function<void(const unsigned char* text, int64_t length)>;

// Decodes a whole file, with the decoder that its first byte selects, and
// hands the text to `sink` in pieces of at most a few hundred KiB, each
// decoded into a buffer that stays in the processor's cache. Fails as the
// decoders do, possibly after some pieces were handed over.
void HDecompress_fileStream(const unsigned char* file, int32_t file_length, const HDecodeSink& sink,
                           int32_t* out_length, int32_t report_level);

// Puts a blank codeword between every two adjacent word codewords. An empty
// body gives an empty result; when the vocabulary has no blank token,
// *expanded stays empty and the body itself is the result.
void HDecompress_expandSpaces(const unsigned char* body, int32_t body_length, HBuffer* expanded,
                              int32_t* expanded_length, const HModel* model);

// Decodes every codeword of a stretch of a body. The result has room for one
// more byte at its length. An empty stretch gives an empty result.
void HDecompress_nextBlock_bytes(const unsigned char* stretch, int32_t length, HBuffer* text, int32_t* text_length,
                                 const HModel* model);

#endif  // MORAVINE_CODEC_DECOMPRESS_H_
