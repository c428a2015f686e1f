// File access behind a small interface: read-only mapping of whole files and
// output that replaces its target only once it is completely written.
#ifndef MORAVINE_SHELL_FILEIO_H_
#define MORAVINE_SHELL_FILEIO_H_

#include <cstdint>
#include <string>

namespace moravine {

// The largest input the codec takes: lengths are signed 32-bit.
constexpr int64_t kMaxInputBytes = INT32_MAX;

// A whole file mapped read-only.
class MappedFile {
 public:
  enum class Failure {
    kOpen,      // cannot be opened, or not a regular file
    kEmpty,     // an empty file cannot be mapped
    kTooLarge,  // 2 GiB or more
    kMap,       // the mapping failed
  };

  MappedFile() = default;
  ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  // Maps the file; on failure returns false with the failed step and the
  // system's error number (0 when there is none).
  bool open(const std::string& path, Failure* failure, int* error);
  // As above, with a sentence that says why in *message.
  bool open(const std::string& path, std::string* message);
  void close();

  const unsigned char* data() const { return data_; }
  int64_t size() const { return size_; }
  // The file's permission bits.
  int mode() const { return mode_; }

 private:
  const unsigned char* data_ = nullptr;
  int64_t size_ = 0;
  void* mapping_ = nullptr;
  size_t mapped_bytes_ = 0;
  int mode_ = 0644;
};

enum class WriteFailure {
  kCreate,  // the temporary file could not be created
  kWrite,   // writing, flushing or renaming it failed
};

// Writes `length` bytes to `path` through a temporary file in the same
// directory that is renamed over the target only after a complete write.
// On failure the target is untouched and the temporary file is removed. The
// new file gets the permission bits `mode` (as far as the umask allows when
// mode is -1: the usual rights of a new file).
bool WriteFileAtomically(const std::string& path, const unsigned char* data, int64_t length, WriteFailure* failure,
                         int* error, int mode = -1);
// As above, with a sentence that says why in *message.
bool WriteFileAtomically(const std::string& path, const unsigned char* data, int64_t length, std::string* message,
                         int mode = -1);

// A new file of a fixed size beside `path`, mapped for writing, which
// replaces `path` only when committed. Its space is reserved first, so
// writing through the mapping cannot fail for want of disk space. Left
// uncommitted, it is removed.
class MappedOutput {
 public:
  MappedOutput() = default;
  ~MappedOutput() { abort(); }
  MappedOutput(const MappedOutput&) = delete;
  MappedOutput& operator=(const MappedOutput&) = delete;

  // False when the file cannot be made (kCreate), or cannot be sized or
  // mapped, its file system reserving no space in advance (kWrite); nothing
  // is left behind.
  bool create(const std::string& path, int64_t size, WriteFailure* failure, int* error, int mode = -1);
  unsigned char* data() const { return data_; }
  // Keeps the first `length` bytes and renames the file over the target.
  bool commit(int64_t length, WriteFailure* failure, int* error);
  void abort();

 private:
  std::string path_;
  std::string temp_;
  int fd_ = -1;
  unsigned char* data_ = nullptr;
  int64_t size_ = 0;
};

}  // namespace moravine

#endif  // MORAVINE_SHELL_FILEIO_H_
