#include "platform/system_search_host.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <signal.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "platform/file.h"
#include "platform/temp_files.h"

extern char** environ;

namespace moravine {

std::string SystemSearchHost::temporaryDirectory() const {
  const char* env = std::getenv("TMPDIR");
  std::string dir = env && *env ? env : "/tmp";
  if (dir.back() != '/') dir += '/';
  return dir;
}

int64_t SystemSearchHost::processId() const { return static_cast<int64_t>(::getpid()); }

SearchHost::File SystemSearchHost::createExclusive(const std::string& path) {
  // O_EXCL refuses any existing name, a symbolic link included.
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return kNoFile;
  RegisterTemporaryFile(path);
  return fd;
}

bool SystemSearchHost::writeAll(File file, const void* data, size_t length) {
  const int fd = static_cast<int>(file);
  const char* p = static_cast<const char*>(data);
  while (length > 0) {
    ssize_t n = ::write(fd, p, length);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

int SystemSearchHost::closeFile(File file) { return ::close(static_cast<int>(file)); }

void SystemSearchHost::removeFile(const std::string& path) {
  ::unlink(path.c_str());
  ForgetTemporaryFile(path);
}

int SystemSearchHost::runProcess(const std::vector<std::string>& argv, File out, int* exit_status) {
  const int out_fd = static_cast<int>(out);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  std::string program = argv.empty() || argv[0] != "agrep" ? std::string() : AgrepProgram();
  if (!program.empty()) args[0] = const_cast<char*>(program.c_str());

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out_fd, STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid;
  int rc = posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    errno = rc;
    return -1;
  }
  // Waited for in short steps, so that Cancel ends the child within a
  // fraction of a second.
  int status;
  for (int waited = 0;; ++waited) {
    const pid_t done = ::waitpid(pid, &status, cancel_ != nullptr ? WNOHANG : 0);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) return -2;
    if (done == 0) {
      if (cancelled()) {
        ::kill(pid, SIGTERM);
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        return -2;
      }
      // Most matches end within a millisecond; longer ones are polled.
      ::usleep(waited < 100 ? 200 : 20000);
    }
  }
  if (!WIFEXITED(status)) return -2;
  *exit_status = WEXITSTATUS(status);
  return 0;
}

bool SystemSearchHost::mapFile(File file, const unsigned char** data, int64_t* size) {
  const int fd = static_cast<int>(file);
  struct stat st;
  if (::fstat(fd, &st) != 0) return false;
  *size = st.st_size;
  *data = nullptr;
  if (st.st_size == 0) return true;
  void* p = ::mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
  if (p == MAP_FAILED) return false;
  *data = static_cast<const unsigned char*>(p);
  return true;
}

void SystemSearchHost::willRead(const unsigned char* data, int64_t length) {
#ifdef MADV_POPULATE_READ
  const auto page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
  const uintptr_t from = reinterpret_cast<uintptr_t>(data) & ~(page - 1);
  const uintptr_t to = reinterpret_cast<uintptr_t>(data) + static_cast<uintptr_t>(length);
  if (length > 0) ::madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_READ);
#else
  (void)data;
  (void)length;
#endif
}

void SystemSearchHost::unmapFile(const unsigned char* data, int64_t size) {
  if (data && size > 0) ::munmap(const_cast<unsigned char*>(data), static_cast<size_t>(size));
}

namespace {

bool Executable(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// The directory that holds the bundled agrep, or an empty text.
const std::string& BundledDirectory() {
  static const std::string dir = [] {
    std::string self = ProgramDirectory();
    if (self.empty()) return std::string();
    for (std::string candidate : {self, self + "/../libexec/moravine"}) {
      if (Executable(candidate + "/agrep")) return candidate;
    }
    return std::string();
  }();
  return dir;
}

}  // namespace

bool SystemSearchHost::useBundledMatcher() const { return AgrepIsBundled(); }

std::string AgrepProgram() {
  const char* chosen = std::getenv("MORAVINE_AGREP");
  if (chosen && *chosen) return chosen;
  const std::string& dir = BundledDirectory();
  return dir.empty() ? std::string("agrep") : dir + "/agrep";
}

bool AgrepIsBundled() {
  const char* chosen = std::getenv("MORAVINE_AGREP");
  return !(chosen && *chosen) && !BundledDirectory().empty();
}

bool AgrepStarts() {
  SystemSearchHost host;
  const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null < 0) return false;
  int status = 0;
  const int rc = host.runProcess({"agrep", "-V"}, null, &status);
  ::close(null);
  return rc == 0;
}

void PrependProgramDirectoryToPath() {
  std::string dir = BundledDirectory();
  if (dir.empty()) dir = ProgramDirectory();
  if (dir.empty()) return;
  const char* path = std::getenv("PATH");
  std::string value = path && *path ? dir + ":" + path : dir;
  ::setenv("PATH", value.c_str(), 1);
}

}  // namespace moravine
