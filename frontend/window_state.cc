#include "frontend/window_state.h"

#include <thread>

namespace moravine::frontend {

void SearchBoxes::setWord(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  word_ = text;
}

void SearchBoxes::setErrors(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  errors_ = text;
}

std::string SearchBoxes::word() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return word_;
}

std::string SearchBoxes::errors() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return errors_;
}

SearchSettings SearchBoxes::settings() const {
  SearchSettings settings;
  settings.ignore_case = ignore_case_.load();
  const unsigned cores = std::thread::hardware_concurrency();
  settings.threads = cores > 0 ? static_cast<int32_t>(cores) : 1;
  return settings;
}

void BatchRecord::begin(JobType type) {
  type_ = type;
  quiet_ = false;
  failed_files_.clear();
  failed_unnamed_ = 0;
  queueing_ = true;
  accepted_ = started_ = false;
  files_.store(0);
}

void BatchRecord::noteEnable(Control control, bool enabled, bool on_window_thread) {
  if (queueing_ && control == Control::kCancel && enabled && on_window_thread) accepted_ = true;
}

void BatchRecord::noteProgress(int maximum, bool on_window_thread) {
  int files = files_.load();
  while (maximum > files && !files_.compare_exchange_weak(files, maximum)) {
  }
  if (queueing_ && maximum > 0 && on_window_thread) started_ = true;
}

bool BatchRecord::noteError(const std::string& path) {
  if (path.empty()) {
    ++failed_unnamed_;
  } else {
    failed_files_.insert(path);
  }
  return !quiet_;
}

BatchOutcome BatchRecord::outcome(const ResultRoom& room, int64_t shown) const {
  BatchOutcome outcome;
  outcome.search = type_ == JOB_SEARCH;
  outcome.hits = room.hits();
  outcome.files_with_hits = room.files();
  outcome.files = files_.load();
  outcome.shown = shown;
  outcome.failed = failed();
  return outcome;
}

}  // namespace moravine::frontend
