// The compressor: text in memory to a compressed file in memory, under the
// words-and-separators model (parsing rule 0), the spaceless model (rule 1),
// or their Unicode forms (rules 2 and 3).
#ifndef MORAVINE_CODEC_COMPRESS_H_
#define MORAVINE_CODEC_COMPRESS_H_

#include <cstdint>
#include <functional>

#include "wordmodel/hbuffer.h"
#include "wordmodel/hcount.h"
#include "wordmodel/hmodel.h"
#include "wordmodel/hufftree.h"

// Words-and-separators model; a distance above 0 records auxiliary pointers.
// The report level selects the statistics report: 0 none, 1 figures, 2 or
// more figures and dictionary. A text of several MiB is counted and coded
// by up to `threads` threads; the file is the same whatever their number.
// `text_read`, when set, receives every part [begin, end) of the text once
// it has been read for the last time (a few MiB at a time, from the
// counting threads, possibly several at once): a caller that maps the text
// can give those pages back, so that the text, the id streams and the
// output are never all held at once.
// `space`, when set, is asked once for room for the whole compressed file,
// of the size given, as soon as that size is known and before any of it is
// written: the file is then written there and *out stays empty (a caller
// can give a file mapped for writing, and spare copying the file). When it
// gives null, the file goes into *out as without it.
using HOutputSpace = std::function<unsigned char*(int64_t size)>;

void Huffw_compress(const unsigned char* text, int32_t length, int32_t distance, HBuffer* out, int32_t* out_length,
                    int32_t report_level, int32_t threads = 1, const HTextRead& text_read = nullptr,
                    const HOutputSpace& space = nullptr);

// Spaceless model: each blank between two words is left out of the body.
void Huffw_spaceless_compress(const unsigned char* text, int32_t length, HBuffer* out, int32_t* out_length,
                              int32_t report_level, int32_t threads = 1, const HTextRead& text_read = nullptr,
                              const HOutputSpace& space = nullptr);

// The Unicode models (parsing rules 2 and 3): words of every script, and
// the text's CRC-32 after the body. Otherwise as the two above.
void Huffw_unicode_compress(const unsigned char* text, int32_t length, int32_t distance, HBuffer* out,
                            int32_t* out_length, int32_t report_level, int32_t threads = 1,
                            const HTextRead& text_read = nullptr, const HOutputSpace& space = nullptr);
void Huffw_unicode_spaceless_compress(const unsigned char* text, int32_t length, HBuffer* out, int32_t* out_length,
                                      int32_t report_level, int32_t threads = 1, const HTextRead& text_read = nullptr,
                                      const HOutputSpace& space = nullptr);

// The compressor of a parsing rule (0 to 3); the distance serves the words
// models only.
void HCompress_rule(const unsigned char* text, int32_t length, int32_t rule, int32_t distance, HBuffer* out,
                    int32_t* out_length, int32_t report_level, int32_t threads = 1,
                    const HTextRead& text_read = nullptr, const HOutputSpace& space = nullptr);

// Builds the code, the dictionary, the body and the pointers of a counted text.
void HCompress_getBodyAndConsole(const unsigned char* text, int32_t length, int32_t distance, HBuffer* body,
                                 int32_t* body_length, HModel* model, HTreeStorage* storage);

// Codes every token of the text, in order.
void HCompress_getBody(const unsigned char* text, int32_t length, const HModel* model, HBuffer* body,
                       int32_t* body_length);

// Removes every blank codeword that stands between two word codewords. When
// the vocabulary has no blank token, *contracted stays empty and the body
// itself is the result, with *contracted_length = body_length.
void HCompress_contractSpaces(const unsigned char* body, int32_t body_length, HBuffer* contracted,
                              int32_t* contracted_length, const HModel* model);

#endif  // MORAVINE_CODEC_COMPRESS_H_
