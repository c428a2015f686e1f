// What a main window keeps beside its controls, the same in every window:
// the two search boxes' texts for the jobs to read from their threads, and
// the record of the batch that the last command started (its failures,
// whether its walk found anything, the numbers of its status line).
#ifndef MORAVINE_FRONTEND_WINDOW_STATE_H_
#define MORAVINE_FRONTEND_WINDOW_STATE_H_

#include <atomic>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>

#include "batch/main_dialog.h"
#include "batch/window_controls.h"
#include "frontend/result_room.h"
#include "frontend/status_text.h"

namespace moravine::frontend {

// The texts of "Search word" and "Allow errors" and the "Ignore case" box,
// set on the window's thread as they change, read by the jobs.
class SearchBoxes {
 public:
  void setWord(const std::string& text);
  void setErrors(const std::string& text);
  void setIgnoreCase(bool on) { ignore_case_.store(on); }
  std::string word() const;
  std::string errors() const;
  // The search settings of the window: the case box, and as many threads
  // as the machine has cores.
  SearchSettings settings() const;

 private:
  mutable std::mutex mutex_;
  std::string word_;
  std::string errors_;
  std::atomic<bool> ignore_case_{false};
};

// The batch of the last command, on the window's thread.
class BatchRecord {
 public:
  // A command starts: the errors of the last batch are forgotten and shown
  // again, and the window notes what the core does while it queues.
  void begin(JobType type);
  void end() { queueing_ = false; }
  JobType type() const { return type_; }

  // What the core calls on the window's thread while the command queues:
  // the core enables Cancel once it has accepted the command, and sets the
  // progress for each job it starts. From any thread, the progress's
  // largest maximum is the number of files of the batch.
  void noteEnable(Control control, bool enabled, bool on_window_thread);
  void noteProgress(int maximum, bool on_window_thread);
  // After the command: whether it was accepted, but its walk found no file
  // and so no batch runs (the window then says NothingToDo).
  bool foundNothing(bool batch_running) const { return accepted_ && !started_ && !batch_running; }

  // An error of the batch, for the file at `path` (empty: none is known):
  // counted, and whether the window shows its box (not once the user chose
  // "Do not show again during this batch").
  bool noteError(const std::string& path);
  void quietErrors() { quiet_ = true; }
  int failed() const { return static_cast<int>(failed_files_.size()) + failed_unnamed_; }

  // What the batch did, for StatusAtBatchEnd.
  BatchOutcome outcome(const ResultRoom& room, int64_t shown) const;

 private:
  JobType type_ = JOB_COMPRESS;
  bool quiet_ = false;
  std::set<std::string> failed_files_;
  int failed_unnamed_ = 0;
  std::atomic<int> files_{0};
  bool queueing_ = false;
  bool accepted_ = false;
  bool started_ = false;
};

}  // namespace moravine::frontend

#endif  // MORAVINE_FRONTEND_WINDOW_STATE_H_
