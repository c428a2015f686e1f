// The file system as the batch core and the jobs see it: an interface that
// tests replace, and the system's own implementation of it.
#ifndef MORAVINE_PLATFORM_FILESYSTEM_H_
#define MORAVINE_PLATFORM_FILESYSTEM_H_

#include <string>
#include <vector>

namespace moravine {

struct DirEntry {
  std::string name;
  bool is_directory = false;  // a real directory, not a link to one
  bool is_link_to_directory = false;
  bool is_regular = false;  // a regular file, or a link to one
  bool is_symlink = false;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // Every entry of the directory but "." and "..", hidden ones included, in
  // the order the file system gives; false when it cannot be read.
  virtual bool enumerate(const std::string& dir, std::vector<DirEntry>* entries) = 0;
  // The entry that a listing of its directory would give for `path`, found
  // by looking at that path alone; false when there is none.
  virtual bool describe(const std::string& path, DirEntry* entry) = 0;
  // Whether a file or directory of that path exists.
  virtual bool exists(const std::string& path) = 0;
  // Size of a regular file (links followed), or -1 for anything else.
  virtual long long fileSize(const std::string& path) = 0;
  // Removes a file; false with errno set on failure.
  virtual bool remove(const std::string& path) = 0;
};

class SystemFileSystem : public FileSystem {
 public:
  bool enumerate(const std::string& dir, std::vector<DirEntry>* entries) override;
  bool describe(const std::string& path, DirEntry* entry) override;
  bool exists(const std::string& path) override;
  long long fileSize(const std::string& path) override;
  bool remove(const std::string& path) override;
};

// The separator that the program puts between the names of a path; on
// Windows either slash is read as one.
#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif
inline bool IsPathSeparator(char c) { return c == '/' || (kPathSeparator == '\\' && c == '\\'); }

// dir + separator + name, without doubling the separator after the root.
std::string JoinPath(const std::string& dir, const std::string& name);

// The length of the root that begins an absolute path ("/"; on Windows
// "C:\\" or "\\\\server\\share\\"); 0 for a relative path.
size_t RootLength(const std::string& path);

// An absolute path with "." and ".." resolved by name, without following
// links, in the system's own form (on Windows with backslashes); the path
// as given when the current directory cannot be had.
std::string AbsolutePath(const std::string& path);

// The roots of the file tree: "/", or on Windows one "X:\\" per drive.
std::vector<std::string> FileSystemRoots();

}  // namespace moravine

#endif  // MORAVINE_PLATFORM_FILESYSTEM_H_
