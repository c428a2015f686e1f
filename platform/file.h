// Open files and directories, and the file operations that the outputs, the
// removal and the front ends need, beyond mapping and writing whole files
// (fileio.h). Errors are given as the C library's error numbers (ENOENT,
// EACCES, ...), which every implementation maps its own codes to.
#ifndef MORAVINE_PLATFORM_FILE_H_
#define MORAVINE_PLATFORM_FILE_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/file_status.h"

namespace moravine {

// The system's own name for an open file: a descriptor, or a handle.
using NativeHandle = intptr_t;
constexpr NativeHandle kNoHandle = -1;

// An open file (or directory), closed when dropped.
class File {
 public:
  File() = default;
  explicit File(NativeHandle handle) : handle_(handle) {}
  ~File() { close(); }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  File(File&& other) noexcept : handle_(other.release()) {}
  File& operator=(File&& other) noexcept;

  bool valid() const { return handle_ != kNoHandle; }
  NativeHandle native() const { return handle_; }
  // Gives the handle up to the caller, who closes it.
  NativeHandle release();
  // False, with *error set, when closing reports a failure (of a write
  // not yet on disk, say).
  bool close(int* error = nullptr);

  // The open file's status as it is now; false with *error set.
  bool status(FileStatus* status, int* error = nullptr) const;
  // Puts the file's data and attributes on disk.
  bool sync(int* error = nullptr) const;
  // Puts everything written to the file system that holds the file on
  // disk: one call serves many files there. Fails when a write there since
  // the file was opened failed. Where that takes rights that a user lacks
  // (Windows: a volume's flush is the administrator's), this file alone is
  // flushed; FileSystemSyncCoversAll() tells which.
  bool syncFileSystem(int* error = nullptr) const;

  // Keeps other programs from writing to the file, opened for reading,
  // until letWritersIn(): one that opens it for writing or cuts it waits
  // meanwhile. Refused (kOpenForWriting) while another program has it
  // open for writing; kUnsupported where the system or the file system
  // cannot, or the user may not (then nothing is held).
  enum class WriterHold { kHeld, kOpenForWriting, kUnsupported };
  WriterHold holdOffWriters() const;
  void letWritersIn() const;

 private:
  NativeHandle handle_ = kNoHandle;
};

// An open directory, whose entries are worked on by name: their names keep
// leading into it, whatever happens to the path it was opened by.
//
// On Windows, where entries are worked on through the directory's path, the
// directory is held open without sharing deletion: while it is open nobody
// can rename it or a folder above it, so that the path keeps leading to it.
class Directory {
 public:
  bool open(const std::string& path, int* error = nullptr);
  bool valid() const { return file_.valid(); }
  const File& file() const { return file_; }
  const std::string& path() const { return path_; }

  // The entry `name` itself, a symbolic link not followed; false with
  // *error set (ENOENT when there is no such entry).
  bool entryStatus(const std::string& name, FileStatus* status, int* error = nullptr) const;
  bool removeEntry(const std::string& name, int* error = nullptr) const;
  // Removes the entry `name`, which the caller has checked to lead to
  // `*opened`, an open file got from MappedFile::openAt on this directory;
  // once it returns true the name is gone. On Windows the file is removed
  // through that handle itself (opened for deletion, without sharing it),
  // so that no other file can have taken the name in between, and the
  // handle is closed: a name marked for deletion goes with the file's last
  // handle. Elsewhere `*opened` stays open.
  bool removeOpenedEntry(const std::string& name, File* opened, int* error = nullptr) const;

 private:
  File file_;
  std::string path_;
};

// An advisory lock on a directory, held for the lifetime of the object,
// which every Moravine process takes before it works on the same entries.
// A directory that cannot be locked is worked on without it. (POSIX: flock
// on the directory; Windows: a named mutex whose name holds the
// directory's identity, owned by the thread that takes the lock.)
class DirectoryLock {
 public:
  explicit DirectoryLock(const Directory& directory);
  ~DirectoryLock();
  DirectoryLock(const DirectoryLock&) = delete;
  DirectoryLock& operator=(const DirectoryLock&) = delete;

 private:
  NativeHandle handle_ = kNoHandle;
};

// Whether File::syncFileSystem puts all of a file system's writes on disk
// rather than its own file's alone.
bool FileSystemSyncCoversAll();

// The status of `path`; a final symbolic link is followed or not. False
// with *error set.
bool PathStatus(const std::string& path, bool follow_link, FileStatus* status, int* error = nullptr);
// Removes a file by name; false with *error set.
bool RemoveFile(const std::string& path, int* error = nullptr);
// Reads a whole file into *bytes; false with *error set.
bool ReadWholeFile(const std::string& path, std::string* bytes, int* error);

// Creates folder/name, or empties the file there, and opens it for
// writing, unbuffered. Refuses (null, errno set) when the folder is not
// writable, or when the name holds anything but a regular file that
// belongs to the user and has no other name (a symbolic link, a hard link
// to another file, a pipe, another user's file): then nothing is touched.
FILE* CreateOwnFile(const std::string& folder, const std::string& name);

// Opens a file by a UTF-8 name with fopen's modes ("w", "rb", ...); null
// with errno set.
FILE* OpenStream(const std::string& path, const char* mode);

// How many files the process may hold open at once; 0 when that is
// unlimited or unknown.
size_t OpenFileLimit();
// The time now, on the clock of file times.
FileTime CurrentTime();
// The current working directory; empty when it cannot be had.
std::string CurrentDirectory();
// The directory of the running program; empty when it cannot be had.
std::string ProgramDirectory();

}  // namespace moravine

#endif  // MORAVINE_PLATFORM_FILE_H_
