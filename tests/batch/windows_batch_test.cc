// The batch core on Windows (run under Wine by the cross build), driven as
// the window drives it, over real folders: drives at the tree's root, names
// in any script, outputs that keep the input's read-only attribute, and the
// removal proofs with Windows's sharing rules (a file held for a removal
// can be neither written, renamed nor deleted by anyone else).
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "batch/file_jobs.h"
#include "batch/main_dialog.h"
#include "batch/removal.h"
#include "batch/search_job.h"
#include "codec/compress.h"
#include "platform/filesystem.h"
#include "platform/system_search_host.h"
#include "tests/batch/fake_window.h"
#include "wordmodel/hlog.h"

namespace batchtest {
namespace {

namespace fs = std::filesystem;
using namespace moravine;
using Strings = std::vector<std::string>;

// Paths are UTF-8 in the program and UTF-16 for the system.
std::wstring W(const std::string& utf8) {
  std::wstring wide(utf8.size(), L'\0');
  wide.resize(static_cast<size_t>(::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                                        wide.data(), static_cast<int>(wide.size()))));
  return wide;
}
fs::path P(const std::string& utf8) { return fs::path(W(utf8)); }
std::string U8(const std::wstring& wide) {
  std::string utf8(wide.size() * 3, '\0');
  utf8.resize(static_cast<size_t>(::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                                        utf8.data(), static_cast<int>(utf8.size()), nullptr,
                                                        nullptr)));
  return utf8;
}

std::string Read(const std::string& path) {
  return (std::ostringstream() << std::ifstream(P(path), std::ios::binary).rdbuf()).str();
}
void Write(const std::string& path, const std::string& data) {
  fs::create_directories(P(path).parent_path());
  std::ofstream(P(path), std::ios::binary) << data;
}
bool Exists(const std::string& path) { return ::GetFileAttributesW(W(path).c_str()) != INVALID_FILE_ATTRIBUTES; }
DWORD Attributes(const std::string& path) { return ::GetFileAttributesW(W(path).c_str()); }

std::string Archive(const std::string& text) {
  HBuffer out;
  int32_t n = 0;
  Huffw_spaceless_compress(reinterpret_cast<const unsigned char*>(text.data()), static_cast<int32_t>(text.size()),
                           &out, &n, 0);
  return std::string(reinterpret_cast<const char*>(out.get()), static_cast<size_t>(n));
}

// Every file below dir by relative UTF-8 name, with its bytes.
std::map<std::string, std::string> Snapshot(const std::string& dir) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(P(dir))) {
    if (e.is_regular_file()) files[U8(e.path().lexically_relative(P(dir)).wstring())] = Read(U8(e.path().wstring()));
  }
  return files;
}

std::string Text(int i) {
  std::string s;
  for (int k = 0; k < 40 + i * 13; ++k) s += "word" + std::to_string((k * 7 + i) % 23) + (k % 9 ? " " : ",\r\n");
  return s;
}

class WindowsBatch : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static FILE* log = std::tmpfile();
    HLog_setStreams(log, log);
    // The search jobs start "agrep": ours comes first on PATH.
    const wchar_t* path = ::_wgetenv(L"PATH");
    const std::wstring value = W(MORAVINE_AGREP_DIR) + L";" + (path ? path : L"");
    ::SetEnvironmentVariableW(L"PATH", value.c_str());
    ::_wputenv_s(L"PATH", value.c_str());
  }
  void SetUp() override {
    std::mt19937_64 random{std::random_device{}()};
    const fs::path base = fs::temp_directory_path() / ("moravine-winbatch-" + std::to_string(random() % 1000000000));
    ASSERT_TRUE(fs::create_directory(base));
    dir_ = AbsolutePath(U8(base.wstring()));
    tree_.AddDrives();
  }
  void TearDown() override {
    dlg_->WaitUntilIdle();
    for (const auto& e : fs::recursive_directory_iterator(P(dir_))) {
      ::SetFileAttributesW(e.path().c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    fs::remove_all(P(dir_));
  }
  std::string path(const std::string& name) const { return JoinPath(dir_, name); }

  void Run(JobType type, const std::string& path) {
    window_.reset();
    dlg_->RunCommand(type, tree_.RevealPath(path));
    dlg_->WaitUntilIdle();
    EXPECT_EQ(window_.record().count("Finished"), 1) << path;
  }
  int Image(const std::string& path) {
    TreeItem* item = tree_.FindItemByPath(path);
    return item ? item->image : -1;
  }

  std::string dir_;
  FakeWindow window_;
  SystemFileSystem files_;
  TreeModel tree_{&files_};
  DetachedThreadStarter threads_;
  SystemSearchHost host_;
  MainServices services_{&window_, &tree_, &files_, &threads_, &host_, {CompressJob, DecompressJob, SearchJob}};
  std::unique_ptr<CMainDlg> dlg_ = std::make_unique<CMainDlg>(services_, true);
};

TEST_F(WindowsBatch, TheTreesRootsAreTheDrivesAndAPathIsFoundByEitherSlash) {
  ASSERT_FALSE(tree_.roots().empty());
  for (const auto& root : tree_.roots()) {
    EXPECT_EQ(root->image, IMG_DRIVE);
    ASSERT_EQ(root->text.size(), 3u) << root->text;
    EXPECT_EQ(root->text.substr(1), ":\\");
    EXPECT_EQ(tree_.ItemPath(root.get()), root->text);
  }
  Write(path("a.txt"), Text(1));
  Write(path("a.txt.hwz"), Archive(Text(1)));
  TreeItem* item = tree_.RevealPath(path("a.txt"));
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->image, IMG_BOTH);
  EXPECT_EQ(tree_.ItemPath(item), path("a.txt"));
  std::string forward = path("a.txt");
  for (char& c : forward) c = c == '\\' ? '/' : c;
  forward[0] = static_cast<char>(std::tolower(forward[0]));  // c:/... is the same drive
  EXPECT_EQ(tree_.FindItemByPath(forward), item);
  PathItem looked;
  ASSERT_TRUE(dlg_->LookUpPath(forward, &looked));
  EXPECT_EQ(looked.image, IMG_BOTH);
}

// Compress, remove the originals, decompress: the same names (in several
// scripts) and bytes come back, read-only files stay read-only, and no
// temporary file is left.
TEST_F(WindowsBatch, AFolderRoundTripKeepsNamesBytesAndTheReadOnlyAttribute) {
  const std::string root = path("r");
  const Strings names = {"a.txt", "Ελληνικά.txt", "sub dir\\日本語 テキスト.txt", "sub dir\\Москва.txt",
                         "sub dir\\ro.txt", "emoji 😀.txt"};
  for (size_t i = 0; i < names.size(); ++i) Write(JoinPath(root, names[i]), Text(static_cast<int>(i)));
  const std::string read_only = JoinPath(root, "sub dir\\ro.txt");
  ASSERT_TRUE(::SetFileAttributesW(W(read_only).c_str(), FILE_ATTRIBUTE_READONLY));
  const auto before = Snapshot(root);
  tree_.RevealPath(root);
  Run(JOB_COMPRESS, root);
  EXPECT_TRUE(window_.record().boxes.empty());
  for (const std::string& name : names) EXPECT_TRUE(Exists(JoinPath(root, name) + ".hwz")) << name;
  EXPECT_TRUE(Attributes(read_only + ".hwz") & FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(Image(JoinPath(root, names[1])), IMG_BOTH);

  // A read-only file is not deleted: Windows refuses, and the removal says
  // so and keeps it.
  Run(JOB_REMOVE_ORIGINAL, root);
  EXPECT_EQ(window_.record().texts('E'), Strings{"Error removing file\n\nPermission denied"});
  for (const std::string& name : names) {
    EXPECT_EQ(Exists(JoinPath(root, name)), name == "sub dir\\ro.txt") << name;
  }
  ASSERT_TRUE(::SetFileAttributesW(W(read_only).c_str(), FILE_ATTRIBUTE_NORMAL));
  ASSERT_TRUE(::DeleteFileW(W(read_only).c_str()));

  Run(JOB_DECOMPRESS, root);
  EXPECT_TRUE(window_.record().boxes.empty());
  EXPECT_TRUE(Attributes(read_only) & FILE_ATTRIBUTE_READONLY);
  auto after = Snapshot(root);
  for (const std::string& name : names) EXPECT_EQ(after.erase(name + ".hwz"), 1u) << name;
  EXPECT_EQ(after, before);
}

// While a removal holds the two files of a pair, another program can
// neither write to them, rename them nor delete them: the proof that the
// archive holds the text stays true up to the deletion. Pairs that do not
// prove it stay.
TEST_F(WindowsBatch, ARemovalKeepsOthersOutOfThePairAndKeepsEveryFileWithoutAFaithfulArchive) {
  const std::string root = path("ro");
  Strings originals;
  for (int i = 0; i < 6; ++i) {
    originals.push_back(JoinPath(root, "f" + std::to_string(i) + ".txt"));
    Write(originals.back(), Text(i));
    Write(originals.back() + ".hwz", Archive(Text(i)));
  }
  const std::string damaged = JoinPath(root, "damaged.txt"), other = JoinPath(root, "other.txt");
  Write(damaged, Text(2));
  Write(damaged + ".hwz", "\1garbage that is no container at all");
  Write(other, Text(3));
  Write(other + ".hwz", Archive("W" + Text(3).substr(1)));

  int looks = 0;
  std::vector<std::string> got_in;
  SetRemovalCheckHook([&](const std::string& doomed) {
    ++looks;
    for (const std::string& name : {doomed, doomed + ".hwz"}) {
      HANDLE h = ::CreateFileW(W(name).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
      if (h != INVALID_HANDLE_VALUE) {
        got_in.push_back("wrote " + name);
        ::CloseHandle(h);
      }
      if (::MoveFileW(W(name).c_str(), W(name + ".moved").c_str())) got_in.push_back("renamed " + name);
      if (::DeleteFileW(W(name).c_str())) got_in.push_back("deleted " + name);
    }
  });
  Run(JOB_REMOVE_ORIGINAL, root);
  SetRemovalCheckHook(nullptr);
  EXPECT_EQ(looks, 6);
  EXPECT_EQ(got_in, Strings{});
  for (const std::string& f : originals) {
    EXPECT_FALSE(Exists(f)) << f;
    EXPECT_EQ(Image(f + ".hwz"), IMG_COMPRESSED);
  }
  Strings errors = window_.record().texts('E');
  std::sort(errors.begin(), errors.end());
  const std::string box = "Error removing file\n\nThe compressed file ";
  EXPECT_EQ(errors, (Strings{box + damaged + ".hwz is damaged. " + damaged + " is kept.",
                             box + other + ".hwz does not hold the text of " + other + ". " + other + " is kept."}));
  EXPECT_EQ(Read(damaged), Text(2));
  EXPECT_EQ(Read(other), Text(3));

  // The other way round: the archives go, the texts stay.
  for (const std::string& f : originals) Write(f, Text(static_cast<int>(&f - &originals[0])));
  Run(JOB_REMOVE_COMPRESSED, root);
  for (const std::string& f : originals) {
    EXPECT_FALSE(Exists(f + ".hwz")) << f;
    EXPECT_EQ(Read(f), Text(static_cast<int>(&f - &originals[0])));
  }
}

// A file that another program is writing is not read, and a job's output
// that cannot replace its target leaves the target as it was.
TEST_F(WindowsBatch, FilesInUseAreLeftAsTheyAre) {
  const std::string text = path("busy.txt");
  Write(text, Text(4));
  HANDLE writer = ::CreateFileW(W(text).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  Run(JOB_COMPRESS, text);
  ::CloseHandle(writer);
  Strings errors = window_.record().texts('E');
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].rfind("Error opening input file.\n\n", 0), 0u) << errors[0];
  EXPECT_FALSE(Exists(text + ".hwz"));

  // The archive's name is held open without sharing deletion: the new
  // archive cannot be put there, and the old one stays whole.
  Write(text + ".hwz", "an older archive");
  HANDLE holder = ::CreateFileW(W(text + ".hwz").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  Run(JOB_COMPRESS, path("busy.txt"));
  ::CloseHandle(holder);
  errors = window_.record().texts('E');
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].rfind("Error writing to archive file.", 0), 0u) << errors[0];
  EXPECT_EQ(Read(text + ".hwz"), "an older archive");
  EXPECT_EQ(Snapshot(dir_).size(), 2u) << "a temporary file was left";
}

TEST_F(WindowsBatch, SearchRowsComeFromAgrepExeByPosition) {
  ASSERT_TRUE(dlg_->agrepFound());
  const std::string root = path("s");
  Write(JoinPath(root, "one.txt"), "one two three four five six seven eight\r\nand five again\r\n");
  Write(JoinPath(root, "Ünïcode name.txt"), "five is here, and fyve there, five\r\n");
  Run(JOB_COMPRESS, root);
  window_.setSearch("five", "1");
  Run(JOB_SEARCH, root);
  const Record r = window_.record();
  EXPECT_TRUE(r.boxes.empty());
  std::map<std::string, Strings> rows;
  for (const auto& call : r.row_calls) {
    for (const SearchRow& row : call) {
      EXPECT_EQ(row.path, JoinPath(root, row.file + ".hwz"));
      rows[row.file].push_back(row.left + "|" + row.word + "|" + row.right);
    }
  }
  // The rows name the file as the results list shows it, by its name
  // without ".hwz" (either slash ends a folder's name), and keep its path;
  // a CR LF shows as two blanks.
  EXPECT_EQ(rows["one.txt"], (Strings{"two three four|five|six seven eight", "seven eight  and|five|again  "}));
  EXPECT_EQ(rows["Ünïcode name.txt"],
            (Strings{"|five|is here, and", "is here, and|fyve|there, five  ", "and fyve there, |five|  "}));
}

}  // namespace
}  // namespace batchtest

