// The search tests' view of the platform in a build without a platform
// layer (MORAVINE_CORE_ONLY, as on Windows for now): the search runs its
// matching in its own process, and any attempt to make a file or to start
// a program fails the test. The tests of the route through the agrep
// program are not built here.
#ifndef MORAVINE_TESTS_SEARCH_PLATFORM_HOST_H_
#define MORAVINE_TESTS_SEARCH_PLATFORM_HOST_H_

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <optional>
#include <random>
#include <string>

#include "search/search_host.h"

namespace stest {

inline int64_t PlatformProcessId() { return 1; }

class PlatformHost : public SearchHost {
 public:
  std::string temporaryDirectory() const override {
    return (std::filesystem::temp_directory_path() / "").string();
  }
  int64_t processId() const override { return PlatformProcessId(); }
  File createExclusive(const std::string& path) override { return refuse("file made: " + path); }
  bool writeAll(File, const void*, size_t) override { return refuse("file written") == 0; }
  int closeFile(File) override { return refuse("file closed"); }
  void removeFile(const std::string& path) override { refuse("file removed: " + path); }
  int runProcess(const std::vector<std::string>& argv, File, int*) override {
    return refuse("process started: " + argv[0]);
  }
  bool mapFile(File, const unsigned char**, int64_t*) override { return refuse("file mapped") == 0; }
  void unmapFile(const unsigned char*, int64_t) override { refuse("file unmapped"); }
  bool useBundledMatcher() const override { return true; }

 private:
  static int refuse(const std::string& what) {
    ADD_FAILURE() << what;
    errno = ENOSYS;
    return -1;
  }
};

// A new directory of the given pattern, its last six bytes XXXXXX
// (replaced by random letters); false on failure.
inline bool MakeUniqueDirectory(std::string* pattern) {
  static std::mt19937_64 random{std::random_device{}()};
  const size_t x = pattern->size() - 6;
  for (int attempt = 0; attempt < 100; ++attempt) {
    for (size_t i = x; i < pattern->size(); ++i) (*pattern)[i] = static_cast<char>('a' + random() % 26);
    std::error_code error;
    if (std::filesystem::create_directory(*pattern, error)) return true;
    if (error) return false;
  }
  return false;
}

// The host above takes no temporary directory from the environment.
inline void SetHostTemporaryDirectory(const std::optional<std::string>&) {}
inline std::optional<std::string> HostTemporaryDirectory() { return std::nullopt; }

}  // namespace stest

#endif  // MORAVINE_TESTS_SEARCH_PLATFORM_HOST_H_
