// The batch core driven as the window drives it, over real folders, with the
// real file system, tree, threads, jobs and agrep.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <sstream>
#include <thread>
#include <tuple>

#include "codec/compress.h"
#include "codec/jobs/file_jobs.h"
#include "search/search_job.h"
#include "shell/main_dialog.h"
#include "shell/posix_search_host.h"
#include "tests/shell/fake_window.h"
#include "wordmodel/hlog.h"

namespace shelltest {
namespace {

namespace fs = std::filesystem;
using namespace moravine;
using namespace std::chrono_literals;
using Strings = std::vector<std::string>;

std::string Read(const std::string& path) {
  std::ostringstream s;
  s << std::ifstream(path, std::ios::binary).rdbuf();
  return s.str();
}

void Write(const std::string& path, const std::string& data) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << data;
}

bool Exists(const std::string& path) { return fs::exists(fs::symlink_status(path)); }

std::string Archive(const std::string& text) {
  HBuffer out;
  int32_t n = 0;
  Huffw_spaceless_compress(reinterpret_cast<const unsigned char*>(text.data()), static_cast<int32_t>(text.size()),
                           &out, &n, 0);
  return std::string(reinterpret_cast<const char*>(out.get()), static_cast<size_t>(n));
}

// Every entry below dir by relative name: the bytes of regular files, "<>"
// for anything else. Links are not followed.
std::map<std::string, std::string> Snapshot(const std::string& dir) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(dir))
    files[e.path().lexically_relative(dir).string()] = e.is_regular_file() && !e.is_symlink() ? Read(e.path()) : "<>";
  return files;
}

std::string Text(int i) {
  std::string s;
  for (int k = 0; k < 40 + i * 13; ++k) s += "word" + std::to_string((k * 7 + i) % 23) + (k % 9 ? " " : ",\n");
  return s;
}

// Awkward names: blanks, quotes, non-ASCII bytes (one not UTF-8), hidden
// entries, an empty folder, and A.HWZ, which is a plain file.
Strings BuildNested(const std::string& root) {
  Strings files = {"a.txt", ".hidden", "A.HWZ", "sub dir/it's \"quoted\".txt", "sub dir/caf\xc3\xa9 \xff.txt",
                   "sub dir/.dot dir/deep.txt"};
  for (size_t i = 0; i < files.size(); ++i) Write(root + "/" + files[i], Text(static_cast<int>(i)));
  fs::create_directories(root + "/empty dir");
  return files;
}

class Batch : public ::testing::Test {
 protected:
  // Kept on the heap so that a stuck batch can be abandoned to its threads.
  struct Core {
    FakeWindow window;
    PosixFileSystem files;
    TreeModel tree{&files};
    DetachedThreadStarter threads;
    PosixSearchHost host;
    MainServices services{&window, &tree, &files, &threads, &host, {CompressJob, DecompressJob, SearchJob}};
    std::unique_ptr<CMainDlg> dlg = std::make_unique<CMainDlg>(services, true);
  };

  static void SetUpTestSuite() {
    static FILE* log = std::tmpfile();
    HLog_setStreams(log, log);
    const char* path = std::getenv("PATH");
    ::setenv("PATH", (std::string(MORAVINE_AGREP_DIR) + ":" + (path ? path : "")).c_str(), 1);
  }
  void SetUp() override {
    std::string name = (fs::temp_directory_path() / "moravine-shell-XXXXXX").string();
    ASSERT_NE(::mkdtemp(name.data()), nullptr);
    dir_ = fs::canonical(name).string();
    core_->tree.AddDrives();
  }
  void TearDown() override {
    if (stuck_) {
      core_.release();
    } else {
      dlg().WaitUntilIdle();
    }
    fs::remove_all(dir_);
  }

  FakeWindow& win() { return core_->window; }
  TreeModel& tree() { return core_->tree; }
  CMainDlg& dlg() { return *core_->dlg; }

  // Runs fn on another thread; false, and the test's objects are abandoned,
  // when it has not returned within 30 s.
  bool Within(std::function<void()> fn) {
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> f = done->get_future();
    std::thread([fn, done] { fn(), done->set_value(); }).detach();
    stuck_ = f.wait_for(30s) != std::future_status::ready;
    return !stuck_;
  }
  bool Idle() {
    CMainDlg* d = &dlg();
    return Within([d] { d->WaitUntilIdle(); });
  }
  TreeItem* Item(const std::string& path) {
    TreeItem* item = tree().RevealPath(path);
    std::string shown = tree().ItemPath(item);
    EXPECT_TRUE(shown == path || shown + ".hwz" == path) << shown;
    return item;
  }
  // Selects the item of the path, runs the command, waits for the batch.
  bool Run(JobType type, const std::string& path) {
    win().reset();
    TreeItem* item = Item(path);
    CMainDlg* d = &dlg();
    return Within([=] { d->RunCommand(type, item); }) && Idle();
  }
  int Image(const std::string& path) {
    TreeItem* item = tree().FindItemByPath(path);
    return item ? item->image : -1;
  }

  void ExpectBatchEnded(int jobs) {
    Record r = win().record();
    EXPECT_EQ(r.count("Finished"), 1);
    ASSERT_FALSE(r.progress.empty());
    int counted = 0;
    for (auto [position, maximum] : r.progress) {
      EXPECT_LE(position, maximum) << "a job finished twice";
      counted = std::max(counted, maximum);
    }
    EXPECT_EQ(counted, jobs);
    EXPECT_EQ(r.progress.back(), std::make_pair(0, 0));
    EXPECT_EQ(r.statuses.back(), "Finished");
    for (Control c : {Control::kCompress, Control::kDecompress, Control::kRemoveCompressed,
                      Control::kRemoveOriginal, Control::kExit})
      EXPECT_EQ(r.state(c), 1);
    EXPECT_EQ(r.state(Control::kSearch), dlg().agrepFound() ? 1 : 0);
    EXPECT_EQ(r.state(Control::kCancel), 0);
    EXPECT_FALSE(dlg().cancelRequested());
  }

  std::string dir_;
  std::unique_ptr<Core> core_ = std::make_unique<Core>();
  bool stuck_ = false;
};

TEST_F(Batch, CommandTableRefusesOrStartsTheJob) {
  // Items made by hand for files that do not exist: a started job fails to
  // open its input and names the path it was given on the status line.
  TreeItem root;
  const char* names[] = {"p.txt", "c.hwz", "b.txt"};
  for (int image : {IMG_PLAIN, IMG_COMPRESSED, IMG_BOTH}) {
    root.children.push_back(std::make_unique<TreeItem>());
    *root.children.back() = {dir_.substr(1) + "/" + names[image - IMG_PLAIN], image, &root, {}};
  }
  const std::string no = "The selected file is not compressed", is = "The selected file is compressed";
  const std::string refusal[3][5] = {
      {"", no, no, "The selected file does not have a compressed version", no},
      {is, "", "The selected file does not have an uncompressed version", is, ""},
      {is, "", "", "", ""},
  };
  const char* verb[6] = {"", "Compressing ", "Decompressing ", "", "", "Searching "};
  for (int image : {IMG_PLAIN, IMG_COMPRESSED, IMG_BOTH}) {
    for (int type = JOB_COMPRESS; type <= JOB_SEARCH; ++type) {
      SCOPED_TRACE("image " + std::to_string(image) + ", command " + std::to_string(type));
      win().reset();
      dlg().RunCommand(static_cast<JobType>(type), root.children[image - IMG_PLAIN].get());
      ASSERT_TRUE(Idle());
      Record r = win().record();
      if (const std::string& refused = refusal[image - IMG_PLAIN][type - 1]; !refused.empty()) {
        EXPECT_EQ(r.texts('I'), Strings{refused});
        EXPECT_EQ(r.boxes.size(), 1u);
        EXPECT_TRUE(r.statuses.empty() && r.progress.empty() && r.enable_calls == 0 && r.clears == 0);
        continue;
      }
      ExpectBatchEnded(1);
      EXPECT_EQ(r.clears, type == JOB_SEARCH ? 1 : 0);
      if (*verb[type]) {
        std::string path = dir_ + "/" + names[image - IMG_PLAIN] + (image == IMG_BOTH ? ".hwz" : "");
        EXPECT_EQ(r.count(verb[type] + path + "..."), 1);
        EXPECT_EQ(r.texts('E'), Strings{"Error opening input file.\n\nNo such file or directory"});
      } else {
        EXPECT_TRUE(r.boxes.empty());
      }
    }
  }
  win().reset();
  dlg().RunCommand(JOB_COMPRESS, nullptr);
  Record r = win().record();
  EXPECT_EQ(r.texts('I'), Strings{"No file or directory selected"});
  EXPECT_TRUE(r.statuses.empty() && r.enable_calls == 0);
  EXPECT_TRUE(fs::is_empty(dir_));
}

TEST_F(Batch, CompressWalkTakesEveryRegularFileAndNothingElse) {
  core_->dlg = std::make_unique<CMainDlg>(core_->services, false);  // Search stays off without agrep
  const std::string root = dir_ + "/w", outside = dir_ + "/outside";
  Strings files = BuildNested(root);
  Write(root + "/sub dir/stale.txt", "stale text\n");
  Write(root + "/sub dir/stale.txt.hwz", "an outdated archive");
  files.push_back("sub dir/stale.txt");
  Write(root + "/lone.hwz", "not compressed again");
  Write(outside + "/o.txt", "behind a link\n");
  fs::create_directory_symlink(outside, root + "/link");
  ASSERT_EQ(::mkfifo((root + "/sub dir/pipe").c_str(), 0600), 0);  // opening it would block

  ASSERT_TRUE(Run(JOB_COMPRESS, root));
  ExpectBatchEnded(static_cast<int>(files.size()));
  EXPECT_TRUE(win().record().boxes.empty());
  for (const std::string& f : files) {
    std::string hwz = Read(root + "/" + f + ".hwz");
    ASSERT_FALSE(hwz.empty()) << f;
    EXPECT_EQ(hwz[0], 1) << f;  // the spaceless model by default
  }
  EXPECT_NE(Read(root + "/sub dir/stale.txt.hwz"), "an outdated archive");
  for (const char* no : {"/lone.hwz.hwz", "/sub dir/pipe.hwz", "/link.hwz", "/link/o.txt.hwz"})
    EXPECT_FALSE(Exists(root + no)) << no;
  for (const auto& [name, bytes] : Snapshot(root))
    EXPECT_EQ(name.find(".moravine-"), std::string::npos) << "temporary file left: " << name;
}

TEST_F(Batch, FolderRoundTripRestoresNamesAndBytes) {
  const std::string root = dir_ + "/r", a = root + "/a.txt";
  Strings files = BuildNested(root);
  const auto before = Snapshot(root);
  Item(root);  // the folder is read: its items follow the jobs
  EXPECT_EQ(Image(a), IMG_PLAIN);

  ASSERT_TRUE(Run(JOB_COMPRESS, root));
  ExpectBatchEnded(static_cast<int>(files.size()));
  EXPECT_EQ(Image(a), IMG_BOTH);

  ASSERT_TRUE(Run(JOB_REMOVE_ORIGINAL, root));
  ExpectBatchEnded(static_cast<int>(files.size()));
  for (const std::string& f : files) EXPECT_FALSE(Exists(root + "/" + f)) << f;
  EXPECT_EQ(tree().FindItemByPath(a), nullptr);
  EXPECT_EQ(Image(a + ".hwz"), IMG_COMPRESSED);

  ASSERT_TRUE(Run(JOB_DECOMPRESS, root));
  ExpectBatchEnded(static_cast<int>(files.size()));
  EXPECT_TRUE(win().record().boxes.empty());
  EXPECT_EQ(Image(a), IMG_BOTH);
  EXPECT_EQ(tree().FindItemByPath(a + ".hwz"), nullptr);
  auto after = Snapshot(root);
  for (const std::string& f : files) EXPECT_EQ(after.erase(f + ".hwz"), 1u) << f;
  EXPECT_EQ(after, before);
}

TEST_F(Batch, TreeShowsEachFileOnceAfterTheFolders) {
  const std::string d = dir_ + "/t";
  for (const char* f : {"c.txt", "a.txt.hwz", "b.hwz", "A.HWZ", "a.txt", ".hidden"}) Write(d + "/" + f, "x\n");
  fs::create_directories(d + "/zeta");
  fs::create_directories(d + "/Alpha");
  fs::create_directory_symlink(d + "/zeta", d + "/link");
  ASSERT_EQ(::mkfifo((d + "/pipe").c_str(), 0600), 0);

  std::vector<std::pair<std::string, int>> shown;
  for (const auto& child : Item(d)->children) {
    shown.emplace_back(child->text, child->image);
    EXPECT_EQ(tree().FindItemByPath(tree().ItemPath(child.get())), child.get()) << child->text;
    if (child->image == IMG_FOLDER) {
      EXPECT_EQ(child->children.at(0)->text, kPlaceholderText);
    }
  }
  const std::vector<std::pair<std::string, int>> expected = {
      {"Alpha", IMG_FOLDER}, {"link", IMG_FOLDER}, {"zeta", IMG_FOLDER},      {".hidden", IMG_PLAIN},
      {"A.HWZ", IMG_PLAIN},  {"a.txt", IMG_BOTH},  {"b.hwz", IMG_COMPRESSED}, {"c.txt", IMG_PLAIN}};
  EXPECT_EQ(shown, expected);
  EXPECT_EQ(tree().FindItemByPath(d + "/A.txt"), nullptr);  // case counts
  EXPECT_EQ(tree().FindItemByPath(d + "/a.txt.hwz"), nullptr);
  EXPECT_EQ(tree().RevealPath(d + "/a.txt.hwz"), tree().FindItemByPath(d + "/a.txt"));

  TreeItem* root = tree().roots().at(0).get();
  EXPECT_EQ(std::make_tuple(root->image, tree().ItemPath(root), tree().FindItemByPath("/")),
            std::make_tuple(int{IMG_DRIVE}, std::string("/"), root));
  const std::string top = "/" + (++fs::path(dir_).begin())->string();  // a folder right under the root
  ASSERT_NE(tree().FindItemByPath(top), nullptr);
  EXPECT_EQ(tree().ItemPath(tree().FindItemByPath(top)), top);
}

// Waiting jobs read the cancel flag and the options when they begin, and
// the window's side (command, walk, Cancel) never waits for the job lock.
TEST_F(Batch, CancelAndOptionsReachJobsNotYetBegun) {
  const std::string root = dir_ + "/c";
  for (int i = 0; i < 5; ++i) Write(root + "/f" + std::to_string(i) + ".txt", Text(i));
  const auto before = Snapshot(root);
  TreeItem* item = Item(root);
  CMainDlg* d = &dlg();
  {
    std::lock_guard<JobLock> held(dlg().jobLock());  // as a running job holds it
    ASSERT_TRUE(Within([=] { d->RunCommand(JOB_COMPRESS, item); }));
    EXPECT_EQ(win().record().statuses.back(), "Compressing...");
    EXPECT_EQ(win().record().state(Control::kCancel), 1);
    ASSERT_TRUE(Within([=] { d->OnCancel(); }));
    EXPECT_EQ(win().record().statuses.back(), "Cancelling...");
    EXPECT_EQ(win().record().state(Control::kCancel), 0);
    EXPECT_TRUE(dlg().cancelRequested() && dlg().batchRunning());
  }
  ASSERT_TRUE(Idle());
  ExpectBatchEnded(5);
  EXPECT_EQ(Snapshot(root), before);
  EXPECT_TRUE(win().record().boxes.empty());

  // A walk that finds nothing starts no batch and leaves Cancel enabled;
  // Cancel then only raises the flag, which the next command clears.
  ASSERT_TRUE(Run(JOB_DECOMPRESS, root));
  EXPECT_TRUE(win().record().statuses.empty());
  EXPECT_EQ(win().record().state(Control::kCancel), 1);
  dlg().OnCancel();
  {
    std::lock_guard<JobLock> held(dlg().jobLock());
    ASSERT_TRUE(Within([=] { d->RunCommand(JOB_COMPRESS, item); }));
    dlg().setOptions(false, 0);  // the words-and-separators model
  }
  ASSERT_TRUE(Idle());
  ExpectBatchEnded(5);
  for (int i = 0; i < 5; ++i) {
    std::string name = root + "/f" + std::to_string(i) + ".txt";
    EXPECT_EQ(Read(name + ".hwz").substr(0, 1), std::string(1, '\0'));
    fs::remove(name);
  }
  ASSERT_TRUE(Run(JOB_DECOMPRESS, root));
  EXPECT_EQ(Snapshot(root).size(), 2 * before.size());
  for (const auto& [name, bytes] : before) EXPECT_EQ(Read(root + "/" + name), bytes);
}

TEST_F(Batch, RemoveCompressedTakesOnlyArchivesWithTheirOriginal) {
  const std::string root = dir_ + "/rc";
  Write(root + "/a.txt", Text(1));
  Write(root + "/a.txt.hwz", Archive(Text(1)));
  Write(root + "/sub/b.txt", Text(2));
  Write(root + "/sub/b.txt.hwz", Archive(Text(2)));
  Write(root + "/lone.txt.hwz", Archive(Text(3)));
  Write(root + "/x.hwz", "");
  std::lock_guard<JobLock> held(dlg().jobLock());  // removals run on the window's thread, without it

  ASSERT_TRUE(Run(JOB_REMOVE_COMPRESSED, root + "/a.txt"));  // an item with both versions
  ExpectBatchEnded(1);
  EXPECT_FALSE(Exists(root + "/a.txt.hwz"));
  EXPECT_EQ(Image(root + "/a.txt"), IMG_PLAIN);

  ASSERT_TRUE(Run(JOB_REMOVE_COMPRESSED, root));
  ExpectBatchEnded(3);
  EXPECT_TRUE(win().record().boxes.empty());
  EXPECT_FALSE(Exists(root + "/sub/b.txt.hwz"));
  EXPECT_EQ(Read(root + "/a.txt") + Read(root + "/sub/b.txt"), Text(1) + Text(2));
  EXPECT_EQ(Read(root + "/lone.txt.hwz"), Archive(Text(3)));
  EXPECT_TRUE(Exists(root + "/x.hwz"));
  EXPECT_EQ(Image(root + "/lone.txt.hwz"), IMG_COMPRESSED);
}

TEST_F(Batch, RemoveOriginalKeepsEveryFileWithoutAFaithfulArchive) {
  const std::string root = dir_ + "/ro", good = root + "/good.txt";
  const Strings kept = {root + "/damaged.txt", root + "/other.txt", root + "/empty.txt", root + "/folder.txt",
                        root + "/cut.txt"};
  const std::string archive = Archive(Text(4));
  for (const std::string& f : kept) Write(f, Text(4));
  Write(good, Text(4));
  Write(good + ".hwz", archive);
  Write(root + "/alone.txt", "no archive\n");
  Write(kept[0] + ".hwz", "\1garbage that is no container at all");
  Write(kept[1] + ".hwz", Archive("another text\n"));
  Write(kept[2] + ".hwz", "");
  fs::create_directories(kept[3] + ".hwz");
  Write(kept[4] + ".hwz", archive.substr(0, archive.size() / 2));

  ASSERT_TRUE(Run(JOB_REMOVE_ORIGINAL, good));  // an item with both versions
  ExpectBatchEnded(1);
  EXPECT_FALSE(Exists(good));
  EXPECT_EQ(Image(good + ".hwz"), IMG_COMPRESSED);

  ASSERT_TRUE(Run(JOB_REMOVE_ORIGINAL, root));
  ExpectBatchEnded(6);
  EXPECT_EQ(Read(root + "/alone.txt"), "no archive\n");
  EXPECT_EQ(Image(kept[0]), IMG_BOTH);
  const Strings why = {" is damaged.", " does not hold the text of " + kept[1] + ".",
                       " is empty.", " cannot be read: cannot open it: Is a directory.", " is damaged."};
  Strings errors = win().record().texts('E');
  EXPECT_EQ(errors.size(), kept.size());
  for (size_t i = 0; i < kept.size(); ++i) {
    EXPECT_EQ(Read(kept[i]), Text(4)) << kept[i];
    std::string head = "Error removing file\n\nThe compressed file " + kept[i] + ".hwz", tail = " " + kept[i] + " is kept.";
    auto box = std::find_if(errors.begin(), errors.end(), [&](const std::string& e) { return e.rfind(head, 0) == 0; });
    ASSERT_NE(box, errors.end()) << head;
    EXPECT_EQ(box->substr(box->size() - tail.size()), tail);
    EXPECT_NE(box->find(why[i]), std::string::npos) << *box;
  }
}

// The archive's header is intact and states the right length, but its body
// cannot be decoded: it does not hold the text, so the text must stay.
TEST_F(Batch, RemoveOriginalKeepsFileWhoseArchiveBodyIsDamaged) {
  const std::string name = dir_ + "/flipped.txt";
  std::string archive = Archive(Text(7));
  archive[archive.size() - 3] ^= 0x5a;
  Write(name, Text(7));
  Write(name + ".hwz", archive);
  ASSERT_TRUE(Run(JOB_DECOMPRESS, name + ".hwz"));
  EXPECT_EQ(win().record().texts('E'), Strings{"Decompression failed. See log file for details."});
  ASSERT_TRUE(Run(JOB_REMOVE_ORIGINAL, name));
  ExpectBatchEnded(1);
  EXPECT_EQ(Read(name), Text(7));
  EXPECT_EQ(win().record().texts('E').size(), 1u);
}

TEST_F(Batch, FailedJobsFinishOnceAndLoseNoFile) {
  const std::string root = dir_ + "/f", archive = Archive(Text(5));
  Write(root + "/bad.txt", "the only copy\n");
  Write(root + "/bad.txt.hwz", "\1not an archive at all, just text");
  Write(root + "/cut.txt", "kept as well\n");
  Write(root + "/cut.txt.hwz", archive.substr(0, archive.size() * 2 / 3));
  Write(root + "/zero.hwz", "");
  fs::create_directories(root + "/dir.hwz");  // walked into, not a job
  Write(root + "/.hwz", archive);              // a four-byte name is no archive name
  const auto before = Snapshot(root);
  ASSERT_TRUE(Run(JOB_DECOMPRESS, root));
  ExpectBatchEnded(3);
  EXPECT_EQ(Snapshot(root), before);
  Strings errors = win().record().texts('E');
  std::sort(errors.begin(), errors.end());
  EXPECT_EQ(errors, (Strings{"Decompression failed. See log file for details.",
                             "Decompression failed. See log file for details.", "Error creating file mapping.\n\n"}));

  // Inputs that no walk would take, started one by one.
  Write(root + "/bad.txt.HWZ", archive);
  Write(root + "/empty.txt", "");
  Write(root + "/big.txt", "");
  fs::resize_file(root + "/big.txt", 1ull << 31);  // sparse: costs no disk space
  const std::vector<std::tuple<std::string, JobType, std::string>> single = {
      {"/dir.hwz", JOB_DECOMPRESS, "Error opening input file.\n\nIs a directory"},
      {"/missing.hwz", JOB_DECOMPRESS, "Error opening input file.\n\nNo such file or directory"},
      {"/bad.txt.HWZ", JOB_DECOMPRESS, ""},
      {"/empty.txt", JOB_COMPRESS, "Error creating file mapping.\n\n"},
      {"/big.txt", JOB_COMPRESS,
       "The file " + root + "/big.txt is 2 GiB or larger.\n\nMoravine handles files below 2 GiB only."},
      {"/bad.txt.hwz", JOB_SEARCH, "Search failed. See log file for details."}};
  for (const auto& [name, type, box] : single) {
    SCOPED_TRACE(name);
    win().reset();
    dlg().StartJob(root + name, type);
    ASSERT_TRUE(Idle());
    EXPECT_EQ(win().record().count("Finished"), 1);
    EXPECT_EQ(win().record().texts('E'), box.empty() ? Strings{} : Strings{box});
  }
  fs::remove(root + "/big.txt");
  EXPECT_EQ(Read(root + "/bad.txt"), "the only copy\n");
  EXPECT_FALSE(Exists(root + "/missing") || Exists(root + "/empty.txt.hwz") || Exists(root + "/big.txt.hwz"));

  // Outputs that cannot be written in full: the old file stays as it was.
  Write(root + "/n.txt", Text(6));
  Write(root + "/n.txt.hwz", "old archive");
  Write(root + "/m.txt", "old text");
  Write(root + "/m.txt.hwz", Archive(Text(6)));
  const auto kept = Snapshot(root);
  struct rlimit saved, small;
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  small = saved;
  small.rlim_cur = 64;
  auto old_handler = ::signal(SIGXFSZ, SIG_IGN);
  ::setrlimit(RLIMIT_FSIZE, &small);
  win().reset();
  dlg().StartJob(root + "/n.txt", JOB_COMPRESS);
  bool idle = Idle();
  dlg().StartJob(root + "/m.txt.hwz", JOB_DECOMPRESS);
  idle = idle && Idle();
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::signal(SIGXFSZ, old_handler);
  ASSERT_TRUE(idle);
  EXPECT_EQ(win().record().count("Finished"), 2);
  EXPECT_EQ(win().record().texts('E'),
            (Strings{"Error writing to archive file.\n\nFile too large", "Error writing to file\n\nFile too large"}));
  EXPECT_EQ(Snapshot(root), kept);
}

TEST_F(Batch, SearchRowsGoByPositionWithTheLaterFileOnTop) {
  const std::string root = dir_ + "/s";
  Write(root + "/one.txt", "one two three four five six seven eight\nand five again\n");
  Write(root + "/two.txt", "five is here, and five there, five\n");
  Write(root + "/sub/none.txt", "nothing to see\n");
  ASSERT_TRUE(Run(JOB_COMPRESS, root));
  win().setSearch("five", "0");
  win().reset({SearchRow{"old", "1", "", "row", ""}});
  TreeItem* item = Item(root);
  CMainDlg* d = &dlg();
  ASSERT_TRUE(Within([=] { d->RunCommand(JOB_SEARCH, item); }) && Idle());
  ExpectBatchEnded(3);
  Record r = win().record();
  EXPECT_TRUE(r.boxes.empty());
  EXPECT_EQ(r.clears, 1);
  ASSERT_EQ(r.row_calls.size(), 2u);  // one call per file with hits
  for (const auto& rows : r.row_calls) {
    ASSERT_EQ(rows.size(), rows.at(0).file == "one.txt" ? 2u : 3u) << rows[0].file;
    for (size_t i = 0; i < rows.size(); ++i) {
      EXPECT_EQ(rows[i].file, rows[0].file);
      EXPECT_EQ(rows[i].word, "five");
      if (i > 0) {
        EXPECT_LT(std::stoi(rows[i - 1].position), std::stoi(rows[i].position));
      }
    }
    if (rows[0].file == "one.txt") {
      EXPECT_EQ(rows[0].left + "|" + rows[0].right, "two three four|six seven eight");
      EXPECT_EQ(rows[1].left + "|" + rows[1].right, "seven eight and|again ");  // line feeds show as blanks
    }
  }
  ASSERT_EQ(r.results.size(), 5u);  // the seeded row is gone
  EXPECT_EQ(r.results[0].file, r.row_calls[1][0].file);
}

// A front end may drop the dialog once WaitUntilIdle returns, as the command
// line does after its last batch.
TEST_F(Batch, DialogMayGoAsSoonAsItIsIdle) {
  Write(dir_ + "/e.txt", "");  // the job fails at once
  for (int i = 0; i < 200; ++i) {
    auto dialog = std::make_unique<CMainDlg>(core_->services, true);
    dialog->StartJob(dir_ + "/e.txt", JOB_COMPRESS);
    CMainDlg* d = dialog.get();
    ASSERT_TRUE(Within([d] { d->WaitUntilIdle(); }));
  }
  EXPECT_EQ(win().record().count("Finished"), 200);
}

}  // namespace
}  // namespace shelltest
