// The POSIX implementation's own helpers: file status records from struct
// stat, and descriptors in NativeHandle form.
#ifndef MORAVINE_PLATFORM_POSIX_POSIX_STATUS_H_
#define MORAVINE_PLATFORM_POSIX_POSIX_STATUS_H_

#include <sys/stat.h>
#include <time.h>

#include "platform/file.h"
#include "platform/file_status.h"

namespace moravine::posix {

inline int Fd(NativeHandle handle) { return static_cast<int>(handle); }

inline FileTime TimeOf(const struct timespec& t) { return FileTime{t.tv_sec, static_cast<int32_t>(t.tv_nsec)}; }

inline struct timespec TimespecOf(const FileTime& t) {
  struct timespec out = {};
  out.tv_sec = static_cast<time_t>(t.seconds);
  out.tv_nsec = t.nanoseconds;
  return out;
}

FileType TypeOf(mode_t mode);
FileStatus StatusOf(const struct stat& st);

}  // namespace moravine::posix

#endif  // MORAVINE_PLATFORM_POSIX_POSIX_STATUS_H_
