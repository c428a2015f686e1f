#include "wordmodel/hdecode.h"

#include <new>

void HDecode_buildTable(HModel* model) {
  const HDictionary* dict = &model->dictionary;
  int32_t n = dict->token_count;
  model->decode_table.reset(new (std::nothrow) HDecodeEntry[n > 0 ? n : 1]());
  if (!model->decode_table) return;  // decoding then reads the dictionary directly
  for (int32_t r = 0; r < n; ++r) {
    HDecodeEntry& e = model->decode_table[r];
    int32_t len;
    const unsigned char* token = HDecode_token(dict, r, &len);
    e.is_word = HDecode_takesBlank(dict, r);
    if (len <= static_cast<int32_t>(sizeof e.bytes)) {
      std::memcpy(e.bytes, token, static_cast<size_t>(len));
      e.length = static_cast<unsigned char>(len);
    }
  }
}
