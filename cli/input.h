// A whole input in memory for the commands that read one at a time: a
// regular file mapped read-only, or standard input ("-") read to the end.
#ifndef MORAVINE_CLI_INPUT_H_
#define MORAVINE_CLI_INPUT_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/fileio.h"

namespace moravine::cli {

class Input {
 public:
  // False with a sentence in *error when the input cannot be had whole, or
  // holds 2 GiB or more; with an empty sentence when a stop signal ended
  // the reading of standard input. An empty input is accepted (size 0).
  // With `compressed`, standard input must hold one compressed file, whose
  // header is checked as it arrives.
  bool open(const std::string& path, std::string* error, bool compressed = false);
  const unsigned char* data() const { return standard_ ? memory_.data() : file_.data(); }
  int64_t size() const { return standard_ ? static_cast<int64_t>(memory_.size()) : file_.size(); }
  // The name for messages.
  const std::string& name() const { return name_; }

 private:
  MappedFile file_;
  std::vector<unsigned char> memory_;
  bool standard_ = false;
  std::string name_;
};

}  // namespace moravine::cli

#endif  // MORAVINE_CLI_INPUT_H_
