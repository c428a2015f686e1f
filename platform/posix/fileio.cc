#include "platform/fileio.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <utility>

#include "platform/posix/posix_status.h"
#include "platform/temp_files.h"

namespace moravine {

namespace {

// The process's file-creation mask, read without changing it (umask() would
// change it for every thread for a moment).
mode_t CurrentUmask() {
  static const mode_t mask = [] {
    mode_t value = 022;
    if (FILE* f = std::fopen("/proc/self/status", "r")) {
      char line[256];
      while (std::fgets(line, sizeof line, f)) {
        unsigned v;
        if (std::sscanf(line, "Umask: %o", &v) == 1) {
          value = static_cast<mode_t>(v);
          break;
        }
      }
      std::fclose(f);
    }
    return value;
  }();
  return mask;
}

// Gives a finished output its owner, permission bits and times. The owner
// comes first: changing it may clear permission bits. Failures are not
// fatal: the file then stays private, the safe side.
void FinishAttributes(const File& file, const FileAttributes* attributes) {
  const int fd = posix::Fd(file.native());
  if (!attributes) {
    ::fchmod(fd, 0666 & ~CurrentUmask());
    return;
  }
  if (::geteuid() == 0) {
    if (::fchown(fd, attributes->owner, attributes->group) != 0) { /* e.g. a file system without owners */
    }
  } else if (::getegid() != attributes->group) {
    // A member of the input's group keeps the file in that group.
    if (::fchown(fd, static_cast<uid_t>(-1), attributes->group) != 0) { /* not a member: the file stays ours */
    }
  }
  ::fchmod(fd, attributes->permissions & 0777);
  struct timespec times[2] = {posix::TimespecOf(attributes->accessed), posix::TimespecOf(attributes->modified)};
  ::futimens(fd, times);
}

// Creates a private hidden file beside the target, exclusively, inside the
// open directory. Returns the descriptor or -1 with errno set.
File CreateTempIn(const Directory& dir, const std::string& base, std::string* temp_name) {
  const int dir_fd = posix::Fd(dir.file().native());
  static std::atomic<unsigned long> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    *temp_name = TemporaryName(base, static_cast<long>(::getpid()), counter++);
    int fd = ::openat(dir_fd, temp_name->c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0 || errno != EEXIST) return File(fd);
  }
  return File();
}

std::string DirectoryOf(const std::string& path) {
  std::string::size_type slash = path.rfind('/');
  if (slash == std::string::npos) return std::string();
  return path.substr(0, slash + 1);
}

}  // namespace

std::string ParentDirectory(const std::string& path, std::string* name) {
  std::string::size_type slash = path.rfind('/');
  *name = slash == std::string::npos ? path : path.substr(slash + 1);
  return slash == std::string::npos ? std::string(".") : slash == 0 ? std::string("/") : path.substr(0, slash);
}


MappedFile::~MappedFile() { close(); }

void MappedFile::close() {
  guard_.release();
  if (mapping_) ::munmap(mapping_, mapped_bytes_);
  file_.close();
  copy_.reset();
  capacity_ = have_ = 0;
  cut_short_ = false;
  mapping_ = nullptr;
  data_ = nullptr;
  size_ = 0;
  mapped_bytes_ = 0;
}

File MappedFile::releaseFile() {
  File file = std::move(file_);
  close();
  return file;
}

void MappedFile::dropPages(int64_t begin, int64_t end) const {
  if (!mapped()) return;
  const uintptr_t page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
  uintptr_t from = reinterpret_cast<uintptr_t>(data_ + begin) & ~(page - 1);
  uintptr_t to = reinterpret_cast<uintptr_t>(data_ + end);
  if (to > from) ::madvise(reinterpret_cast<void*>(from), to - from, MADV_DONTNEED);
}

bool MappedFile::open(const std::string& path, Failure* failure, int* error) {
  close();
  *error = 0;
  // Non-blocking, so that a FIFO or a device with no peer cannot hold us:
  // its type is checked before anything is read.
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    *failure = Failure::kOpen;
    *error = errno;
    return false;
  }
  return mapOpened(File(fd), failure, error);
}

bool MappedFile::openAt(const Directory& dir, const std::string& name, Failure* failure, int* error) {
  close();
  *error = 0;
  const int dir_fd = posix::Fd(dir.file().native());
  int fd = ::openat(dir_fd, name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    *error = errno;
    *failure = *error == ELOOP ? Failure::kNotRegular : Failure::kOpen;
    if (*error == ELOOP) status_.type = FileType::kSymlink;
    return false;
  }
  return mapOpened(File(fd), failure, error);
}

bool MappedFile::mapWhole(Failure* failure, int* error) {
  void* p = ::mmap(nullptr, static_cast<size_t>(size_), PROT_READ, MAP_PRIVATE, posix::Fd(file_.native()), 0);
  if (p == MAP_FAILED) {
    *failure = Failure::kMap;
    *error = errno;
    return false;
  }
  copy_.reset();
  capacity_ = have_ = 0;
  mapping_ = p;
  mapped_bytes_ = static_cast<size_t>(size_);
  data_ = static_cast<const unsigned char*>(p);
  guard_.watch(p, mapped_bytes_);
  return true;
}

int64_t MappedFile::readAt(int64_t offset, unsigned char* into, int64_t length, int* error) const {
  for (;;) {
    const ssize_t n = ::pread(posix::Fd(file_.native()), into, static_cast<size_t>(length), static_cast<off_t>(offset));
    if (n >= 0) return n;
    if (errno != EINTR) {
      *error = errno;
      return -1;
    }
  }
}

bool MappedFile::changed() const {
  if (guard_.damaged() || cut_short_) return true;
  if (!file_.valid()) return false;
  FileStatus now;
  if (!file_.status(&now)) return true;
  return now.size != status_.size || now.modified != status_.modified;
}

bool PendingFile::create(const std::string& path, const FileAttributes* attributes, int* error) {
  discard();
  *error = 0;
  const bool opened = dir_.open(ParentDirectory(path, &target_), error);
  if (opened) file_ = CreateTempIn(dir_, target_, &temp_name_);
  if (!file_.valid()) {
    if (opened) *error = errno;
    discard();
    return false;
  }
  temp_ = DirectoryOf(path) + temp_name_;
  RegisterTemporaryFile(temp_);
  has_attributes_ = attributes != nullptr;
  if (attributes) attributes_ = *attributes;
  return true;
}

bool PendingFile::finish(bool ok, bool damaged, int* error) {
  if (!file_.valid()) {
    *error = EBADF;
    return false;
  }
  if (ok) FinishAttributes(file_, has_attributes_ ? &attributes_ : nullptr);
  ok = file_.close() && ok;
  if (ok && damaged) {
    errno = EIO;
    ok = false;
  }
  const int dir_fd = posix::Fd(dir_.file().native());
  ok = ok && ::renameat(dir_fd, temp_name_.c_str(), dir_fd, target_.c_str()) == 0;
  if (ok) {
    // In place: nothing is left to remove.
    ForgetTemporaryFile(temp_);
    temp_.clear();
    temp_name_.clear();
  } else {
    *error = errno;
  }
  discard();
  return ok;
}

void PendingFile::discard() {
  file_.close();
  if (!temp_name_.empty() && dir_.valid()) dir_.removeEntry(temp_name_);
  if (!temp_.empty()) ForgetTemporaryFile(temp_);
  temp_.clear();
  temp_name_.clear();
  dir_ = Directory();
}

bool MappedOutput::create(const std::string& path, int64_t size, WriteFailure* failure, int* error,
                          const FileAttributes* attributes) {
  abort();
  if (!file_.create(path, attributes, error)) {
    *failure = WriteFailure::kCreate;
    return false;
  }
  size_ = size;
  const int fd = posix::Fd(file_.file().native());
  if (::fallocate(fd, 0, 0, static_cast<off_t>(size)) == 0) {
    void* p = ::mmap(nullptr, static_cast<size_t>(size), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (p != MAP_FAILED) {
      data_ = static_cast<unsigned char*>(p);
      guard_.watch(data_, static_cast<size_t>(size));
      return true;
    }
  }
  *failure = WriteFailure::kWrite;
  *error = errno;
  abort();
  return false;
}

bool MappedOutput::commit(int64_t length, WriteFailure* failure, int* error) {
  *failure = WriteFailure::kWrite;
  guard_.release();
  // Someone cut the file short while it was written: its pages read as
  // zeros, and it is not kept.
  const bool damaged = guard_.damaged();
  bool ok = ::munmap(data_, static_cast<size_t>(size_)) == 0;
  data_ = nullptr;
  ok = ok && ::ftruncate(posix::Fd(file_.file().native()), static_cast<off_t>(length)) == 0;
  return file_.finish(ok, damaged, error);
}

void MappedOutput::abort() {
  guard_.release();
  if (data_) ::munmap(data_, static_cast<size_t>(size_));
  data_ = nullptr;
  file_.discard();
}

bool StreamedOutput::write(const unsigned char* data, int64_t length, int* error) {
  if (!file_.file().valid()) {
    *error = EBADF;
    return false;
  }
  const int fd = posix::Fd(file_.file().native());
  int64_t done = 0;
  while (done < length) {
    ssize_t n = ::write(fd, data + done, static_cast<size_t>(length - done));
    if (n < 0) {
      if (errno == EINTR) continue;
      *error = errno;
      return false;
    }
    done += n;
  }
  return true;
}

}  // namespace moravine
