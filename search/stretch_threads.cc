#include "search/stretch_threads.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

// The helpers and their work. It lives as long as the program (it is never
// destroyed): a helper may still wait on it while the program ends.
class HelperPool {
 public:
  void start(int count) {
    std::lock_guard<std::mutex> lock(mutex_);
    while (started_ < count && spawn()) {
    }
  }

  bool run(std::function<void()> task) {
    std::lock_guard<std::mutex> lock(mutex_);
    tasks_.push_back(std::move(task));
    // A helper that waits takes it; otherwise one more is started.
    if (waiting_ >= static_cast<int>(tasks_.size()) || spawn()) {
      wake_.notify_one();
      return true;
    }
    if (waiting_ > 0) {  // the waiting ones take it in turn
      wake_.notify_one();
      return true;
    }
    tasks_.pop_back();
    return false;
  }

 private:
  // Starts a helper; false when the system refuses one. Called locked.
  bool spawn() {
    try {
      std::thread([this] { serve(); }).detach();
    } catch (const std::system_error&) {
      return false;
    }
    ++started_;
    return true;
  }

  void serve() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      ++waiting_;
      wake_.wait(lock, [this] { return !tasks_.empty(); });
      --waiting_;
      std::function<void()> task = std::move(tasks_.front());
      tasks_.pop_front();
      lock.unlock();
      task();
      lock.lock();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> tasks_;
  int started_ = 0;
  int waiting_ = 0;
};

HelperPool& Pool() {
  static HelperPool* pool = new HelperPool;
  return *pool;
}

}  // namespace

void Search_startHelpers(int count) { Pool().start(count); }

bool Search_runOnHelper(std::function<void()> task) { return Pool().run(std::move(task)); }
