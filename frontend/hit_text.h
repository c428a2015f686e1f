// The text around one hit of a search, decoded from the compressed file a
// step at a time with the block decoders: the reader shows a few kilobytes
// on either side of the hit and asks for more when the user scrolls to
// either end. The file is mapped, never decoded as a whole.
#ifndef MORAVINE_FRONTEND_HIT_TEXT_H_
#define MORAVINE_FRONTEND_HIT_TEXT_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/fileio.h"
#include "wordmodel/hmodel.h"
#include "wordmodel/hrule.h"

namespace moravine::frontend {

class HitText {
 public:
  // Each step decodes this many word tokens: some four kilobytes of prose.
  static constexpr int32_t kWordsPerStep = 700;

  explicit HitText(int32_t words_per_step = kWordsPerStep) : words_per_step_(words_per_step) {}
  ~HitText();
  HitText(const HitText&) = delete;
  HitText& operator=(const HitText&) = delete;

  // Maps the compressed file and decodes one step on either side of the hit
  // at `position` in its body. False, with a sentence in *error, when the
  // file cannot be read or the position is no codeword of its body (the
  // file has changed since the search).
  bool open(const std::string& path, int32_t position, std::string* error);

  // The decoded text; the hit's token lies at hitStart() and is
  // hitLength() bytes long.
  const std::string& text() const { return text_; }
  size_t hitStart() const { return hit_start_; }
  size_t hitLength() const { return hit_length_; }

  // Whether the text reaches the start or the end of the file's text.
  bool atStart() const { return begin_ == 0; }
  bool atEnd() const { return end_ == body_length_; }

  // Decode one more step before the text, or after it. Each returns the
  // number of bytes added at that end: 0 at the end of the file, or when
  // the body cannot be decoded further (that end then counts as reached).
  size_t extendBackward();
  size_t extendForward();

 private:
  void close();
  bool spaceless() const { return HRule_spaceless(file_.data()[0]); }
  // Decodes n word tokens before or after `at` into *out; false on a bad body.
  bool decodeBefore(int32_t at, std::string* out, int32_t* covered);
  bool decodeAfter(int32_t at, std::string* out, int32_t* covered);
  // The spaceless model leaves out the blank between two words; where two
  // decoded pieces meet word to word, it is put back.
  bool needsBlank(const std::string& left, const std::string& right) const;

  int32_t words_per_step_;
  MappedFile file_;
  HModel model_;
  bool model_read_ = false;
  const unsigned char* body_ = nullptr;
  int32_t body_length_ = 0;
  int32_t begin_ = 0;  // the body offsets that text_ covers
  int32_t end_ = 0;
  std::string text_;
  size_t hit_start_ = 0;
  size_t hit_length_ = 0;
};

}  // namespace moravine::frontend

#endif  // MORAVINE_FRONTEND_HIT_TEXT_H_
