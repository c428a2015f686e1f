// The batch core driven as the window drives it, over real folders, with the
// real file system, tree, threads, jobs and agrep.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <atomic>
#include <memory>
#include <sstream>
#include <thread>
#include <tuple>

#include "codec/compress.h"
#include "batch/file_jobs.h"
#include "batch/search_job.h"
#include "batch/main_dialog.h"
#include "platform/system_search_host.h"
#include "batch/removal.h"
#include "tests/batch/fake_window.h"
#include "wordmodel/hlog.h"

namespace batchtest {
namespace {

namespace fs = std::filesystem;
using namespace moravine;
using Strings = std::vector<std::string>;

std::string Read(const std::string& path) {
  return (std::ostringstream() << std::ifstream(path, std::ios::binary).rdbuf()).str();
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

// A hang fails the test through its time limit.
class Batch : public ::testing::Test {
 protected:
  struct Core {
    FakeWindow window;
    SystemFileSystem files;
    TreeModel tree{&files};
    DetachedThreadStarter threads;
    SystemSearchHost host;
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
    std::string name = (fs::temp_directory_path() / "moravine-batch-XXXXXX").string();
    ASSERT_NE(::mkdtemp(name.data()), nullptr);
    dir_ = fs::canonical(name).string();
    core_.tree.AddDrives();
  }
  void TearDown() override { dlg().WaitUntilIdle(), fs::remove_all(dir_); }

  FakeWindow& win() { return core_.window; }
  TreeModel& tree() { return core_.tree; }
  CMainDlg& dlg() { return *core_.dlg; }

  // Selects the item of the path, runs the command, waits for the batch.
  void Run(JobType type, const std::string& path) {
    win().reset();
    dlg().RunCommand(type, tree().RevealPath(path));
    dlg().WaitUntilIdle();
  }
  // Starts one job as a walk would, waits for it; the error boxes.
  Strings Start(const std::string& path, JobType type) {
    win().reset();
    dlg().StartJob(path, type);
    dlg().WaitUntilIdle();
    EXPECT_EQ(win().record().count("Finished"), 1) << path;
    return win().record().texts('E');
  }
  int Image(const std::string& path) { return tree().FindItemByPath(path) ? tree().FindItemByPath(path)->image : -1; }

  void ExpectBatchEnded(int jobs, const std::string& status = "Finished") {
    Record r = win().record();
    EXPECT_EQ(r.count(status), 1);
    ASSERT_FALSE(r.progress.empty());
    int counted = 0;
    for (auto [position, maximum] : r.progress) {
      EXPECT_LE(position, maximum) << "a job finished twice";
      counted = std::max(counted, maximum);
    }
    EXPECT_EQ(counted, jobs);
    EXPECT_EQ(r.progress.back(), std::make_pair(0, 0));
    EXPECT_EQ(r.statuses.back(), status);
    for (Control c : {Control::kCompress, Control::kDecompress, Control::kRemoveCompressed, Control::kRemoveOriginal,
                      Control::kExit, Control::kSearch, Control::kCancel}) {
      EXPECT_EQ(r.state(c), c == Control::kCancel ? 0 : c == Control::kSearch ? dlg().agrepFound() : 1);
    }
    EXPECT_FALSE(dlg().cancelRequested());
  }

  std::string dir_;
  Core core_;
};

TEST_F(Batch, CommandTableRefusesOrStartsTheJob) {
  // Items made by hand for files that do not exist: a started job fails to
  // open its input and names the path it was given on the status line.
  TreeItem root;
  const char* names[] = {"p.txt", "c.hwz", "b.txt"};  // plain, compressed, both
  for (int i = 0; i < 3; ++i) {
    root.children.push_back(
        std::make_unique<TreeItem>(TreeItem{dir_.substr(1) + "/" + names[i], IMG_PLAIN + i, &root, {}}));
  }
  const std::string no = "The selected file is not compressed", is = "The selected file is compressed";
  const std::string refusal[3][5] = {
      {"", no, no, "The selected file does not have a compressed version", no},
      {is, "", "The selected file does not have an uncompressed version", is, ""},
      {is, "", "", "", ""},
  };
  const char* verb[6] = {"", "Compressing ", "Decompressing ", "", "", "Searching "};
  for (int i = 0; i < 3; ++i) {
    for (int type = JOB_COMPRESS; type <= JOB_SEARCH; ++type) {
      SCOPED_TRACE(std::string(names[i]) + ", command " + std::to_string(type));
      win().reset();
      dlg().RunCommand(static_cast<JobType>(type), root.children[i].get());
      dlg().WaitUntilIdle();
      Record r = win().record();
      if (const std::string& refused = refusal[i][type - 1]; !refused.empty()) {
        EXPECT_EQ(r.boxes, (decltype(r.boxes){{'I', refused}}));
        EXPECT_TRUE(r.statuses.empty() && r.progress.empty() && r.enabled.empty() && r.clears == 0);
        continue;
      }
      ExpectBatchEnded(1);
      EXPECT_EQ(r.clears, type == JOB_SEARCH ? 1 : 0);
      if (*verb[type]) {
        EXPECT_EQ(r.count(verb[type] + dir_ + "/" + names[i] + (i == 2 ? ".hwz" : "") + "..."), 1);
        EXPECT_EQ(r.texts('E'), Strings{"Error opening input file.\n\nNo such file or directory"});
      } else {
        EXPECT_TRUE(r.boxes.empty());
      }
    }
  }
  win().reset();
  dlg().RunCommand(JOB_COMPRESS, nullptr);
  EXPECT_EQ(win().record().boxes, (decltype(Record::boxes){{'I', "No file or directory selected"}}));
  EXPECT_TRUE(win().record().statuses.empty() && win().record().enabled.empty() && fs::is_empty(dir_));
}

// The compress walk takes every regular file and nothing else; removing the
// originals and decompressing then gives back the very names and bytes.
TEST_F(Batch, FolderRoundTripRestoresNamesAndBytes) {
  core_.dlg = std::make_unique<CMainDlg>(core_.services, false);  // Search stays off without agrep
  const std::string root = dir_ + "/r", a = root + "/a.txt", outside = dir_ + "/outside";
  // Awkward names: blanks, quotes, non-ASCII bytes (one not UTF-8), hidden
  // entries, an empty folder, and A.HWZ, which is a plain file.
  const Strings files = {"a.txt", ".hidden", "A.HWZ", "sub dir/it's \"quoted\".txt", "sub dir/caf\xc3\xa9 \xff.txt",
                         "sub dir/.dot dir/deep.txt", "sub dir/stale.txt"};
  for (size_t i = 0; i < files.size(); ++i) Write(root + "/" + files[i], Text(static_cast<int>(i)));
  fs::create_directories(root + "/empty dir");
  Write(outside + "/o.txt", "behind a link\n");
  fs::create_directory_symlink(outside, root + "/link");
  fs::create_symlink(outside + "/o.txt", root + "/sub dir/o link");
  ASSERT_EQ(::mkfifo((root + "/sub dir/pipe").c_str(), 0600), 0);  // opening it would block
  const auto before = Snapshot(root);
  Write(root + "/sub dir/stale.txt.hwz", "an outdated archive");
  Write(root + "/lone.hwz", "not compressed again");
  tree().RevealPath(root);  // the folder is read: its items follow the jobs
  EXPECT_EQ(Image(a), IMG_PLAIN);
  const int n = static_cast<int>(files.size());
  Run(JOB_COMPRESS, root);
  ExpectBatchEnded(n);
  EXPECT_EQ(Image(a), IMG_BOTH);
  for (const std::string& f : files) EXPECT_EQ(Read(root + "/" + f + ".hwz").substr(0, 1), "\1") << f;  // spaceless
  for (const char* no : {"/lone.hwz.hwz", "/sub dir/pipe.hwz", "/sub dir/o link.hwz", "/link.hwz", "/link/o.txt.hwz"})
    EXPECT_FALSE(Exists(root + no)) << no;
  fs::remove(root + "/lone.hwz");

  Run(JOB_REMOVE_ORIGINAL, root);
  ExpectBatchEnded(n);
  for (const std::string& f : files) EXPECT_FALSE(Exists(root + "/" + f)) << f;
  EXPECT_EQ(tree().FindItemByPath(a), nullptr);
  EXPECT_EQ(Image(a + ".hwz"), IMG_COMPRESSED);

  Run(JOB_DECOMPRESS, root);
  ExpectBatchEnded(n);
  EXPECT_TRUE(win().record().boxes.empty());
  EXPECT_EQ(Image(a), IMG_BOTH);
  EXPECT_EQ(tree().FindItemByPath(a + ".hwz"), nullptr);
  auto after = Snapshot(root);  // no temporary file left either
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
  for (const auto& child : tree().RevealPath(d)->children) {
    shown.emplace_back(child->text, child->image);
    EXPECT_EQ(tree().FindItemByPath(tree().ItemPath(child.get())), child.get()) << child->text;
    EXPECT_TRUE(child->image != IMG_FOLDER || child->children.at(0)->text == kPlaceholderText) << child->text;
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
}

// Waiting jobs read the cancel flag and the options when they begin, and
// the window's side (command, walk, Cancel) never waits for the job lock:
// Cancel finishes the queued jobs itself, and the batch ends with the one
// a worker holds.
TEST_F(Batch, CancelAndOptionsReachJobsNotYetBegun) {
  const std::string root = dir_ + "/c";
  for (int i = 0; i < 5; ++i) Write(root + "/f" + std::to_string(i) + ".txt", Text(i));
  const auto before = Snapshot(root);
  TreeItem* item = tree().RevealPath(root);
  {
    std::lock_guard<JobLock> held(dlg().jobLock());  // as a running job holds it
    dlg().RunCommand(JOB_COMPRESS, item);
    EXPECT_EQ(win().record().statuses.back(), "Compressing...");
    EXPECT_EQ(win().record().state(Control::kCancel), 1);
    dlg().OnCancel();
    EXPECT_EQ(win().record().state(Control::kCancel), 0);
  }
  dlg().WaitUntilIdle();
  ExpectBatchEnded(5, "Cancelled after 0 of 5 files");
  EXPECT_EQ(Snapshot(root), before);
  EXPECT_TRUE(win().record().boxes.empty());

  // A walk that finds nothing starts no batch and leaves Cancel enabled;
  // Cancel then only raises the flag, which the next command clears.
  Run(JOB_DECOMPRESS, root);
  EXPECT_TRUE(win().record().statuses.empty());
  EXPECT_EQ(win().record().state(Control::kCancel), 1);
  dlg().OnCancel();
  EXPECT_TRUE(win().record().statuses.empty());
  {
    std::lock_guard<JobLock> held(dlg().jobLock());
    dlg().RunCommand(JOB_COMPRESS, item);
    dlg().setOptions(false, 0);  // the words-and-separators model
  }
  dlg().WaitUntilIdle();
  ExpectBatchEnded(5);
  for (const auto& [name, bytes] : before) EXPECT_EQ(Read(root + "/" + name + ".hwz").substr(0, 1), std::string(1, 0));
}

// Compress jobs that wait at their start until the test lets them go, in
// the order they begin.
std::atomic<int> g_arrived{0};
std::atomic<int> g_let_go{0};
int GatedCompress(JobParams* params) {
  const int me = ++g_arrived;
  while (g_let_go.load() < me) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return CompressJob(params);
}

// Cancel in the middle of a batch: the files done stay done, the queued
// ones finish at once as cancelled while the worker still holds one, and
// the status tells how far the batch got.
TEST_F(Batch, CancelEndsTheQueueAtOnceAndTellsHowFarTheBatchGot) {
  const std::string root = dir_ + "/q";
  for (int i = 0; i < 5; ++i) Write(root + "/f" + std::to_string(i) + ".txt", Text(i));
  core_.services.jobs.compress = GatedCompress;
  core_.dlg = std::make_unique<CMainDlg>(core_.services, true);
  g_arrived = 0;
  g_let_go = 2;
  win().reset();
  dlg().RunCommand(JOB_COMPRESS, tree().RevealPath(root));
  while (g_arrived.load() < 3) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  dlg().OnCancel();
  // Two done, two finished by Cancel, the third waiting at its start.
  EXPECT_TRUE(dlg().batchRunning());
  EXPECT_EQ(win().record().progress.back(), std::make_pair(4, 5));
  EXPECT_EQ(win().record().statuses.back(), "Cancelling...");
  g_let_go = 5;
  dlg().WaitUntilIdle();
  ExpectBatchEnded(5, "Cancelled after 2 of 5 files");
  EXPECT_EQ(g_arrived.load(), 3);
  int compressed = 0;
  for (int i = 0; i < 5; ++i) compressed += Exists(root + "/f" + std::to_string(i) + ".txt.hwz");
  EXPECT_EQ(compressed, 2);  // the third, taken by the worker, saw the flag when it began
}

TEST_F(Batch, RemoveCompressedTakesOnlyArchivesWithTheirOriginal) {
  const std::string root = dir_ + "/rc";
  for (const char* f : {"/a.txt", "/sub/b.txt"}) {
    Write(root + f, Text(1));
    Write(root + f + ".hwz", Archive(Text(1)));
  }
  Write(root + "/lone.txt.hwz", Archive(Text(3)));
  Write(root + "/x.hwz", "");
  std::lock_guard<JobLock> held(dlg().jobLock());  // removals run on the window's thread, without it

  Run(JOB_REMOVE_COMPRESSED, root + "/a.txt");  // an item with both versions
  ExpectBatchEnded(1);
  EXPECT_FALSE(Exists(root + "/a.txt.hwz"));
  EXPECT_EQ(Image(root + "/a.txt"), IMG_PLAIN);

  Run(JOB_REMOVE_COMPRESSED, root);
  ExpectBatchEnded(3);
  EXPECT_TRUE(win().record().boxes.empty());
  EXPECT_FALSE(Exists(root + "/sub/b.txt.hwz"));
  EXPECT_EQ(Read(root + "/a.txt") + Read(root + "/sub/b.txt"), Text(1) + Text(1));
  EXPECT_EQ(Read(root + "/lone.txt.hwz"), Archive(Text(3)));
  EXPECT_TRUE(Exists(root + "/x.hwz"));
  EXPECT_EQ(Image(root + "/lone.txt.hwz"), IMG_COMPRESSED);
}

TEST_F(Batch, RemoveOriginalKeepsEveryFileWithoutAFaithfulArchive) {
  const std::string root = dir_ + "/ro", good = root + "/good.txt", archive = Archive(Text(4));
  std::string flipped = archive;  // header intact, body not decodable
  flipped[flipped.size() - 3] ^= 0x5a;
  // File, its archive, and why the file stays.
  const std::vector<std::tuple<std::string, std::string, std::string>> kept = {
      {"damaged", "\1garbage that is no container at all", " is damaged."},
      {"flipped", flipped, " is damaged."},
      {"other", Archive("W" + Text(4).substr(1)), " does not hold the text of " + root + "/other.txt."},
      {"empty", "", " cannot be read: the file is empty."},
      {"folder", "", " is a folder, not a regular file."},
      {"cut", archive.substr(0, archive.size() / 2), " is damaged."}};
  for (const auto& [name, hwz, why] : kept) {
    Write(root + "/" + name + ".txt", Text(4));
    if (name == "folder") fs::create_directories(root + "/folder.txt.hwz");
    else Write(root + "/" + name + ".txt.hwz", hwz);
  }
  Write(good, Text(4));
  Write(good + ".hwz", archive);
  Write(root + "/alone.txt", "no archive\n");

  Run(JOB_REMOVE_ORIGINAL, good);  // an item with both versions
  ExpectBatchEnded(1);
  EXPECT_FALSE(Exists(good));
  EXPECT_EQ(Image(good + ".hwz"), IMG_COMPRESSED);

  Run(JOB_REMOVE_ORIGINAL, root);
  ExpectBatchEnded(7);
  EXPECT_EQ(Read(root + "/alone.txt"), "no archive\n");
  EXPECT_EQ(Image(root + "/damaged.txt"), IMG_BOTH);
  Strings errors = win().record().texts('E');
  EXPECT_EQ(errors.size(), kept.size());
  for (const auto& [name, hwz, why] : kept) {
    const std::string file = root + "/" + name + ".txt";
    EXPECT_EQ(Read(file), Text(4)) << file;
    std::string box = "Error removing file\n\nThe compressed file " + file + ".hwz" + why + " " + file + " is kept.";
    EXPECT_NE(std::find(errors.begin(), errors.end(), box), errors.end()) << box;
  }
}

// Rewrites the file's first byte in place and sets its times back, as
// rsync --inplace -t does: only the file's change time tells.
void EditInPlace(const std::string& path) {
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
}

// Lowers the soft limit on open files while it lives, so that a walk's
// removals come in groups of a few dozen.
class FewDescriptors {
 public:
  explicit FewDescriptors(rlim_t limit) {
    ::getrlimit(RLIMIT_NOFILE, &saved_);
    const struct rlimit low = {limit, saved_.rlim_max};
    ::setrlimit(RLIMIT_NOFILE, &low);
  }
  ~FewDescriptors() { ::setrlimit(RLIMIT_NOFILE, &saved_); }

 private:
  struct rlimit saved_;
};

// Pairs NAME / NAME.hwz below root, two in three in root and the rest in
// root/sub; returns the originals.
Strings WritePairs(const std::string& root, int count) {
  Strings originals;
  for (int i = 0; i < count; ++i) {
    originals.push_back(root + (i % 3 ? "/" : "/sub/") + "f" + std::to_string(i) + ".txt");
    Write(originals.back(), Text(i % 7));
    Write(originals.back() + ".hwz", Archive(Text(i % 7)));
  }
  return originals;
}

// A walk removes in groups: every file whose other version holds its text
// goes and the files kept stay as they were. A pair disturbed just before
// its last look stays, and is reported when a file changed (even with its
// modification time set back) or was replaced.
TEST_F(Batch, AFolderIsRemovedInGroupsAndDisturbedPairsStay) {
  FewDescriptors few(256);  // fewer descriptors than the folder's pairs would take at once
  ASSERT_LT(RemovalBatch(true).capacity(), 100u);
  // One command after the other, in one dialog.
  const Strings in_ro = WritePairs(dir_ + "/ro", 300), in_rc = WritePairs(dir_ + "/rc", 300);
  for (JobType type : {JOB_REMOVE_ORIGINAL, JOB_REMOVE_COMPRESSED}) {
    const bool originals = type == JOB_REMOVE_ORIGINAL;
    SCOPED_TRACE(originals ? "remove-original" : "remove-compressed");
    const std::string root = dir_ + (originals ? "/ro" : "/rc");
    const Strings& files = originals ? in_ro : in_rc;
    auto doomed = [&](int i) { return files[i] + (originals ? "" : ".hwz"); };
    auto kept = [&](int i) { return files[i] + (originals ? ".hwz" : ""); };
    Write(files[150], Text(3000));  // mapped rather than read: over 256 KiB
    Write(files[150] + ".hwz", Archive(Text(3000)));
    const auto before = Snapshot(root);
    tree().RevealPath(root + "/f1.txt");
    tree().RevealPath(root + "/sub/f0.txt");
    const std::map<std::string, std::function<void()>> disturb = {
        {doomed(150), [&] { EditInPlace(doomed(150)); }},
        {doomed(151), [&] { EditInPlace(kept(151)); }},
        {doomed(152), [&] { fs::copy_file(doomed(152), root + "/copy"), fs::rename(root + "/copy", doomed(152)); }},
        {doomed(153), [&] { fs::remove(kept(153)); }},  // the only copy left is kept, silently
    };
    int looks = 0;
    SetRemovalCheckHook([&](const std::string& path) {
      ++looks;
      if (disturb.count(path)) disturb.at(path)();
    });
    Run(type, root);
    SetRemovalCheckHook(nullptr);
    ExpectBatchEnded(300);
    EXPECT_EQ(looks, 300);
    const std::string box = "Error removing file\n\nThe files ", changed = "changed while they were compared. ";
    Strings expected = {box + changed + doomed(150) + " is kept.", box + changed + doomed(151) + " is kept.",
                        box + "were replaced while they were compared. " + doomed(152) + " is kept."};
    Strings errors = win().record().texts('E');
    std::sort(errors.begin(), errors.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(errors, expected);
    auto after = Snapshot(root);
    for (const auto& [name, bytes] : before) {
      const std::string path = root + "/" + name;
      if (bytes == "<>" || path == kept(151) || path == kept(153)) continue;  // the folder; kept files disturbed
      if (path == doomed(150) || path == doomed(151) || path == doomed(152) || path == doomed(153)) {
        EXPECT_EQ(after.count(name), 1u) << name;
      } else if (originals == EndsWithHwz(name)) {
        EXPECT_EQ(after[name], bytes) << "a file kept changed: " << name;
      } else {
        EXPECT_EQ(after.count(name), 0u) << name;
      }
    }
    EXPECT_EQ(Image(files[150]), IMG_BOTH);
    EXPECT_EQ(Image(kept(1)), originals ? IMG_COMPRESSED : IMG_PLAIN);
  }
}

// Cancel while a group's files are being removed: the file under way goes,
// no other; the walk stops, and every file it counted finishes once. The
// next command removes the rest.
TEST_F(Batch, CancelInTheMiddleOfAGroupRemovesNothingMore) {
  FewDescriptors few(256);
  const int group = static_cast<int>(RemovalBatch(true).capacity());
  const std::string root = dir_ + "/cancel";
  const Strings files = WritePairs(root, 3 * group);
  int looks = 0;
  SetRemovalCheckHook([&](const std::string&) {
    if (++looks == 10) dlg().OnCancel();
  });
  Run(JOB_REMOVE_ORIGINAL, root);
  SetRemovalCheckHook(nullptr);
  ExpectBatchEnded(group, "Cancelled after 9 of " + std::to_string(group) + " files");
  EXPECT_EQ(win().record().count("Cancelling..."), 1);
  EXPECT_TRUE(win().record().boxes.empty());
  EXPECT_EQ(looks, 10);
  auto left = [&] { return std::count_if(files.begin(), files.end(), [](const std::string& f) { return Exists(f); }); };
  EXPECT_EQ(left(), 3 * group - 10);
  for (const std::string& f : files) EXPECT_TRUE(Exists(f + ".hwz")) << f;

  Run(JOB_REMOVE_ORIGINAL, root);
  ExpectBatchEnded(3 * group - 10);
  EXPECT_EQ(left(), 0);
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
  Run(JOB_DECOMPRESS, root);
  ExpectBatchEnded(3);
  EXPECT_EQ(Snapshot(root), before);
  Strings errors = win().record().texts('E');
  std::sort(errors.begin(), errors.end());
  // A failure's message says what failed and, after a blank line, why.
  const std::string failed = "Decompression failed. See log file for details.\n\nError: ";
  ASSERT_EQ(errors.size(), 3u);
  EXPECT_EQ(errors[0].rfind(failed, 0), 0u) << errors[0];
  EXPECT_EQ(errors[1].rfind(failed, 0), 0u) << errors[1];
  EXPECT_EQ(errors[2], "Error creating file mapping.\n\n");

  // Inputs that no walk would take, started one by one.
  Write(root + "/big.txt", "");
  fs::resize_file(root + "/big.txt", 1ull << 31);  // sparse: costs no disk space
  EXPECT_EQ(Start(root + "/dir.hwz", JOB_DECOMPRESS), Strings{"Error opening input file.\n\nIt is a folder, not a regular file."});
  EXPECT_EQ(Start(root + "/big.txt", JOB_COMPRESS),
            Strings{"The file " + root + "/big.txt is 2 GiB or larger.\n\nMoravine handles files below 2 GiB only."});
  const Strings search_failed = Start(root + "/bad.txt.hwz", JOB_SEARCH);
  ASSERT_EQ(search_failed.size(), 1u);
  EXPECT_EQ(search_failed[0].rfind("Search failed. See log file for details.\n\nError: ", 0), 0u) << search_failed[0];
  fs::remove(root + "/big.txt");
  EXPECT_EQ(Read(root + "/bad.txt"), "the only copy\n");
  EXPECT_FALSE(Exists(root + "/big.txt.hwz"));

  // Outputs that cannot be written in full: the old file stays as it was.
  for (auto [name, data] : {std::pair{"n.txt", Text(6)}, {"n.txt.hwz", "old archive"}, {"m.txt", "old text"},
                            {"m.txt.hwz", Archive(Text(6))}}) {
    Write(root + "/" + name, data);
  }
  const auto kept = Snapshot(root);
  struct rlimit saved;
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  const struct rlimit small = {64, saved.rlim_max};
  auto old_handler = ::signal(SIGXFSZ, SIG_IGN);
  ::setrlimit(RLIMIT_FSIZE, &small);
  Strings compress = Start(root + "/n.txt", JOB_COMPRESS), decompress = Start(root + "/m.txt.hwz", JOB_DECOMPRESS);
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::signal(SIGXFSZ, old_handler);
  EXPECT_EQ(compress, Strings{"Error writing to archive file.\n\nFile too large"});
  EXPECT_EQ(decompress, Strings{"Error writing to file\n\nFile too large"});
  EXPECT_EQ(Snapshot(root), kept);
}

// Starts at most `limit` threads at a time, as a system short of threads
// would, and records how many ran at once.
class ScarceThreads : public ThreadStarter {
 public:
  explicit ScarceThreads(int limit) : limit_(limit) {}
  bool start(std::function<void()> work) override {
    if (alive_.fetch_add(1) >= limit_) {
      --alive_;
      return false;
    }
    most_ = std::max(most_.load(), alive_.load());
    std::thread([this, work = std::move(work)] {
      work();
      --alive_;
    }).detach();
    return true;
  }
  int most() const { return most_.load(); }

 private:
  int limit_;
  std::atomic<int> alive_{0};
  std::atomic<int> most_{0};
};

TEST_F(Batch, AFolderOfManyFilesNeedsNoMoreThreadsThanJobSlots) {
  const std::string root = dir_ + "/many";
  for (int i = 0; i < 300; ++i) Write(root + "/" + std::to_string(i) + ".txt", Text(i % 5));
  ScarceThreads threads(2);
  core_.services.threads = &threads;
  core_.dlg = std::make_unique<CMainDlg>(core_.services, true, 2);
  Run(JOB_COMPRESS, root);
  ExpectBatchEnded(300);
  EXPECT_TRUE(win().record().boxes.empty());
  EXPECT_LE(threads.most(), 2);
  EXPECT_EQ(std::distance(fs::directory_iterator(root), fs::directory_iterator()), 600);
}

// Whatever the job slots, every job of a folder runs once, and with no
// thread to be had every job fails once, said so, and the batch still ends.
TEST_F(Batch, EveryJobOfAFolderRunsOnceWhateverTheSlotsOrFailsWithoutThreads) {
  const std::string root = dir_ + "/slots";
  for (int i = 0; i < 40; ++i) Write(root + "/" + std::to_string(i) + ".txt", Text(i % 5));
  for (int slots : {1, 3}) {
    ScarceThreads threads(8);
    core_.services.threads = &threads;
    core_.dlg = std::make_unique<CMainDlg>(core_.services, true, slots);
    win().reset();
    Run(JOB_COMPRESS, root);
    ExpectBatchEnded(40);
    EXPECT_LE(threads.most(), slots);
    Run(JOB_REMOVE_COMPRESSED, root);
  }
  ScarceThreads none(0);
  core_.services.threads = &none;
  core_.dlg = std::make_unique<CMainDlg>(core_.services, true, 2);
  win().reset();
  Run(JOB_COMPRESS, root);
  ExpectBatchEnded(40);
  EXPECT_EQ(win().record().boxes.size(), 40u);
  EXPECT_EQ(std::distance(fs::directory_iterator(root), fs::directory_iterator()), 40);
}

TEST_F(Batch, AfterAbortNoCommandStartsAnything) {
  const std::string root = dir_ + "/a";
  Write(root + "/a.txt", Text(1));
  Write(root + "/b.txt", Text(2));
  Run(JOB_COMPRESS, root);
  const auto before = Snapshot(root);
  dlg().Abort();
  for (JobType type : {JOB_DECOMPRESS, JOB_REMOVE_ORIGINAL, JOB_REMOVE_COMPRESSED}) Run(type, root);
  EXPECT_EQ(Snapshot(root), before);
  EXPECT_TRUE(dlg().cancelRequested());
}

TEST_F(Batch, SearchRowsComeByPositionOneCallPerFile) {
  const std::string root = dir_ + "/s";
  Write(root + "/one.txt", "one two three four five six seven eight\nand five again\n");
  Write(root + "/two.txt", "five is here, and five there, five\n");
  Write(root + "/sub/none.txt", "nothing to see\n");
  Run(JOB_COMPRESS, root);
  win().setSearch("five", "0");
  Run(JOB_SEARCH, root);
  ExpectBatchEnded(3);
  Record r = win().record();
  EXPECT_TRUE(r.boxes.empty() && r.clears == 1);
  ASSERT_EQ(r.row_calls.size(), 2u);  // one call per file with hits
  for (const auto& rows : r.row_calls) {
    ASSERT_EQ(rows.size(), rows.at(0).file == "one.txt" ? 2u : 3u) << rows[0].file;
    for (size_t i = 0; i < rows.size(); ++i) {
      EXPECT_EQ(rows[i].file + rows[i].word, rows[0].file + "five");
      EXPECT_TRUE(i == 0 || std::stoi(rows[i - 1].position) < std::stoi(rows[i].position));
    }
    if (rows[0].file == "one.txt") {
      EXPECT_EQ(rows[0].left + "|" + rows[0].right, "two three four|six seven eight");
      EXPECT_EQ(rows[1].left + "|" + rows[1].right, "seven eight and|again ");  // line feeds show as blanks
    }
  }
}

// The system's file system, telling which folders it was asked to list.
class CountingFileSystem : public SystemFileSystem {
 public:
  bool enumerate(const std::string& dir, std::vector<DirEntry>* entries) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      listed_.push_back(dir);
    }
    return SystemFileSystem::enumerate(dir, entries);
  }
  Strings listed() {
    std::lock_guard<std::mutex> lock(mutex_);
    Strings out;
    out.swap(listed_);
    return out;
  }

 private:
  std::mutex mutex_;
  Strings listed_;
};

// A named path costs a look at that path, not a listing of every folder
// above it: one file among many is worked on with no folder read, and a
// folder by reading what lies below it alone.
TEST_F(Batch, ANamedPathIsLookedAtAloneAndOnlyTheFoldersWalkedAreRead) {
  const std::string root = dir_ + "/named", file = root + "/x.txt";
  for (int i = 0; i < 200; ++i) Write(root + "/" + std::to_string(i) + ".txt", "other");
  Write(file, "five and five\n");
  Write(root + "/sub/inner/f.txt", Text(1));
  CountingFileSystem files;
  TreeModel tree(&files);  // never read: the command line shows no tree
  FakeWindow window;
  DetachedThreadStarter threads;
  SystemSearchHost host;
  MainServices services{&window, &tree, &files, &threads, &host, {CompressJob, DecompressJob, SearchJob}};
  CMainDlg dlg(services, true);
  auto run = [&](JobType type, const std::string& path) {
    PathItem item;
    ASSERT_TRUE(dlg.LookUpPath(path, &item)) << path;
    dlg.RunCommandOnPath(type, item);
    dlg.WaitUntilIdle();
  };

  run(JOB_COMPRESS, file);
  EXPECT_TRUE(Exists(file + ".hwz"));
  PathItem item;
  ASSERT_TRUE(dlg.LookUpPath(file + ".hwz", &item));
  EXPECT_EQ(std::make_pair(item.image, item.path), std::make_pair(int{IMG_BOTH}, file));
  window.setSearch("five", "0");
  run(JOB_SEARCH, file + ".hwz");
  ASSERT_EQ(window.record().row_calls.size(), 1u);
  EXPECT_EQ(window.record().row_calls[0].size(), 2u);
  run(JOB_REMOVE_ORIGINAL, file);
  EXPECT_FALSE(Exists(file));
  EXPECT_EQ(files.listed(), Strings{}) << "a command on one file reads no folder";

  run(JOB_COMPRESS, root + "/sub");
  EXPECT_TRUE(Exists(root + "/sub/inner/f.txt.hwz"));
  EXPECT_EQ(files.listed(), (Strings{root + "/sub", root + "/sub/inner"}));
  EXPECT_TRUE(window.record().texts('E').empty());
}

// The item found for a named path is the one the tree shows for it, for
// every kind of entry, and none where the tree shows none.
TEST_F(Batch, LookUpPathFindsTheItemTheTreeShows) {
  const std::string d = dir_ + "/kinds";
  for (const char* f : {"plain.txt", "both.txt", "both.txt.hwz", "only.hwz", "A.HWZ", ".moravine-1-2.x", "f/in.txt"})
    Write(d + "/" + f, "x\n");
  fs::create_directories(d + "/dir.hwz");
  Write(d + "/dir", "a file whose .hwz name is a folder\n");
  fs::create_directory_symlink(d + "/f", d + "/link to folder");
  fs::create_symlink(d + "/plain.txt", d + "/link to file");
  fs::create_symlink(d + "/nowhere", d + "/dangling");
  ASSERT_EQ(::mkfifo((d + "/pipe").c_str(), 0600), 0);
  const Strings names = {"plain.txt", "both.txt", "both.txt.hwz", "only.hwz", "only", "A.HWZ", ".moravine-1-2.x",
                         "f", "f/in.txt", "dir", "dir.hwz", "link to folder", "link to folder/in.txt",
                         "link to file", "dangling", "pipe", "absent", "plain.txt.hwz", "plain.txt/below"};
  for (const std::string& name : names) {
    const std::string path = d + "/" + name;
    TreeItem* shown = tree().RevealPath(path);
    const std::string shown_path = shown ? tree().ItemPath(shown) : std::string();
    const bool in_tree = shown && (shown_path == path || (shown->image == IMG_BOTH && shown_path + ".hwz" == path));
    PathItem item;
    ASSERT_EQ(dlg().LookUpPath(path, &item), in_tree) << name;
    if (in_tree) {
      EXPECT_EQ(std::make_pair(item.image, item.path), std::make_pair(shown->image, shown_path)) << name;
    }
  }
  PathItem root;
  ASSERT_TRUE(dlg().LookUpPath("/", &root));
  EXPECT_EQ(std::make_pair(root.image, root.path), std::make_pair(int{IMG_DRIVE}, std::string("/")));
  EXPECT_FALSE(dlg().LookUpPath("relative/path", &root));
}

}  // namespace
}  // namespace batchtest
