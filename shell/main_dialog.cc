#include "shell/main_dialog.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>

#include "codec/decompress.h"
#include "shell/fileio.h"
#include "shell/job_frame.h"
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

// Whether `hwz` decompresses to exactly the bytes of `original`; otherwise
// *why says what is wrong. Only then is the original redundant.
bool HoldsText(const std::string& hwz, const std::string& original, std::string* why) {
  MappedFile file;
  std::string error;
  if (!file.open(hwz, &error)) {
    *why = "The compressed file " + hwz + " cannot be read: " + error + ".";
    return false;
  }
  MappedFile text;
  if (!text.open(original, &error)) {
    *why = "The file " + original + " cannot be read: " + error + ".";
    return false;
  }
  HBuffer decoded;
  int32_t decoded_length = 0;
  try {
    HDecompress_file(file.data(), static_cast<int32_t>(file.size()), &decoded, &decoded_length, 0);
  } catch (const HFatalFailure&) {
    *why = "The compressed file " + hwz + " is damaged.";
    return false;
  }
  if (decoded_length != text.size() ||
      std::memcmp(decoded.get(), text.data(), static_cast<size_t>(decoded_length)) != 0) {
    *why = "The compressed file " + hwz + " does not hold the text of " + original + ".";
    return false;
  }
  return true;
}

}  // namespace

bool DetachedThreadStarter::start(std::function<void()> work) {
  try {
    std::thread(std::move(work)).detach();
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

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

void CMainDlg::ThreadStarted() {
  std::lock_guard<std::mutex> guard(threads_mutex_);
  ++threads_alive_;
}

void CMainDlg::ThreadEnded() {
  // The last touch of the dialog by a job thread: done under the lock that
  // WaitUntilIdle takes, so the dialog outlives it.
  std::lock_guard<std::mutex> guard(threads_mutex_);
  --threads_alive_;
  threads_done_.notify_all();
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
    : services_(services), agrep_found_(agrep_found), job_lock_(job_slots) {}

bool CMainDlg::batchRunning() {
  std::lock_guard<std::recursive_mutex> lock(progress_lock_);
  return jobs_started_ > 0 || walking_;
}

void CMainDlg::WaitUntilIdle() {
  {
    std::unique_lock<std::recursive_mutex> lock(progress_lock_);
    idle_.wait(lock, [this] { return jobs_started_ == 0 && !walking_; });
  }
  std::unique_lock<std::mutex> guard(threads_mutex_);
  threads_done_.wait(guard, [this] { return threads_alive_ == 0; });
}

void CMainDlg::RunCommand(JobType type, TreeItem* selected) {
  WindowControls* ui = services_.controls;
  if (!selected) {
    ui->showInformation("No file or directory selected");
    return;
  }
  int image;
  std::string path;
  {
    std::lock_guard<std::recursive_mutex> lock(services_.tree->mutex());
    image = selected->image;
    path = services_.tree->ItemPath(selected);
  }
  if (image >= IMG_PLAIN && image <= IMG_BOTH && kRefusal[image][type]) {
    ui->showInformation(kRefusal[image][type]);
    return;
  }
  if (image == IMG_BOTH && (type == JOB_DECOMPRESS || type == JOB_REMOVE_COMPRESSED || type == JOB_SEARCH)) {
    path += ".hwz";
  }
  if (type == JOB_SEARCH) ui->clearResults();
  ui->enable(Control::kCancel, true);
  cancel_.store(false);

  // The batch is complete only once the walk has queued every job: a job
  // that finishes meanwhile must not end the batch.
  {
    std::lock_guard<std::recursive_mutex> lock(progress_lock_);
    walking_ = true;
  }
  if (image < IMG_PLAIN) {
    QueueDirectory(path, type);
  } else {
    StartJob(path, type);
  }
  std::lock_guard<std::recursive_mutex> lock(progress_lock_);
  walking_ = false;
  if (jobs_started_ > 0 && jobs_finished_ == jobs_started_) FinishBatch();
  idle_.notify_all();
}

void CMainDlg::QueueDirectory(const std::string& dir, JobType type) {
  std::vector<DirEntry> entries;
  if (!services_.fs->enumerate(dir, &entries)) return;
  for (const DirEntry& e : entries) {
    std::string path = JoinPath(dir, e.name);
    if (e.is_directory) {
      QueueDirectory(path, type);  // links to directories are not followed
    } else if (e.is_regular && !e.is_symlink) {
      bool compressed = EndsWithHwz(e.name);
      bool wanted = (type == JOB_COMPRESS || type == JOB_REMOVE_ORIGINAL) ? !compressed : compressed;
      if (wanted) StartJob(path, type);
    }
  }
}

void CMainDlg::StartJob(const std::string& path, JobType type) {
  std::lock_guard<std::recursive_mutex> lock(progress_lock_);
  WindowControls* ui = services_.controls;
  ++jobs_started_;
  ui->setProgress(jobs_finished_, jobs_started_);
  ui->setStatus(StatusFor(type));
  for (Control c : {Control::kCompress, Control::kDecompress, Control::kRemoveCompressed, Control::kRemoveOriginal,
                    Control::kSearch, Control::kExit}) {
    ui->enable(c, false);
  }
  switch (type) {
    case JOB_COMPRESS:
    case JOB_DECOMPRESS:
    case JOB_SEARCH: {
      JobProcedure proc = type == JOB_COMPRESS     ? services_.jobs.compress
                          : type == JOB_DECOMPRESS ? services_.jobs.decompress
                                                   : services_.jobs.search;
      auto params = std::make_unique<JobParams>();
      params->owner = this;
      if (!proc || !CopyPath(params->path, path)) {
        ui->showError("Error starting job for " + path.substr(0, 1000) + "\n\nThe path is too long.");
        JobFinished();
        break;
      }
      JobParams* raw = params.release();
      ThreadStarted();
      if (!services_.threads->start([proc, raw] { proc(raw); })) {
        ThreadEnded();
        delete raw;
        ShowErrorBox("Error starting job", EAGAIN);
        JobFinished();
      }
      break;
    }
    case JOB_REMOVE_COMPRESSED:
      RemoveCompressed(path);
      JobFinished();
      break;
    case JOB_REMOVE_ORIGINAL:
      RemoveOriginal(path);
      JobFinished();
      break;
  }
}

void CMainDlg::RemoveCompressed(const std::string& path) {
  if (!EndsWithHwz(path)) return;
  std::string original = path.substr(0, path.size() - 4);
  // Only an original file makes the compressed version redundant; a
  // directory of that name holds nothing of its text.
  if (services_.fs->fileSize(original) < 0) return;
  if (!services_.fs->remove(path)) {
    ShowErrorBox("Error removing file", errno);
    return;
  }
  std::lock_guard<std::recursive_mutex> lock(services_.tree->mutex());
  if (TreeItem* item = services_.tree->FindItemByPath(original)) services_.tree->SetItemImage(item, IMG_PLAIN);
}

void CMainDlg::RemoveOriginal(const std::string& path) {
  std::string hwz = path + ".hwz";
  if (!services_.fs->exists(hwz)) return;
  // The original goes only when its compressed version really holds it.
  std::string why;
  if (!HoldsText(hwz, path, &why)) {
    services_.controls->showError("Error removing file\n\n" + why + " " + path + " is kept.");
    return;
  }
  if (!services_.fs->remove(path)) {
    ShowErrorBox("Error removing file", errno);
    return;
  }
  std::lock_guard<std::recursive_mutex> lock(services_.tree->mutex());
  if (TreeItem* item = services_.tree->FindItemByPath(path)) {
    services_.tree->SetItemText(item, item->text + ".hwz");
    services_.tree->SetItemImage(item, IMG_COMPRESSED);
  }
}

void CMainDlg::JobFinished() {
  std::lock_guard<std::recursive_mutex> lock(progress_lock_);
  ++jobs_finished_;
  services_.controls->setProgress(jobs_finished_, jobs_started_);
  if (jobs_finished_ == jobs_started_ && !walking_) FinishBatch();
}

void CMainDlg::FinishBatch() {
  WindowControls* ui = services_.controls;
  jobs_started_ = jobs_finished_ = 0;
  ui->setProgress(0, 0);
  ui->setStatus("Finished");
  ui->enable(Control::kCancel, false);
  for (Control c : {Control::kCompress, Control::kDecompress, Control::kRemoveCompressed, Control::kRemoveOriginal,
                    Control::kExit}) {
    ui->enable(c, true);
  }
  ui->enable(Control::kSearch, agrep_found_);
  cancel_.store(false);
  idle_.notify_all();
}

void CMainDlg::OnCancel() {
  std::lock_guard<std::recursive_mutex> lock(progress_lock_);
  services_.controls->enable(Control::kCancel, false);
  cancel_.store(true);
  services_.controls->setStatus("Cancelling...");
}

namespace {
thread_local std::string t_job_path;
}  // namespace

const std::string& CurrentJobPath() { return t_job_path; }
void SetCurrentJobPath(const std::string& path) { t_job_path = path; }

bool MapJobInput(CMainDlg* owner, const std::string& path, MappedFile* input) {
  MappedFile::Failure failure;
  int error = 0;
  if (input->open(path, &failure, &error)) return true;
  switch (failure) {
    case MappedFile::Failure::kOpen:
      owner->ShowErrorBox("Error opening input file.", error);
      break;
    case MappedFile::Failure::kTooLarge:
      owner->controls()->showError("The file " + path.substr(0, 1000) +
                                   " is 2 GiB or larger.\n\nMoravine handles files below 2 GiB only.");
      break;
    case MappedFile::Failure::kEmpty:
    case MappedFile::Failure::kMap:
      owner->ShowErrorBox("Error creating file mapping.", error);
      break;
  }
  return false;
}

void CMainDlg::ShowErrorBox(const std::string& text, int error) {
  const char* system = error ? std::strerror(error) : "";
  services_.controls->showError(text + "\n\n" + system);
}

}  // namespace moravine
