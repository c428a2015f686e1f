// File access behind a small interface: read-only mapping of whole files and
// output that replaces its target only once it is completely written.
#ifndef MORAVINE_SHELL_FILEIO_H_
#define MORAVINE_SHELL_FILEIO_H_

#include <cstdint>
#include <string>

namespace moravine {

// The largest input the codec takes: lengths are signed 32-bit.
constexpr int64_t kMaxInputBytes = INT32_MAX;

// A whole file mapped read-only. An empty file maps to no bytes.
class MappedFile {
 public:
  MappedFile() = default;
  ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  // Maps the file; on failure returns false and sets *error to a sentence
  // that says why (it names the system's reason).
  bool open(const std::string& path, std::string* error);
  void close();

  const unsigned char* data() const { return data_; }
  int64_t size() const { return size_; }

 private:
  const unsigned char* data_ = nullptr;
  int64_t size_ = 0;
  void* mapping_ = nullptr;
  size_t mapped_bytes_ = 0;
};

// Writes `length` bytes to `path` through a temporary file in the same
// directory that is renamed over the target only after a complete write.
// On failure the target is untouched, the temporary file is removed, and
// *error says why.
bool WriteFileAtomically(const std::string& path, const unsigned char* data, int64_t length, std::string* error);

}  // namespace moravine

#endif  // MORAVINE_SHELL_FILEIO_H_
