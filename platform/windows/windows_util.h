// The Windows implementation's own helpers: UTF-8 and UTF-16, paths for the
// wide API, error numbers from the system's error codes, file times, and
// file status records from open handles.
#ifndef MORAVINE_PLATFORM_WINDOWS_WINDOWS_UTIL_H_
#define MORAVINE_PLATFORM_WINDOWS_WINDOWS_UTIL_H_

#include <windows.h>

#include <string>

#include "platform/file.h"
#include "platform/file_status.h"

namespace moravine::windows {

// UTF-8 to UTF-16 and back; bytes that are not UTF-8 become U+FFFD.
std::wstring Wide(const std::string& text);
std::string Utf8(const wchar_t* text, size_t length);
inline std::string Utf8(const std::wstring& text) { return Utf8(text.data(), text.size()); }

// A path for the wide API: separators as backslashes, and an absolute
// path longer than the classic limit prefixed with \\?\ (\\?\UNC\ for a
// share), which lifts the limit.
std::wstring SystemPath(const std::string& path);

// The C library's error number for a system error code (ENOENT for
// ERROR_FILE_NOT_FOUND, ...; EIO for what has none).
int ErrnoOf(DWORD error);
// Sets errno (and *error when given) from GetLastError(); returns false.
bool Fail(int* error = nullptr);

inline HANDLE Handle(NativeHandle handle) { return reinterpret_cast<HANDLE>(handle); }
inline NativeHandle Native(HANDLE handle) { return reinterpret_cast<NativeHandle>(handle); }

// 100-ns intervals since 1601 and seconds since 1970.
FileTime TimeOf(LARGE_INTEGER time);
LARGE_INTEGER SystemTimeOf(const FileTime& time);

// The status of an open file; false with GetLastError() set.
bool StatusOf(HANDLE handle, FileStatus* status);

// Opens `path` for its attributes only, which no sharing mode refuses; a
// final link is followed or not. INVALID_HANDLE_VALUE on failure.
HANDLE OpenForStatus(const std::string& path, bool follow_link);

// Whether a reparse point of this tag is a link (symbolic link or
// junction) rather than a file kept elsewhere (a cloud file, say).
bool IsLinkTag(DWORD tag);

}  // namespace moravine::windows

#endif  // MORAVINE_PLATFORM_WINDOWS_WINDOWS_UTIL_H_
