#include "platform/fileio.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/temp_files.h"

namespace moravine {

namespace {

std::string Reason(const char* what, int err) { return std::string(what) + ": " + std::strerror(err); }

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

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
void FinishAttributes(int fd, const FileAttributes* attributes) {
  if (!attributes) {
    ::fchmod(fd, 0666 & ~CurrentUmask());
    return;
  }
  if (::geteuid() == 0) {
    if (::fchown(fd, attributes->uid, attributes->gid) != 0) { /* e.g. a file system without owners */
    }
  } else if (::getegid() != attributes->gid) {
    // A member of the input's group keeps the file in that group.
    if (::fchown(fd, static_cast<uid_t>(-1), attributes->gid) != 0) { /* not a member: the file stays ours */
    }
  }
  ::fchmod(fd, attributes->mode & 0777);
  struct timespec times[2] = {attributes->atime, attributes->mtime};
  ::futimens(fd, times);
}

// Creates a private hidden file beside the target, exclusively, inside the
// open directory. Returns the descriptor or -1 with errno set.
int CreateTempIn(int dir_fd, const std::string& base, std::string* temp_name) {
  static std::atomic<unsigned long> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    *temp_name = TemporaryName(base, static_cast<long>(::getpid()), counter++);
    int fd = ::openat(dir_fd, temp_name->c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

std::string DirectoryOf(const std::string& path) {
  std::string::size_type slash = path.rfind('/');
  if (slash == std::string::npos) return std::string();
  return path.substr(0, slash + 1);
}

}  // namespace

FileAttributes FileAttributes::Of(const struct stat& st) {
  FileAttributes a;
  a.mode = st.st_mode & 0777;
  a.uid = st.st_uid;
  a.gid = st.st_gid;
  a.atime = st.st_atim;
  a.mtime = st.st_mtim;
  return a;
}

const char* FileTypeName(mode_t mode) {
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISLNK(mode)) return "a symbolic link";
  return "not a regular file";
}

std::string ParentDirectory(const std::string& path, std::string* name) {
  std::string::size_type slash = path.rfind('/');
  *name = slash == std::string::npos ? path : path.substr(slash + 1);
  return slash == std::string::npos ? std::string(".") : slash == 0 ? std::string("/") : path.substr(0, slash);
}

int OpenParentDirectory(const std::string& path, std::string* name) {
  return ::open(ParentDirectory(path, name).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

MappedFile::~MappedFile() { close(); }

void MappedFile::close() {
  guard_.release();
  if (mapping_) ::munmap(mapping_, mapped_bytes_);
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  copy_.reset();
  cut_short_ = false;
  mapping_ = nullptr;
  data_ = nullptr;
  size_ = 0;
  mapped_bytes_ = 0;
}

int MappedFile::releaseDescriptor() {
  const int fd = fd_;
  fd_ = -1;
  close();
  return fd;
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
  return mapOpened(fd, failure, error);
}

bool MappedFile::openAt(int dir_fd, const std::string& name, Failure* failure, int* error) {
  close();
  *error = 0;
  int fd = ::openat(dir_fd, name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    *error = errno;
    *failure = *error == ELOOP ? Failure::kNotRegular : Failure::kOpen;
    if (*error == ELOOP) status_.st_mode = S_IFLNK;
    return false;
  }
  return mapOpened(fd, failure, error);
}

bool MappedFile::mapOpened(int raw, Failure* failure, int* error) {
  Fd fd(raw);
  if (::fstat(fd.get(), &status_) != 0) {
    *failure = Failure::kOpen;
    *error = errno;
    return false;
  }
  if (!S_ISREG(status_.st_mode)) {
    *failure = Failure::kNotRegular;
    return false;
  }
  if (status_.st_size > kMaxInputBytes) {
    *failure = Failure::kTooLarge;
    *error = EFBIG;
    return false;
  }
  if (status_.st_size == 0) {
    *failure = Failure::kEmpty;
    return false;
  }
  if (status_.st_size <= kReadWholeBytes) {
    if (!readOpened(fd.get(), failure, error)) return false;
    fd_ = fd.release();
    return true;
  }
  void* p = ::mmap(nullptr, static_cast<size_t>(status_.st_size), PROT_READ, MAP_PRIVATE, fd.get(), 0);
  if (p == MAP_FAILED) {
    *failure = Failure::kMap;
    *error = errno;
    return false;
  }
  mapping_ = p;
  mapped_bytes_ = static_cast<size_t>(status_.st_size);
  size_ = status_.st_size;
  data_ = static_cast<const unsigned char*>(p);
  guard_.watch(p, mapped_bytes_);
  fd_ = fd.release();
  return true;
}

bool MappedFile::readOpened(int fd, Failure* failure, int* error) {
  const auto size = static_cast<size_t>(status_.st_size);
  copy_.reset(new (std::nothrow) unsigned char[size]);
  if (!copy_) {
    *failure = Failure::kMap;
    *error = ENOMEM;
    return false;
  }
  size_t got = 0;
  while (got < size) {
    const ssize_t n = ::pread(fd, copy_.get() + got, size - got, static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *failure = Failure::kOpen;
      *error = errno;
      copy_.reset();
      return false;
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  // Cut short while being read: the rest reads as zeros, as a mapping's
  // would, and the file counts as changed.
  if (got < size) {
    std::memset(copy_.get() + got, 0, size - got);
    cut_short_ = true;
  }
  size_ = status_.st_size;
  data_ = copy_.get();
  return true;
}

bool MappedFile::changed() const {
  if (guard_.damaged() || cut_short_) return true;
  if (fd_ < 0) return false;
  struct stat now;
  if (::fstat(fd_, &now) != 0) return true;
  return now.st_size != status_.st_size || now.st_mtim.tv_sec != status_.st_mtim.tv_sec ||
         now.st_mtim.tv_nsec != status_.st_mtim.tv_nsec;
}

std::string MappedFile::Describe(Failure failure, int error, const struct stat* st) {
  switch (failure) {
    case Failure::kOpen: return Reason("cannot open it", error);
    case Failure::kNotRegular:
      return std::string("it is ") + (st ? FileTypeName(st->st_mode) : "not a regular file") +
             ", not a regular file";
    case Failure::kEmpty: return "the file is empty";
    case Failure::kTooLarge: return "the file is 2 GiB or larger; Moravine handles files below 2 GiB";
    case Failure::kMap: return Reason("cannot map it", error);
  }
  return std::string();
}

bool MappedFile::open(const std::string& path, std::string* message) {
  Failure failure;
  int error;
  if (open(path, &failure, &error)) return true;
  *message = Describe(failure, error, &status_);
  return false;
}

bool WriteFileAtomically(const std::string& path, const unsigned char* data, int64_t length, std::string* message,
                         const FileAttributes* attributes) {
  WriteFailure failure;
  int error;
  if (WriteFileAtomically(path, data, length, &failure, &error, attributes)) return true;
  *message = Reason(failure == WriteFailure::kCreate ? "cannot create a temporary file beside it" : "cannot write it",
                    error);
  return false;
}

bool WriteFileAtomically(const std::string& path, const unsigned char* data, int64_t length, WriteFailure* failure,
                         int* error, const FileAttributes* attributes) {
  StreamedOutput output;
  if (!output.create(path, error, attributes)) {
    *failure = WriteFailure::kCreate;
    return false;
  }
  *failure = WriteFailure::kWrite;
  return output.write(data, length, error) && output.commit(error);
}

bool PendingFile::create(const std::string& path, const FileAttributes* attributes, int* error) {
  discard();
  *error = 0;
  dir_fd_ = OpenParentDirectory(path, &target_);
  fd_ = dir_fd_ >= 0 ? CreateTempIn(dir_fd_, target_, &temp_name_) : -1;
  if (fd_ < 0) {
    *error = errno;
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
  if (fd_ < 0) {
    *error = EBADF;
    return false;
  }
  if (ok) FinishAttributes(fd_, has_attributes_ ? &attributes_ : nullptr);
  const int fd = fd_;
  fd_ = -1;
  ok = (::close(fd) == 0) && ok;
  if (ok && damaged) {
    errno = EIO;
    ok = false;
  }
  ok = ok && ::renameat(dir_fd_, temp_name_.c_str(), dir_fd_, target_.c_str()) == 0;
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
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temp_name_.empty() && dir_fd_ >= 0) ::unlinkat(dir_fd_, temp_name_.c_str(), 0);
  if (!temp_.empty()) ForgetTemporaryFile(temp_);
  temp_.clear();
  temp_name_.clear();
  if (dir_fd_ >= 0) ::close(dir_fd_);
  dir_fd_ = -1;
}

bool MappedOutput::create(const std::string& path, int64_t size, WriteFailure* failure, int* error,
                          const FileAttributes* attributes) {
  abort();
  if (!file_.create(path, attributes, error)) {
    *failure = WriteFailure::kCreate;
    return false;
  }
  size_ = size;
  if (::fallocate(file_.fd(), 0, 0, static_cast<off_t>(size)) == 0) {
    void* p = ::mmap(nullptr, static_cast<size_t>(size), PROT_READ | PROT_WRITE, MAP_SHARED, file_.fd(), 0);
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
  ok = ok && ::ftruncate(file_.fd(), static_cast<off_t>(length)) == 0;
  return file_.finish(ok, damaged, error);
}

void MappedOutput::abort() {
  guard_.release();
  if (data_) ::munmap(data_, static_cast<size_t>(size_));
  data_ = nullptr;
  file_.discard();
}

bool StreamedOutput::create(const std::string& path, int* error, const FileAttributes* attributes) {
  return file_.create(path, attributes, error);
}

bool StreamedOutput::write(const unsigned char* data, int64_t length, int* error) {
  if (file_.fd() < 0) {
    *error = EBADF;
    return false;
  }
  int64_t done = 0;
  while (done < length) {
    ssize_t n = ::write(file_.fd(), data + done, static_cast<size_t>(length - done));
    if (n < 0) {
      if (errno == EINTR) continue;
      *error = errno;
      return false;
    }
    done += n;
  }
  return true;
}

bool StreamedOutput::commit(int* error) { return file_.finish(true, false, error); }

}  // namespace moravine
