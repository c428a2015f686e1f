#include "platform/console.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <thread>

#include "platform/temp_files.h"

namespace moravine {

namespace {

// How long one wait on standard input lasts before the stop flag is seen.
constexpr int kWaitMilliseconds = 100;

std::atomic<StopCause> g_cause{StopCause::kNone};
std::mutex g_on_stop_mutex;
std::function<void(StopCause)> g_on_stop;

int FdOf(StandardStream stream) {
  switch (stream) {
    case StandardStream::kInput: return STDIN_FILENO;
    case StandardStream::kOutput: return STDOUT_FILENO;
    case StandardStream::kError: return STDERR_FILENO;
  }
  return -1;
}

StopCause CauseOf(int sig) {
  switch (sig) {
    case SIGINT: return StopCause::kInterrupt;
    case SIGTERM: return StopCause::kTerminate;
    case SIGHUP: return StopCause::kHangUp;
  }
  return StopCause::kTerminate;
}

[[noreturn]] void EndNow() {
  RemoveTemporaryFiles();
  std::fflush(stdout);
  ::_exit(StopExitStatus(StopRequested()));
}

}  // namespace

std::vector<std::string> StartConsoleProgram(int argc, char** argv) { return std::vector<std::string>(argv, argv + argc); }

bool IsTerminal(StandardStream stream) { return ::isatty(FdOf(stream)) == 1; }

int TerminalColumns(StandardStream stream) {
  struct winsize ws;
  return ::ioctl(FdOf(stream), TIOCGWINSZ, &ws) == 0 ? ws.ws_col : 0;
}

int WriteStandardOutput(const unsigned char* data, int64_t length) {
  while (length > 0) {
    ssize_t n = ::write(STDOUT_FILENO, data, static_cast<size_t>(length > (1 << 30) ? (1 << 30) : length));
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    data += n;
    length -= n;
  }
  return 0;
}

int64_t ReadStandardInputUnlessStopped(unsigned char* buffer, int64_t size, const std::function<bool()>& stopped) {
  for (;;) {
    if (stopped()) return -2;
    struct pollfd input = {STDIN_FILENO, POLLIN, 0};
    const int ready = ::poll(&input, 1, kWaitMilliseconds);
    if (ready < 0 && errno != EINTR) return -1;
    if (ready <= 0) continue;
    const ssize_t n = ::read(STDIN_FILENO, buffer, static_cast<size_t>(size));
    if (n >= 0) return n;
    if (errno != EINTR && errno != EAGAIN) return -1;
  }
}

bool ReadAllStandardInput(std::string* bytes, int* error) {
  bytes->clear();
  char chunk[65536];
  for (;;) {
    ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = errno;
      return false;
    }
    if (n == 0) return true;
    bytes->append(chunk, static_cast<size_t>(n));
  }
}

FILE* OpenNullStream() { return std::fopen("/dev/null", "w"); }

int StopExitStatus(StopCause cause) {
  switch (cause) {
    case StopCause::kNone: return 0;
    case StopCause::kInterrupt: return 128 + SIGINT;
    case StopCause::kTerminate: return 128 + SIGTERM;
    case StopCause::kHangUp: return 128 + SIGHUP;
    case StopCause::kClosedOutput: return 128 + SIGPIPE;
  }
  return 128 + SIGTERM;
}

StopCause StopRequested() { return g_cause.load(); }

void RequestStop(StopCause cause) {
  StopCause none = StopCause::kNone;
  g_cause.compare_exchange_strong(none, cause);
  std::lock_guard<std::mutex> lock(g_on_stop_mutex);
  if (g_on_stop) g_on_stop(cause);
}

namespace {

int g_grace_milliseconds = 0;

}  // namespace

void HandleStopRequest(StopCause cause) {
  const StopCause first = StopRequested();
  if (first != StopCause::kNone && first != StopCause::kClosedOutput) {
    RemoveTemporaryFiles();
    ::_exit(StopExitStatus(first));
  }
  RequestStop(cause);
  // The work looks at the stop flag as it goes and normally ends at once;
  // should it still run after a short grace (tearing down a flood of
  // search rows, say), the program ends as after a second request, its
  // temporary files removed.
  const int grace = g_grace_milliseconds;
  std::thread([grace] {
    std::this_thread::sleep_for(std::chrono::milliseconds(grace));
    EndNow();
  }).detach();
}

void WatchStopRequests(std::function<void(StopCause)> on_stop, int grace_milliseconds) {
  {
    std::lock_guard<std::mutex> lock(g_on_stop_mutex);
    g_on_stop = std::move(on_stop);
  }
  g_grace_milliseconds = grace_milliseconds;
  ::signal(SIGPIPE, SIG_IGN);
  ::signal(SIGXFSZ, SIG_IGN);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::thread([set] {
    for (;;) {
      int sig;
      if (sigwait(&set, &sig) == 0) HandleStopRequest(CauseOf(sig));
    }
  }).detach();
}

}  // namespace moravine
