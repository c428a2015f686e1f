// Removing one version of a file whose other version holds the same text.
//
// Moravine deletes a user's file only when another file certainly holds its
// text: NAME only when NAME.hwz is a regular file that decodes to exactly
// NAME's bytes, and NAME.hwz only when NAME is a regular file holding
// exactly the text that NAME.hwz decodes to. The comparison and the deletion
// happen under an advisory lock on the directory, which every Moravine
// process takes for the same pair. The file kept is on disk, with its
// directory entry, before the other one goes. Just before the deletion both
// names are looked at once more: each must still lead to the very file that
// was compared (same identity), and neither file may have changed
// since it was opened (same size, modification time and change time; the
// change time cannot be set by anyone, so a write whose author restored the
// modification time shows too).
#ifndef MORAVINE_BATCH_REMOVAL_H_
#define MORAVINE_BATCH_REMOVAL_H_

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace moravine {

struct RemovalResult {
  enum Outcome {
    kRemoved,      // the file is gone
    kNothingToDo,  // the other version does not exist (or the file is gone already)
    kKept,         // the other version does not certainly hold the text; why says so
    kFailed,       // deleting failed; error is the system's error number
    kCancelled,    // Cancel came first: the file was left as it was
  };
  Outcome outcome = kNothingToDo;
  std::string why;
  int error = 0;
};

struct RemovalCandidate;  // a file compared with its other version, waiting
struct RemovalDirectory;  // an open directory that holds such files

// Removes the original file NAME when NAME.hwz holds its text.
RemovalResult RemoveOriginalFile(const std::string& original);
// Removes NAME.hwz when the original file NAME holds its text.
RemovalResult RemoveCompressedFile(const std::string& compressed);

// Removes many files of one kind for the cost of few flushes. Each file is
// compared with its other version as it is added; the files that qualify
// wait, with both versions held open. finish() then makes every kept file
// durable at once (one flush of each file system involved; a batch of one
// file flushes that file and its directory only) and removes the waiting
// files one by one, each after the last look at both names.
class RemovalBatch {
 public:
  // remove_original: the files added are originals NAME, each kept as
  // NAME.hwz; otherwise they are compressed files NAME.hwz, kept as NAME.
  explicit RemovalBatch(bool remove_original);
  ~RemovalBatch();
  RemovalBatch(const RemovalBatch&) = delete;
  RemovalBatch& operator=(const RemovalBatch&) = delete;

  bool removesOriginals() const { return remove_original_; }
  // Compares the two versions of `path`. True: the file waits for finish().
  // False: *result tells why it stays, or that there is nothing to do.
  bool add(const std::string& path, RemovalResult* result);
  size_t size() const { return waiting_.size(); }
  // Whether the batch should be finished before more files are added: it
  // holds two descriptors per file, and the files' number is bounded by
  // the process's limit on open files.
  bool full() const { return waiting_.size() >= capacity_; }
  size_t capacity() const { return capacity_; }

  using Report = std::function<void(const std::string& path, const RemovalResult& result)>;
  // Flushes the kept files and removes the waiting ones; `report` is called
  // once for every waiting file, in the order they were added. Once
  // `cancelled` returns true no more file is removed (kCancelled). The batch
  // is empty afterwards and may be used again.
  void finish(const std::function<bool()>& cancelled, const Report& report);

  // At most this many files wait at once.
  static constexpr size_t kMostWaiting = 256;

 private:
  std::shared_ptr<RemovalDirectory> directory(const std::string& path, int* error);
  void waitForClosers();

  bool remove_original_;
  size_t capacity_;
  std::vector<std::unique_ptr<RemovalCandidate>> waiting_;
  std::map<std::string, std::shared_ptr<RemovalDirectory>> directories_;  // of the waiting files, by path
  // Close the last descriptors of the files that the previous finish()
  // removed. That frees their blocks, which can wait for the disk (some
  // file systems discard each file's blocks at once, and the disk takes
  // several such requests at a time); it goes on while the next group is
  // compared.
  std::vector<std::thread> closers_;
  static constexpr size_t kClosers = 8;
};

// For tests: called with the path of each file about to be removed, under
// its directory's lock, just before the last look at both versions. Set it
// while no removal runs; an empty function removes it.
void SetRemovalCheckHook(std::function<void(const std::string& path)> hook);

}  // namespace moravine

#endif  // MORAVINE_BATCH_REMOVAL_H_
