// Counting the tokens of a whole text into a vocabulary.
#ifndef MORAVINE_WORDMODEL_HPARSE_H_
#define MORAVINE_WORDMODEL_HPARSE_H_

#include <cstdint>

#include "wordmodel/hmodel.h"

// Counts every token of the text into the model's vocabulary, which the
// caller has created.
void HParse_text(const unsigned char* text, int32_t length, HModel* model);

#endif  // MORAVINE_WORDMODEL_HPARSE_H_
