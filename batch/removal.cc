#include "batch/removal.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <system_error>
#include <utility>

#include "codec/decompress.h"
#include "platform/file.h"
#include "platform/file_status.h"
#include "platform/fileio.h"
#include "wordmodel/hlog.h"

namespace moravine {

namespace {

std::function<void(const std::string&)>& CheckHook() {
  static std::function<void(const std::string&)> hook;
  return hook;
}

bool SameFile(const FileStatus& a, const FileStatus& b) { return a.identity == b.identity; }

// The same file, and nothing written to it, cut from it or changed about it
// in between: any change moves the change time, which nobody can set back.
bool SameState(const FileStatus& now, const FileStatus& then) {
  return SameFile(now, then) && now.size == then.size && now.modified == then.modified && now.changed == then.changed;
}

// Flushes the directory unless it was flushed after the entry of `kept` was
// last changed: a run of single removals in one folder then costs one
// directory flush, not one per file. The time of each flush is kept per
// directory.
bool SyncDirectoryFor(const Directory& directory, const FileStatus& kept, int* error) {
  static std::mutex mutex;
  static std::map<FileIdentity, FileTime> flushed;
  FileStatus dir;
  if (!directory.file().status(&dir, error)) return false;
  {
    std::lock_guard<std::mutex> lock(mutex);
    auto it = flushed.find(dir.identity);
    // One second of margin for the coarse clock of file times.
    if (it != flushed.end() && kept.changed.seconds + 1 < it->second.seconds) return true;
  }
  const FileTime before = CurrentTime();
  if (!directory.file().sync(error)) return false;
  std::lock_guard<std::mutex> lock(mutex);
  flushed[dir.identity] = before;
  return true;
}

bool Unchanged(const MappedFile& file) {
  FileStatus now;
  return !file.changed() && file.file().status(&now) && SameState(now, file.status());
}

RemovalResult Kept(std::string why) {
  RemovalResult result;
  result.outcome = RemovalResult::kKept;
  result.why = std::move(why);
  return result;
}

RemovalResult Failed(int error, std::string why = std::string()) {
  RemovalResult result;
  result.outcome = RemovalResult::kFailed;
  result.error = error;
  result.why = std::move(why);
  return result;
}

// How many files a batch lets wait: each holds two descriptors, perhaps one
// for its directory, and one more while the previous group's are closed;
// the rest of the program keeps some room.
size_t BatchCapacity() {
  const size_t limit = OpenFileLimit();
  if (limit == 0) return RemovalBatch::kMostWaiting;
  const size_t spare = limit > 128 ? (limit - 64) / 4 : 1;
  return std::min<size_t>(spare, RemovalBatch::kMostWaiting);
}

}  // namespace

struct RemovalDirectory {
  Directory dir;
  uint64_t volume = 0;  // the file system that holds it
};

struct RemovalCandidate {
  std::string path;      // as given; reports name it
  std::string dir_path;  // what comes before the name in path
  std::shared_ptr<RemovalDirectory> dir;
  bool remove_original = true;
  std::string original;    // the two names in the directory
  std::string compressed;
  // Open from the moment they were compared, so that neither inode can be
  // freed and its number reused before the last look.
  File kept;
  File doomed;
  // Each file's record, taken as it was opened, before it was read.
  FileStatus kept_status;
  FileStatus doomed_status;

  const std::string& keptName() const { return remove_original ? compressed : original; }
  const std::string& doomedName() const { return remove_original ? original : compressed; }
  // How messages name the two files.
  std::string keptLabel() const {
    return (remove_original ? "The compressed file " : "The file ") + dir_path + keptName();
  }
  std::string doomedLabel() const {
    return (remove_original ? "The file " : "The compressed file ") + dir_path + doomedName();
  }
};

namespace {

// Opens both versions of the candidate's file; false, with the reason in
// *result, when one of them is not a regular file that can be read.
bool OpenBoth(const RemovalCandidate& c, MappedFile* kept, MappedFile* doomed, RemovalResult* result) {
  const Directory& dir = c.dir->dir;
  FileStatus st;
  if (!dir.entryStatus(c.keptName(), &st)) return false;  // nothing to do
  if (st.type != FileType::kRegular) {
    *result = Kept(c.keptLabel() + " is " + FileTypeName(st.type) + ", not a regular file.");
    return false;
  }
  MappedFile::Failure failure;
  int error;
  if (!kept->openAt(dir, c.keptName(), &failure, &error)) {
    *result = Kept(c.keptLabel() + " cannot be read: " + MappedFile::Describe(failure, error, &kept->status()) + ".");
    return false;
  }
  if (!doomed->openAt(dir, c.doomedName(), &failure, &error)) {
    *result =
        Kept(c.doomedLabel() + " cannot be read: " + MappedFile::Describe(failure, error, &doomed->status()) + ".");
    return false;
  }
  return true;
}

// Whether the compressed version decodes to exactly the original's bytes,
// and neither file changed while they were compared.
bool SameText(const RemovalCandidate& c, const MappedFile& kept, const MappedFile& doomed, RemovalResult* result) {
  const MappedFile& text = c.remove_original ? doomed : kept;
  const MappedFile& hwz = c.remove_original ? kept : doomed;
  if (SameFile(text.status(), hwz.status())) {
    *result = Kept(c.original + " and " + c.compressed + " are the same file.");
    return false;
  }
  // Decoded into a buffer of exactly the text's size: a text that does not
  // fit is not the same text.
  std::unique_ptr<unsigned char[]> decoded(new unsigned char[static_cast<size_t>(text.size())]);
  int32_t decoded_length = 0;
  bool fits = false;
  try {
    fits = HDecompress_fileInto(hwz.data(), static_cast<int32_t>(hwz.size()), decoded.get(), text.size(),
                                &decoded_length, 0);
  } catch (const HFatalFailure&) {
    *result = Kept("The compressed file " + c.dir_path + c.compressed + " is damaged.");
    return false;
  }
  if (!fits || decoded_length != text.size() ||
      std::memcmp(decoded.get(), text.data(), static_cast<size_t>(decoded_length)) != 0) {
    *result = Kept("The compressed file " + c.dir_path + c.compressed + " does not hold the text of " + c.dir_path +
                   c.original + ".");
    return false;
  }
  if (!Unchanged(kept) || !Unchanged(doomed)) {
    *result = Kept("The files changed while they were compared.");
    return false;
  }
  return true;
}

// The last look, under the directory's lock just before the deletion: both
// names lead to the files compared, and neither file changed since it was
// opened. The open descriptors are asked as well as the names; the
// doomed file's comes last, nearest to the deletion.
bool StillAsCompared(const RemovalCandidate& c, RemovalResult* result) {
  const Directory& dir = c.dir->dir;
  FileStatus kept_name;
  FileStatus doomed_name;
  int error = 0;
  if (!dir.entryStatus(c.keptName(), &kept_name, &error) || !dir.entryStatus(c.doomedName(), &doomed_name, &error)) {
    // One of the two is gone, taken by another removal: nothing is left to
    // do, and the file that stays is the only copy.
    *result = error == ENOENT ? RemovalResult() : Kept("The files were replaced while they were compared.");
    return false;
  }
  if (!SameFile(kept_name, c.kept_status) || !SameFile(doomed_name, c.doomed_status)) {
    *result = Kept("The files were replaced while they were compared.");
    return false;
  }
  FileStatus kept_now;
  FileStatus doomed_now;
  if (!SameState(kept_name, c.kept_status) || !SameState(doomed_name, c.doomed_status) ||
      !c.kept.status(&kept_now) || !SameState(kept_now, c.kept_status) || !c.doomed.status(&doomed_now) ||
      !SameState(doomed_now, c.doomed_status)) {
    *result = Kept("The files changed while they were compared.");
    return false;
  }
  return true;
}

// Writers are held off the doomed file from before its last look to its
// deletion, so that no edit can land between the two; where the system
// cannot hold them off, the gap is that of two system calls.
RemovalResult RemoveChecked(RemovalCandidate& c) {
  DirectoryLock lock(c.dir->dir);
  if (CheckHook()) CheckHook()(c.path);
  const File::WriterHold hold = c.doomed.holdOffWriters();
  if (hold == File::WriterHold::kOpenForWriting) {
    return Kept(c.doomedLabel() + " is open for writing in another program.");
  }
  RemovalResult result;
  if (StillAsCompared(c, &result)) {
    int error = 0;
    if (c.dir->dir.removeOpenedEntry(c.doomedName(), &c.doomed, &error)) {
      result.outcome = RemovalResult::kRemoved;
    } else {
      result = Failed(error);
    }
  }
  if (hold == File::WriterHold::kHeld && c.doomed.valid()) c.doomed.letWritersIn();
  return result;
}

RemovalResult FlushFailed(const RemovalCandidate& c, int error) {
  return Failed(error, "Cannot flush " + c.dir_path + c.keptName() + " to disk.");
}

using Candidates = std::vector<std::unique_ptr<RemovalCandidate>>;

// Makes every kept file, and the directory entry that names it, durable.
// One file: that file and its directory are flushed. More: each file system
// that holds a kept file or its directory is flushed once, which costs about
// what one file's flush does. The descriptor given to syncfs was opened
// before the flush, so that a write error since shows (on Linux from 5.8
// on). Where a file system cannot be flushed whole by a user (Windows),
// each kept file is flushed. Returns the results of the candidates whose flush failed,
// by index.
std::map<size_t, RemovalResult> Flush(const Candidates& waiting) {
  std::map<size_t, RemovalResult> failed;
  if (waiting.size() == 1 || !FileSystemSyncCoversAll()) {
    // Each kept file on its own: one alone, or where a file system cannot
    // be flushed whole.
    for (size_t i = 0; i < waiting.size(); ++i) {
      const RemovalCandidate& c = *waiting[i];
      int error = 0;
      if (!c.kept.sync(&error) || !SyncDirectoryFor(c.dir->dir, c.kept_status, &error)) {
        failed[i] = FlushFailed(c, error);
      }
    }
    return failed;
  }
  std::map<uint64_t, const File*> file_systems;  // an open file on each
  for (const auto& c : waiting) {
    file_systems.emplace(c->kept_status.identity.volume, &c->kept);
    file_systems.emplace(c->dir->volume, &c->dir->dir.file());
  }
  std::map<uint64_t, int> errors;
  for (const auto& [volume, file] : file_systems) {
    int error = 0;
    if (!file->syncFileSystem(&error)) errors[volume] = error;
  }
  for (size_t i = 0; i < waiting.size() && !errors.empty(); ++i) {
    auto it = errors.find(waiting[i]->kept_status.identity.volume);
    if (it == errors.end()) it = errors.find(waiting[i]->dir->volume);
    if (it != errors.end()) failed[i] = FlushFailed(*waiting[i], it->second);
  }
  return failed;
}

RemovalResult RemoveOne(const std::string& path, bool remove_original) {
  RemovalBatch batch(remove_original);
  RemovalResult result;
  if (!batch.add(path, &result)) return result;
  batch.finish([] { return false; }, [&result](const std::string&, const RemovalResult& done) { result = done; });
  return result;
}

}  // namespace

RemovalResult RemoveOriginalFile(const std::string& original) { return RemoveOne(original, true); }

RemovalResult RemoveCompressedFile(const std::string& compressed) { return RemoveOne(compressed, false); }

void SetRemovalCheckHook(std::function<void(const std::string& path)> hook) { CheckHook() = std::move(hook); }

RemovalBatch::RemovalBatch(bool remove_original) : remove_original_(remove_original), capacity_(BatchCapacity()) {}

RemovalBatch::~RemovalBatch() { waitForClosers(); }

void RemovalBatch::waitForClosers() {
  for (std::thread& closer : closers_) closer.join();
  closers_.clear();
}

std::shared_ptr<RemovalDirectory> RemovalBatch::directory(const std::string& path, int* error) {
  auto it = directories_.find(path);
  if (it != directories_.end()) return it->second;
  auto dir = std::make_shared<RemovalDirectory>();
  FileStatus st;
  if (!dir->dir.open(path, error) || !dir->dir.file().status(&st, error)) return nullptr;
  dir->volume = st.identity.volume;
  directories_[path] = dir;
  return dir;
}

bool RemovalBatch::add(const std::string& path, RemovalResult* result) {
  *result = RemovalResult();
  auto c = std::make_unique<RemovalCandidate>();
  std::string name;
  const std::string dir_name = ParentDirectory(path, &name);
  int error = 0;
  c->dir = directory(dir_name, &error);
  if (!c->dir) {
    *result = Failed(error);
    return false;
  }
  c->path = path;
  c->dir_path = path.substr(0, path.size() - name.size());
  c->remove_original = remove_original_;
  if (remove_original_) {
    c->original = name;
    c->compressed = name + ".hwz";
  } else {
    if (name.size() <= 4 || name.compare(name.size() - 4, 4, ".hwz") != 0) return false;
    c->original = name.substr(0, name.size() - 4);
    c->compressed = name;
  }
  {
    DirectoryLock lock(c->dir->dir);
    MappedFile kept;
    MappedFile doomed;
    if (!OpenBoth(*c, &kept, &doomed, result) || !SameText(*c, kept, doomed, result)) return false;
    // The bytes are not needed any more; the descriptors stay open.
    c->kept_status = kept.status();
    c->doomed_status = doomed.status();
    c->kept = kept.releaseFile();
    c->doomed = doomed.releaseFile();
  }
  waiting_.push_back(std::move(c));
  return true;
}

void RemovalBatch::finish(const std::function<bool()>& cancelled, const Report& report) {
  // The batch is empty from here on, whatever happens.
  Candidates waiting;
  waiting.swap(waiting_);
  directories_.clear();
  waitForClosers();
  bool stop = waiting.empty() || cancelled();
  const std::map<size_t, RemovalResult> failed = stop ? std::map<size_t, RemovalResult>() : Flush(waiting);
  std::vector<File> removed;
  for (size_t i = 0; i < waiting.size(); ++i) {
    RemovalResult result;
    auto it = failed.find(i);
    if (it != failed.end()) {
      result = it->second;
    } else if (stop || (stop = cancelled())) {
      result.outcome = RemovalResult::kCancelled;
    } else {
      result = RemoveChecked(*waiting[i]);
    }
    // (Where the removal closed it already, nothing is left to close.)
    if (result.outcome == RemovalResult::kRemoved && waiting[i]->doomed.valid()) {
      removed.push_back(std::move(waiting[i]->doomed));
    }
    const std::string path = waiting[i]->path;
    waiting[i].reset();
    report(path, result);
  }
  const size_t threads = std::min(kClosers, removed.size());
  closers_.reserve(threads);
  for (size_t t = 0; t < threads; ++t) {
    std::vector<File> share;
    for (size_t i = t; i < removed.size(); i += threads) share.push_back(std::move(removed[i]));
    try {
      closers_.emplace_back([share = std::move(share)]() mutable { share.clear(); });
    } catch (const std::system_error&) {
      // No thread: the descriptors are closed here, with the function that
      // would have closed them.
    }
  }
}

}  // namespace moravine
