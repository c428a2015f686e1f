// An editor that rewrites a file in place and sets its times back, as
// rsync --inplace -t does: only the file's change time tells.
#ifndef MORAVINE_TESTS_SHELL_EDIT_IN_PLACE_H_
#define MORAVINE_TESTS_SHELL_EDIT_IN_PLACE_H_

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace shelltest {

// Flips a bit of the file's first byte.
inline void EditInPlace(const std::string& path) {
  struct stat before;
  ASSERT_EQ(::stat(path.c_str(), &before), 0) << path;
  const int fd = ::open(path.c_str(), O_RDWR);
  ASSERT_GE(fd, 0) << path;
  char first = 0;
  EXPECT_EQ(::pread(fd, &first, 1, 0), 1);
  first ^= 0x20;
  EXPECT_EQ(::pwrite(fd, &first, 1, 0), 1);
  const struct timespec times[2] = {before.st_atim, before.st_mtim};
  EXPECT_EQ(::futimens(fd, times), 0);
  ::close(fd);
  struct stat after;
  ASSERT_EQ(::stat(path.c_str(), &after), 0);
  ASSERT_EQ(after.st_size, before.st_size);
  ASSERT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
}

}  // namespace shelltest

#endif  // MORAVINE_TESTS_SHELL_EDIT_IN_PLACE_H_
