// The system's files as the platform interface gives them: identities that
// follow the file rather than the name, change times that nobody can put
// back, directory locks that exclude each other, error numbers of missing
// entries, and the console's requests to stop.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "platform/console.h"
#include "platform/file.h"
#include "platform/temp_files.h"

namespace platformtest {
namespace {

namespace fs = std::filesystem;
using namespace moravine;

class Files : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string name = (fs::temp_directory_path() / "moravine-files-XXXXXX").string();
    ASSERT_NE(::mkdtemp(name.data()), nullptr);
    dir_ = name;
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  FileStatus status(const std::string& name) {
    FileStatus st;
    EXPECT_TRUE(PathStatus(path(name), false, &st)) << name;
    return st;
  }
  std::string dir_;
};

TEST_F(Files, IdentityFollowsTheFileNotTheName) {
  std::ofstream(path("a")) << "text";
  fs::create_hard_link(path("a"), path("hard"));
  fs::copy_file(path("a"), path("copy"));
  const FileStatus a = status("a");
  EXPECT_EQ(a.type, FileType::kRegular);
  EXPECT_EQ(a.size, 4);
  EXPECT_EQ(status("hard").identity, a.identity);
  EXPECT_NE(status("copy").identity, a.identity);
  EXPECT_EQ(status("copy").identity.volume, a.identity.volume);

  Directory dir;
  ASSERT_TRUE(dir.open(dir_));
  File open_file(static_cast<NativeHandle>(::open(path("a").c_str(), O_RDONLY)));
  fs::rename(path("a"), path("renamed"));
  FileStatus by_entry, by_file;
  ASSERT_TRUE(dir.entryStatus("renamed", &by_entry));
  ASSERT_TRUE(open_file.status(&by_file));
  EXPECT_EQ(by_entry.identity, a.identity);
  EXPECT_EQ(by_file.identity, a.identity);

  fs::create_symlink("renamed", path("link"));
  FileStatus link, target;
  ASSERT_TRUE(dir.entryStatus("link", &link));
  ASSERT_TRUE(PathStatus(path("link"), true, &target));
  EXPECT_EQ(link.type, FileType::kSymlink) << "an entry's link is not followed";
  EXPECT_EQ(target.identity, a.identity);
}

TEST_F(Files, TheChangeTimeMovesEvenWhenTheModificationTimeIsPutBack) {
  std::ofstream(path("f")) << "text";
  const FileStatus before = status("f");
  std::this_thread::sleep_for(std::chrono::milliseconds(30));  // past the clock's coarse steps
  std::ofstream(path("f"), std::ios::app) << "more";
  fs::last_write_time(path("f"), fs::last_write_time(path("f")) - std::chrono::hours(1));
  const FileStatus after = status("f");
  EXPECT_NE(after.modified, before.modified);
  EXPECT_GT(after.changed, before.changed);
  EXPECT_LE(after.changed.seconds, CurrentTime().seconds);
}

TEST_F(Files, MissingEntriesGiveTheirErrorNumberAndRemovedOnesAreGone) {
  Directory dir;
  int error = 0;
  EXPECT_FALSE(dir.open(path("none"), &error));
  EXPECT_EQ(error, ENOENT);
  ASSERT_TRUE(dir.open(dir_));
  FileStatus st;
  EXPECT_FALSE(dir.entryStatus("none", &st, &error));
  EXPECT_EQ(error, ENOENT);
  std::ofstream(path("doomed")) << "x";
  ASSERT_TRUE(dir.removeEntry("doomed", &error));
  EXPECT_FALSE(fs::exists(path("doomed")));
  EXPECT_FALSE(dir.removeEntry("doomed", &error));
  EXPECT_EQ(error, ENOENT);
  EXPECT_FALSE(RemoveFile(path("doomed"), &error));
  EXPECT_EQ(error, ENOENT);
}

TEST_F(Files, ADirectoryLockWaitsForTheOtherHolder) {
  Directory first, second;  // opened apart, as two processes open it
  ASSERT_TRUE(first.open(dir_));
  ASSERT_TRUE(second.open(dir_));
  std::atomic<bool> taken{false};
  std::thread other;
  {
    DirectoryLock held(first);
    other = std::thread([&] {
      DirectoryLock lock(second);
      taken = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(taken.load()) << "the second lock waits";
  }
  other.join();
  EXPECT_TRUE(taken.load());
}

TEST_F(Files, AFileOfTheUsersOwnIsEmptiedAndNoOtherIsTouched) {
  std::ofstream(path("log")) << "old lines";
  FILE* log = CreateOwnFile(dir_, "log");
  ASSERT_NE(log, nullptr);
  std::fputs("new", log);
  std::fclose(log);
  std::ifstream in(path("log"));
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "new");
  fs::create_symlink(path("log"), path("planted"));
  EXPECT_EQ(CreateOwnFile(dir_, "planted"), nullptr);
  fs::create_hard_link(path("log"), path("twice"));
  EXPECT_EQ(CreateOwnFile(dir_, "twice"), nullptr);
  EXPECT_EQ(fs::file_size(path("log")), 3u) << "a refused name is not emptied";
}

// A child process: the first request to stop reaches the callback, and the
// program ends after the grace with the request's status, its temporary
// files removed; a second request ends it at once.
int StoppedChild(int signals, int grace_milliseconds, const std::string& temporary) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    static std::atomic<int> seen{0};
    WatchStopRequests([](StopCause cause) { seen = static_cast<int>(cause); }, grace_milliseconds);
    std::ofstream(temporary) << "being written";
    RegisterTemporaryFile(temporary);
    for (int i = 0; i < signals; ++i) {
      ::kill(::getpid(), SIGTERM);
      while (seen.load() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));  // work that never looks at the flag
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(Files, ARequestToStopEndsWorkThatGoesOnWithItsStatusAndNoTemporaryFile) {
  EXPECT_EQ(StopExitStatus(StopCause::kInterrupt), 128 + SIGINT);
  EXPECT_EQ(StopExitStatus(StopCause::kClosedOutput), 128 + SIGPIPE);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(StoppedChild(1, 300, path("one")), 128 + SIGTERM);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300)) << "not before the grace";
  EXPECT_FALSE(fs::exists(path("one")));
  EXPECT_EQ(StoppedChild(2, 60000, path("two")), 128 + SIGTERM) << "a second request ends it at once";
  EXPECT_FALSE(fs::exists(path("two")));
}

}  // namespace
}  // namespace platformtest
