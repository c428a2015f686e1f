// Tagged codewords: 1 to 4 bytes, the tag bit 0x80 set in the first byte
// only; the low 7 bits of the bytes form the plain codeword.
#ifndef MORAVINE_WORDMODEL_HCODEWORD_H_
#define MORAVINE_WORDMODEL_HCODEWORD_H_

#include <cstdint>

#include "wordmodel/hbuffer.h"
#include "wordmodel/hmodel.h"

void HCodeword_TaggedFromPlain(uint32_t plain, int32_t bits, HCodeword* tagged, int32_t* bytes);
void HCodeword_PlainFromTagged(HCodeword tagged, int32_t bytes, uint32_t* plain, int32_t* bits);
void HCodeword_PlainFromTokenrank(int32_t rank, const HCodetable* table, uint32_t* plain, int32_t* bits);
void HCodeword_TaggedFromTokenrank(int32_t rank, const HCodetable* table, HCodeword* tagged, int32_t* bytes);
void HToken_RankFromPlainCw(uint32_t plain, int32_t bits, const HCodetable* table, int32_t* rank);
void HToken_RankFromTaggedCw(HCodeword tagged, int32_t bytes, const HCodetable* table, int32_t* rank);

// A new copy of the token of the codeword (the caller owns it) and its length.
void HToken_fromTaggedCw(HCodeword tagged, int32_t bytes, const HCodetable* table, const HDictionary* dictionary,
                         HBuffer* token, int32_t* token_length);

// The codeword of a token of the vocabulary.
void HCodeword_TaggedFromToken(const unsigned char* token, int32_t length, const HModel* model, HCodeword* tagged,
                               int32_t* bytes);

// A new buffer of bytes + 1: the codeword bytes, tagged byte first, then 0.
void HCodeword_tostring(HCodeword tagged, int32_t bytes, HBuffer* out);

// The codeword starting at p, given the bytes from p to the end (m).
void HCodeword_TaggedGetNext(const unsigned char* p, int32_t m, HCodeword* tagged, int32_t* bytes);

// The codeword ending just before p, given the bytes before p (m); p must be
// a codeword boundary. Never reads before p - m.
void HCodeword_TaggedGetPrevious(const unsigned char* p, int32_t m, HCodeword* tagged, int32_t* bytes);

// 0 when m <= 0; otherwise 1 with a new copy of the token of the codeword at
// p, its length and the codeword's length in bytes.
int HToken_TaggedGetNext(const unsigned char* p, int32_t m, const HModel* model, HBuffer* token,
                         int32_t* token_length, int32_t* cw_bytes);
int HToken_TaggedGetPrevious(const unsigned char* p, int32_t m, const HModel* model, HBuffer* token,
                             int32_t* token_length, int32_t* cw_bytes);

#endif  // MORAVINE_WORDMODEL_HCODEWORD_H_
