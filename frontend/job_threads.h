// Job threads that the window can wait for before it goes away: every job
// runs on a thread of its own, as with the detached threads of the command
// line, but the threads are kept and joined once they have ended.
#ifndef MORAVINE_FRONTEND_JOB_THREADS_H_
#define MORAVINE_FRONTEND_JOB_THREADS_H_

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "batch/main_dialog.h"

namespace moravine::frontend {

class JobThreads : public ThreadStarter {
 public:
  JobThreads() = default;
  JobThreads(const JobThreads&) = delete;
  JobThreads& operator=(const JobThreads&) = delete;
  ~JobThreads() override { joinAll(); }

  bool start(std::function<void()> work) override;
  // Waits for every thread started so far.
  void joinAll();
  // Threads started and not yet joined.
  size_t count();

 private:
  struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  void reapEnded();  // with mutex_ held

  std::mutex mutex_;
  std::vector<Worker> workers_;
};

}  // namespace moravine::frontend

#endif  // MORAVINE_FRONTEND_JOB_THREADS_H_
