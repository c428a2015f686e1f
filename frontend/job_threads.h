// Job threads that the window can wait for before it goes away: every job
// runs on one of the program's helper threads, as with the command line,
// and the window waits until every piece of work it started has ended.
#ifndef MORAVINE_FRONTEND_JOB_THREADS_H_
#define MORAVINE_FRONTEND_JOB_THREADS_H_

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>

#include "batch/main_dialog.h"

namespace moravine::frontend {

class JobThreads : public ThreadStarter {
 public:
  JobThreads() = default;
  JobThreads(const JobThreads&) = delete;
  JobThreads& operator=(const JobThreads&) = delete;
  ~JobThreads() override { joinAll(); }

  bool start(std::function<void()> work) override;
  // Waits for every piece of work started so far.
  void joinAll();
  // Pieces of work started and not yet ended.
  size_t count();

 private:
  std::mutex mutex_;
  std::condition_variable ended_;
  size_t running_ = 0;  // pieces of work started and not yet ended
};

}  // namespace moravine::frontend

#endif  // MORAVINE_FRONTEND_JOB_THREADS_H_
