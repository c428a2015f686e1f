// The search's services from the system: temporary files, the agrep
// child process and its Cancel, read-only mappings; and where the agrep
// that searches start is found.
#ifndef MORAVINE_PLATFORM_SYSTEM_SEARCH_HOST_H_
#define MORAVINE_PLATFORM_SYSTEM_SEARCH_HOST_H_

#include <atomic>

#include "search/search_host.h"

namespace moravine {

class SystemSearchHost : public SearchHost {
 public:
  // $TMPDIR when set and not empty, else /tmp, always with a trailing '/'
  // (Windows: GetTempPathW, with a trailing '\\').
  std::string temporaryDirectory() const override;
  int64_t processId() const override;
  File createExclusive(const std::string& path) override;
  bool writeAll(File file, const void* data, size_t length) override;
  int closeFile(File file) override;
  void removeFile(const std::string& path) override;
  // argv[0] "agrep" starts AgrepProgram(). The child starts with no signal
  // blocked and the default action for SIGPIPE, whatever this process set.
  int runProcess(const std::vector<std::string>& argv, File out, int* exit_status) override;
  bool mapFile(File file, const unsigned char** data, int64_t* size) override;
  // True when the agrep to be started is the bundled one (AgrepIsBundled()):
  // its matcher then runs in this process.
  bool useBundledMatcher() const override;
  void unmapFile(const unsigned char* data, int64_t size) override;
  // Linux maps the pages in with one call (MADV_POPULATE_READ); a range that
  // cannot be (a file cut short) is left to fault as it is read. Windows
  // does nothing.
  void willRead(const unsigned char* data, int64_t length) override;
  // The flag that Cancel sets (null: never cancelled); a running agrep is
  // then ended.
  void setCancelFlag(const std::atomic<bool>* flag) { cancel_ = flag; }
  bool cancelled() const override { return cancel_ != nullptr && cancel_->load(std::memory_order_relaxed); }

 private:
  const std::atomic<bool>* cancel_ = nullptr;
};

// The agrep that searches start: the program that MORAVINE_AGREP names when
// it is set; otherwise the bundled one, beside the running program or in
// ../libexec/moravine/ from it (Windows: agrep.exe beside it); "agrep" on
// PATH only when neither exists.
std::string AgrepProgram();
// Whether AgrepProgram() is the bundled agrep.
bool AgrepIsBundled();

// Whether AgrepProgram() can be started (it is run with -V, its output
// thrown away).
bool AgrepStarts();

// Puts the directory of the bundled agrep in front of PATH, so that every
// child that asks for "agrep" gets ours rather than another program of that
// name found earlier on PATH.
void PrependProgramDirectoryToPath();

}  // namespace moravine

#endif  // MORAVINE_PLATFORM_SYSTEM_SEARCH_HOST_H_
