#include "shell/removal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <time.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

#include "codec/decompress.h"
#include "shell/fileio.h"
#include "wordmodel/hlog.h"

namespace moravine {

namespace {

class DirLock {
 public:
  explicit DirLock(int fd) : fd_(fd) {
    // Serialises check-then-delete against other Moravine processes (and
    // other threads: each opens the directory on its own). A directory that
    // cannot be locked is still handled, with the inode checks alone.
    if (fd_ >= 0) {
      while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
      }
    }
  }
  ~DirLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  DirLock(const DirLock&) = delete;
  DirLock& operator=(const DirLock&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Flushes the directory unless it was flushed after the entry of `kept` was
// last changed: a folder of many removals then costs one directory flush,
// not one per file. The time of each flush is kept per directory.
bool SyncDirectoryFor(int dir_fd, const struct stat& kept) {
  static std::mutex mutex;
  static std::map<std::pair<dev_t, ino_t>, struct timespec> flushed;
  struct stat dir;
  if (::fstat(dir_fd, &dir) != 0) return false;
  std::pair<dev_t, ino_t> key{dir.st_dev, dir.st_ino};
  {
    std::lock_guard<std::mutex> lock(mutex);
    auto it = flushed.find(key);
    // One second of margin for the coarse clock of file times.
    if (it != flushed.end() && kept.st_ctim.tv_sec + 1 < it->second.tv_sec) return true;
  }
  struct timespec before;
  ::clock_gettime(CLOCK_REALTIME, &before);
  if (::fsync(dir_fd) != 0) return false;
  std::lock_guard<std::mutex> lock(mutex);
  flushed[key] = before;
  return true;
}

bool Unchanged(const MappedFile& file) {
  struct stat now;
  return !file.changed() && ::fstat(file.fd(), &now) == 0 && SameFile(now, file.status());
}

// Removes `doomed` from the directory when `compressed` decodes to exactly
// the bytes of `original`; `doomed` is one of the two names.
RemovalResult RemoveVerified(const std::string& dir_path, int dir_fd, const std::string& original,
                             const std::string& compressed, bool remove_original) {
  RemovalResult result;
  const std::string& kept_name = remove_original ? compressed : original;
  const std::string& doomed_name = remove_original ? original : compressed;
  // How messages name the two files.
  const std::string kept_label = (remove_original ? "The compressed file " : "The file ") + dir_path + kept_name;
  const std::string doomed_label = (remove_original ? "The file " : "The compressed file ") + dir_path + doomed_name;

  DirLock lock(dir_fd);
  struct stat st;
  if (::fstatat(lock.fd(), kept_name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return result;  // nothing to do
  if (!S_ISREG(st.st_mode)) {
    result.outcome = RemovalResult::kKept;
    result.why = kept_label + " is " + FileTypeName(st.st_mode) + ", not a regular file.";
    return result;
  }

  MappedFile kept;
  MappedFile doomed;
  MappedFile::Failure failure;
  int error;
  if (!kept.openAt(lock.fd(), kept_name, &failure, &error)) {
    result.outcome = RemovalResult::kKept;
    result.why = kept_label + " cannot be read: " + MappedFile::Describe(failure, error, &kept.status()) + ".";
    return result;
  }
  if (!doomed.openAt(lock.fd(), doomed_name, &failure, &error)) {
    result.outcome = RemovalResult::kKept;
    result.why = doomed_label + " cannot be read: " + MappedFile::Describe(failure, error, &doomed.status()) + ".";
    return result;
  }
  const MappedFile& text = remove_original ? doomed : kept;
  const MappedFile& hwz = remove_original ? kept : doomed;
  if (SameFile(text.status(), hwz.status())) {
    result.outcome = RemovalResult::kKept;
    result.why = original + " and " + compressed + " are the same file.";
    return result;
  }

  // Decoded into a buffer of exactly the text's size: a text that does not
  // fit is not the same text.
  std::unique_ptr<unsigned char[]> decoded(new unsigned char[static_cast<size_t>(text.size())]);
  int32_t decoded_length = 0;
  bool fits = false;
  try {
    fits = HDecompress_fileInto(hwz.data(), static_cast<int32_t>(hwz.size()), decoded.get(), text.size(),
                                &decoded_length, 0);
  } catch (const HFatalFailure&) {
    result.outcome = RemovalResult::kKept;
    result.why = "The compressed file " + dir_path + compressed + " is damaged.";
    return result;
  }
  if (!fits || decoded_length != text.size() ||
      std::memcmp(decoded.get(), text.data(), static_cast<size_t>(decoded_length)) != 0) {
    result.outcome = RemovalResult::kKept;
    result.why = "The compressed file " + dir_path + compressed + " does not hold the text of " + dir_path + original + ".";
    return result;
  }
  if (!Unchanged(kept) || !Unchanged(doomed)) {
    result.outcome = RemovalResult::kKept;
    result.why = "The files changed while they were compared.";
    return result;
  }
  // The kept file, and the directory entry that names it, reach the disk
  // before the other version is deleted.
  if (::fsync(kept.fd()) != 0 || !SyncDirectoryFor(lock.fd(), kept.status())) {
    result.outcome = RemovalResult::kFailed;
    result.error = errno;
    result.why = "Cannot flush " + dir_path + kept_name + " to disk.";
    return result;
  }
  // Both names must still lead to the files that were compared.
  struct stat now_kept;
  struct stat now_doomed;
  if (::fstatat(lock.fd(), kept_name.c_str(), &now_kept, AT_SYMLINK_NOFOLLOW) != 0 ||
      ::fstatat(lock.fd(), doomed_name.c_str(), &now_doomed, AT_SYMLINK_NOFOLLOW) != 0 ||
      !SameFile(now_kept, kept.status()) || !SameFile(now_doomed, doomed.status())) {
    result.outcome = RemovalResult::kKept;
    result.why = "The files were replaced while they were compared.";
    return result;
  }
  if (::unlinkat(lock.fd(), doomed_name.c_str(), 0) != 0) {
    result.outcome = RemovalResult::kFailed;
    result.error = errno;
    return result;
  }
  result.outcome = RemovalResult::kRemoved;
  return result;
}

RemovalResult Remove(const std::string& path, bool remove_original) {
  std::string name;
  int dir_fd = OpenParentDirectory(path, &name);
  std::string dir_path = path.substr(0, path.size() - name.size());
  if (dir_fd < 0) {
    RemovalResult result;
    result.outcome = RemovalResult::kFailed;
    result.error = errno;
    return result;
  }
  if (remove_original) return RemoveVerified(dir_path, dir_fd, name, name + ".hwz", true);
  if (name.size() <= 4 || name.compare(name.size() - 4, 4, ".hwz") != 0) {
    ::close(dir_fd);
    return RemovalResult();
  }
  return RemoveVerified(dir_path, dir_fd, name.substr(0, name.size() - 4), name, false);
}

}  // namespace

RemovalResult RemoveOriginalFile(const std::string& original) { return Remove(original, true); }

RemovalResult RemoveCompressedFile(const std::string& compressed) { return Remove(compressed, false); }

}  // namespace moravine
