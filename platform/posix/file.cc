#include "platform/file.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "platform/posix/posix_status.h"

namespace moravine {

namespace posix {

FileType TypeOf(mode_t mode) {
  if (S_ISREG(mode)) return FileType::kRegular;
  if (S_ISDIR(mode)) return FileType::kDirectory;
  if (S_ISLNK(mode)) return FileType::kSymlink;
  if (S_ISFIFO(mode)) return FileType::kFifo;
  if (S_ISSOCK(mode)) return FileType::kSocket;
  if (S_ISCHR(mode)) return FileType::kCharacterDevice;
  if (S_ISBLK(mode)) return FileType::kBlockDevice;
  return FileType::kOther;
}

FileStatus StatusOf(const struct stat& st) {
  FileStatus s;
  s.type = TypeOf(st.st_mode);
  s.size = static_cast<int64_t>(st.st_size);
  s.identity.volume = static_cast<uint64_t>(st.st_dev);
  s.identity.index[0] = static_cast<uint64_t>(st.st_ino);
  s.accessed = TimeOf(st.st_atim);
  s.modified = TimeOf(st.st_mtim);
  s.changed = TimeOf(st.st_ctim);
  s.permissions = static_cast<uint32_t>(st.st_mode & 07777);
  s.owner = static_cast<uint32_t>(st.st_uid);
  s.group = static_cast<uint32_t>(st.st_gid);
  return s;
}

}  // namespace posix

namespace {

bool Fail(int* error) {
  if (error) *error = errno;
  return false;
}

}  // namespace

using posix::Fd;

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = other.release();
  }
  return *this;
}

NativeHandle File::release() {
  const NativeHandle handle = handle_;
  handle_ = kNoHandle;
  return handle;
}

bool File::close(int* error) {
  if (!valid()) return true;
  const int fd = Fd(release());
  return ::close(fd) == 0 || Fail(error);
}

bool File::status(FileStatus* status, int* error) const {
  struct stat st;
  if (::fstat(Fd(handle_), &st) != 0) return Fail(error);
  *status = posix::StatusOf(st);
  return true;
}

bool File::sync(int* error) const { return ::fsync(Fd(handle_)) == 0 || Fail(error); }

bool File::syncFileSystem(int* error) const { return ::syncfs(Fd(handle_)) == 0 || Fail(error); }

// A read lease: the kernel makes a program that opens the file for writing,
// or truncates it, wait until the lease is given up, and tells the holder
// with SIGIO, whose default would end the program; nothing here needs the
// signal, so it is ignored.
File::WriterHold File::holdOffWriters() const {
#ifdef F_SETLEASE
  static const bool ignored = [] {
    struct sigaction now {};
    if (::sigaction(SIGIO, nullptr, &now) == 0 && now.sa_handler == SIG_DFL) ::signal(SIGIO, SIG_IGN);
    return true;
  }();
  (void)ignored;
  if (::fcntl(Fd(handle_), F_SETLEASE, F_RDLCK) == 0) return WriterHold::kHeld;
  return errno == EAGAIN ? WriterHold::kOpenForWriting : WriterHold::kUnsupported;
#else
  return WriterHold::kUnsupported;
#endif
}

void File::letWritersIn() const {
#ifdef F_SETLEASE
  ::fcntl(Fd(handle_), F_SETLEASE, F_UNLCK);
#endif
}

bool FileSystemSyncCoversAll() { return true; }

bool Directory::open(const std::string& path, int* error) {
  path_ = path;
  file_ = File(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return file_.valid() || Fail(error);
}

bool Directory::entryStatus(const std::string& name, FileStatus* status, int* error) const {
  struct stat st;
  if (::fstatat(Fd(file_.native()), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return Fail(error);
  *status = posix::StatusOf(st);
  return true;
}

bool Directory::removeEntry(const std::string& name, int* error) const {
  return ::unlinkat(Fd(file_.native()), name.c_str(), 0) == 0 || Fail(error);
}

bool Directory::removeOpenedEntry(const std::string& name, File*, int* error) const {
  return removeEntry(name, error);
}

DirectoryLock::DirectoryLock(const Directory& directory) : handle_(directory.file().native()) {
  while (::flock(Fd(handle_), LOCK_EX) != 0) {
    if (errno != EINTR) {
      handle_ = kNoHandle;
      break;
    }
  }
}

DirectoryLock::~DirectoryLock() {
  if (handle_ != kNoHandle) ::flock(Fd(handle_), LOCK_UN);
}

bool PathStatus(const std::string& path, bool follow_link, FileStatus* status, int* error) {
  struct stat st;
  const int rc = follow_link ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st);
  if (rc != 0) return Fail(error);
  *status = posix::StatusOf(st);
  return true;
}

bool RemoveFile(const std::string& path, int* error) { return ::unlink(path.c_str()) == 0 || Fail(error); }

bool ReadWholeFile(const std::string& path, std::string* bytes, int* error) {
  File file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file.valid()) return Fail(error);
  bytes->clear();
  char chunk[65536];
  for (;;) {
    const ssize_t n = ::read(Fd(file.native()), chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Fail(error);
    if (n == 0) return true;
    bytes->append(chunk, static_cast<size_t>(n));
  }
}

FILE* CreateOwnFile(const std::string& folder, const std::string& name) {
  if (folder.empty() || ::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0) return nullptr;
  const std::string path = folder.back() == '/' ? folder + name : folder + "/" + name;
  // No O_TRUNC: what the name holds is checked before anything is emptied.
  // O_NOFOLLOW refuses a link in the last component, dangling or not, and
  // O_NONBLOCK keeps a planted pipe from blocking the start.
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644);
  if (fd < 0) return nullptr;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || st.st_nlink != 1) {
    ::close(fd);
    errno = EPERM;
    return nullptr;
  }
  int flags = ::fcntl(fd, F_GETFL);
  if (::ftruncate(fd, 0) != 0 || flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    int error = errno;
    ::close(fd);
    errno = error;
    return nullptr;
  }
  FILE* stream = ::fdopen(fd, "w");
  if (!stream) {
    ::close(fd);
    return nullptr;
  }
  std::setvbuf(stream, nullptr, _IONBF, 0);
  return stream;
}

FILE* OpenStream(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }

size_t OpenFileLimit() {
  struct rlimit limit;
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 0;
  return static_cast<size_t>(limit.rlim_cur);
}

FileTime CurrentTime() {
  struct timespec now;
  ::clock_gettime(CLOCK_REALTIME, &now);
  return posix::TimeOf(now);
}

std::string CurrentDirectory() {
  char cwd[8192];
  return ::getcwd(cwd, sizeof cwd) ? std::string(cwd) : std::string();
}

std::string ProgramDirectory() {
  char self[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return std::string();
  std::string dir(self, static_cast<size_t>(n));
  std::string::size_type slash = dir.rfind('/');
  if (slash == std::string::npos) return std::string();
  dir.resize(slash == 0 ? 1 : slash);
  return dir;
}

}  // namespace moravine
