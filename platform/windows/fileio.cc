#include "platform/fileio.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <new>
#include <utility>

#include "platform/filesystem.h"
#include "platform/temp_files.h"
#include "platform/windows/windows_util.h"

namespace moravine {

using windows::Fail;
using windows::Handle;
using windows::Native;
using windows::SystemPath;

namespace {

bool Failed(MappedFile::Failure kind, MappedFile::Failure* failure, int* error) {
  *failure = kind;
  Fail(error);
  return false;
}

// Gives a finished output its times and the input's read-only attribute,
// and takes the hidden attribute of its making away. Failures are not
// fatal: the file keeps the attributes it has.
void FinishAttributes(const File& file, const FileAttributes* attributes) {
  HANDLE h = Handle(file.native());
  FILE_BASIC_INFO basic = {};  // zero times stay as they are
  basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  if (attributes) {
    if ((attributes->permissions & 0222) == 0) basic.FileAttributes = FILE_ATTRIBUTE_READONLY;
    auto filetime = [](const FileTime& time) {
      const LARGE_INTEGER ticks = windows::SystemTimeOf(time);
      return FILETIME{ticks.LowPart, static_cast<DWORD>(ticks.HighPart)};
    };
    const FILETIME accessed = filetime(attributes->accessed);
    const FILETIME modified = filetime(attributes->modified);
    ::SetFileTime(h, nullptr, &accessed, &modified);
  }
  ::SetFileInformationByHandle(h, FileBasicInfo, &basic, sizeof basic);
}

// Creates a hidden file beside the target, exclusively, that nobody else
// may open while it is written (deleting it is shared, so that a forced
// exit can remove it while a job still holds it). It is made in the
// target's folder like any file there, and takes the folder's rights.
File CreateTempIn(const Directory& dir, const std::string& base, std::string* temp_name) {
  static std::atomic<unsigned long> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    *temp_name = TemporaryName(base, static_cast<long>(::GetCurrentProcessId()), counter++);
    HANDLE h = ::CreateFileW(SystemPath(JoinPath(dir.path(), *temp_name)).c_str(), GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_DELETE, nullptr, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (h != INVALID_HANDLE_VALUE) return File(Native(h));
    if (::GetLastError() != ERROR_FILE_EXISTS && ::GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  Fail();
  return File();
}

size_t LastSeparator(const std::string& path) {
  for (size_t i = path.size(); i > 0; --i) {
    if (IsPathSeparator(path[i - 1])) return i - 1;
  }
  return std::string::npos;
}

}  // namespace

std::string ParentDirectory(const std::string& path, std::string* name) {
  const size_t root = RootLength(path);
  size_t slash = LastSeparator(path);
  // "C:name" lies in the current directory of drive C:.
  if (slash == std::string::npos && path.size() > 2 && path[1] == ':') {
    *name = path.substr(2);
    return path.substr(0, 2);
  }
  *name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (slash == std::string::npos) return ".";
  return slash + 1 <= root ? path.substr(0, root) : path.substr(0, slash);
}

MappedFile::~MappedFile() { close(); }

void MappedFile::close() {
  guard_.release();
  if (mapping_) {
    // A view that a fault replaced with zeros is memory of our own now.
    if (guard_.damaged()) {
      ::VirtualFree(mapping_, 0, MEM_RELEASE);
    } else {
      ::UnmapViewOfFile(mapping_);
    }
  }
  guard_.reset();
  file_.close();
  copy_.reset();
  capacity_ = have_ = 0;
  cut_short_ = false;
  mapping_ = nullptr;
  data_ = nullptr;
  size_ = 0;
  mapped_bytes_ = 0;
}

File MappedFile::releaseFile() {
  File file = std::move(file_);
  close();
  return file;
}

void MappedFile::dropPages(int64_t begin, int64_t end) const {
  if (!mapped() || end <= begin) return;
  // Unlocking pages that are not locked takes them out of the working set:
  // they stay in the cache.
  ::VirtualUnlock(const_cast<unsigned char*>(data_ + begin), static_cast<SIZE_T>(end - begin));
}

bool MappedFile::open(const std::string& path, Failure* failure, int* error) {
  close();
  *error = 0;
  // Shared for reading only: nobody may write to the file, cut it short or
  // remove it while it is read. A folder opens too (and is refused by its
  // type); a pipe or device is refused before anything is read from it.
  HANDLE h = ::CreateFileW(SystemPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return Failed(Failure::kOpen, failure, error);
  return mapOpened(File(Native(h)), failure, error);
}

bool MappedFile::openAt(const Directory& dir, const std::string& name, Failure* failure, int* error) {
  close();
  *error = 0;
  // Opened for deletion (the removal deletes through this handle) and, when
  // the file may be written, for writing too, which FlushFileBuffers needs;
  // shared for reading only, so that nobody else writes, renames or removes
  // the file while it is held. A link is opened as itself and refused.
  const std::wstring path = SystemPath(JoinPath(dir.path(), name));
  const DWORD tries[] = {GENERIC_READ | GENERIC_WRITE | DELETE, GENERIC_READ | DELETE};
  HANDLE h = INVALID_HANDLE_VALUE;
  for (DWORD access : tries) {
    h = ::CreateFileW(path.c_str(), access, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h != INVALID_HANDLE_VALUE || ::GetLastError() != ERROR_ACCESS_DENIED) break;
  }
  if (h == INVALID_HANDLE_VALUE) return Failed(Failure::kOpen, failure, error);
  return mapOpened(File(Native(h)), failure, error);
}

bool MappedFile::mapWhole(Failure* failure, int* error) {
  HANDLE section = ::CreateFileMappingW(Handle(file_.native()), nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (!section) return Failed(Failure::kMap, failure, error);
  void* view = ::MapViewOfFile(section, FILE_MAP_READ, 0, 0, static_cast<SIZE_T>(size_));
  ::CloseHandle(section);  // the view keeps it
  if (!view) return Failed(Failure::kMap, failure, error);
  copy_.reset();
  capacity_ = have_ = 0;
  mapping_ = view;
  mapped_bytes_ = static_cast<size_t>(size_);
  data_ = static_cast<const unsigned char*>(view);
  guard_.watch(view, mapped_bytes_);
  return true;
}

// Reads at an offset: the handle's own position is not relied on.
int64_t MappedFile::readAt(int64_t offset, unsigned char* into, int64_t length, int* error) const {
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(static_cast<uint64_t>(offset) & 0xFFFFFFFFu);
  at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
  DWORD n = 0;
  if (::ReadFile(Handle(file_.native()), into, static_cast<DWORD>(length), &n, &at)) return n;
  if (::GetLastError() == ERROR_HANDLE_EOF) return 0;
  Fail(error);
  return -1;
}

bool MappedFile::changed() const {
  if (guard_.damaged() || cut_short_) return true;
  if (!file_.valid()) return false;
  FileStatus now;
  if (!file_.status(&now)) return true;
  return now.size != status_.size || now.modified != status_.modified;
}

bool PendingFile::create(const std::string& path, const FileAttributes* attributes, int* error) {
  discard();
  *error = 0;
  const bool opened = dir_.open(ParentDirectory(path, &target_), error);
  if (opened) file_ = CreateTempIn(dir_, target_, &temp_name_);
  if (!file_.valid()) {
    if (opened) *error = errno;
    discard();
    return false;
  }
  temp_ = JoinPath(dir_.path(), temp_name_);
  RegisterTemporaryFile(temp_);
  has_attributes_ = attributes != nullptr;
  if (attributes) attributes_ = *attributes;
  return true;
}

bool PendingFile::finish(bool ok, bool damaged, int* error) {
  if (!file_.valid()) {
    *error = EBADF;
    return false;
  }
  if (ok) FinishAttributes(file_, has_attributes_ ? &attributes_ : nullptr);
  ok = file_.close(error) && ok;
  if (ok && damaged) {
    errno = EIO;
    ok = false;
  }
  // Written through to disk before the call returns, the rename included.
  ok = ok && (::MoveFileExW(SystemPath(temp_).c_str(), SystemPath(JoinPath(dir_.path(), target_)).c_str(),
                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ||
              Fail());
  if (ok) {
    // In place: nothing is left to remove.
    ForgetTemporaryFile(temp_);
    temp_.clear();
    temp_name_.clear();
  } else {
    *error = errno;
  }
  discard();
  return ok;
}

void PendingFile::discard() {
  file_.close();
  if (!temp_name_.empty() && dir_.valid()) dir_.removeEntry(temp_name_);
  if (!temp_.empty()) ForgetTemporaryFile(temp_);
  temp_.clear();
  temp_name_.clear();
  dir_ = Directory();
}

bool MappedOutput::create(const std::string& path, int64_t size, WriteFailure* failure, int* error,
                          const FileAttributes* attributes) {
  abort();
  if (!file_.create(path, attributes, error)) {
    *failure = WriteFailure::kCreate;
    return false;
  }
  size_ = size;
  HANDLE h = Handle(file_.file().native());
  // Setting the end of the file takes its space on NTFS: writing through
  // the mapping then cannot fail for want of it.
  FILE_END_OF_FILE_INFO end;
  end.EndOfFile.QuadPart = size;
  if (::SetFileInformationByHandle(h, FileEndOfFileInfo, &end, sizeof end)) {
    HANDLE section = ::CreateFileMappingW(h, nullptr, PAGE_READWRITE, 0, 0, nullptr);
    void* view = section ? ::MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, static_cast<SIZE_T>(size)) : nullptr;
    if (section) ::CloseHandle(section);
    if (view) {
      data_ = static_cast<unsigned char*>(view);
      guard_.watch(data_, static_cast<size_t>(size));
      return true;
    }
  }
  *failure = WriteFailure::kWrite;
  Fail(error);
  abort();
  return false;
}

bool MappedOutput::commit(int64_t length, WriteFailure* failure, int* error) {
  *failure = WriteFailure::kWrite;
  guard_.release();
  // A fault (a disk error) put zeros where the bytes were: not kept.
  const bool damaged = guard_.damaged();
  bool ok = damaged ? ::VirtualFree(data_, 0, MEM_RELEASE) : ::UnmapViewOfFile(data_);
  data_ = nullptr;
  FILE_END_OF_FILE_INFO end;
  end.EndOfFile.QuadPart = length;
  ok = ok && ::SetFileInformationByHandle(Handle(file_.file().native()), FileEndOfFileInfo, &end, sizeof end);
  if (!ok) Fail();
  return file_.finish(ok, damaged, error);
}

void MappedOutput::abort() {
  guard_.release();
  if (data_) {
    if (guard_.damaged()) {
      ::VirtualFree(data_, 0, MEM_RELEASE);
    } else {
      ::UnmapViewOfFile(data_);
    }
  }
  guard_.reset();
  data_ = nullptr;
  file_.discard();
}

bool StreamedOutput::write(const unsigned char* data, int64_t length, int* error) {
  if (!file_.file().valid()) {
    *error = EBADF;
    return false;
  }
  HANDLE h = Handle(file_.file().native());
  int64_t done = 0;
  while (done < length) {
    const int64_t left = length - done;
    DWORD n = 0;
    if (!::WriteFile(h, data + done, static_cast<DWORD>(left > (1 << 30) ? (1 << 30) : left), &n, nullptr)) {
      return Fail(error);
    }
    done += n;
  }
  return true;
}

}  // namespace moravine
