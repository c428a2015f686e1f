// The main window's state and batch logic, free of any window system: the
// commands, the directory walk, the job start and finish protocol, Cancel,
// the compression options and the locks that the jobs share.
#ifndef MORAVINE_BATCH_MAIN_DIALOG_H_
#define MORAVINE_BATCH_MAIN_DIALOG_H_

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "search/search_host.h"
#include "platform/filesystem.h"
#include "batch/removal.h"
#include "batch/tree_model.h"
#include "batch/window_controls.h"

namespace moravine {

enum JobType {
  JOB_COMPRESS = 1,
  JOB_DECOMPRESS = 2,
  JOB_REMOVE_COMPRESSED = 3,
  JOB_REMOVE_ORIGINAL = 4,
  JOB_SEARCH = 5,
};

// Paths are held in fields of this many bytes, the terminating NUL included.
constexpr size_t kPathCapacity = 10000;

class CMainDlg;

// The block a job thread receives; the job owns it and frees it at its end.
struct JobParams {
  char path[kPathCapacity];
  CMainDlg* owner;
};

// A job procedure: runs on its own thread, takes ownership of the block.
using JobProcedure = int (*)(JobParams* params);

struct JobProcedures {
  JobProcedure compress = nullptr;
  JobProcedure decompress = nullptr;
  JobProcedure search = nullptr;
};

// Starts a thread; false when it cannot. The batch core starts a bounded
// number of worker threads, each of which runs queued jobs until none is
// left.
class ThreadStarter {
 public:
  virtual ~ThreadStarter() = default;
  virtual bool start(std::function<void()> work) = 0;
};

// Runs each piece of work on one of the program's helper threads
// (Search_runOnHelper), which outlive the work: no thread ends while the
// batch runs.
class DetachedThreadStarter : public ThreadStarter {
 public:
  bool start(std::function<void()> work) override;
};

// The job lock: held by each compress, decompress and search job for its
// whole run. It admits one job at a time unless given more slots.
class JobLock {
 public:
  explicit JobLock(int slots = 1) : free_(slots) {}
  void lock();
  void unlock();

 private:
  std::mutex mutex_;
  std::condition_variable released_;
  int free_;
};

struct MainServices {
  WindowControls* controls = nullptr;
  TreeModel* tree = nullptr;
  FileSystem* fs = nullptr;
  ThreadStarter* threads = nullptr;
  SearchHost* search_host = nullptr;
  JobProcedures jobs;
};

class CMainDlg {
 public:
  // job_slots: how many jobs may work at the same time, and so how many
  // worker threads a batch starts at most.
  CMainDlg(const MainServices& services, bool agrep_found, int job_slots = 1);

  // A command on the selected tree item (null when none is selected).
  void RunCommand(JobType type, TreeItem* selected);
  // The item that the tree would show for the absolute `path`, found by
  // looking at that path alone (DescribeTreePath): a command on a path that
  // is named rather than selected costs no reading of the folders above
  // it. False when the tree would show no item for it.
  bool LookUpPath(const std::string& path, PathItem* item) const;
  // A command on such an item, exactly as on the tree item it stands for.
  void RunCommandOnPath(JobType type, const PathItem& item);
  // Starts a job for every qualifying file below the directory.
  void QueueDirectory(const std::string& dir, JobType type);
  // Starts the job for one file. A removal is done at once, except during a
  // command's walk, which gathers removals in groups of a few hundred: each
  // group's kept files are flushed to disk together before its files go.
  void StartJob(const std::string& path, JobType type);
  // The finish step; every started job calls it exactly once.
  void JobFinished();
  // Cancels the running batch: the jobs still queued finish at once as
  // cancelled, running ones stop at their next look at the flag, and the
  // batch ends with "Cancelled after N of M files", N being the files done
  // when Cancel came. Between batches it only raises the flag, which the
  // next command clears.
  void OnCancel();
  // Cancels for good: the running batch and every later command. For a
  // program that is asked to end (a signal, a closed output).
  void Abort();
  bool aborted() const { return aborted_.load(); }

  // An error box: the text, a blank line and the system's text for `error`.
  void ShowErrorBox(const std::string& text, int error);

  // With `skip`, a folder walk leaves out, silently, each file whose output
  // is up to date (OutputUpToDate): compressing or decompressing a folder
  // again does only what changed. The window skips them; the command line
  // with --update.
  void setSkipUpToDate(bool skip) { skip_up_to_date_.store(skip); }
  // How many files the last command left out as up to date.
  int upToDateInLastCommand() {
    std::lock_guard<std::recursive_mutex> lock(progress_lock_);
    return up_to_date_in_command_;
  }

  // Optional: asked for each file that a folder walk is about to start a
  // job for; false leaves the file out (the check tells why). The window
  // sets none; the command line refuses to overwrite outputs with it.
  using JobCheck = std::function<bool(const std::string& path, JobType type)>;
  void setJobCheck(JobCheck check) { job_check_ = std::move(check); }

  bool agrepFound() const { return agrep_found_; }
  bool cancelRequested() const { return cancel_.load() || aborted_.load(); }
  // The flag that Cancel sets, for long loops to look at as they go.
  const std::atomic<bool>* cancelFlag() const { return &cancel_; }
  bool spacelessModel() const { return spaceless_.load(); }
  // Whether compression takes the Unicode models (words of every script).
  bool unicodeModel() const { return unicode_.load(); }
  void setUnicode(bool unicode) { unicode_.store(unicode); }
  int pointerDistance() const { return distance_.load(); }
  // Threads that one compression uses (the file is the same whatever it is).
  int compressThreads() const { return compress_threads_.load(); }
  void setCompressThreads(int threads) { compress_threads_.store(threads > 0 ? threads : 1); }
  void setOptions(bool spaceless, int distance) {
    spaceless_.store(spaceless);
    distance_.store(distance);
  }

  // Whether a batch is running (started jobs not all finished).
  bool batchRunning();
  // Waits until no batch is running and every job thread has ended.
  void WaitUntilIdle();
  // How many jobs the last command started (0: it found nothing to do).
  int jobsInLastCommand() {
    std::lock_guard<std::recursive_mutex> lock(progress_lock_);
    return jobs_in_command_;
  }
  // Folders that could not be read, and jobs that could not be started,
  // since the dialog was made.
  int walkFailures() const { return walk_failures_.load(); }

  JobLock& jobLock() { return job_lock_; }
  std::recursive_mutex& progressLock() { return progress_lock_; }
  WindowControls* controls() const { return services_.controls; }
  TreeModel* tree() const { return services_.tree; }
  FileSystem* fileSystem() const { return services_.fs; }
  SearchHost* searchHost() const { return services_.search_host; }

 private:
  void FinishBatch();
  // Compares the file with its other version and lets it wait in the group.
  void AddRemoval(const std::string& path, bool originals);
  // Removes the files of the waiting group. Call with removal_mutex_ held.
  void FinishRemovals();
  // Reports, updates the tree and finishes the job of one removal.
  void RemovalDone(const std::string& path, const RemovalResult& result, bool originals);
  // Finishes every queued job that no worker has taken, as cancelled.
  void FinishQueuedJobs();
  void WalkFailed(const std::string& dir, int error);
  void ReportRemoval(const RemovalResult& result, const std::string& path);
  // Queues a threaded job and makes sure a worker will run it.
  void QueueJob(JobProcedure procedure, const std::string& path);
  // How many workers may run now.
  int WorkerLimit() const;
  // Starts a worker when fewer than WorkerLimit() run. Called with the queue
  // locked by `guard`; returns with it unlocked. When no worker can be
  // started and none runs, the queued jobs fail. True when one was started.
  bool StartWorker(std::unique_lock<std::mutex>& guard);
  // Starts workers for the queued jobs up to the limit, after a walk.
  void TopUpWorkers();
  void WorkerLoop();

  struct PendingJob {
    JobProcedure procedure;
    std::string path;
  };

  MainServices services_;
  JobCheck job_check_;
  bool agrep_found_;
  std::atomic<bool> cancel_{false};
  std::atomic<bool> aborted_{false};
  std::atomic<int> walk_failures_{0};
  int max_workers_;
  std::mutex queue_mutex_;
  std::deque<PendingJob> queue_;  // jobs counted but not yet taken by a worker
  int workers_ = 0;               // worker threads running
  std::atomic<bool> walk_running_{false};  // a folder is being walked
  std::atomic<bool> spaceless_{true};
  std::atomic<bool> unicode_{false};
  std::atomic<int> distance_{128};
  std::atomic<int> compress_threads_{1};
  JobLock job_lock_;
  std::mutex removal_mutex_;               // held while removals_ is used
  std::unique_ptr<RemovalBatch> removals_;  // the group of removals waiting
  std::recursive_mutex progress_lock_;
  std::condition_variable_any idle_;
  std::condition_variable threads_done_;  // with queue_mutex_: a worker ended
  int jobs_started_ = 0;   // the progress range's maximum
  int jobs_finished_ = 0;  // the progress position
  int finished_at_cancel_ = 0;  // the progress position when Cancel came
  bool walking_ = false;
  int jobs_in_command_ = 0;  // jobs started by the last command
  int up_to_date_in_command_ = 0;  // files the last command left out as up to date
  std::atomic<bool> skip_up_to_date_{false};
};

// Why a command refuses a single file that the tree shows with `image`
// (kRefusal's text, "The selected file is not compressed", ...), or null
// when it takes it.
const char* CommandRefusal(int image, JobType type);

// The file that the job of `type` writes for `path`: FILE.hwz for a
// compression, FILE for a decompression of FILE.hwz; empty for any other.
std::string JobOutput(const std::string& path, JobType type);
// Whether that output exists and was modified no earlier than `path`.
bool OutputUpToDate(const std::string& path, JobType type);

// Copies a path into a JobParams path field; false when it does not fit.
bool CopyPath(char* field, const std::string& path);

// Status texts formed in a field of kPathCapacity bytes, bounded.
std::string BoundedFormat(const char* format, const std::string& path);

}  // namespace moravine

#endif  // MORAVINE_BATCH_MAIN_DIALOG_H_
