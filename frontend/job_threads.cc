#include "frontend/job_threads.h"

#include "search/stretch_threads.h"

namespace moravine::frontend {

bool JobThreads::start(std::function<void()> work) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++running_;
  }
  const bool started = Search_runOnHelper([this, work = std::move(work)] {
    work();
    // The last touch of this object by the work.
    std::lock_guard<std::mutex> lock(mutex_);
    if (--running_ == 0) ended_.notify_all();
  });
  if (!started) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (--running_ == 0) ended_.notify_all();
  }
  return started;
}

void JobThreads::joinAll() {
  std::unique_lock<std::mutex> lock(mutex_);
  ended_.wait(lock, [this] { return running_ == 0; });
}

size_t JobThreads::count() {
  std::lock_guard<std::mutex> lock(mutex_);
  return running_;
}

}  // namespace moravine::frontend
