// The platform pieces under the jobs: temporary names, private outputs that
// take the input's attributes, and mappings of files that change under us.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/file.h"
#include "platform/fileio.h"
#include "platform/system_search_host.h"
#include "platform/temp_files.h"

namespace platformtest {
namespace {

namespace fs = std::filesystem;
using namespace moravine;

class FileIo : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string name = (fs::temp_directory_path() / "moravine-fileio-XXXXXX").string();
    ASSERT_NE(::mkdtemp(name.data()), nullptr);
    dir_ = name;
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string dir_;
};

bool ValidUtf8(const std::string& s) {
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (size_t k = 1; k < n; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    }
    i += n;
  }
  return true;
}

TEST(TemporaryNames, FitWhereTheTargetFitsAndAreRecognised) {
  const std::string euro = "\xe2\x82\xac";  // three bytes
  for (const std::string& base : {std::string("a.txt.hwz"), std::string(251, 'n') + ".hwz", std::string(255, 'x'),
                                  std::string(230, 'e') + euro + euro + euro + euro + euro + euro + euro + euro}) {
    std::string name = TemporaryName(base, 4194304, 4294967295ul);
    EXPECT_LE(name.size(), kMaxNameBytes);
    EXPECT_TRUE(ValidUtf8(name)) << name;
    EXPECT_TRUE(IsTemporaryName(name)) << name;
    EXPECT_EQ(name.compare(0, 10, ".moravine-"), 0);
  }
  for (const char* other : {"moravine-1-2.a", ".moravine-1-2", ".moravine-x-2.a", ".moravine-1.a", ".moravine--2.a",
                            ".moravine-12-.a", "a.txt"}) {
    EXPECT_FALSE(IsTemporaryName(other)) << other;
  }
}

TEST_F(FileIo, OutputIsPrivateUntilCommittedThenTakesTheInputsAttributes) {
  const std::string input = dir_ + "/in", target = dir_ + "/out";
  std::ofstream(input) << "text";
  ASSERT_EQ(::chmod(input.c_str(), 06755 | S_ISVTX), 0);
  struct timespec times[2] = {{1000000000, 5}, {1200000000, 7}};
  ASSERT_EQ(::utimensat(AT_FDCWD, input.c_str(), times, 0), 0);
  FileStatus st;
  ASSERT_TRUE(PathStatus(input, true, &st));
  FileAttributes attributes = FileAttributes::Of(st);

  MappedOutput output;
  WriteFailure failure;
  int error = 0;
  ASSERT_TRUE(output.create(target, 5, &failure, &error, &attributes));
  struct stat temp;
  ASSERT_EQ(::stat(output.temporaryPath().c_str(), &temp), 0);
  EXPECT_EQ(temp.st_mode & 07777, 0600u);
  std::memcpy(output.data(), "hello", 5);
  ASSERT_TRUE(output.commit(5, &failure, &error));

  ASSERT_TRUE(WriteFileAtomically(target + "2", reinterpret_cast<const unsigned char*>("x"), 1, &failure, &error,
                                  &attributes));

  StreamedOutput streamed;
  ASSERT_TRUE(streamed.create(target + "3", &error, &attributes));
  ASSERT_EQ(::stat(streamed.temporaryPath().c_str(), &temp), 0);
  EXPECT_EQ(temp.st_mode & 07777, 0600u);
  ASSERT_TRUE(streamed.write(reinterpret_cast<const unsigned char*>("pie"), 3, &error));
  ASSERT_TRUE(streamed.write(reinterpret_cast<const unsigned char*>("ces"), 3, &error));
  EXPECT_FALSE(fs::exists(target + "3")) << "nothing at the target before the commit";
  ASSERT_TRUE(streamed.commit(&error));
  {
    StreamedOutput dropped;  // left uncommitted: removed, the target untouched
    ASSERT_TRUE(dropped.create(target + "3", &error, &attributes));
    ASSERT_TRUE(dropped.write(reinterpret_cast<const unsigned char*>("x"), 1, &error));
  }
  EXPECT_EQ(fs::file_size(target + "3"), 6u);
  for (const std::string& path : {target, target + "2", target + "3"}) {
    struct stat out;
    ASSERT_EQ(::stat(path.c_str(), &out), 0);
    EXPECT_EQ(out.st_mode & 07777, 0755u) << "no set-id or sticky bit is carried over";
    EXPECT_EQ(out.st_mtim.tv_sec, 1200000000);
    EXPECT_EQ(out.st_mtim.tv_nsec, 7);
    EXPECT_EQ(out.st_atim.tv_sec, 1000000000);
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 4) << "no temporary file left";
  std::ifstream in(target + "3");  // read last: reading sets the access time
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "pieces");
}

TEST_F(FileIo, AMappingOfAFileCutShortReadsZerosAndSaysSo) {
  const std::string path = dir_ + "/shrinks";
  std::ofstream(path) << std::string(1 << 20, 'x');
  MappedFile file;
  MappedFile::Failure failure;
  int error = 0;
  ASSERT_TRUE(file.open(path, &failure, &error));
  EXPECT_FALSE(file.changed());
  ASSERT_EQ(::truncate(path.c_str(), 4096), 0);
  long sum = 0;
  for (int64_t i = 0; i < file.size(); ++i) sum += file.data()[i];  // would raise SIGBUS past 4096
  EXPECT_EQ(sum, 4096L * 'x');
  EXPECT_TRUE(file.changed());

  MappedFile other;
  ASSERT_TRUE(other.open(path, &failure, &error));
  std::ofstream(path, std::ios::app) << "more";
  EXPECT_TRUE(other.changed()) << "a file that grew is not the file that was read";
}

TEST_F(FileIo, SmallFilesAreReadWholeLargeOnesMappedAndBothSeeChanges) {
  constexpr auto kWhole = static_cast<size_t>(MappedFile::kReadWholeBytes);
  for (size_t size : {size_t{1}, kWhole, kWhole + 1}) {
    const std::string path = dir_ + "/f" + std::to_string(size);
    std::string text(size, 'a');
    for (size_t i = 0; i < size; ++i) text[i] = static_cast<char>('a' + i % 26);
    std::ofstream(path) << text;
    MappedFile file;
    MappedFile::Failure failure;
    int error = 0;
    ASSERT_TRUE(file.open(path, &failure, &error));
    EXPECT_EQ(file.mapped(), size > kWhole) << size;
    ASSERT_EQ(std::string(reinterpret_cast<const char*>(file.data()), static_cast<size_t>(file.size())), text);
    EXPECT_FALSE(file.changed());
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(size / 2)), 0);
    EXPECT_TRUE(file.changed()) << size;
  }
}

// A reader that may need only a file's first bytes gets them, and then the
// rest on asking: the same bytes as a whole read, whatever the size, and a
// large file ends up mapped. A file cut short between the reads reads as
// zeros from its end and counts as changed.
TEST_F(FileIo, FirstBytesThenTheRestGiveTheWholeFile) {
  constexpr auto kWhole = static_cast<size_t>(MappedFile::kReadWholeBytes);
  constexpr int64_t kFirst = 1000;
  for (size_t size : {size_t{10}, size_t{1000}, size_t{1001}, kWhole, kWhole + 1}) {
    const std::string path = dir_ + "/f" + std::to_string(size);
    std::string text(size, 'a');
    for (size_t i = 0; i < size; ++i) text[i] = static_cast<char>('a' + i * 7 % 26);
    std::ofstream(path) << text;
    MappedFile file;
    MappedFile::Failure failure;
    int error = 0;
    ASSERT_TRUE(file.open(path, &failure, &error, kFirst));
    EXPECT_EQ(file.size(), static_cast<int64_t>(size));
    ASSERT_EQ(file.available(), std::min<int64_t>(kFirst, file.size())) << size;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(file.data()), static_cast<size_t>(file.available())),
              text.substr(0, static_cast<size_t>(file.available())));
    ASSERT_TRUE(file.readMore(1500, &failure, &error));
    EXPECT_EQ(file.available(), std::min<int64_t>(1500, file.size())) << size;
    ASSERT_TRUE(file.readMore(file.size(), &failure, &error));
    ASSERT_EQ(file.available(), file.size());
    EXPECT_EQ(file.mapped(), size > kWhole) << size;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(file.data()), size), text) << size;
    EXPECT_FALSE(file.changed());
  }

  const std::string path = dir_ + "/cut";
  std::ofstream(path) << std::string(5000, 'x');
  MappedFile file;
  MappedFile::Failure failure;
  int error = 0;
  ASSERT_TRUE(file.open(path, &failure, &error, kFirst));
  ASSERT_EQ(::truncate(path.c_str(), 3000), 0);
  ASSERT_TRUE(file.readMore(file.size(), &failure, &error));
  const std::string seen(reinterpret_cast<const char*>(file.data()), 5000);
  EXPECT_EQ(seen, std::string(3000, 'x') + std::string(2000, '\0'));
  EXPECT_TRUE(file.changed());
}

// Asking for the pages of a mapping whose file was cut short maps what is
// there and raises no signal for the rest.
TEST_F(FileIo, PagesAskedForPastTheEndOfAFileCutShortRaiseNothing) {
  const std::string path = dir_ + "/long";
  constexpr size_t kSize = 4 << 20;
  std::ofstream(path) << std::string(kSize, 'y');
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  SystemSearchHost host;
  const unsigned char* data = nullptr;
  int64_t size = 0;
  ASSERT_TRUE(host.mapFile(fd, &data, &size));
  ::close(fd);
  ASSERT_EQ(::truncate(path.c_str(), 1 << 20), 0);
  host.willRead(data + 100, size - 100);
  EXPECT_EQ(data[(1 << 20) - 1], 'y');
  host.unmapFile(data, size);
}

TEST_F(FileIo, FilesThatAreNotRegularAreRefusedWithoutBlocking) {
  const std::string fifo = dir_ + "/fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  fs::create_symlink("fifo", dir_ + "/link");
  for (const std::string& path : {fifo, std::string("/dev/null"), dir_}) {
    MappedFile file;
    MappedFile::Failure failure;
    int error = 0;
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(file.open(path, &failure, &error));
    EXPECT_EQ(failure, MappedFile::Failure::kNotRegular) << path;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  }
  Directory dir;
  ASSERT_TRUE(dir.open(dir_));
  MappedFile file;
  MappedFile::Failure failure;
  int error = 0;
  EXPECT_FALSE(file.openAt(dir, "link", &failure, &error));
  EXPECT_EQ(failure, MappedFile::Failure::kNotRegular) << "a link is not followed";
  EXPECT_EQ(file.status().type, FileType::kSymlink);
}

}  // namespace
}  // namespace platformtest
