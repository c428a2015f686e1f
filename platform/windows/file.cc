#include "platform/file.h"

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/filesystem.h"
#include "platform/windows/windows_util.h"

namespace moravine {

using windows::Fail;
using windows::Handle;
using windows::Native;
using windows::SystemPath;
using windows::Wide;

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = other.release();
  }
  return *this;
}

NativeHandle File::release() {
  const NativeHandle handle = handle_;
  handle_ = kNoHandle;
  return handle;
}

bool File::close(int* error) {
  if (!valid()) return true;
  return ::CloseHandle(Handle(release())) || Fail(error);
}

bool File::status(FileStatus* status, int* error) const {
  return windows::StatusOf(Handle(handle_), status) || Fail(error);
}

bool File::sync(int* error) const {
  FileStatus st;
  // NTFS logs a directory's entries with the files they name: flushing the
  // file puts its entry on disk too, and a directory handle opened for
  // reading cannot be flushed.
  if (windows::StatusOf(Handle(handle_), &st) && st.type == FileType::kDirectory) return true;
  return ::FlushFileBuffers(Handle(handle_)) || Fail(error);
}

// Flushing a whole volume takes an administrator's handle on it: the file
// alone is flushed.
bool File::syncFileSystem(int* error) const { return sync(error); }

// Files are opened sharing reading alone: nobody else can open one for
// writing while it is open here.
File::WriterHold File::holdOffWriters() const { return WriterHold::kHeld; }

void File::letWritersIn() const {}

bool FileSystemSyncCoversAll() { return false; }

bool Directory::open(const std::string& path, int* error) {
  path_ = path;
  // Shared for reading and writing (others work in it too), not for
  // deletion: the directory, and the path that leads to it, stay as they
  // are while it is open.
  HANDLE h = ::CreateFileW(SystemPath(path).c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                           nullptr);
  if (h == INVALID_HANDLE_VALUE) return Fail(error);
  file_ = File(Native(h));
  FileStatus st;
  if (!file_.status(&st, error)) return false;
  if (st.type != FileType::kDirectory) {
    file_.close();
    errno = ENOTDIR;
    if (error) *error = ENOTDIR;
    return false;
  }
  return true;
}

bool Directory::entryStatus(const std::string& name, FileStatus* status, int* error) const {
  return PathStatus(JoinPath(path_, name), false, status, error);
}

bool Directory::removeEntry(const std::string& name, int* error) const {
  return ::DeleteFileW(SystemPath(JoinPath(path_, name)).c_str()) || Fail(error);
}

// The class of FILE_DISPOSITION_INFO_EX (Windows 10 1709 on), which the
// headers name only for builds that require that version.
constexpr auto kFileDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);

bool Directory::removeOpenedEntry(const std::string& name, File* opened, int* error) const {
  (void)name;
  // The handle was opened for deletion. With POSIX semantics (NTFS on
  // Windows 10 and later) the name goes at once; otherwise once every
  // handle on the file is closed, and ours is the only one: it was opened
  // without sharing deletion. A read-only file is refused either way.
  HANDLE h = Handle(opened->native());
  FILE_DISPOSITION_INFO_EX posix = {FILE_DISPOSITION_FLAG_DELETE | FILE_DISPOSITION_FLAG_POSIX_SEMANTICS};
  FILE_DISPOSITION_INFO classic = {TRUE};
  if (!::SetFileInformationByHandle(h, kFileDispositionInfoEx, &posix, sizeof posix) &&
      (::GetLastError() == ERROR_ACCESS_DENIED ||
       !::SetFileInformationByHandle(h, FileDispositionInfo, &classic, sizeof classic))) {
    return Fail(error);
  }
  return opened->close(error);
}

DirectoryLock::DirectoryLock(const Directory& directory) {
  FileStatus st;
  if (!directory.file().status(&st)) return;
  char key[96];
  std::snprintf(key, sizeof key, "moravine-folder-%016llx-%016llx%016llx",
                static_cast<unsigned long long>(st.identity.volume),
                static_cast<unsigned long long>(st.identity.index[1]),
                static_cast<unsigned long long>(st.identity.index[0]));
  // Seen by every session; where the global namespace is closed to us, by
  // the processes of this one.
  HANDLE mutex = nullptr;
  for (const char* scope : {"Global\\", "Local\\"}) {
    mutex = ::CreateMutexW(nullptr, FALSE, Wide(std::string(scope) + key).c_str());
    if (mutex) break;
  }
  if (!mutex) return;
  // An owner that died leaves it abandoned, and so ours.
  const DWORD waited = ::WaitForSingleObject(mutex, INFINITE);
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
    ::CloseHandle(mutex);
    return;
  }
  handle_ = Native(mutex);
}

DirectoryLock::~DirectoryLock() {
  if (handle_ == kNoHandle) return;
  ::ReleaseMutex(Handle(handle_));
  ::CloseHandle(Handle(handle_));
}

bool PathStatus(const std::string& path, bool follow_link, FileStatus* status, int* error) {
  HANDLE h = windows::OpenForStatus(path, follow_link);
  if (h == INVALID_HANDLE_VALUE) return Fail(error);
  File file(Native(h));
  return file.status(status, error);
}

bool RemoveFile(const std::string& path, int* error) {
  return ::DeleteFileW(SystemPath(path).c_str()) || Fail(error);
}

bool ReadWholeFile(const std::string& path, std::string* bytes, int* error) {
  HANDLE h = ::CreateFileW(SystemPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return Fail(error);
  File file(Native(h));
  bytes->clear();
  char chunk[65536];
  for (;;) {
    DWORD n = 0;
    if (!::ReadFile(h, chunk, sizeof chunk, &n, nullptr)) {
      if (::GetLastError() == ERROR_BROKEN_PIPE) return true;
      return Fail(error);
    }
    if (n == 0) return true;
    bytes->append(chunk, n);
  }
}

FILE* CreateOwnFile(const std::string& folder, const std::string& name) {
  if (folder.empty()) return nullptr;
  // A link, junction or other reparse point is opened as itself, never
  // followed, and refused; so is a file with other names (hard links).
  // Files carry no owner that we compare: a folder's rights (inherited by
  // what is made in it) decide who may write there.
  HANDLE h = ::CreateFileW(SystemPath(JoinPath(folder, name)).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    Fail();
    return nullptr;
  }
  File file(Native(h));
  BY_HANDLE_FILE_INFORMATION info;
  if (::GetFileType(h) != FILE_TYPE_DISK || !::GetFileInformationByHandle(h, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) ||
      info.nNumberOfLinks != 1) {
    errno = EPERM;
    return nullptr;
  }
  FILE_END_OF_FILE_INFO end = {};
  if (!::SetFileInformationByHandle(h, FileEndOfFileInfo, &end, sizeof end)) {
    Fail();
    return nullptr;
  }
  const int fd = ::_open_osfhandle(static_cast<intptr_t>(file.native()), _O_WRONLY | _O_BINARY);
  if (fd < 0) return nullptr;
  file.release();  // the descriptor owns it now
  FILE* stream = ::_fdopen(fd, "wb");
  if (!stream) {
    ::_close(fd);
    return nullptr;
  }
  std::setvbuf(stream, nullptr, _IONBF, 0);
  return stream;
}

FILE* OpenStream(const std::string& path, const char* mode) {
  return ::_wfopen(SystemPath(path).c_str(), Wide(mode).c_str());
}

// Handles have no limit worth counting (millions per process).
size_t OpenFileLimit() { return 0; }

FileTime CurrentTime() {
  FILETIME now;
  ::GetSystemTimePreciseAsFileTime(&now);
  LARGE_INTEGER ticks;
  ticks.LowPart = now.dwLowDateTime;
  ticks.HighPart = static_cast<LONG>(now.dwHighDateTime);
  return windows::TimeOf(ticks);
}

std::string CurrentDirectory() {
  const DWORD needed = ::GetCurrentDirectoryW(0, nullptr);
  if (needed == 0) return std::string();
  std::wstring dir(needed, L'\0');
  const DWORD length = ::GetCurrentDirectoryW(needed, dir.data());
  if (length == 0 || length >= needed) return std::string();
  dir.resize(length);
  if (dir.rfind(L"\\\\?\\", 0) == 0 && dir.size() > 6 && dir[5] == L':') dir.erase(0, 4);
  return windows::Utf8(dir);
}

std::string ProgramDirectory() {
  std::wstring self(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size()));
    if (length == 0) return std::string();
    if (length < self.size()) {
      self.resize(length);
      break;
    }
    self.resize(self.size() * 2);
  }
  const size_t slash = self.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return std::string();
  self.resize(slash);
  if (self.size() == 2 && self[1] == L':') self += L'\\';
  return windows::Utf8(self);
}

}  // namespace moravine
