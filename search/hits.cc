#include "search/hits.h"

#include "codec/block.h"
#include "codec/container.h"
#include "wordmodel/hhashtable.h"
#include "wordmodel/hlog.h"
#include "wordmodel/htoken.h"

namespace {

// Control bytes show as spaces in the contexts.
std::string Printable(const unsigned char* text, int32_t length) {
  std::string out(reinterpret_cast<const char*>(text), static_cast<size_t>(length));
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  }
  return out;
}

}  // namespace

std::string Search_displayName(const std::string& path) {
  std::string::size_type slash = path.rfind('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.size() > 4 && name.compare(name.size() - 4, 4, ".hwz") == 0) name.resize(name.size() - 4);
  return name;
}

void Search_contextRows(const std::string& display_name, const unsigned char* file, int32_t size,
                        const int32_t* offsets, int32_t count, std::vector<SearchRow>* rows, std::string* error) {
  error->clear();
  if (count <= 0) return;
  HModel model;
  int32_t text_length;
  const unsigned char* body;
  int32_t body_length;
  HContainer_read(file, size, &text_length, &body, &body_length, &model, HVocabulary::kBlankOnly);
  bool spaceless = file[0] != 0;
  auto previous = spaceless ? HDecompress_previousBlock_tokens_spaceless : HDecompress_previousBlock_tokens;
  auto next = spaceless ? HDecompress_nextBlock_tokens_spaceless : HDecompress_nextBlock_tokens;

  for (int32_t i = 0; i < count; ++i) {
    int32_t o = offsets[i];
    rows->emplace_back();
    rows->back().file = display_name;
    rows->back().position = std::to_string(o);
    SearchRow& row = rows->back();
    HBuffer block;
    int32_t length;
    int32_t covered;
    try {
      previous(body + o, o, 3, &block, &length, &covered, &model);
    } catch (const HFatalFailure&) {
      *error = "Error decompressing left context.";
      break;
    }
    if (length > 0) row.left = Printable(block.get(), length);
    try {
      next(body + o, body_length - o, 4, &block, &length, &covered, &model);
    } catch (const HFatalFailure&) {
      *error = "Error decompressing right context.";
      break;
    }
    if (length > 0) {
      int32_t w;
      HToken_getLengthNext(block.get(), length, &w);
      row.word.assign(reinterpret_cast<const char*>(block.get()), static_cast<size_t>(w));
      // The blank that parts the hit from the next word is not shown; any
      // other byte after the hit is part of the right context.
      int32_t from = w;
      if (from < length && block[from] == ' ') {
        ++from;
        row.right_after_blank = true;
      }
      if (from < length) row.right = Printable(block.get() + from, length - from);
    }
  }
  HModel_free(&model, false);
}
