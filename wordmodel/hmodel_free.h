// Releasing a whole coding model: vocabulary, dictionary and pointers.
#ifndef MORAVINE_WORDMODEL_HMODEL_FREE_H_
#define MORAVINE_WORDMODEL_HMODEL_FREE_H_

#include "wordmodel/hmodel.h"

// Releases the model once: a second call does nothing.
void HModel_free(HModel* model, bool owns_dictionary_string);

#endif  // MORAVINE_WORDMODEL_HMODEL_FREE_H_
