// The frame every job runs in: the job lock for the whole run, the cancel
// check, and the finish step exactly once on every path.
#ifndef MORAVINE_SHELL_JOB_FRAME_H_
#define MORAVINE_SHELL_JOB_FRAME_H_

#include <memory>
#include <string>

#include "shell/fileio.h"
#include "shell/main_dialog.h"

namespace moravine {

// Maps a job's input file; on failure shows the error box that names the
// step that failed and returns false.
bool MapJobInput(CMainDlg* owner, const std::string& path, MappedFile* input);

// The path of the job running on this thread, for front ends that name the
// file in their messages; empty outside jobs.
const std::string& CurrentJobPath();
void SetCurrentJobPath(const std::string& path);

// Runs work(params) under the owner's job lock unless the batch was
// cancelled, then calls JobFinished, frees the params and releases the lock.
template <typename Work>
int RunJob(JobParams* raw, Work work) {
  std::unique_ptr<JobParams> params(raw);
  CMainDlg* owner = params->owner;
  owner->jobLock().lock();
  if (!owner->cancelRequested()) {
    SetCurrentJobPath(params->path);
    try {
      work(*params);
    } catch (...) {
      // A failure that escaped the job's own handlers must not stall the batch.
      owner->controls()->showError("Unexpected failure in a job.");
    }
    SetCurrentJobPath(std::string());
  }
  owner->JobFinished();
  params.reset();
  owner->jobLock().unlock();
  owner->ThreadEnded();  // the job's last touch of its owner
  return 0;
}

}  // namespace moravine

#endif  // MORAVINE_SHELL_JOB_FRAME_H_
