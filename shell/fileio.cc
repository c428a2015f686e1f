#include "shell/fileio.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

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

}  // namespace

MappedFile::~MappedFile() { close(); }

void MappedFile::close() {
  if (mapping_) ::munmap(mapping_, mapped_bytes_);
  mapping_ = nullptr;
  data_ = nullptr;
  size_ = 0;
  mapped_bytes_ = 0;
}

bool MappedFile::open(const std::string& path, Failure* failure, int* error) {
  close();
  *error = 0;
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st;
  if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0) {
    *failure = Failure::kOpen;
    *error = errno;
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    *failure = Failure::kOpen;
    *error = S_ISDIR(st.st_mode) ? EISDIR : ENODEV;
    return false;
  }
  if (st.st_size > kMaxInputBytes) {
    *failure = Failure::kTooLarge;
    *error = EFBIG;
    return false;
  }
  if (st.st_size == 0) {
    *failure = Failure::kEmpty;
    return false;
  }
  void* p = ::mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd.get(), 0);
  if (p == MAP_FAILED) {
    *failure = Failure::kMap;
    *error = errno;
    return false;
  }
  mapping_ = p;
  mode_ = static_cast<int>(st.st_mode & 07777);
  mapped_bytes_ = static_cast<size_t>(st.st_size);
  size_ = st.st_size;
  data_ = static_cast<const unsigned char*>(p);
  return true;
}

bool MappedFile::open(const std::string& path, std::string* message) {
  Failure failure;
  int error;
  if (open(path, &failure, &error)) return true;
  switch (failure) {
    case Failure::kOpen: *message = Reason("cannot open it", error); break;
    case Failure::kEmpty: *message = "the file is empty"; break;
    case Failure::kTooLarge: *message = "the file is 2 GiB or larger; Moravine handles files below 2 GiB"; break;
    case Failure::kMap: *message = Reason("cannot map it", error); break;
  }
  return false;
}

namespace {

// Creates a hidden file beside `path`, exclusively; the mode follows the
// umask like any new file. Returns the descriptor or -1 with errno set.
int CreateTempBeside(const std::string& path, std::string* temp) {
  std::string::size_type slash = path.rfind('/');
  std::string prefix = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  static std::atomic<unsigned> counter{0};
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    *temp = prefix + "." + base + ".moravine-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    fd = ::open(temp->c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  return fd;
}

}  // namespace

bool WriteFileAtomically(const std::string& path, const unsigned char* data, int64_t length, std::string* message,
                         int mode) {
  WriteFailure failure;
  int error;
  if (WriteFileAtomically(path, data, length, &failure, &error, mode)) return true;
  *message = Reason(failure == WriteFailure::kCreate ? "cannot create a temporary file beside it" : "cannot write it",
                    error);
  return false;
}

bool WriteFileAtomically(const std::string& path, const unsigned char* data, int64_t length, WriteFailure* failure,
                         int* error, int mode) {
  std::string::size_type slash = path.rfind('/');
  std::string prefix = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? path : path.substr(slash + 1);

  std::string temp;
  int raw = CreateTempBeside(path, &temp);
  Fd fd(raw);
  if (fd.get() < 0) {
    *failure = WriteFailure::kCreate;
    *error = errno;
    return false;
  }
  auto fail = [&](const char*) {
    *error = errno;
    *failure = WriteFailure::kWrite;
    ::unlink(temp.c_str());
    return false;
  };
  int64_t done = 0;
  while (done < length) {
    ssize_t n = ::write(fd.get(), data + done, static_cast<size_t>(length - done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail("cannot write");
    }
    done += n;
  }
  if (mode >= 0 && ::fchmod(fd.get(), static_cast<mode_t>(mode)) != 0) return fail("cannot write");
  if (::fsync(fd.get()) != 0) return fail("cannot write");
  if (::close(fd.release()) != 0) return fail("cannot write");
  if (::rename(temp.c_str(), path.c_str()) != 0) return fail("cannot replace the target");
  return true;
}

bool MappedOutput::create(const std::string& path, int64_t size, WriteFailure* failure, int* error, int mode) {
  abort();
  *error = 0;
  fd_ = CreateTempBeside(path, &temp_);
  if (fd_ < 0) {
    *failure = WriteFailure::kCreate;
    *error = errno;
    return false;
  }
  path_ = path;
  size_ = size;
  int rc = mode >= 0 ? ::fchmod(fd_, static_cast<mode_t>(mode)) : 0;
  if (rc == 0) rc = ::fallocate(fd_, 0, 0, static_cast<off_t>(size));
  if (rc == 0) {
    void* p = ::mmap(nullptr, static_cast<size_t>(size), PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
    if (p != MAP_FAILED) {
      data_ = static_cast<unsigned char*>(p);
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
  bool ok = ::munmap(data_, static_cast<size_t>(size_)) == 0;
  data_ = nullptr;
  ok = ok && ::ftruncate(fd_, static_cast<off_t>(length)) == 0 && ::fsync(fd_) == 0;
  int fd = fd_;
  fd_ = -1;
  ok = (::close(fd) == 0) && ok;
  ok = ok && ::rename(temp_.c_str(), path_.c_str()) == 0;
  if (!ok) {
    *error = errno;
    ::unlink(temp_.c_str());
  }
  temp_.clear();
  return ok;
}

void MappedOutput::abort() {
  if (data_) ::munmap(data_, static_cast<size_t>(size_));
  data_ = nullptr;
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temp_.empty()) ::unlink(temp_.c_str());
  temp_.clear();
}

}  // namespace moravine
