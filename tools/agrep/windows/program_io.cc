// The agrep program's system interface on Windows: arguments from the
// wide command line in UTF-8, file names in UTF-8 opened with their wide
// form, standard input and output in binary, regular files mapped.
#include "program_io.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <shellapi.h>

#include <cstdio>

namespace agrep {
namespace {

std::string SystemMessage(DWORD code) {
  char* text = nullptr;
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message = n > 0 && text ? std::string(text, n) : "error " + std::to_string(code);
  if (text) LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
    message.pop_back();
  return message;
}

std::string Utf8(const wchar_t* wide) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return std::string();
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, -1, out.data(), n, nullptr, nullptr);
  out.pop_back();  // the terminating NUL
  return out;
}

// False when the name is not valid UTF-8.
bool Wide(const std::string& utf8, std::wstring* out) {
  const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  if (n <= 0 && !utf8.empty()) return false;
  out->assign(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()), out->data(), n);
  return true;
}

}  // namespace

std::vector<std::string> StartProgram(int argc, char** argv) {
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(argv + 1, argv + argc);
  std::vector<std::string> args;
  for (int i = 1; i < count; ++i) args.push_back(Utf8(wide[i]));
  LocalFree(wide);
  return args;
}

bool WriteStandardOutput(std::string_view data, std::string* reason) {
  std::fflush(stdout);
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  while (!data.empty()) {
    const DWORD chunk = data.size() > (DWORD{1} << 30) ? (DWORD{1} << 30) : static_cast<DWORD>(data.size());
    DWORD written = 0;
    if (!WriteFile(out, data.data(), chunk, &written, nullptr)) {
      *reason = SystemMessage(GetLastError());
      return false;
    }
    data.remove_prefix(written);
  }
  return true;
}

InputText::~InputText() {
  if (mapped_) UnmapViewOfFile(mapped_);
}

bool InputText::load(const std::string& name, std::string* reason) {
  const bool standard_input = name == "-";
  HANDLE file = GetStdHandle(STD_INPUT_HANDLE);
  if (!standard_input) {
    std::wstring wide;
    if (!Wide(name, &wide)) {
      *reason = "file name is not valid UTF-8";
      return false;
    }
    file = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  }
  if (file == INVALID_HANDLE_VALUE || file == nullptr) {
    *reason = file == nullptr ? "no standard input" : SystemMessage(GetLastError());
    return false;
  }
  struct Closer {
    HANDLE handle;
    bool close;
    ~Closer() {
      if (close) CloseHandle(handle);
    }
  } closer{file, !standard_input};
  LARGE_INTEGER size;
  if (GetFileType(file) == FILE_TYPE_DISK && GetFileSizeEx(file, &size) && size.QuadPart > 0) {
    if (HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr)) {
      void* p = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
      CloseHandle(mapping);  // the view keeps the mapping
      if (p) {
        mapped_ = p;
        mapped_size_ = static_cast<size_t>(size.QuadPart);
        return true;
      }
    }
  }
  size_t used = 0;
  buffer_.resize(size_t{1} << 20);
  for (;;) {
    if (used == buffer_.size()) buffer_.resize(buffer_.size() * 2);
    const size_t room = buffer_.size() - used;
    DWORD n = 0;
    if (!ReadFile(file, buffer_.data() + used, room > (DWORD{1} << 30) ? (DWORD{1} << 30) : static_cast<DWORD>(room), &n,
                  nullptr)) {
      const DWORD error = GetLastError();
      if (error == ERROR_BROKEN_PIPE) break;  // the writer closed the pipe: the end
      *reason = SystemMessage(error);
      return false;
    }
    if (n == 0) break;
    used += n;
  }
  buffer_.resize(used);
  return true;
}

}  // namespace agrep
