#include "frontend/job_threads.h"

#include <system_error>

namespace moravine::frontend {

void JobThreads::reapEnded() {
  // A thread marks itself done as its very last act, so joining it now
  // waits for no more than its exit.
  for (auto it = workers_.begin(); it != workers_.end();) {
    if (it->done->load()) {
      it->thread.join();
      it = workers_.erase(it);
    } else {
      ++it;
    }
  }
}

bool JobThreads::start(std::function<void()> work) {
  std::lock_guard<std::mutex> lock(mutex_);
  reapEnded();
  auto done = std::make_shared<std::atomic<bool>>(false);
  try {
    std::thread thread([work = std::move(work), done] {
      work();
      done->store(true);
    });
    workers_.push_back(Worker{std::move(thread), done});
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

void JobThreads::joinAll() {
  std::vector<Worker> workers;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    workers.swap(workers_);
  }
  for (Worker& w : workers) w.thread.join();
}

size_t JobThreads::count() {
  std::lock_guard<std::mutex> lock(mutex_);
  reapEnded();
  return workers_.size();
}

}  // namespace moravine::frontend
