#include "frontend/update_queue.h"

#include <algorithm>

namespace moravine::frontend {

void UpdateQueue::post(std::function<void()> update) { add(Entry{std::move(update), false}); }

void UpdateQueue::postDroppable(std::function<void()> update) { add(Entry{std::move(update), true}); }

void UpdateQueue::add(Entry entry) {
  bool here = onWindowThread();
  bool schedule = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    updates_.push_back(std::move(entry));
    if (!here && !scheduled_) schedule = scheduled_ = true;
  }
  if (here) {
    drain();
  } else if (schedule) {
    wake();
  }
}

size_t UpdateQueue::dropDroppable() {
  // The entries are destroyed outside the lock: rows can be many.
  std::deque<Entry> dropped;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto keep = std::stable_partition(updates_.begin(), updates_.end(), [](const Entry& e) { return !e.droppable; });
    std::move(keep, updates_.end(), std::back_inserter(dropped));
    updates_.erase(keep, updates_.end());
  }
  return dropped.size();
}

void UpdateQueue::drain() { run(nullptr); }

void UpdateQueue::drainTurn() {
  const auto deadline = std::chrono::steady_clock::now() + turn_;
  {
    // This turn is under way: an update posted from now on asks for another.
    std::lock_guard<std::mutex> lock(mutex_);
    scheduled_ = false;
  }
  // Inside a running drain (an update that waits in an event loop), the
  // running one goes on with the updates when it resumes.
  if (draining_ || run(&deadline)) return;
  std::lock_guard<std::mutex> lock(mutex_);
  if (scheduled_ || updates_.empty()) return;
  scheduled_ = true;
  wake();
}

bool UpdateQueue::run(const std::chrono::steady_clock::time_point* deadline) {
  // An update that posts another lets the running drain pick it up in turn.
  if (draining_) return false;
  draining_ = true;
  bool emptied = false;
  for (bool ran = false;; ran = true) {
    std::function<void()> update;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (updates_.empty()) {
        emptied = true;
        break;
      }
      // A turn runs one update at least, however short it is.
      if (ran && deadline && std::chrono::steady_clock::now() >= *deadline) break;
      update = std::move(updates_.front().run);
      updates_.pop_front();
    }
    update();
  }
  draining_ = false;
  return emptied;
}

bool UpdateQueue::pending() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return !updates_.empty();
}

}  // namespace moravine::frontend
