#include "platform/filesystem.h"

#include <cerrno>
#include <cwctype>

#include "platform/file.h"
#include "platform/windows/windows_util.h"

namespace moravine {

using windows::SystemPath;

namespace {

// Fills the kinds of an entry from its attributes and reparse tag; a link
// is looked through to tell what it leads to.
void Classify(const std::string& path, DWORD attributes, DWORD tag, DirEntry* entry) {
  const bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) && windows::IsLinkTag(tag);
  entry->is_symlink = link;
  entry->is_directory = !link && (attributes & FILE_ATTRIBUTE_DIRECTORY);
  entry->is_regular = !link && !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE));
  entry->is_link_to_directory = false;
  if (!link) return;
  FileStatus target;
  if (PathStatus(path, true, &target)) {
    entry->is_link_to_directory = target.type == FileType::kDirectory;
    entry->is_regular = target.type == FileType::kRegular;
  }
}

std::string LastName(const std::string& path) {
  size_t end = path.size();
  while (end > RootLength(path) && IsPathSeparator(path[end - 1])) --end;
  size_t start = end;
  while (start > 0 && !IsPathSeparator(path[start - 1])) --start;
  return path.substr(start, end - start);
}

}  // namespace

bool SystemFileSystem::enumerate(const std::string& dir, std::vector<DirEntry>* entries) {
  entries->clear();
  WIN32_FIND_DATAW found;
  HANDLE find = ::FindFirstFileExW(SystemPath(JoinPath(dir, "*")).c_str(), FindExInfoBasic, &found,
                                   FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (find == INVALID_HANDLE_VALUE) return false;
  for (;;) {
    const std::wstring name = found.cFileName;
    if (name != L"." && name != L"..") {
      DirEntry entry;
      entry.name = windows::Utf8(name);
      Classify(JoinPath(dir, entry.name), found.dwFileAttributes, found.dwReserved0, &entry);
      entries->push_back(std::move(entry));
    }
    if (!::FindNextFileW(find, &found)) break;
  }
  // Anything but the end of the listing means that it broke off.
  const bool whole = ::GetLastError() == ERROR_NO_MORE_FILES;
  ::FindClose(find);
  return whole;
}

bool SystemFileSystem::describe(const std::string& path, DirEntry* entry) {
  HANDLE h = windows::OpenForStatus(path, false);
  if (h == INVALID_HANDLE_VALUE) return false;
  FILE_ATTRIBUTE_TAG_INFO info;
  const bool ok = ::GetFileInformationByHandleEx(h, FileAttributeTagInfo, &info, sizeof info);
  ::CloseHandle(h);
  if (!ok) return false;
  entry->name = LastName(path);
  Classify(path, info.FileAttributes, info.ReparseTag, entry);
  return true;
}

bool SystemFileSystem::exists(const std::string& path) {
  return ::GetFileAttributesW(SystemPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

long long SystemFileSystem::fileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExW(SystemPath(path).c_str(), GetFileExInfoStandard, &data)) return -1;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    // A link: what it leads to counts.
    FileStatus st;
    return PathStatus(path, true, &st) && st.type == FileType::kRegular ? st.size : -1;
  }
  if (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) return -1;
  return static_cast<long long>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

bool SystemFileSystem::remove(const std::string& path) { return RemoveFile(path); }

std::string JoinPath(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  if (IsPathSeparator(dir.back()) || (dir.size() == 2 && dir[1] == ':')) return dir + name;
  return dir + "\\" + name;
}

size_t RootLength(const std::string& path) {
  auto separator = [&path](size_t i) { return i < path.size() && IsPathSeparator(path[i]); };
  // \\?\C:\ and \\?\UNC\server\share\: the prefix, then as below.
  if (path.size() >= 4 && separator(0) && separator(1) && (path[2] == '?' || path[2] == '.') && separator(3)) {
    const std::string rest = path.substr(4);
    if (rest.size() >= 4 && (rest.compare(0, 3, "UNC") == 0 || rest.compare(0, 3, "unc") == 0) && separator(7)) {
      const size_t share = RootLength("\\\\" + rest.substr(4));
      return share == 0 ? 0 : share + 6;
    }
    const size_t inner = RootLength(rest);
    return inner == 0 ? 0 : inner + 4;
  }
  // \\server\share\ .
  if (separator(0) && separator(1)) {
    size_t i = 2;
    for (int part = 0; part < 2; ++part) {
      const size_t from = i;
      while (i < path.size() && !separator(i)) ++i;
      if (i == from) return 0;
      if (i < path.size()) ++i;
    }
    return i;
  }
  // C:\ .
  if (path.size() >= 3 && std::iswalpha(static_cast<wint_t>(path[0])) && path[1] == ':' && separator(2)) return 3;
  return 0;
}

std::string AbsolutePath(const std::string& path) {
  const std::wstring wide = windows::Wide(path);
  const DWORD needed = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return path;
  std::wstring full(needed, L'\0');
  const DWORD length = ::GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
  if (length == 0 || length >= needed) return path;
  full.resize(length);
  std::string out = windows::Utf8(full);
  while (out.size() > RootLength(out) && IsPathSeparator(out.back())) out.pop_back();
  return out;
}

std::vector<std::string> FileSystemRoots() {
  std::vector<std::string> roots;
  const DWORD drives = ::GetLogicalDrives();
  for (int i = 0; i < 26; ++i) {
    if (drives & (1u << i)) roots.push_back(std::string(1, static_cast<char>('A' + i)) + ":\\");
  }
  return roots;
}

}  // namespace moravine
