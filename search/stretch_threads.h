// Work on stretches of one file spread over threads: the first stretch on
// the calling thread, each other on a helper thread. What a helper logs is
// held and written after, in the order of the stretches, as one thread
// doing the stretches one after the other would have written it.
#ifndef MORAVINE_SEARCH_STRETCH_THREADS_H_
#define MORAVINE_SEARCH_STRETCH_THREADS_H_

#include <condition_variable>
#include <cstdio>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "wordmodel/hlog.h"

// Starts helper threads, up to `count` in all, ahead of the first search
// that splits its work. Helpers live as long as the program and wait for
// work between tasks: a thread's start costs time that some systems stretch
// to milliseconds while the starting thread is busy, a waiting helper wakes
// at once, and no thread ends while others start (a thread library may
// hand a new thread the state of one that is still ending: MinGW's left one
// spinning forever on a lock of its thread-local data). More are started
// when all are busy. The batch's jobs run on them too.
void Search_startHelpers(int count);

// Runs `task` on a helper thread; false, and the task not run, when no
// helper can be had.
bool Search_runOnHelper(std::function<void()> task);

using SearchLogLines = std::vector<std::pair<FILE*, std::string>>;

// Runs work(i) for i = 0 .. n - 1. done(i) tells, once stretch i has ended
// without a failure, whether the stretches after it still count (as a
// search that stops at a bad context would not go on); their log lines are
// then dropped. A failure of a stretch is raised here, after the lines of
// the stretches before it and its own.
template <typename Work, typename Done>
void Search_forEachStretch(size_t n, Work work, Done done) {
  if (n == 0) return;
  if (n == 1) {
    work(0);
    done(0);
    return;
  }
  std::vector<std::exception_ptr> failures(n);
  std::vector<SearchLogLines> logs(n);
  std::mutex mutex;
  std::condition_variable ended;
  size_t running = n - 1;
  for (size_t i = 1; i < n; ++i) {
    auto stretch = [&, i] {
      {
        HLogCapture capture;
        try {
          work(i);
        } catch (...) {
          failures[i] = std::current_exception();
        }
        logs[i] = capture.take();
      }
      std::lock_guard<std::mutex> lock(mutex);
      if (--running == 0) ended.notify_one();
    };
    if (!Search_runOnHelper(stretch)) stretch();  // no thread to be had: done here
  }
  try {
    work(0);
  } catch (...) {
    failures[0] = std::current_exception();
  }
  {
    std::unique_lock<std::mutex> lock(mutex);
    ended.wait(lock, [&] { return running == 0; });
  }
  for (size_t i = 0; i < n; ++i) {
    HLog_replay(logs[i]);
    if (failures[i]) std::rethrow_exception(failures[i]);
    if (!done(i)) return;
  }
}

template <typename Work>
void Search_forEachStretch(size_t n, Work work) {
  Search_forEachStretch(n, work, [](size_t) { return true; });
}

#endif  // MORAVINE_SEARCH_STRETCH_THREADS_H_
