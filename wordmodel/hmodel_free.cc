#include "wordmodel/hmodel_free.h"

#include "wordmodel/hdictionary.h"
#include "wordmodel/hhashtable.h"
#include "wordmodel/hjumpers.h"

void HModel_free(HModel* model, bool owns_dictionary_string) {
  if (model->dictionary.string_length == -1) return;
  HDictionary_free(&model->dictionary, owns_dictionary_string);
  HHashtable_free(&model->vocabulary);
  HJumpers_free(&model->jumpers);
  model->dictionary.string_length = -1;
}
