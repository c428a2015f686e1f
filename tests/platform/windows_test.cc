// The platform interface on Windows (run under Wine by the cross build):
// identities and change times from handles, share modes that keep writers
// out of what is read, hidden outputs that take the input's times and
// read-only attribute, a guard that turns a failed page-in of a view into
// zeros, removal through the handle that was checked, locks that exclude
// each other, and paths of either slash, beyond MAX_PATH and in any script.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>

#include "platform/console.h"
#include "platform/file.h"
#include "platform/fileio.h"
#include "platform/filesystem.h"
#include "platform/system_search_host.h"
#include "platform/temp_files.h"

namespace platformtest {
namespace {

namespace fs = std::filesystem;
using namespace moravine;

std::wstring W(const std::string& utf8) {
  std::wstring wide(utf8.size(), L'\0');
  wide.resize(static_cast<size_t>(::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                                        wide.data(), static_cast<int>(wide.size()))));
  return wide;
}
fs::path P(const std::string& utf8) { return fs::path(W(utf8)); }
std::string U8(const fs::path& path) {
  const std::wstring wide = path.wstring();
  std::string utf8(wide.size() * 3, '\0');
  utf8.resize(static_cast<size_t>(::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                                        utf8.data(), static_cast<int>(utf8.size()), nullptr,
                                                        nullptr)));
  return utf8;
}

// A handle of another program's: opened with the given access and sharing.
HANDLE OpenOther(const std::string& path, DWORD access, DWORD share) {
  return ::CreateFileW(W(path).c_str(), access, share, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

class WindowsFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    std::mt19937_64 random{std::random_device{}()};
    const fs::path base = fs::temp_directory_path() / ("moravine-win-" + std::to_string(random() % 1000000000));
    ASSERT_TRUE(fs::create_directory(base));
    dir_ = AbsolutePath(U8(base));
  }
  void TearDown() override { fs::remove_all(P(dir_)); }
  std::string path(const std::string& name) const { return JoinPath(dir_, name); }
  void write(const std::string& name, const std::string& bytes) {
    std::ofstream(P(path(name)), std::ios::binary) << bytes;
  }
  std::string read(const std::string& name) {
    std::string bytes;
    int error = 0;
    EXPECT_TRUE(ReadWholeFile(path(name), &bytes, &error)) << name << ": " << error;
    return bytes;
  }
  FileStatus status(const std::string& name) {
    FileStatus st;
    EXPECT_TRUE(PathStatus(path(name), false, &st)) << name;
    return st;
  }
  std::string dir_;
};

TEST_F(WindowsFiles, IdentityFollowsTheFileAndTheChangeTimeCannotBePutBack) {
  write("a", "text");
  ASSERT_TRUE(::CreateHardLinkW(W(path("hard")).c_str(), W(path("a")).c_str(), nullptr));
  ASSERT_TRUE(::CopyFileW(W(path("a")).c_str(), W(path("copy")).c_str(), TRUE));
  const FileStatus a = status("a");
  EXPECT_EQ(a.type, FileType::kRegular);
  EXPECT_EQ(a.size, 4);
  EXPECT_EQ(status("hard").identity, a.identity);
  EXPECT_NE(status("copy").identity, a.identity);
  EXPECT_EQ(status("copy").identity.volume, a.identity.volume);
  ASSERT_TRUE(::MoveFileW(W(path("a")).c_str(), W(path("renamed")).c_str()));
  EXPECT_EQ(status("renamed").identity, a.identity);
  EXPECT_EQ(status(".").type, FileType::kDirectory);

  // A write whose author sets the modification time back still shows.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  HANDLE h = OpenOther(path("renamed"), GENERIC_WRITE | FILE_WRITE_ATTRIBUTES, 0);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD n = 0;
  ASSERT_TRUE(::WriteFile(h, "T", 1, &n, nullptr));
  FILETIME modified;
  const LONGLONG ticks = a.modified.seconds * 10000000LL + a.modified.nanoseconds / 100 + 116444736000000000LL;
  modified.dwLowDateTime = static_cast<DWORD>(ticks);
  modified.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  ASSERT_TRUE(::SetFileTime(h, nullptr, nullptr, &modified));
  ::CloseHandle(h);
  const FileStatus after = status("renamed");
  EXPECT_EQ(after.modified, a.modified);
  EXPECT_NE(after.changed, a.changed);

  FileStatus missing;
  int error = 0;
  EXPECT_FALSE(PathStatus(path("nothing"), false, &missing, &error));
  EXPECT_EQ(error, ENOENT);
  EXPECT_TRUE(RemoveFile(path("copy")));
  EXPECT_FALSE(PathStatus(path("copy"), false, &missing, &error));
}

// First bytes, then more, then all: the reads go on where the last ended,
// and a large file ends up mapped.
TEST_F(WindowsFiles, FirstBytesThenTheRestGiveTheWholeFile) {
  constexpr auto kWhole = static_cast<size_t>(MappedFile::kReadWholeBytes);
  for (size_t size : {size_t{10}, size_t{1001}, kWhole + 1}) {
    const std::string name = "p" + std::to_string(size);
    std::string text(size, 'a');
    for (size_t i = 0; i < size; ++i) text[i] = static_cast<char>('a' + i * 7 % 26);
    write(name, text);
    MappedFile file;
    MappedFile::Failure failure;
    int error = 0;
    ASSERT_TRUE(file.open(path(name), &failure, &error, 1000));
    ASSERT_EQ(file.available(), std::min<int64_t>(1000, file.size()));
    ASSERT_TRUE(file.readMore(1500, &failure, &error));
    ASSERT_TRUE(file.readMore(file.size(), &failure, &error));
    EXPECT_EQ(file.mapped(), size > kWhole);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(file.data()), size), text) << size;
    EXPECT_FALSE(file.changed());
  }
}

TEST_F(WindowsFiles, AFileBeingReadKeepsWritersOutAndOneBeingWrittenIsNotRead) {
  constexpr auto kWhole = static_cast<size_t>(MappedFile::kReadWholeBytes);
  for (size_t size : {size_t{1}, kWhole + 1}) {
    const std::string name = "f" + std::to_string(size);
    std::string text(size, 'a');
    for (size_t i = 0; i < size; ++i) text[i] = static_cast<char>('a' + i % 26);
    write(name, text);
    MappedFile file;
    MappedFile::Failure failure;
    int error = 0;
    ASSERT_TRUE(file.open(path(name), &failure, &error));
    EXPECT_EQ(file.mapped(), size > kWhole);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(file.data()), size), text);
    HANDLE writer = OpenOther(path(name), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    EXPECT_EQ(writer, INVALID_HANDLE_VALUE) << "a writer got in while the file is read";
    if (writer != INVALID_HANDLE_VALUE) ::CloseHandle(writer);
    EXPECT_FALSE(::DeleteFileW(W(path(name)).c_str())) << "the file was removed while read";
    HANDLE reader = OpenOther(path(name), GENERIC_READ, FILE_SHARE_READ);
    EXPECT_NE(reader, INVALID_HANDLE_VALUE) << "readers are let in";
    ::CloseHandle(reader);
    EXPECT_FALSE(file.changed());
  }
  // Another program writes the file: it is not read until that ends.
  HANDLE writer = OpenOther(path("f1"), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  MappedFile file;
  MappedFile::Failure failure;
  int error = 0;
  EXPECT_FALSE(file.open(path("f1"), &failure, &error));
  EXPECT_EQ(failure, MappedFile::Failure::kOpen);
  EXPECT_EQ(error, EBUSY);
  ::CloseHandle(writer);
  // A folder and a device are refused by their type.
  for (const std::string& other : {dir_, std::string("NUL")}) {
    EXPECT_FALSE(file.open(other, &failure, &error));
    EXPECT_EQ(failure, MappedFile::Failure::kNotRegular) << other;
  }
}

TEST_F(WindowsFiles, OutputIsHiddenAndPrivateUntilCommittedThenTakesTheInputsTimesAndReadOnly) {
  write("in", "text");
  FileStatus st = status("in");
  FileAttributes attributes = FileAttributes::Of(st);
  // Wine reads the first bytes of a file that is opened, even for its
  // attributes, and Linux then moves an access time that lies before the
  // file's change time on to now: an access time an hour ahead stays.
  attributes.accessed = FileTime{CurrentTime().seconds + 3600, 500};
  attributes.modified = FileTime{1200000000, 700};
  attributes.permissions = 0444;  // the input was read-only
  write("out", "old contents");

  StreamedOutput streamed;
  int error = 0;
  ASSERT_TRUE(streamed.create(path("out"), &error, &attributes));
  const std::string temp = streamed.temporaryPath();
  EXPECT_TRUE(IsTemporaryName(temp.substr(temp.find_last_of('\\') + 1))) << temp;
  EXPECT_TRUE(::GetFileAttributesW(W(temp).c_str()) & FILE_ATTRIBUTE_HIDDEN);
  HANDLE peer = OpenOther(temp, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  EXPECT_EQ(peer, INVALID_HANDLE_VALUE) << "another program opened the file being written";
  if (peer != INVALID_HANDLE_VALUE) ::CloseHandle(peer);
  ASSERT_TRUE(streamed.write(reinterpret_cast<const unsigned char*>("pie"), 3, &error));
  ASSERT_TRUE(streamed.write(reinterpret_cast<const unsigned char*>("ces"), 3, &error));
  EXPECT_EQ(read("out"), "old contents") << "the target is untouched before the commit";
  ASSERT_TRUE(streamed.commit(&error)) << error;
  const FileStatus out = status("out");  // before any read, which sets the access time
  EXPECT_EQ(out.modified.seconds, 1200000000);
  EXPECT_EQ(out.modified.nanoseconds, 700);
  EXPECT_EQ(out.accessed, attributes.accessed);
  const DWORD kept = ::GetFileAttributesW(W(path("out")).c_str());
  EXPECT_TRUE(kept & FILE_ATTRIBUTE_READONLY);
  EXPECT_FALSE(kept & FILE_ATTRIBUTE_HIDDEN);
  EXPECT_EQ(read("out"), "pieces");
  ::SetFileAttributesW(W(path("out")).c_str(), FILE_ATTRIBUTE_NORMAL);

  MappedOutput mapped;
  WriteFailure failure;
  ASSERT_TRUE(mapped.create(path("mapped"), 1 << 20, &failure, &error));
  std::memcpy(mapped.data(), "hello", 5);
  ASSERT_TRUE(mapped.commit(5, &failure, &error)) << error;
  EXPECT_EQ(read("mapped"), "hello");
  {
    StreamedOutput dropped;  // left uncommitted: removed, the target untouched
    ASSERT_TRUE(dropped.create(path("mapped"), &error));
    ASSERT_TRUE(dropped.write(reinterpret_cast<const unsigned char*>("x"), 1, &error));
  }
  EXPECT_EQ(read("mapped"), "hello");
  EXPECT_EQ(std::distance(fs::directory_iterator(P(dir_)), fs::directory_iterator()), 3)
      << "no temporary file left";
}

TEST_F(WindowsFiles, AFailedPageInOfAWatchedViewReadsZerosAndSaysSo) {
  write("view", std::string(1 << 20, 'x'));
  MappedFile file;
  MappedFile::Failure failure;
  int error = 0;
  ASSERT_TRUE(file.open(path("view"), &failure, &error));
  ASSERT_TRUE(file.mapped());
  EXPECT_FALSE(file.changed());
  // What the system raises when the disk or the network cannot give a page.
  const ULONG_PTR details[3] = {0, reinterpret_cast<ULONG_PTR>(file.data() + 8192), 0xC000009C};
  ::RaiseException(EXCEPTION_IN_PAGE_ERROR, 0, 3, details);
  long sum = 0;
  for (int64_t i = 0; i < file.size(); ++i) sum += file.data()[i];
  EXPECT_EQ(sum, 0) << "the view gave way to zeros";
  EXPECT_TRUE(file.changed());
  file.close();
  EXPECT_TRUE(file.open(path("view"), &failure, &error)) << "the file itself is whole";
  EXPECT_FALSE(file.changed());
  EXPECT_EQ(file.data()[0], 'x');
}

TEST_F(WindowsFiles, ARemovalDeletesTheFileItCheckedThroughItsHandle) {
  write("doomed", std::string(300000, 'd'));
  write("kept", "k");
  Directory dir;
  ASSERT_TRUE(dir.open(dir_));
  EXPECT_FALSE(::MoveFileW(W(dir_).c_str(), W(dir_ + "-moved").c_str())) << "an open folder was renamed";
  MappedFile doomed;
  MappedFile::Failure failure;
  int error = 0;
  ASSERT_TRUE(doomed.openAt(dir, "doomed", &failure, &error));
  EXPECT_FALSE(::MoveFileW(W(path("doomed")).c_str(), W(path("other")).c_str())) << "renamed while held";
  File held = doomed.releaseFile();
  ASSERT_TRUE(held.sync(&error)) << error;
  ASSERT_TRUE(dir.removeOpenedEntry("doomed", &held, &error)) << error;
  EXPECT_FALSE(held.valid()) << "the handle that marked the file is closed";
  EXPECT_EQ(::GetFileAttributesW(W(path("doomed")).c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(read("kept"), "k");

  // A read-only file is not removed.
  write("read-only", "r");
  ASSERT_TRUE(::SetFileAttributesW(W(path("read-only")).c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(doomed.openAt(dir, "read-only", &failure, &error)) << error;
  held = doomed.releaseFile();
  EXPECT_FALSE(dir.removeOpenedEntry("read-only", &held, &error));
  EXPECT_EQ(error, EACCES);
  held.close();
  ::SetFileAttributesW(W(path("read-only")).c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(read("read-only"), "r");

  // A file that another program holds without sharing deletion stays.
  HANDLE other = OpenOther(path("kept"), GENERIC_READ, FILE_SHARE_READ);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(doomed.openAt(dir, "kept", &failure, &error));
  ::CloseHandle(other);
}

TEST_F(WindowsFiles, ADirectoryLockWaitsForTheOtherHolder) {
  Directory dir;
  ASSERT_TRUE(dir.open(dir_));
  std::atomic<int> step{0};
  std::thread holder([&] {
    DirectoryLock lock(dir);
    step = 1;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    step = 2;
  });
  while (step.load() == 0) std::this_thread::yield();
  {
    Directory same;
    ASSERT_TRUE(same.open(dir_ + "\\.\\"));
    DirectoryLock lock(same);  // the same folder by another path
    EXPECT_EQ(step.load(), 2);
  }
  holder.join();
}

TEST_F(WindowsFiles, AgrepGetsItsArgumentsAsTheyAreAndItsOutputInTheHostsFile) {
  ASSERT_TRUE(fs::create_directory(P(path("with space"))));
  const std::string vocabulary = JoinPath(path("with space"), "vocabulary");
  write("with space\\vocabulary", "say \"hi\" there\r\ny x\\\r\nplain\r\n");
  ASSERT_EQ(::_wputenv_s(L"MORAVINE_AGREP", W(MORAVINE_AGREP_PATH).c_str()), 0);
  SystemSearchHost host;
  EXPECT_FALSE(host.useBundledMatcher());
  EXPECT_GT(host.processId(), 0);
  // A quote, a blank, and backslashes before the closing quote.
  const std::pair<std::string, std::string> cases[] = {{"\"hi\" there", "say \"hi\" there"}, {"y x\\\\", "y x\\"}};
  int n = 0;
  for (const auto& [pattern, line] : cases) {
    const std::string output = JoinPath(host.temporaryDirectory(), "moravine-test-" + std::to_string(n++));
    SearchHost::File out = host.createExclusive(output);
    ASSERT_NE(out, SearchHost::kNoFile);
    EXPECT_EQ(host.createExclusive(output), SearchHost::kNoFile) << "a second file of the same name";
    int status = -1;
    ASSERT_EQ(host.runProcess({"agrep", pattern, vocabulary}, out, &status), 0) << pattern;
    EXPECT_EQ(status, 0) << pattern;
    const unsigned char* data = nullptr;
    int64_t size = 0;
    ASSERT_TRUE(host.mapFile(out, &data, &size));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(data), static_cast<size_t>(size)), line + "\r\n");
    host.unmapFile(data, size);
    EXPECT_EQ(host.closeFile(out), 0);
    host.removeFile(output);
    // The name goes when the last handle on the file is closed: under Wine
    // the ended child's inherited one may take a moment.
    for (int i = 0; i < 200 && ::GetFileAttributesW(W(output).c_str()) != INVALID_FILE_ATTRIBUTES; ++i) ::Sleep(10);
    EXPECT_EQ(::GetFileAttributesW(W(output).c_str()), INVALID_FILE_ATTRIBUTES) << "the output was left behind";
  }
  ::_wputenv_s(L"MORAVINE_AGREP", L"");
}

TEST(WindowsPaths, EitherSlashLongPathsAndAnyScript) {
  EXPECT_EQ(RootLength("C:\\dir"), 3u);
  EXPECT_EQ(RootLength("c:/dir"), 3u);
  EXPECT_EQ(RootLength("\\\\server\\share\\dir"), 15u);
  EXPECT_EQ(RootLength("\\\\?\\C:\\dir"), 7u);
  EXPECT_EQ(RootLength("dir\\file"), 0u);
  EXPECT_EQ(JoinPath("C:\\", "a"), "C:\\a");
  EXPECT_EQ(JoinPath("C:/x/", "a"), "C:/x/a");
  EXPECT_EQ(JoinPath("C:\\x", "a"), "C:\\x\\a");
  EXPECT_EQ(AbsolutePath("C:/one/./two/../three/"), "C:\\one\\three");
  EXPECT_EQ(AbsolutePath("C:\\"), "C:\\");
  std::string name;
  EXPECT_EQ(ParentDirectory("C:\\dir\\file.txt", &name), "C:\\dir");
  EXPECT_EQ(name, "file.txt");
  EXPECT_EQ(ParentDirectory("C:/file.txt", &name), "C:/");
  EXPECT_EQ(ParentDirectory("file.txt", &name), ".");
  const std::vector<std::string> roots = FileSystemRoots();
  ASSERT_FALSE(roots.empty());
  EXPECT_EQ(roots.front().size(), 3u);

  // A folder deeper than MAX_PATH, and names in other scripts.
  std::string dir = AbsolutePath(U8(fs::temp_directory_path() / "moravine-long"));
  const std::string top = dir;
  for (int i = 0; i < 12; ++i) dir = JoinPath(dir, std::string(30, static_cast<char>('a' + i)));
  ASSERT_GT(dir.size(), 300u);
  fs::create_directories(fs::path(L"\\\\?\\" + W(dir)));
  ASSERT_TRUE(fs::is_directory(fs::path(L"\\\\?\\" + W(dir))));
  const std::string target = JoinPath(dir, "Москва – 東京.txt");
  std::string message;
  ASSERT_TRUE(WriteFileAtomically(target, reinterpret_cast<const unsigned char*>("far"), 3, &message)) << message;
  MappedFile file;
  ASSERT_TRUE(file.open(target, &message)) << message;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(file.data()), 3), "far");
  file.close();
  SystemFileSystem files;
  std::vector<DirEntry> entries;
  ASSERT_TRUE(files.enumerate(dir, &entries));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, "Москва – 東京.txt");
  EXPECT_TRUE(entries[0].is_regular);
  EXPECT_EQ(files.fileSize(target), 3);
  EXPECT_TRUE(RemoveFile(target));
  for (std::string name; dir.size() > top.size(); dir = ParentDirectory(dir, &name)) {
    EXPECT_TRUE(::RemoveDirectoryW((L"\\\\?\\" + W(dir)).c_str())) << dir;
  }
  EXPECT_TRUE(::RemoveDirectoryW(W(top).c_str()));
}

TEST(WindowsConsole, StopStatusesAndNullStream) {
  EXPECT_EQ(StopExitStatus(StopCause::kNone), 0);
  EXPECT_EQ(StopExitStatus(StopCause::kInterrupt), 130);
  EXPECT_EQ(StopExitStatus(StopCause::kTerminate), 143);
  EXPECT_EQ(StopExitStatus(StopCause::kHangUp), 129);
  EXPECT_EQ(StopExitStatus(StopCause::kClosedOutput), 141);
  FILE* null = OpenNullStream();
  ASSERT_NE(null, nullptr);
  EXPECT_GE(std::fputs("gone", null), 0);
  std::fclose(null);
}

}  // namespace
}  // namespace platformtest
