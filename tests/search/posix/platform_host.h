// The search tests' view of the platform on POSIX systems: its search host,
// which runs the agrep program over temporary files in $TMPDIR, the
// process id in those files' names, and scratch directories.
#ifndef MORAVINE_TESTS_SEARCH_PLATFORM_HOST_H_
#define MORAVINE_TESTS_SEARCH_PLATFORM_HOST_H_

#include <stdlib.h>
#include <unistd.h>

#include <optional>
#include <string>

#include "platform/system_search_host.h"

namespace stest {

using PlatformHost = moravine::SystemSearchHost;

inline int64_t PlatformProcessId() { return ::getpid(); }

// A new directory of the given pattern, its last six bytes XXXXXX; false
// on failure.
inline bool MakeUniqueDirectory(std::string* pattern) { return ::mkdtemp(pattern->data()) != nullptr; }

// The temporary directory that PlatformHost uses: set (nullopt: the
// default), and as it is.
inline void SetHostTemporaryDirectory(const std::optional<std::string>& dir) {
  dir ? ::setenv("TMPDIR", dir->c_str(), 1) : ::unsetenv("TMPDIR");
}
inline std::optional<std::string> HostTemporaryDirectory() {
  if (const char* dir = std::getenv("TMPDIR")) return dir;
  return std::nullopt;
}

}  // namespace stest

#endif  // MORAVINE_TESTS_SEARCH_PLATFORM_HOST_H_
