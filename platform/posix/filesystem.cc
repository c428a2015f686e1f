#include "platform/filesystem.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/file.h"

namespace moravine {

bool SystemFileSystem::enumerate(const std::string& dir, std::vector<DirEntry>* entries) {
  entries->clear();
  std::unique_ptr<DIR, int (*)(DIR*)> d(::opendir(dir.c_str()), ::closedir);
  if (!d) return false;
  for (;;) {
    errno = 0;
    dirent* e = ::readdir(d.get());
    if (!e) {
      if (errno != 0) return false;  // the listing broke off
      break;
    }
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    DirEntry entry;
    entry.name = e->d_name;
    // The entry's type comes with the listing on most file systems, which
    // spares a status call per file in large folders.
    if (e->d_type == DT_DIR || e->d_type == DT_REG) {
      entry.is_directory = e->d_type == DT_DIR;
      entry.is_regular = e->d_type == DT_REG;
      entries->push_back(std::move(entry));
      continue;
    }
    if (!SystemFileSystem::describe(JoinPath(dir, entry.name), &entry)) continue;
    entries->push_back(std::move(entry));
  }
  return true;
}

bool SystemFileSystem::describe(const std::string& path, DirEntry* entry) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return false;
  std::string::size_type slash = path.rfind('/');
  entry->name = slash == std::string::npos ? path : path.substr(slash + 1);
  entry->is_directory = S_ISDIR(st.st_mode);
  entry->is_regular = S_ISREG(st.st_mode);
  entry->is_symlink = S_ISLNK(st.st_mode);
  entry->is_link_to_directory = false;
  struct stat target;
  if (entry->is_symlink && ::stat(path.c_str(), &target) == 0) {
    entry->is_link_to_directory = S_ISDIR(target.st_mode);
    entry->is_regular = S_ISREG(target.st_mode);
  }
  return true;
}

bool SystemFileSystem::exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

long long SystemFileSystem::fileSize(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return static_cast<long long>(st.st_size);
}

bool SystemFileSystem::remove(const std::string& path) { return ::unlink(path.c_str()) == 0; }

std::string JoinPath(const std::string& dir, const std::string& name) {
  if (!dir.empty() && dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

size_t RootLength(const std::string& path) { return !path.empty() && path[0] == '/' ? 1 : 0; }

std::string AbsolutePath(const std::string& path) {
  std::string full = path;
  if (full.empty() || full[0] != '/') {
    const std::string cwd = CurrentDirectory();
    if (cwd.empty()) return path;
    full = cwd + "/" + path;
  }
  std::vector<std::string> parts;
  size_t pos = 0;
  while (pos <= full.size()) {
    size_t slash = full.find('/', pos);
    if (slash == std::string::npos) slash = full.size();
    std::string name = full.substr(pos, slash - pos);
    if (name == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!name.empty() && name != ".") {
      parts.push_back(name);
    }
    pos = slash + 1;
  }
  std::string out;
  for (const auto& p : parts) out += "/" + p;
  return out.empty() ? std::string("/") : out;
}

std::vector<std::string> FileSystemRoots() { return {"/"}; }

}  // namespace moravine
