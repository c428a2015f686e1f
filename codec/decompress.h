// The decompressor: a compressed file in memory back to its text.
#ifndef MORAVINE_CODEC_DECOMPRESS_H_
#define MORAVINE_CODEC_DECOMPRESS_H_

#include <cstdint>
#include <functional>
#include <memory>

#include "wordmodel/hbuffer.h"
#include "wordmodel/hmodel.h"

// Every whole-file decoder checks each codeword of the body and fails
// unless the body decodes to exactly the text length that the header
// states: a damaged file never decodes as a good one. A body that would
// decode to more is refused as soon as it passes the length, so memory
// stays bounded by the header's length.

// Parsing rule 0. The decoded text may be empty (an empty buffer, length 0).
void Huffw_decompress(const unsigned char* file, int32_t file_length, HBuffer* out, int32_t* out_length,
                      int32_t report_level);

// Parsing rule 1: the blanks between words are put back.
void Huffw_spaceless_decompress(const unsigned char* file, int32_t file_length, HBuffer* out, int32_t* out_length,
                                int32_t report_level);

// The Unicode models (parsing rules 2 and 3); they also check the text
// against the CRC-32 that the file states.
void Huffw_unicode_decompress(const unsigned char* file, int32_t file_length, HBuffer* out, int32_t* out_length,
                              int32_t report_level);
void Huffw_unicode_spaceless_decompress(const unsigned char* file, int32_t file_length, HBuffer* out,
                                        int32_t* out_length, int32_t report_level);

// Decodes a whole file with the decoder that its first byte selects (0 to
// 3; any other value goes to the spaceless decoder, which refuses it).
void HDecompress_file(const unsigned char* file, int32_t file_length, HBuffer* out, int32_t* out_length,
                      int32_t report_level);

// Decodes a whole file, with the decoder that its first byte selects,
// straight into `destination`.
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

// Checks the auxiliary pointers of a whole file against its body: each
// pair must stand at the start of a codeword, at the text position that the
// codewords before it decode to, in strictly increasing order. A spaceless
// file holds none. Fails with a message that names the pair.
void HDecompress_checkPointers(const unsigned char* file, int32_t file_length);

// Decodes a compressed file that arrives a piece at a time (standard
// input), with every check of the whole-file decoders: the header first,
// then the body in pieces of any size, the text handed to a sink as it is
// decoded.
struct HDecodeStreamState;
struct HDecodeStream {
  HDecodeStream();
  ~HDecodeStream();
  std::unique_ptr<HDecodeStreamState> state;
};

// Reads the header (every byte before the body; see HContainer_headerEnd)
// and gives the body's length. The header's bytes must stay in place until
// the stream is done: the dictionary is read from them.
void HDecodeStream_begin(HDecodeStream* stream, const unsigned char* header, int32_t header_length,
                         int32_t* body_length);
// Decodes the next bytes of the body, all but a codeword cut off at their
// end, which waits for the next piece.
void HDecodeStream_feed(HDecodeStream* stream, const unsigned char* bytes, int32_t length, const HDecodeSink& sink);
// After the last piece: decodes what is left and checks that the body and
// the text have the lengths the header states.
void HDecodeStream_finish(HDecodeStream* stream, const HDecodeSink& sink, int32_t* out_length);

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
