#include "platform/console.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>
// After windows.h, whose types it uses.
#include <shellapi.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cwchar>
#include <mutex>
#include <thread>

#include "platform/temp_files.h"
#include "platform/windows/windows_util.h"

namespace moravine {

namespace {

// How long one wait on standard input lasts before the stop flag is seen.
constexpr DWORD kWaitMilliseconds = 100;

std::atomic<StopCause> g_cause{StopCause::kNone};
std::mutex g_on_stop_mutex;
std::function<void(StopCause)> g_on_stop;
std::atomic<int> g_grace_milliseconds{0};
UINT g_console_code_page = 0;

HANDLE StandardHandle(StandardStream stream) {
  switch (stream) {
    case StandardStream::kInput: return ::GetStdHandle(STD_INPUT_HANDLE);
    case StandardStream::kOutput: return ::GetStdHandle(STD_OUTPUT_HANDLE);
    case StandardStream::kError: return ::GetStdHandle(STD_ERROR_HANDLE);
  }
  return INVALID_HANDLE_VALUE;
}

[[noreturn]] void EndNow() {
  RemoveTemporaryFiles();
  std::fflush(stdout);
  std::fflush(stderr);
  // At once: no static destructor runs while jobs still work.
  ::_exit(StopExitStatus(StopRequested()));
}

BOOL WINAPI OnConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT: HandleStopRequest(StopCause::kInterrupt); return TRUE;
    case CTRL_BREAK_EVENT: HandleStopRequest(StopCause::kTerminate); return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      // The system ends the process once this returns: the grace is spent
      // here, and the program ends as after a second request.
      HandleStopRequest(StopCause::kHangUp);
      ::Sleep(static_cast<DWORD>(g_grace_milliseconds.load()));
      EndNow();
  }
  return FALSE;
}

void RestoreConsoleCodePage() {
  if (g_console_code_page != 0) ::SetConsoleOutputCP(g_console_code_page);
}

}  // namespace

std::vector<std::string> StartConsoleProgram(int argc, char** argv) {
  // Bytes in and out as they are: no CR LF for LF, no end at a Ctrl-Z.
  ::_setmode(_fileno(stdin), _O_BINARY);
  ::_setmode(_fileno(stdout), _O_BINARY);
  ::_setmode(_fileno(stderr), _O_BINARY);
  // Texts are UTF-8; a console shows them so while the program runs, and
  // gets its code page back at the end.
  if (IsTerminal(StandardStream::kOutput) || IsTerminal(StandardStream::kError)) {
    g_console_code_page = ::GetConsoleOutputCP();
    if (g_console_code_page != CP_UTF8 && ::SetConsoleOutputCP(CP_UTF8)) std::atexit(RestoreConsoleCodePage);
  }
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (!wide) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) arguments.push_back(windows::Utf8(wide[i], std::wcslen(wide[i])));
  ::LocalFree(wide);
  return arguments;
}

bool IsTerminal(StandardStream stream) {
  DWORD mode;
  return ::GetConsoleMode(StandardHandle(stream), &mode) != 0;
}

int TerminalColumns(StandardStream stream) {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!::GetConsoleScreenBufferInfo(StandardHandle(stream), &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

int WriteStandardOutput(const unsigned char* data, int64_t length) {
  HANDLE out = StandardHandle(StandardStream::kOutput);
  while (length > 0) {
    DWORD n = 0;
    if (!::WriteFile(out, data, static_cast<DWORD>(length > (1 << 30) ? (1 << 30) : length), &n, nullptr)) {
      return windows::ErrnoOf(::GetLastError());
    }
    data += n;
    length -= n;
  }
  return 0;
}

int64_t ReadStandardInputUnlessStopped(unsigned char* buffer, int64_t size, const std::function<bool()>& stopped) {
  HANDLE in = StandardHandle(StandardStream::kInput);
  const DWORD type = ::GetFileType(in);
  const DWORD wanted = static_cast<DWORD>(size > (1 << 30) ? (1 << 30) : size);
  // A pipe that cannot be asked what it holds (a POSIX pipe under Wine) is
  // read as it comes: a request to stop then ends the program after the
  // grace, as it does any work that does not look at the flag.
  bool peek = type == FILE_TYPE_PIPE;
  for (int waited = 0;; ++waited) {
    if (stopped()) return -2;
    if (peek) {
      // A pipe has no waitable state: it is asked in short steps.
      DWORD available = 0;
      if (!::PeekNamedPipe(in, nullptr, 0, nullptr, &available, nullptr)) {
        if (::GetLastError() == ERROR_BROKEN_PIPE) return 0;  // the writer has gone: the end
        peek = false;
        continue;
      }
      if (available == 0) {
        ::Sleep(waited < 100 ? 1 : 20);
        continue;
      }
    } else if (IsTerminal(StandardStream::kInput)) {
      if (::WaitForSingleObject(in, kWaitMilliseconds) != WAIT_OBJECT_0) continue;
    }
    DWORD n = 0;
    if (::ReadFile(in, buffer, wanted, &n, nullptr)) return n;
    if (::GetLastError() == ERROR_BROKEN_PIPE) return 0;
    windows::Fail();
    return -1;
  }
}

bool ReadAllStandardInput(std::string* bytes, int* error) {
  HANDLE in = StandardHandle(StandardStream::kInput);
  bytes->clear();
  char chunk[65536];
  for (;;) {
    DWORD n = 0;
    if (!::ReadFile(in, chunk, sizeof chunk, &n, nullptr)) {
      if (::GetLastError() == ERROR_BROKEN_PIPE) return true;
      return windows::Fail(error);
    }
    if (n == 0) return true;
    bytes->append(chunk, n);
  }
}

FILE* OpenNullStream() { return std::fopen("NUL", "wb"); }

int StopExitStatus(StopCause cause) {
  // POSIX's numbers: 128 + SIGINT, SIGTERM, SIGHUP and SIGPIPE.
  switch (cause) {
    case StopCause::kNone: return 0;
    case StopCause::kInterrupt: return 130;
    case StopCause::kTerminate: return 143;
    case StopCause::kHangUp: return 129;
    case StopCause::kClosedOutput: return 141;
  }
  return 143;
}

StopCause StopRequested() { return g_cause.load(); }

void RequestStop(StopCause cause) {
  StopCause none = StopCause::kNone;
  g_cause.compare_exchange_strong(none, cause);
  std::lock_guard<std::mutex> lock(g_on_stop_mutex);
  if (g_on_stop) g_on_stop(cause);
}

void HandleStopRequest(StopCause cause) {
  const StopCause first = StopRequested();
  if (first != StopCause::kNone && first != StopCause::kClosedOutput) EndNow();
  RequestStop(cause);
  // The work looks at the stop flag as it goes and normally ends at once;
  // should it still run after the grace, the program ends as after a
  // second request, its temporary files removed.
  const int grace = g_grace_milliseconds.load();
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
  g_grace_milliseconds.store(grace_milliseconds);
  // The system calls the handler on a thread of its own for Ctrl-C,
  // Ctrl-Break and the end of the console or the session. A write to a
  // closed pipe fails with EPIPE: Windows sends no signal for it.
  ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

}  // namespace moravine
