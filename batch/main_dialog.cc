#include "batch/main_dialog.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>

#include "platform/file.h"
#include "platform/fileio.h"
#include "batch/job_path.h"
#include "batch/removal.h"
#include "search/stretch_threads.h"
#include "platform/temp_files.h"
#include "wordmodel/hlog.h"

namespace moravine {

namespace {

const char* const kRefusal[6][6] = {
    // indexed [image][type]; null: the command proceeds
    {},
    {},
    {},
    {nullptr, nullptr, "The selected file is not compressed", "The selected file is not compressed",
     "The selected file does not have a compressed version", "The selected file is not compressed"},
    {nullptr, "The selected file is compressed", nullptr, "The selected file does not have an uncompressed version",
     "The selected file is compressed", nullptr},
    {nullptr, "The selected file is compressed", nullptr, nullptr, nullptr, nullptr},
};

const char* StatusFor(JobType type) {
  switch (type) {
    case JOB_COMPRESS: return "Compressing...";
    case JOB_DECOMPRESS: return "Decompressing";
    case JOB_REMOVE_COMPRESSED: return "Removing compressed files...";
    case JOB_REMOVE_ORIGINAL: return "Removing original files...";
    case JOB_SEARCH: return "Searching...";
  }
  return "";
}

}  // namespace

const char* CommandRefusal(int image, JobType type) {
  if (image < IMG_PLAIN || image > IMG_BOTH || type < JOB_COMPRESS || type > JOB_SEARCH) return nullptr;
  return kRefusal[image][type];
}

std::string JobOutput(const std::string& path, JobType type) {
  if (type == JOB_COMPRESS) return path + ".hwz";
  if (type == JOB_DECOMPRESS && EndsWithHwz(path)) return path.substr(0, path.size() - 4);
  return std::string();
}

bool OutputUpToDate(const std::string& path, JobType type) {
  const std::string output = JobOutput(path, type);
  FileStatus input_status, output_status;
  return !output.empty() && PathStatus(output, true, &output_status) && PathStatus(path, true, &input_status) &&
         output_status.type == FileType::kRegular && output_status.modified >= input_status.modified;
}

bool DetachedThreadStarter::start(std::function<void()> work) { return Search_runOnHelper(std::move(work)); }

void JobLock::lock() {
  std::unique_lock<std::mutex> guard(mutex_);
  released_.wait(guard, [this] { return free_ > 0; });
  --free_;
}

void JobLock::unlock() {
  std::lock_guard<std::mutex> guard(mutex_);
  ++free_;
  released_.notify_one();
}

bool CopyPath(char* field, const std::string& path) {
  if (path.size() >= kPathCapacity || path.find('\0') != std::string::npos) return false;
  std::memcpy(field, path.c_str(), path.size() + 1);
  return true;
}

std::string BoundedFormat(const char* format, const std::string& path) {
  std::unique_ptr<char[]> buffer(new char[kPathCapacity]);
  std::snprintf(buffer.get(), kPathCapacity, format, path.c_str());
  return std::string(buffer.get());
}

CMainDlg::CMainDlg(const MainServices& services, bool agrep_found, int job_slots)
    : services_(services),
      agrep_found_(agrep_found),
      max_workers_(job_slots > 0 ? job_slots : 1),
      job_lock_(job_slots > 0 ? job_slots : 1) {
  // A search of one large file splits its scan over the cores: the helper
  // threads it needs are started now, while the command is read and the
  // folders walked, rather than when the file's dictionary is read.
  Search_startHelpers(max_workers_ - 1);
}

bool CMainDlg::batchRunning() {
  std::lock_guard<std::recursive_mutex> lock(progress_lock_);
  return jobs_started_ > 0 || walking_;
}

void CMainDlg::WaitUntilIdle() {
  {
    std::unique_lock<std::recursive_mutex> lock(progress_lock_);
    idle_.wait(lock, [this] { return jobs_started_ == 0 && !walking_; });
  }
  std::unique_lock<std::mutex> guard(queue_mutex_);
  threads_done_.wait(guard, [this] { return workers_ == 0; });
}

void CMainDlg::RunCommand(JobType type, TreeItem* selected) {
  if (!selected) {
    services_.controls->showInformation("No file or directory selected");
    return;
  }
  PathItem item;
  {
    std::lock_guard<std::recursive_mutex> lock(services_.tree->mutex());
    item.image = selected->image;
    item.path = services_.tree->ItemPath(selected);
  }
  RunCommandOnPath(type, item);
}

bool CMainDlg::LookUpPath(const std::string& path, PathItem* item) const {
  return DescribeTreePath(services_.fs, path, item);
}

void CMainDlg::RunCommandOnPath(JobType type, const PathItem& item) {
  WindowControls* ui = services_.controls;
  const int image = item.image;
  std::string path = item.path;
  if (const char* refusal = CommandRefusal(image, type)) {
    ui->showInformation(refusal);
    return;
  }
  if (image == IMG_BOTH && (type == JOB_DECOMPRESS || type == JOB_REMOVE_COMPRESSED || type == JOB_SEARCH)) {
    path += ".hwz";
  }
  if (aborted_) return;
  if (type == JOB_SEARCH) ui->clearResults();
  ui->enable(Control::kCancel, true);
  cancel_.store(false);

  // The batch is complete only once the walk has queued every job: a job
  // that finishes meanwhile must not end the batch.
  {
    std::lock_guard<std::recursive_mutex> lock(progress_lock_);
    walking_ = true;
    jobs_in_command_ = 0;
    up_to_date_in_command_ = 0;
  }
  if (image < IMG_PLAIN) {
    walk_running_.store(true);
    QueueDirectory(path, type);
    walk_running_.store(false);
    TopUpWorkers();
  } else {
    StartJob(path, type);
  }
  {
    std::lock_guard<std::mutex> guard(removal_mutex_);
    FinishRemovals();  // the walk's last group
  }
  std::lock_guard<std::recursive_mutex> lock(progress_lock_);
  walking_ = false;
  if (jobs_started_ > 0 && jobs_finished_ == jobs_started_) FinishBatch();
  idle_.notify_all();
}

void CMainDlg::WalkFailed(const std::string& dir, int error) {
  ++walk_failures_;
  std::string text = "Cannot read the folder " + dir;
  HLog_error("Error: %s: %s\n", text.c_str(), std::strerror(error));
  ShowErrorBox(text + ".", error);
}

void CMainDlg::QueueDirectory(const std::string& dir, JobType type) {
  if (cancelRequested()) return;
  std::vector<DirEntry> entries;
  if (!services_.fs->enumerate(dir, &entries)) {
    WalkFailed(dir, errno);
    return;
  }
  for (const DirEntry& e : entries) {
    // Cancel ends the walk: the files not reached yet are not counted.
    if (cancelRequested()) return;
    if (IsTemporaryName(e.name)) continue;  // a file that Moravine is writing
    std::string path = JoinPath(dir, e.name);
    if (e.is_directory) {
      QueueDirectory(path, type);  // links to directories are not followed
    } else if (e.is_regular && !e.is_symlink) {
      bool compressed = EndsWithHwz(e.name);
      bool wanted = (type == JOB_COMPRESS || type == JOB_REMOVE_ORIGINAL) ? !compressed : compressed;
      if (wanted && skip_up_to_date_.load() && OutputUpToDate(path, type)) {
        std::lock_guard<std::recursive_mutex> lock(progress_lock_);
        ++up_to_date_in_command_;
        continue;
      }
      if (wanted && (!job_check_ || job_check_(path, type))) StartJob(path, type);
    }
  }
}

void CMainDlg::StartJob(const std::string& path, JobType type) {
  {
    std::lock_guard<std::recursive_mutex> lock(progress_lock_);
    WindowControls* ui = services_.controls;
    ++jobs_started_;
    ++jobs_in_command_;
    ui->setProgress(jobs_finished_, jobs_started_);
    ui->setStatus(StatusFor(type));
    for (Control c : {Control::kCompress, Control::kDecompress, Control::kRemoveCompressed, Control::kRemoveOriginal,
                      Control::kSearch, Control::kExit}) {
      ui->enable(c, false);
    }
    if (type == JOB_COMPRESS || type == JOB_DECOMPRESS || type == JOB_SEARCH) {
      JobProcedure proc = type == JOB_COMPRESS     ? services_.jobs.compress
                          : type == JOB_DECOMPRESS ? services_.jobs.decompress
                                                   : services_.jobs.search;
      if (!proc || path.size() >= kPathCapacity || path.find('\0') != std::string::npos) {
        ++walk_failures_;
        ui->showError("Error starting job for " + path.substr(0, 1000) + "\n\nThe path is too long.");
        JobFinished();
        return;
      }
      ui->jobQueued(path);
      QueueJob(proc, path);
      return;
    }
  }
  // A removal works without the progress lock, so that Cancel is taken
  // meanwhile.
  AddRemoval(path, type == JOB_REMOVE_ORIGINAL);
}

void CMainDlg::QueueJob(JobProcedure procedure, const std::string& path) {
  std::unique_lock<std::mutex> guard(queue_mutex_);
  queue_.push_back(PendingJob{procedure, path});
  StartWorker(guard);
}

int CMainDlg::WorkerLimit() const {
  // A walk in progress is a thread of its own: while it runs, the jobs
  // leave it a core, so that no worker waits a whole time slice for it.
  return walk_running_.load() && max_workers_ > 1 ? max_workers_ - 1 : max_workers_;
}

bool CMainDlg::StartWorker(std::unique_lock<std::mutex>& guard) {
  // Workers take queued jobs until none is left; a new one is started only
  // while fewer than the job slots run, so a folder of any size needs no
  // more threads than that.
  if (workers_ >= WorkerLimit()) {
    guard.unlock();
    return false;
  }
  ++workers_;
  guard.unlock();
  if (services_.threads->start([this] { WorkerLoop(); })) return true;
  guard.lock();
  --workers_;
  threads_done_.notify_all();
  if (workers_ > 0) {  // the running workers take the jobs
    guard.unlock();
    return false;
  }
  // No worker can be started and none runs: the queued jobs fail here, each
  // still counted as finished once.
  std::deque<PendingJob> failed;
  failed.swap(queue_);
  guard.unlock();
  for (const PendingJob& job : failed) {
    ++walk_failures_;
    ShowErrorBox("Error starting job for " + job.path.substr(0, 1000), EAGAIN);
    services_.controls->jobDone(job.path);
    JobFinished();
  }
  return false;
}

void CMainDlg::TopUpWorkers() {
  for (;;) {
    std::unique_lock<std::mutex> guard(queue_mutex_);
    if (queue_.empty() || !StartWorker(guard)) return;
  }
}

void CMainDlg::WorkerLoop() {
  for (;;) {
    PendingJob job;
    {
      std::lock_guard<std::mutex> guard(queue_mutex_);
      if (queue_.empty()) {
        // The worker leaves under the lock that QueueJob takes, so a job
        // queued from now on sees one worker fewer and starts its own. This
        // is also the worker's last touch of the dialog: WaitUntilIdle
        // waits for the lock.
        --workers_;
        threads_done_.notify_all();
        return;
      }
      job = std::move(queue_.front());
      queue_.pop_front();
    }
    auto params = std::make_unique<JobParams>();
    params->owner = this;
    CopyPath(params->path, job.path);
    job.procedure(params.release());
  }
}

void CMainDlg::ReportRemoval(const RemovalResult& result, const std::string& path) {
  switch (result.outcome) {
    case RemovalResult::kNothingToDo:
    case RemovalResult::kRemoved:
    case RemovalResult::kCancelled:
      return;
    case RemovalResult::kKept:
      services_.controls->showError("Error removing file\n\n" + result.why + " " + path + " is kept.");
      return;
    case RemovalResult::kFailed:
      ShowErrorBox(result.why.empty() ? "Error removing file" : "Error removing file. " + result.why, result.error);
      return;
  }
}

void CMainDlg::AddRemoval(const std::string& path, bool originals) {
  std::lock_guard<std::mutex> guard(removal_mutex_);
  if (removals_ && removals_->removesOriginals() != originals) {
    FinishRemovals();
    removals_.reset();  // a group holds removals of one kind
  }
  if (cancelRequested()) {
    JobFinished();
    return;
  }
  if (!removals_) removals_ = std::make_unique<RemovalBatch>(originals);
  // Messages of the removal name its file, as those of threaded jobs do.
  SetCurrentJobPath(path);
  RemovalResult result;
  const bool waiting = removals_->add(path, &result);
  SetCurrentJobPath(std::string());
  if (!waiting) RemovalDone(path, result, originals);
  bool walking;
  {
    std::lock_guard<std::recursive_mutex> lock(progress_lock_);
    walking = walking_;
  }
  // Outside a walk a removal is done at once.
  if (!walking || removals_->full()) FinishRemovals();
}

void CMainDlg::FinishRemovals() {
  if (!removals_) return;
  const bool originals = removals_->removesOriginals();
  removals_->finish([this] { return cancelRequested(); },
                    [this, originals](const std::string& path, const RemovalResult& result) {
                      RemovalDone(path, result, originals);
                    });
}

void CMainDlg::RemovalDone(const std::string& path, const RemovalResult& result, bool originals) {
  SetCurrentJobPath(path);
  ReportRemoval(result, path);
  if (result.outcome == RemovalResult::kRemoved) {
    std::lock_guard<std::recursive_mutex> lock(services_.tree->mutex());
    if (!originals) {
      std::string original = path.substr(0, path.size() - 4);
      if (TreeItem* item = services_.tree->FindItemByPath(original)) services_.tree->SetItemImage(item, IMG_PLAIN);
    } else if (TreeItem* item = services_.tree->FindItemByPath(path)) {
      services_.tree->SetItemText(item, item->text + ".hwz");
      services_.tree->SetItemImage(item, IMG_COMPRESSED);
    }
  }
  SetCurrentJobPath(std::string());
  JobFinished();
}

void CMainDlg::JobFinished() {
  std::lock_guard<std::recursive_mutex> lock(progress_lock_);
  ++jobs_finished_;
  services_.controls->setProgress(jobs_finished_, jobs_started_);
  if (jobs_finished_ == jobs_started_ && !walking_) FinishBatch();
}

void CMainDlg::FinishBatch() {
  WindowControls* ui = services_.controls;
  const int total = jobs_started_;
  const int done = std::min(finished_at_cancel_, total);
  jobs_started_ = jobs_finished_ = 0;
  ui->setProgress(0, 0);
  if (cancel_.load()) {
    ui->setStatus("Cancelled after " + std::to_string(done) + " of " + std::to_string(total) +
                  (total == 1 ? " file" : " files"));
  } else {
    ui->setStatus("Finished");
  }
  ui->enable(Control::kCancel, false);
  for (Control c : {Control::kCompress, Control::kDecompress, Control::kRemoveCompressed, Control::kRemoveOriginal,
                    Control::kExit}) {
    ui->enable(c, true);
  }
  ui->enable(Control::kSearch, agrep_found_);
  cancel_.store(false);
  idle_.notify_all();
}

void CMainDlg::Abort() {
  aborted_.store(true);
  OnCancel();
}

void CMainDlg::OnCancel() {
  {
    std::lock_guard<std::recursive_mutex> lock(progress_lock_);
    services_.controls->enable(Control::kCancel, false);
    if (!cancel_.exchange(true)) finished_at_cancel_ = jobs_finished_;
    // A batch that has ended keeps the status it ended with.
    if (jobs_started_ > 0 || walking_) services_.controls->setStatus("Cancelling...");
  }
  FinishQueuedJobs();
}

void CMainDlg::FinishQueuedJobs() {
  std::deque<PendingJob> waiting;
  {
    std::lock_guard<std::mutex> guard(queue_mutex_);
    waiting.swap(queue_);
  }
  // Each counts as finished once, as a job that saw the flag at its start
  // would; the workers find the queue empty and leave.
  for (const PendingJob& job : waiting) {
    services_.controls->jobDone(job.path);
    JobFinished();
  }
}

void CMainDlg::ShowErrorBox(const std::string& text, int error) {
  const char* system = error ? std::strerror(error) : "";
  services_.controls->showError(text + "\n\n" + system);
}

}  // namespace moravine
