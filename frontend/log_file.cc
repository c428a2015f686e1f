#include "frontend/log_file.h"

#include <filesystem>
#include <system_error>

#include "platform/file.h"
#include "platform/filesystem.h"

namespace moravine::frontend {

namespace {

// With the system's separator: the path is shown to the user.
std::string Join(const std::string& folder, const char* name) {
  return folder.empty() ? std::string(name) : JoinPath(folder, name);
}

}  // namespace

std::string StateFolder(const std::function<std::string(const char* name)>& environment) {
  std::string state = environment("XDG_STATE_HOME");
  if (!state.empty() && state.front() == '/') return Join(state, "moravine");
  std::string home = environment("HOME");
  if (home.empty()) return std::string();
  return Join(home, ".local/state/moravine");
}

FILE* CreateLogIn(const std::string& folder) { return CreateOwnFile(folder, kLogName); }

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

}  // namespace moravine::frontend
