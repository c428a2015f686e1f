#include "platform/file_status.h"

namespace moravine {

FileAttributes FileAttributes::Of(const FileStatus& status) {
  FileAttributes a;
  a.permissions = status.permissions & 0777;
  a.owner = status.owner;
  a.group = status.group;
  a.accessed = status.accessed;
  a.modified = status.modified;
  return a;
}

const char* FileTypeName(FileType type) {
  switch (type) {
    case FileType::kFifo: return "a FIFO";
    case FileType::kSocket: return "a socket";
    case FileType::kCharacterDevice: return "a character device";
    case FileType::kBlockDevice: return "a block device";
    case FileType::kDirectory: return "a folder";
    case FileType::kSymlink: return "a symbolic link";
    case FileType::kRegular:
    case FileType::kOther: break;
  }
  return "not a regular file";
}

}  // namespace moravine
