// Auxiliary pointers: pairs (text position, body position) sampled along
// the text at a given distance.
#ifndef MORAVINE_WORDMODEL_HJUMPERS_H_
#define MORAVINE_WORDMODEL_HJUMPERS_H_

#include <cstdint>

#include "wordmodel/hmodel.h"

// Computes the pairs of a text whose vocabulary carries its codewords. A
// distance of 0 (or less) gives none.
void HJumpers_fromds(const unsigned char* text, int32_t length, const HModel* model, int32_t distance,
                     HJumpers* jumpers);

// The size in bytes of the stored block: 4 + 8 * count.
inline int64_t HJumpers_blockSize(const HJumpers* jumpers) { return 4 + 8 * static_cast<int64_t>(jumpers->count); }

// Writes the block into a buffer of at least HJumpers_blockSize bytes.
void HJumpers_tostring(unsigned char* buffer, const HJumpers* jumpers);

// Reads the block from a buffer holding `available` bytes. A count that the
// available bytes cannot hold is refused with the container length error.
void HJumpers_fromstring(const unsigned char* buffer, int64_t available, HJumpers* jumpers);

void HJumpers_free(HJumpers* jumpers);

#endif  // MORAVINE_WORDMODEL_HJUMPERS_H_
