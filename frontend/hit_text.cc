#include "frontend/hit_text.h"

#include "codec/block.h"
#include "codec/container.h"
#include "wordmodel/hhashtable.h"
#include "wordmodel/hlog.h"
#include "wordmodel/htoken.h"
#include "wordmodel/hmodel_free.h"

namespace moravine::frontend {

HitText::~HitText() { close(); }

void HitText::close() {
  if (model_read_) HModel_free(&model_, false);
  model_read_ = false;
  file_.close();
  body_ = nullptr;
  body_length_ = begin_ = end_ = 0;
  text_.clear();
  hit_start_ = hit_length_ = 0;
}

bool HitText::open(const std::string& path, int32_t position, std::string* error) {
  close();
  if (!file_.open(path, error)) return false;
  int32_t text_length = 0;
  try {
    model_ = HModel();
    model_read_ = true;
    HContainer_read(file_.data(), static_cast<int32_t>(file_.size()), &text_length, &body_, &body_length_, &model_,
                    HVocabulary::kBlankOnly);
  } catch (const HFatalFailure&) {
    *error = "The file " + path + " is not a valid compressed file (see the log file).";
    close();
    return false;
  }
  std::string before, after;
  int32_t covered_before = 0, covered_after = 0;
  if (position < 0 || position >= body_length_ || !(body_[position] & 0x80) ||
      !decodeBefore(position, &before, &covered_before) || !decodeAfter(position, &after, &covered_after) ||
      after.empty()) {
    *error = "The file " + path + " has no hit at position " + std::to_string(position) +
             ". It may have changed since the search; search again.";
    close();
    return false;
  }
  begin_ = position - covered_before;
  end_ = position + covered_after;
  text_ = std::move(before);
  if (needsBlank(text_, after)) text_ += ' ';
  hit_start_ = text_.size();
  const int32_t token = after.empty() ? 0
                                      : HRule_tokenLength(model_.rule, reinterpret_cast<const unsigned char*>(after.data()),
                                                          static_cast<int32_t>(after.size()));
  hit_length_ = static_cast<size_t>(token);
  text_ += after;
  return true;
}

bool HitText::decodeBefore(int32_t at, std::string* out, int32_t* covered) {
  auto decode = spaceless() ? HDecompress_previousBlock_tokens_spaceless : HDecompress_previousBlock_tokens;
  HBuffer block;
  int32_t length = 0;
  try {
    decode(body_ + at, at, words_per_step_, &block, &length, covered, &model_);
  } catch (const HFatalFailure&) {
    return false;
  }
  out->assign(reinterpret_cast<const char*>(block.get()), static_cast<size_t>(length));
  return true;
}

bool HitText::decodeAfter(int32_t at, std::string* out, int32_t* covered) {
  auto decode = spaceless() ? HDecompress_nextBlock_tokens_spaceless : HDecompress_nextBlock_tokens;
  HBuffer block;
  int32_t length = 0;
  try {
    decode(body_ + at, body_length_ - at, words_per_step_, &block, &length, covered, &model_);
  } catch (const HFatalFailure&) {
    return false;
  }
  out->assign(reinterpret_cast<const char*>(block.get()), static_cast<size_t>(length));
  return true;
}

bool HitText::needsBlank(const std::string& left, const std::string& right) const {
  return HRule_blankBetween(model_.rule, reinterpret_cast<const unsigned char*>(left.data()), left.size(),
                            reinterpret_cast<const unsigned char*>(right.data()), right.size());
}

size_t HitText::extendBackward() {
  if (!body_ || atStart()) return 0;
  std::string piece;
  int32_t covered = 0;
  if (!decodeBefore(begin_, &piece, &covered) || covered <= 0) {
    begin_ = 0;  // nothing more can be read on this side
    return 0;
  }
  if (needsBlank(piece, text_)) piece += ' ';
  begin_ -= covered;
  text_.insert(0, piece);
  hit_start_ += piece.size();
  return piece.size();
}

size_t HitText::extendForward() {
  if (!body_ || atEnd()) return 0;
  std::string piece;
  int32_t covered = 0;
  if (!decodeAfter(end_, &piece, &covered) || covered <= 0) {
    end_ = body_length_;
    return 0;
  }
  if (needsBlank(text_, piece)) piece.insert(0, 1, ' ');
  end_ += covered;
  text_ += piece;
  return piece.size();
}

}  // namespace moravine::frontend
