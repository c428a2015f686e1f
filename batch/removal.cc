#include "batch/removal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <system_error>
#include <utility>

#include "codec/decompress.h"
#include "platform/fileio.h"
#include "wordmodel/hlog.h"

namespace moravine {

namespace {

// A descriptor, closed when dropped.
class Descriptor {
 public:
  Descriptor() = default;
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() { reset(-1); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  Descriptor(Descriptor&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Descriptor& operator=(Descriptor&& other) noexcept {
    if (this != &other) {
      reset(other.fd_);
      other.fd_ = -1;
    }
    return *this;
  }
  int get() const { return fd_; }
  void reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

// Holds the directory's lock for its lifetime. It serialises the checks and
// the deletion against other Moravine processes (and other threads: each
// opens the directory on its own). A directory that cannot be locked is
// still handled, with the checks alone.
class DirLock {
 public:
  explicit DirLock(int fd) : fd_(fd) {
    while (::flock(fd_, LOCK_EX) != 0) {
      if (errno != EINTR) {
        fd_ = -1;
        break;
      }
    }
  }
  ~DirLock() {
    if (fd_ >= 0) ::flock(fd_, LOCK_UN);
  }
  DirLock(const DirLock&) = delete;
  DirLock& operator=(const DirLock&) = delete;

 private:
  int fd_;
};

std::function<void(const std::string&)>& CheckHook() {
  static std::function<void(const std::string&)> hook;
  return hook;
}

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

bool SameTime(const struct timespec& a, const struct timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// The same file, and nothing written to it, cut from it or changed about it
// in between: any change moves the change time, which nobody can set back.
bool SameState(const struct stat& now, const struct stat& then) {
  return SameFile(now, then) && now.st_size == then.st_size && SameTime(now.st_mtim, then.st_mtim) &&
         SameTime(now.st_ctim, then.st_ctim);
}

// Flushes the directory unless it was flushed after the entry of `kept` was
// last changed: a run of single removals in one folder then costs one
// directory flush, not one per file. The time of each flush is kept per
// directory.
bool SyncDirectoryFor(int dir_fd, const struct stat& kept) {
  static std::mutex mutex;
  static std::map<std::pair<dev_t, ino_t>, struct timespec> flushed;
  struct stat dir;
  if (::fstat(dir_fd, &dir) != 0) return false;
  std::pair<dev_t, ino_t> key{dir.st_dev, dir.st_ino};
  {
    std::lock_guard<std::mutex> lock(mutex);
    auto it = flushed.find(key);
    // One second of margin for the coarse clock of file times.
    if (it != flushed.end() && kept.st_ctim.tv_sec + 1 < it->second.tv_sec) return true;
  }
  struct timespec before;
  ::clock_gettime(CLOCK_REALTIME, &before);
  if (::fsync(dir_fd) != 0) return false;
  std::lock_guard<std::mutex> lock(mutex);
  flushed[key] = before;
  return true;
}

bool Unchanged(const MappedFile& file) {
  struct stat now;
  return !file.changed() && ::fstat(file.fd(), &now) == 0 && SameState(now, file.status());
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
  struct rlimit limit;
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return RemovalBatch::kMostWaiting;
  const rlim_t spare = limit.rlim_cur > 128 ? (limit.rlim_cur - 64) / 4 : 1;
  return static_cast<size_t>(std::min<rlim_t>(spare, RemovalBatch::kMostWaiting));
}

}  // namespace

struct RemovalDirectory {
  Descriptor fd;
  dev_t device = 0;
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
  Descriptor kept;
  Descriptor doomed;
  // Each file's record, taken as it was opened, before it was read.
  struct stat kept_status = {};
  struct stat doomed_status = {};

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
  const int dir = c.dir->fd.get();
  struct stat st;
  if (::fstatat(dir, c.keptName().c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return false;  // nothing to do
  if (!S_ISREG(st.st_mode)) {
    *result = Kept(c.keptLabel() + " is " + FileTypeName(st.st_mode) + ", not a regular file.");
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
  const int dir = c.dir->fd.get();
  struct stat kept_name;
  struct stat doomed_name;
  if (::fstatat(dir, c.keptName().c_str(), &kept_name, AT_SYMLINK_NOFOLLOW) != 0 ||
      ::fstatat(dir, c.doomedName().c_str(), &doomed_name, AT_SYMLINK_NOFOLLOW) != 0) {
    // One of the two is gone, taken by another removal: nothing is left to
    // do, and the file that stays is the only copy.
    *result = errno == ENOENT ? RemovalResult() : Kept("The files were replaced while they were compared.");
    return false;
  }
  if (!SameFile(kept_name, c.kept_status) || !SameFile(doomed_name, c.doomed_status)) {
    *result = Kept("The files were replaced while they were compared.");
    return false;
  }
  struct stat kept_now;
  struct stat doomed_now;
  if (!SameState(kept_name, c.kept_status) || !SameState(doomed_name, c.doomed_status) ||
      ::fstat(c.kept.get(), &kept_now) != 0 || !SameState(kept_now, c.kept_status) ||
      ::fstat(c.doomed.get(), &doomed_now) != 0 || !SameState(doomed_now, c.doomed_status)) {
    *result = Kept("The files changed while they were compared.");
    return false;
  }
  return true;
}

RemovalResult RemoveChecked(const RemovalCandidate& c) {
  DirLock lock(c.dir->fd.get());
  if (CheckHook()) CheckHook()(c.path);
  RemovalResult result;
  if (!StillAsCompared(c, &result)) return result;
  if (::unlinkat(c.dir->fd.get(), c.doomedName().c_str(), 0) != 0) return Failed(errno);
  result.outcome = RemovalResult::kRemoved;
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
// before the flush, so that a write error since shows (Linux 5.8 and later
// report them). Returns the results of the candidates whose flush failed,
// by index.
std::map<size_t, RemovalResult> Flush(const Candidates& waiting) {
  std::map<size_t, RemovalResult> failed;
  if (waiting.size() == 1) {
    const RemovalCandidate& c = *waiting[0];
    if (::fsync(c.kept.get()) != 0 || !SyncDirectoryFor(c.dir->fd.get(), c.kept_status)) {
      failed[0] = FlushFailed(c, errno);
    }
    return failed;
  }
  std::map<dev_t, int> file_systems;  // a descriptor on each
  for (const auto& c : waiting) {
    file_systems.emplace(c->kept_status.st_dev, c->kept.get());
    file_systems.emplace(c->dir->device, c->dir->fd.get());
  }
  std::map<dev_t, int> errors;
  for (const auto& [device, fd] : file_systems) {
    if (::syncfs(fd) != 0) errors[device] = errno;
  }
  for (size_t i = 0; i < waiting.size() && !errors.empty(); ++i) {
    auto it = errors.find(waiting[i]->kept_status.st_dev);
    if (it == errors.end()) it = errors.find(waiting[i]->dir->device);
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
  dir->fd.reset(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  struct stat st;
  if (dir->fd.get() < 0 || ::fstat(dir->fd.get(), &st) != 0) {
    *error = errno;
    return nullptr;
  }
  dir->device = st.st_dev;
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
    DirLock lock(c->dir->fd.get());
    MappedFile kept;
    MappedFile doomed;
    if (!OpenBoth(*c, &kept, &doomed, result) || !SameText(*c, kept, doomed, result)) return false;
    // The bytes are not needed any more; the descriptors stay open.
    c->kept_status = kept.status();
    c->doomed_status = doomed.status();
    c->kept.reset(kept.releaseDescriptor());
    c->doomed.reset(doomed.releaseDescriptor());
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
  std::vector<Descriptor> removed;
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
    if (result.outcome == RemovalResult::kRemoved) removed.push_back(std::move(waiting[i]->doomed));
    const std::string path = waiting[i]->path;
    waiting[i].reset();
    report(path, result);
  }
  const size_t threads = std::min(kClosers, removed.size());
  closers_.reserve(threads);
  for (size_t t = 0; t < threads; ++t) {
    std::vector<Descriptor> share;
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
