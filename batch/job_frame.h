// The frame every job runs in: the job lock for the whole run, the cancel
// check, and the finish step exactly once on every path.
#ifndef MORAVINE_BATCH_JOB_FRAME_H_
#define MORAVINE_BATCH_JOB_FRAME_H_

#include <exception>
#include <memory>
#include <string>

#include "platform/fileio.h"
#include "batch/job_path.h"
#include "batch/main_dialog.h"
#include "wordmodel/hlog.h"

namespace moravine {

// Maps a job's input file; on failure shows the error box that names the
// step that failed and returns false.
bool MapJobInput(CMainDlg* owner, const std::string& path, MappedFile* input, int64_t first_bytes = 0);

// Reads on an input that MapJobInput opened with first_bytes, up to `upto`
// bytes; on failure shows the error box as MapJobInput does.
bool ReadJobInput(CMainDlg* owner, const std::string& path, MappedFile* input, int64_t upto);

// Tells the user that the input changed (or was cut short) while the job
// read it, so that what the job made from it was thrown away.
void ReportChangedInput(CMainDlg* owner, const std::string& path);

// The message of a job that failed: `what` ("Decompression failed."), a
// pointer to the log file where there is one, and after a blank line what
// the library said about the failure, so that the message alone tells why.
std::string FailureMessage(WindowControls* ui, const std::string& what, const std::string& library_text);
// What a failure that was caught says, without its final line feeds.
std::string FailureText(const std::exception_ptr& failure);


// Runs work(params) under the owner's job lock unless the batch was
// cancelled, then calls JobFinished, frees the params and releases the lock.
// What the job writes to the log is held back and written in one piece when
// it ends, so that jobs running side by side do not interleave their lines.
template <typename Work>
int RunJob(JobParams* raw, Work work) {
  std::unique_ptr<JobParams> params(raw);
  CMainDlg* owner = params->owner;
  owner->jobLock().lock();
  if (!owner->cancelRequested()) {
    SetCurrentJobPath(params->path);
    HLogCapture capture;
    try {
      work(*params);
    } catch (...) {
      // A failure that escaped the job's own handlers must not stall the batch.
      owner->controls()->showError("Unexpected failure in a job.");
    }
    capture.finish();
    SetCurrentJobPath(std::string());
  }
  owner->controls()->jobDone(params->path);
  owner->JobFinished();
  params.reset();
  owner->jobLock().unlock();
  return 0;
}

}  // namespace moravine

#endif  // MORAVINE_BATCH_JOB_FRAME_H_
