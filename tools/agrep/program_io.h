// What the agrep program needs from the system (posix/program_io.cc,
// windows/program_io.cc): its arguments, its standard output, and whole
// files and standard input to read.
#ifndef MORAVINE_TOOLS_AGREP_PROGRAM_IO_H_
#define MORAVINE_TOOLS_AGREP_PROGRAM_IO_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace agrep {

// The arguments after the program's name, as bytes (UTF-8 on Windows,
// whatever the code page), with standard input and output set to carry
// bytes as they are.
std::vector<std::string> StartProgram(int argc, char** argv);

// Writes all of data to standard output; false with the reason on failure.
bool WriteStandardOutput(std::string_view data, std::string* reason);

// The whole content of a file, or of standard input for "-": mapped when it
// is a regular file, read otherwise (pipes, terminals).
class InputText {
 public:
  InputText() = default;
  ~InputText();
  InputText(const InputText&) = delete;
  InputText& operator=(const InputText&) = delete;

  // False with the reason on failure.
  bool load(const std::string& name, std::string* reason);
  std::string_view text() const {
    if (mapped_) return {static_cast<const char*>(mapped_), mapped_size_};
    return {buffer_.data(), buffer_.size()};
  }

 private:
  void* mapped_ = nullptr;
  size_t mapped_size_ = 0;
  std::vector<char> buffer_;
};

}  // namespace agrep

#endif  // MORAVINE_TOOLS_AGREP_PROGRAM_IO_H_
