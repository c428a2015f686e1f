// What the system tells about a file, in types that every system can fill:
// its kind, size, identity and times, and the attributes that an output
// takes over from its input.
#ifndef MORAVINE_PLATFORM_FILE_STATUS_H_
#define MORAVINE_PLATFORM_FILE_STATUS_H_

#include <compare>
#include <cstdint>

namespace moravine {

enum class FileType {
  kRegular,
  kDirectory,
  kSymlink,
  kFifo,
  kSocket,
  kCharacterDevice,
  kBlockDevice,
  kOther,
};

// A file time: seconds since 1970-01-01 UTC and the nanoseconds after them.
struct FileTime {
  int64_t seconds = 0;
  int32_t nanoseconds = 0;

  friend bool operator==(const FileTime&, const FileTime&) = default;
  friend auto operator<=>(const FileTime&, const FileTime&) = default;
};

// Which file a name or an open file leads to, as an opaque record: two
// records are equal exactly when they stand for the same file. `volume`
// tells the file system that holds it (a device number, a volume serial
// number), `index` the file within it (an inode number, a file id).
struct FileIdentity {
  uint64_t volume = 0;
  uint64_t index[2] = {0, 0};

  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
  friend auto operator<=>(const FileIdentity&, const FileIdentity&) = default;
};

struct FileStatus {
  FileType type = FileType::kOther;
  int64_t size = 0;
  FileIdentity identity;
  FileTime accessed;
  FileTime modified;
  // The last change of the file's data or attributes. Nobody can set it
  // back, so a write whose author restored the modification time shows.
  FileTime changed;
  uint32_t permissions = 0;  // the rwx bits of owner, group and others
  uint32_t owner = 0;
  uint32_t group = 0;
};

// What an output takes over from the file it was made from: the permission
// bits (never set-user-id, set-group-id or sticky), the owner and group
// (when the program may give them away, that is when it runs as root), and
// the access and modification times.
struct FileAttributes {
  uint32_t permissions = 0644;
  uint32_t owner = 0;
  uint32_t group = 0;
  FileTime accessed;
  FileTime modified;

  static FileAttributes Of(const FileStatus& status);
};

// A description of a file type that is not a regular file ("a FIFO", ...).
const char* FileTypeName(FileType type);

}  // namespace moravine

#endif  // MORAVINE_PLATFORM_FILE_STATUS_H_
