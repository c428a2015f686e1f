// The compressed file container: parsing rule byte, big-endian header, code
// table, auxiliary pointers, dictionary string and body; exactly
// 57 + 8n + D + B bytes, and under the Unicode rules 4 more: the CRC-32 of
// the text (docs/FORMAT.md).
#ifndef MORAVINE_CODEC_CONTAINER_H_
#define MORAVINE_CODEC_CONTAINER_H_

#include <cstdint>

#include "wordmodel/hbuffer.h"
#include "wordmodel/hmodel.h"

// The fixed part of a container: 57 bytes.
constexpr int32_t kHContainerFixedBytes = 57;

// Allocates and fills the container from offset 1 on; the caller stores the
// parsing rule at offset 0.
void HCompress_getString(HBuffer* out, int32_t* out_length, int32_t text_length, const unsigned char* body,
                         int32_t body_length, const HModel* model);

// The number of bytes before the body: every field up to and including the
// body length, 57 + 8n + D in all.
int64_t HContainer_headerSize(const HModel* model);

// Writes every field before the body (not the parsing rule byte) into a
// buffer of at least HContainer_headerSize bytes. With `pairs_written`,
// the pointer pairs are already in place (see HContainer_writePairs) and
// only their count is written; the model's pointers need only the count.
void HContainer_writeHeader(unsigned char* buffer, int32_t text_length, int32_t body_length, const HModel* model,
                            bool pairs_written = false);

// Writes pointer pairs [first, first + n) of a header into their place.
void HContainer_writePairs(unsigned char* buffer, int64_t first, const int32_t* text_positions,
                           const int32_t* body_positions, int64_t n);

// Reads a container in place: fills the model (code table, pointers,
// dictionary over the file bytes, vocabulary, rule and, under the Unicode
// rules, the token classes and the text's checksum) and gives the header's
// text length and the body inside the file bytes. Every field is checked
// against the bytes that remain before it is read.
void HDecompress_getBodyAndConsole(const unsigned char* file, int32_t file_length, int32_t* text_length,
                                   const unsigned char** body, int32_t* body_length, HModel* model);

// How much of the vocabulary a reader rebuilds.
enum class HVocabulary {
  kFull,       // every token with its codeword
  kBlankOnly,  // only the blank token, which restoring spaceless bodies needs
  kCounted,    // none, and the dictionary's tokens counted but not indexed (HDictionary_fromstringCounted)
};

// As HDecompress_getBodyAndConsole, with the vocabulary rebuilt as asked.
// Readers that find tokens through the dictionary itself (the search) skip
// rebuilding every entry; checks and failures stay the same.
void HContainer_read(const unsigned char* file, int32_t file_length, int32_t* text_length,
                     const unsigned char** body, int32_t* body_length, HModel* model, HVocabulary vocabulary);

// Fails with the message of a file whose length does not add up.
[[noreturn]] void HContainer_lengthError();

// Reads the header of a container, every field up to and including the
// body length (header_length bytes, as HContainer_headerEnd gives), with the
// checks of HContainer_read; the body follows elsewhere. For readers that
// get a file a piece at a time.
void HContainer_readHeader(const unsigned char* file, int32_t header_length, int32_t* text_length,
                           int32_t* body_length, HModel* model, HVocabulary vocabulary);

// The length of a container's header (everything before the body) from the
// first `have` bytes of the file, or -1 when they do not yet tell. Fails
// with the length error when the fields read so far cannot belong to a
// file below 2 GiB.
int64_t HContainer_headerEnd(const unsigned char* prefix, int64_t have);

// For a reader that gets a file a piece at a time: after `have` bytes, how
// many the file must hold at least for its next field to be read (the whole
// file's length once the body length is known). Fails, as the container
// reader does, as soon as the fields read so far cannot belong to a valid
// file below 2 GiB.
int64_t HContainer_prefixNeeds(const unsigned char* prefix, int64_t have);

#endif  // MORAVINE_CODEC_CONTAINER_H_
