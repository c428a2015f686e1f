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

bool MappedFile::open(const std::string& path, std::string* error) {
  close();
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) {
    *error = Reason("cannot open", errno);
    return false;
  }
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) {
    *error = Reason("cannot read its size", errno);
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    *error = "it is a directory";
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    *error = "it is not a regular file";
    return false;
  }
  if (st.st_size > kMaxInputBytes) {
    *error = "it is 2 GiB or larger, which Moravine cannot handle";
    return false;
  }
  size_ = st.st_size;
  if (size_ == 0) return true;
  void* p = ::mmap(nullptr, static_cast<size_t>(size_), PROT_READ, MAP_PRIVATE, fd.get(), 0);
  if (p == MAP_FAILED) {
    *error = Reason("cannot map it", errno);
    size_ = 0;
    return false;
  }
  mapping_ = p;
  mapped_bytes_ = static_cast<size_t>(size_);
  data_ = static_cast<const unsigned char*>(p);
  return true;
}

bool WriteFileAtomically(const std::string& path, const unsigned char* data, int64_t length, std::string* error) {
  std::string::size_type slash = path.rfind('/');
  std::string prefix = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? path : path.substr(slash + 1);

  // A hidden name beside the target, created exclusively; the mode follows
  // the umask like any new file.
  static std::atomic<unsigned> counter{0};
  std::string temp;
  int raw = -1;
  for (int attempt = 0; attempt < 100 && raw < 0; ++attempt) {
    temp = prefix + "." + base + ".moravine-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    raw = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (raw < 0 && errno != EEXIST) break;
  }
  Fd fd(raw);
  if (fd.get() < 0) {
    *error = Reason("cannot create a temporary file beside it", errno);
    return false;
  }
  auto fail = [&](const char* what) {
    int err = errno;
    ::unlink(temp.c_str());
    *error = Reason(what, err);
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
  if (::fsync(fd.get()) != 0) return fail("cannot write");
  if (::close(fd.release()) != 0) return fail("cannot write");
  if (::rename(temp.c_str(), path.c_str()) != 0) return fail("cannot replace the target");
  return true;
}

}  // namespace moravine
