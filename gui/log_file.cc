#include "gui/log_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

namespace moravine::gui {

namespace {

std::string Join(const std::string& folder, const char* name) {
  if (folder.empty() || folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

}  // namespace

std::string StateFolder(const std::function<std::string(const char* name)>& environment) {
  std::string state = environment("XDG_STATE_HOME");
  if (!state.empty() && state.front() == '/') return Join(state, "moravine");
  std::string home = environment("HOME");
  if (home.empty()) return std::string();
  return Join(home, ".local/state/moravine");
}

FILE* CreateLogIn(const std::string& folder) {
  if (folder.empty() || ::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0) return nullptr;
  std::string path = Join(folder, kLogName);
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

OpenedLog OpenLog(const std::string& preferred, const std::string& state) {
  OpenedLog log;
  if ((log.stream = CreateLogIn(preferred))) {
    log.path = Join(preferred, kLogName);
    return log;
  }
  if (!state.empty()) {
    std::error_code ignored;
    std::filesystem::create_directories(state, ignored);
    if ((log.stream = CreateLogIn(state))) {
      log.path = Join(state, kLogName);
      return log;
    }
  }
  log.path = Join(preferred, kLogName);
  return log;
}

}  // namespace moravine::gui
