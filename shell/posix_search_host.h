// The search's platform services on POSIX systems.
#ifndef MORAVINE_SHELL_POSIX_SEARCH_HOST_H_
#define MORAVINE_SHELL_POSIX_SEARCH_HOST_H_

#include "search/search_host.h"

namespace moravine {

class PosixSearchHost : public SearchHost {
 public:
  // $TMPDIR when set and not empty, else /tmp; always with a trailing '/'.
  std::string temporaryDirectory() const override;
  long processId() const override;
  int createExclusive(const std::string& path) override;
  bool writeAll(int fd, const void* data, size_t length) override;
  int closeFile(int fd) override;
  void removeFile(const std::string& path) override;
  int runProcess(const std::vector<std::string>& argv, int out_fd, int* exit_status) override;
  bool mapFile(int fd, const unsigned char** data, int64_t* size) override;
  void unmapFile(const unsigned char* data, int64_t size) override;
};

// Appends the directory of the running program to PATH, so that the agrep
// installed beside it serves when no other is found earlier on PATH.
void AppendProgramDirectoryToPath();

}  // namespace moravine

#endif  // MORAVINE_SHELL_POSIX_SEARCH_HOST_H_
