// File access behind a small interface: read-only mapping of whole files and
// output that replaces its target only once it is completely written.
#ifndef MORAVINE_PLATFORM_FILEIO_H_
#define MORAVINE_PLATFORM_FILEIO_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/file.h"
#include "platform/file_status.h"
#include "platform/mapping_guard.h"

namespace moravine {

// The largest input the codec takes: lengths are signed 32-bit.
constexpr int64_t kMaxInputBytes = INT32_MAX;

// A whole file mapped read-only. Opening never blocks, whatever the file
// is: anything but a regular file is refused before it is read.
class MappedFile {
 public:
  enum class Failure {
    kOpen,        // cannot be opened
    kNotRegular,  // a FIFO, socket, device, folder or (when refused) a link
    kEmpty,       // an empty file cannot be mapped
    kTooLarge,    // 2 GiB or more
    kMap,         // the mapping failed
  };

  MappedFile() = default;
  ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  // Maps the file; on failure returns false with the failed step and the
  // system's error number (0 when there is none).
  bool open(const std::string& path, Failure* failure, int* error);
  // Maps the entry `name` of an open directory; a symbolic link is refused
  // (kNotRegular) rather than followed.
  bool openAt(const Directory& dir, const std::string& name, Failure* failure, int* error);
  // As open, but only the first `first_bytes` bytes of a longer file are
  // read: available() says how many bytes of data() hold the file's, and
  // readMore() reads on (or maps the file, once all of a large one is
  // wanted). For a reader that may need only a file's header.
  bool open(const std::string& path, Failure* failure, int* error, int64_t first_bytes);
  // As open, with a sentence that says why in *message.
  bool open(const std::string& path, std::string* message);
  void close();
  // Lets go of the bytes and hands the open file over to the caller; an
  // invalid File when no file is open.
  File releaseFile();

  const unsigned char* data() const { return data_; }
  int64_t size() const { return size_; }
  // How many bytes of data() hold the file's: size() unless the file was
  // opened with first_bytes and is not read to its end yet.
  int64_t available() const { return copy_ ? have_ : size_; }
  // Reads on until available() is at least `upto` (or the size); false,
  // with the failed step and the system's error number, when reading or
  // mapping fails. data() may move.
  bool readMore(int64_t upto, Failure* failure, int* error);
  // The file's status when it was opened (type, permission bits, owner,
  // times, identity).
  const FileStatus& status() const { return status_; }
  FileAttributes attributes() const { return FileAttributes::Of(status_); }
  const File& file() const { return file_; }
  // Files up to this size are read into memory, larger ones mapped. One
  // read of a few hundred KiB costs less than mapping the file, faulting
  // its pages in and unmapping it, which also makes every other thread's
  // processor drop its address translations; a mapping reads only the
  // pages that are touched, which wins for large files that are only
  // partly read (a search that stops at the dictionary).
  static constexpr int64_t kReadWholeBytes = 256 << 10;
  // Whether the bytes are a mapping of the file (large files) rather than a
  // copy in memory (small ones): only a mapping's pages may be given back
  // to the page cache.
  bool mapped() const { return mapping_ != nullptr; }
  // Tells the system that the bytes [begin, end) will not be read again:
  // a mapping's pages leave the process's memory (they stay in the page
  // cache, and are read from there should they be touched after all). A
  // copy in memory keeps its bytes.
  void dropPages(int64_t begin, int64_t end) const;

  // Whether the file was cut short or written to since it was opened: the
  // bytes seen may not be the file's. Call before close().
  bool changed() const;

  // A sentence for a failure of open(), for messages.
  static std::string Describe(Failure failure, int error, const FileStatus* st);

 private:
  bool mapOpened(File file, Failure* failure, int* error);
  // Reads or maps the opened file, as much as first_bytes_ asks.
  bool loadOpened(Failure* failure, int* error);
  // Makes the copy hold at least `end` bytes and reads it on to there.
  bool readPrefix(int64_t end, Failure* failure, int* error);
  // Reads the copy on from have_ to `end`; a file that ends sooner was cut
  // short, and the bytes it lacks read as zeros.
  bool readTo(int64_t end, Failure* failure, int* error);
  // Reads up to `length` bytes at `offset` of the open file into `into`:
  // the bytes read, 0 at the end of the file, -1 with *error set.
  int64_t readAt(int64_t offset, unsigned char* into, int64_t length, int* error) const;
  // Maps the whole file, in place of a copy.
  bool mapWhole(Failure* failure, int* error);

  File file_;
  // A small file is read into memory rather than mapped: one copy costs
  // less than setting up a mapping, faulting its pages in and tearing it
  // down (which, with several threads, interrupts every core).
  std::unique_ptr<unsigned char[]> copy_;
  int64_t capacity_ = 0;     // of the copy
  int64_t have_ = 0;         // bytes of the copy read so far
  int64_t first_bytes_ = 0;  // what open() reads at first of a longer file; 0: all
  bool cut_short_ = false;   // the file ended before its stated size; the rest reads as zeros
  const unsigned char* data_ = nullptr;
  int64_t size_ = 0;
  void* mapping_ = nullptr;
  size_t mapped_bytes_ = 0;
  FileStatus status_;
  MappingGuard guard_;
};

enum class WriteFailure {
  kCreate,  // the temporary file could not be created
  kWrite,   // writing, finishing or renaming it failed
};

// Writes `length` bytes to `path` through a hidden temporary file in the
// same directory that is renamed over the target only after a complete
// write. The temporary file is private (mode 0600) until it is complete;
// then it gets `attributes` (or the usual rights of a new file when null).
// On failure the target is untouched and the temporary file is removed.
bool WriteFileAtomically(const std::string& path, const unsigned char* data, int64_t length, WriteFailure* failure,
                         int* error, const FileAttributes* attributes = nullptr);
// As above, with a sentence that says why in *message.
bool WriteFileAtomically(const std::string& path, const unsigned char* data, int64_t length, std::string* message,
                         const FileAttributes* attributes = nullptr);

// A hidden file beside a target, private (mode 0600) while it is written
// and listed for removal should the program be killed, that is renamed over
// the target when finished and removed otherwise. The two outputs below are
// written through one.
class PendingFile {
 public:
  PendingFile() = default;
  ~PendingFile() { discard(); }
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  // False, with *error set, when the file cannot be made; nothing is left.
  bool create(const std::string& path, const FileAttributes* attributes, int* error);
  const File& file() const { return file_; }
  // The hidden file's path, while there is one.
  const std::string& path() const { return temp_; }
  // When `ok` (the writing went well) and the file was not `damaged`, gives
  // it its attributes, closes it and renames it over the target; otherwise,
  // or when one of those fails (*error set), removes it.
  bool finish(bool ok, bool damaged, int* error);
  // Removes the file, if there is one.
  void discard();

 private:
  std::string target_;     // the target's name in its directory
  std::string temp_;       // the hidden file's path
  std::string temp_name_;  // and its name in the directory
  Directory dir_;
  File file_;
  bool has_attributes_ = false;
  FileAttributes attributes_;
};

// A new file of a fixed size beside `path`, mapped for writing, which
// replaces `path` only when committed. Its space is reserved first, so
// writing through the mapping cannot fail for want of disk space. Left
// uncommitted, it is removed. Private until committed, as above.
class MappedOutput {
 public:
  MappedOutput() = default;
  ~MappedOutput() { abort(); }
  MappedOutput(const MappedOutput&) = delete;
  MappedOutput& operator=(const MappedOutput&) = delete;

  // False when the file cannot be made (kCreate), or cannot be sized or
  // mapped, its file system reserving no space in advance (kWrite); nothing
  // is left behind.
  bool create(const std::string& path, int64_t size, WriteFailure* failure, int* error,
              const FileAttributes* attributes = nullptr);
  unsigned char* data() const { return data_; }
  // The hidden file being written, while there is one.
  const std::string& temporaryPath() const { return file_.path(); }
  // Keeps the first `length` bytes and renames the file over the target.
  bool commit(int64_t length, WriteFailure* failure, int* error);
  void abort();

 private:
  PendingFile file_;
  unsigned char* data_ = nullptr;
  int64_t size_ = 0;
  MappingGuard guard_;
};

// A new file beside `path`, written a piece at a time, which replaces `path`
// only when committed. Left uncommitted, it is removed. Private until
// committed, as above.
class StreamedOutput {
 public:
  StreamedOutput() = default;
  StreamedOutput(const StreamedOutput&) = delete;
  StreamedOutput& operator=(const StreamedOutput&) = delete;

  // False when the file cannot be made; nothing is left behind.
  bool create(const std::string& path, int* error, const FileAttributes* attributes = nullptr);
  // Appends the bytes; false, with *error set, when writing fails.
  bool write(const unsigned char* data, int64_t length, int* error);
  // The hidden file being written, while there is one.
  const std::string& temporaryPath() const { return file_.path(); }
  // Finishes the file and renames it over the target.
  bool commit(int* error);
  void abort() { file_.discard(); }

 private:
  PendingFile file_;
};

// The directory that holds `path` ("." for a bare name), and the last name
// in it.
std::string ParentDirectory(const std::string& path, std::string* name);

}  // namespace moravine

#endif  // MORAVINE_PLATFORM_FILEIO_H_
