#include "platform/windows/windows_util.h"

#include <cerrno>
#include <cstring>

#include "platform/filesystem.h"

namespace moravine::windows {

namespace {

// Time from 1601-01-01 to 1970-01-01 in 100-ns intervals.
constexpr int64_t kEpochDifference = 116444736000000000LL;
constexpr int64_t kTicksPerSecond = 10000000;
// Directories longer than this need the \\?\ prefix (MAX_PATH less room
// for an 8.3 name), and so do the files in them.
constexpr size_t kClassicPathLimit = MAX_PATH - 12;

}  // namespace

std::wstring Wide(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int size = static_cast<int>(text.size());
  const int length = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), length);
  return wide;
}

std::string Utf8(const wchar_t* text, size_t length) {
  if (length == 0) return std::string();
  const int size = static_cast<int>(length);
  const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text, size, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(bytes), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text, size, narrow.data(), bytes, nullptr, nullptr);
  return narrow;
}

std::wstring SystemPath(const std::string& path) {
  std::wstring wide = Wide(path);
  for (wchar_t& c : wide) {
    if (c == L'/') c = L'\\';
  }
  if (wide.size() < kClassicPathLimit || wide.rfind(L"\\\\?\\", 0) == 0 || wide.rfind(L"\\\\.\\", 0) == 0) return wide;
  // \\?\ takes a full path as it stands: "." and ".." are resolved first.
  const DWORD needed = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return wide;
  std::wstring full(needed, L'\0');
  const DWORD length = ::GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
  if (length == 0 || length >= needed) return wide;
  full.resize(length);
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

int ErrnoOf(DWORD error) {
  switch (error) {
    case ERROR_SUCCESS: return 0;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_DRIVE: return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_PRIVILEGE_NOT_HELD: return EACCES;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE: return EBUSY;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
    case ERROR_COMMITMENT_LIMIT: return ENOMEM;
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA: return EPIPE;
    case ERROR_DIRECTORY: return ENOTDIR;
    case ERROR_DIR_NOT_EMPTY: return ENOTEMPTY;
    case ERROR_INVALID_HANDLE: return EBADF;
    case ERROR_FILENAME_EXCED_RANGE: return ENAMETOOLONG;
    case ERROR_NOT_SAME_DEVICE: return EXDEV;
    case ERROR_TOO_MANY_OPEN_FILES: return EMFILE;
    case ERROR_CANT_RESOLVE_FILENAME: return ELOOP;
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_FUNCTION: return ENOSYS;
    case ERROR_INVALID_PARAMETER: return EINVAL;
    case ERROR_FILE_TOO_LARGE: return EFBIG;
  }
  return EIO;
}

bool Fail(int* error) {
  const int number = ErrnoOf(::GetLastError());
  errno = number;
  if (error) *error = number;
  return false;
}

FileTime TimeOf(LARGE_INTEGER time) {
  const int64_t since_1970 = time.QuadPart - kEpochDifference;
  int64_t seconds = since_1970 / kTicksPerSecond;
  int64_t ticks = since_1970 % kTicksPerSecond;
  if (ticks < 0) {
    ticks += kTicksPerSecond;
    --seconds;
  }
  return FileTime{seconds, static_cast<int32_t>(ticks * 100)};
}

LARGE_INTEGER SystemTimeOf(const FileTime& time) {
  LARGE_INTEGER out;
  out.QuadPart = time.seconds * kTicksPerSecond + time.nanoseconds / 100 + kEpochDifference;
  return out;
}

bool IsLinkTag(DWORD tag) { return tag == IO_REPARSE_TAG_SYMLINK || tag == IO_REPARSE_TAG_MOUNT_POINT; }

namespace {

FileType TypeOf(HANDLE handle, DWORD attributes) {
  switch (::GetFileType(handle)) {
    case FILE_TYPE_PIPE: return FileType::kFifo;
    case FILE_TYPE_CHAR: return FileType::kCharacterDevice;
    case FILE_TYPE_DISK: break;
    default: return FileType::kOther;
  }
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    FILE_ATTRIBUTE_TAG_INFO tag;
    if (::GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag) && IsLinkTag(tag.ReparseTag)) {
      return FileType::kSymlink;
    }
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return FileType::kDirectory;
  return FileType::kRegular;
}

}  // namespace

bool StatusOf(HANDLE handle, FileStatus* status) {
  FileStatus s;
  BY_HANDLE_FILE_INFORMATION info;
  if (::GetFileType(handle) != FILE_TYPE_DISK) {
    s.type = TypeOf(handle, 0);
    *status = s;
    return true;
  }
  if (!::GetFileInformationByHandle(handle, &info)) return false;
  s.type = TypeOf(handle, info.dwFileAttributes);
  s.size = static_cast<int64_t>((static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
  // The 128-bit file id where the file system has one (ReFS's ids do not
  // fit in 64 bits); the 64-bit index elsewhere.
  FILE_ID_INFO id;
  if (::GetFileInformationByHandleEx(handle, FileIdInfo, &id, sizeof id)) {
    s.identity.volume = id.VolumeSerialNumber;
    uint64_t halves[2];
    static_assert(sizeof halves == sizeof id.FileId.Identifier);
    std::memcpy(halves, id.FileId.Identifier, sizeof halves);
    s.identity.index[0] = halves[0];
    s.identity.index[1] = halves[1];
  } else {
    s.identity.volume = info.dwVolumeSerialNumber;
    s.identity.index[0] = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  }
  FILE_BASIC_INFO basic;
  if (!::GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic)) return false;
  s.accessed = TimeOf(basic.LastAccessTime);
  s.modified = TimeOf(basic.LastWriteTime);
  s.changed = TimeOf(basic.ChangeTime);
  // The read-only attribute is all there is of the permission bits.
  s.permissions = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
  if (s.type == FileType::kDirectory) s.permissions |= 0111;
  *status = s;
  return true;
}

HANDLE OpenForStatus(const std::string& path, bool follow_link) {
  const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (follow_link ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  return ::CreateFileW(SystemPath(path).c_str(), FILE_READ_ATTRIBUTES,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, flags, nullptr);
}

}  // namespace moravine::windows
