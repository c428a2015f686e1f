#include "platform/system_search_host.h"

#include <cerrno>
#include <cstdlib>
#include <cwchar>
#include <memory>
#include <mutex>

#include "platform/file.h"
#include "platform/filesystem.h"
#include "platform/temp_files.h"
#include "platform/windows/windows_util.h"

namespace moravine {

using windows::Handle;
using windows::SystemPath;
using windows::Wide;

namespace {

// One argument as CommandLineToArgvW and the C runtime read it back: in
// quotes when it holds a blank or a quote (or is empty), a quote escaped
// with a backslash, and the backslashes before a quote, or before the
// closing one, doubled.
std::wstring QuoteArgument(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) return argument;
  std::wstring quoted = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted.push_back(c);
  }
  quoted.append(backslashes * 2, L'\\');
  quoted.push_back(L'"');
  return quoted;
}

// The environment variable as UTF-8; empty when unset.
std::string Environment(const wchar_t* name) {
  const wchar_t* value = ::_wgetenv(name);
  return value ? windows::Utf8(value, std::wcslen(value)) : std::string();
}

bool IsFile(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesW(SystemPath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The directory that holds the bundled agrep.exe, or an empty text.
const std::string& BundledDirectory() {
  static const std::string dir = [] {
    const std::string self = ProgramDirectory();
    return !self.empty() && IsFile(JoinPath(self, "agrep.exe")) ? self : std::string();
  }();
  return dir;
}

struct ProcessHandles {
  PROCESS_INFORMATION info = {};
  ~ProcessHandles() {
    if (info.hThread) ::CloseHandle(info.hThread);
    if (info.hProcess) ::CloseHandle(info.hProcess);
  }
};

// The handles that the child inherits, and nothing else: its standard
// output, standard input from NUL, and our standard error.
struct Inherited {
  HANDLE output = nullptr;
  HANDLE input = nullptr;
  HANDLE error = nullptr;
  ~Inherited() {
    for (HANDLE h : {output, input, error}) {
      if (h && h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
    }
  }
};

HANDLE InheritableCopy(HANDLE h) {
  HANDLE copy = nullptr;
  if (h == nullptr || h == INVALID_HANDLE_VALUE) return nullptr;
  if (!::DuplicateHandle(::GetCurrentProcess(), h, ::GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS)) {
    return nullptr;
  }
  return copy;
}

// Starts the command line with the three handles, which it alone inherits.
bool Start(std::wstring* line, Inherited* handles, ProcessHandles* process) {
  STARTUPINFOEXW startup = {};
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdOutput = handles->output;
  startup.StartupInfo.hStdInput = handles->input;
  startup.StartupInfo.hStdError = handles->error;
  HANDLE list[3];
  DWORD count = 0;
  for (HANDLE h : {handles->output, handles->input, handles->error}) {
    if (h) list[count++] = h;
  }
  SIZE_T bytes = 0;
  ::InitializeProcThreadAttributeList(nullptr, 1, 0, &bytes);
  std::unique_ptr<char[]> storage(new char[bytes]);
  auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage.get());
  if (!::InitializeProcThreadAttributeList(attributes, 1, 0, &bytes)) return false;
  const bool listed = ::UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, list,
                                                  count * sizeof(HANDLE), nullptr, nullptr);
  startup.lpAttributeList = listed ? attributes : nullptr;
  // Handles made inheritable by one start must not leak into another's
  // child where the list is not honoured.
  static std::mutex starting;
  std::lock_guard<std::mutex> lock(starting);
  const DWORD flags = CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT | (listed ? EXTENDED_STARTUPINFO_PRESENT : 0);
  const bool started = ::CreateProcessW(nullptr, line->data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr,
                                        &startup.StartupInfo, &process->info);
  ::DeleteProcThreadAttributeList(attributes);
  return started;
}

}  // namespace

std::string SystemSearchHost::temporaryDirectory() const {
  wchar_t buffer[MAX_PATH + 2];
  const DWORD length = ::GetTempPathW(MAX_PATH + 2, buffer);
  std::string dir = length > 0 && length <= MAX_PATH + 1 ? windows::Utf8(buffer, length) : std::string(".\\");
  if (!IsPathSeparator(dir.back())) dir += '\\';
  return dir;
}

int64_t SystemSearchHost::processId() const { return static_cast<int64_t>(::GetCurrentProcessId()); }

SearchHost::File SystemSearchHost::createExclusive(const std::string& path) {
  // CREATE_NEW refuses any existing name, a link included. The child reads
  // the vocabulary file by name: reading is shared.
  HANDLE h = ::CreateFileW(SystemPath(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                           nullptr, CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    windows::Fail();
    return kNoFile;
  }
  RegisterTemporaryFile(path);
  return windows::Native(h);
}

bool SystemSearchHost::writeAll(File file, const void* data, size_t length) {
  const char* p = static_cast<const char*>(data);
  while (length > 0) {
    DWORD n = 0;
    const DWORD chunk = static_cast<DWORD>(length > (1u << 30) ? (1u << 30) : length);
    if (!::WriteFile(Handle(file), p, chunk, &n, nullptr)) return windows::Fail();
    p += n;
    length -= n;
  }
  return true;
}

int SystemSearchHost::closeFile(File file) { return ::CloseHandle(Handle(file)) ? 0 : (windows::Fail(), -1); }

void SystemSearchHost::removeFile(const std::string& path) {
  ::DeleteFileW(SystemPath(path).c_str());
  ForgetTemporaryFile(path);
}

int SystemSearchHost::runProcess(const std::vector<std::string>& argv, File out, int* exit_status) {
  if (argv.empty()) {
    errno = EINVAL;
    return -1;
  }
  std::wstring line = QuoteArgument(Wide(argv[0] == "agrep" ? AgrepProgram() : argv[0]));
  for (size_t i = 1; i < argv.size(); ++i) line += L" " + QuoteArgument(Wide(argv[i]));
  Inherited handles;
  handles.output = InheritableCopy(Handle(out));
  SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
  handles.input = ::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable, OPEN_EXISTING,
                                0, nullptr);
  if (handles.input == INVALID_HANDLE_VALUE) handles.input = nullptr;
  handles.error = InheritableCopy(::GetStdHandle(STD_ERROR_HANDLE));
  ProcessHandles process;
  if (!handles.output || !Start(&line, &handles, &process)) {
    windows::Fail();
    return -1;
  }
  // Waited for in short steps, so that Cancel ends the child within a
  // fraction of a second.
  for (int waited = 0;; ++waited) {
    const DWORD step = cancel_ == nullptr ? INFINITE : waited < 100 ? 1 : 20;
    const DWORD result = ::WaitForSingleObject(process.info.hProcess, step);
    if (result == WAIT_OBJECT_0) break;
    if (result != WAIT_TIMEOUT) return -2;
    if (cancelled()) {
      ::TerminateProcess(process.info.hProcess, 1);
      ::WaitForSingleObject(process.info.hProcess, INFINITE);
      return -2;
    }
  }
  DWORD code = 0;
  if (!::GetExitCodeProcess(process.info.hProcess, &code)) return -2;
  *exit_status = static_cast<int>(code);
  return 0;
}

bool SystemSearchHost::mapFile(File file, const unsigned char** data, int64_t* size) {
  LARGE_INTEGER length;
  if (!::GetFileSizeEx(Handle(file), &length)) return windows::Fail();
  *size = length.QuadPart;
  *data = nullptr;
  if (length.QuadPart == 0) return true;
  HANDLE section = ::CreateFileMappingW(Handle(file), nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (!section) return windows::Fail();
  void* view = ::MapViewOfFile(section, FILE_MAP_READ, 0, 0, static_cast<SIZE_T>(length.QuadPart));
  ::CloseHandle(section);
  if (!view) return windows::Fail();
  *data = static_cast<const unsigned char*>(view);
  return true;
}

// Windows reads a mapped view's pages ahead of its own accord.
void SystemSearchHost::willRead(const unsigned char* data, int64_t length) {
  (void)data;
  (void)length;
}

void SystemSearchHost::unmapFile(const unsigned char* data, int64_t size) {
  if (data && size > 0) ::UnmapViewOfFile(data);
}

bool SystemSearchHost::useBundledMatcher() const { return AgrepIsBundled(); }

std::string AgrepProgram() {
  const std::string chosen = Environment(L"MORAVINE_AGREP");
  if (!chosen.empty()) return chosen;
  const std::string& dir = BundledDirectory();
  return dir.empty() ? std::string("agrep") : JoinPath(dir, "agrep.exe");
}

bool AgrepIsBundled() { return Environment(L"MORAVINE_AGREP").empty() && !BundledDirectory().empty(); }

bool AgrepStarts() {
  SystemSearchHost host;
  HANDLE null = ::CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                              nullptr);
  if (null == INVALID_HANDLE_VALUE) return false;
  int status = 0;
  const int rc = host.runProcess({"agrep", "-V"}, windows::Native(null), &status);
  ::CloseHandle(null);
  return rc == 0;
}

void PrependProgramDirectoryToPath() {
  std::string dir = BundledDirectory();
  if (dir.empty()) dir = ProgramDirectory();
  if (dir.empty()) return;
  const std::string path = Environment(L"PATH");
  const std::wstring value = Wide(path.empty() ? dir : dir + ";" + path);
  ::SetEnvironmentVariableW(L"PATH", value.c_str());
}

}  // namespace moravine
