// Work on stretches of one file spread over threads: the first stretch on
// the calling thread, each other on a thread of its own. What a helper
// thread logs is held and written after, in the order of the stretches, as
// one thread doing the stretches one after the other would have written it.
#ifndef MORAVINE_SEARCH_STRETCH_THREADS_H_
#define MORAVINE_SEARCH_STRETCH_THREADS_H_

#include <cstdio>
#include <exception>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "wordmodel/hlog.h"

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
  std::vector<std::thread> threads;
  threads.reserve(n - 1);
  for (size_t i = 1; i < n; ++i) {
    threads.emplace_back([&, i] {
      HLogCapture capture;
      try {
        work(i);
      } catch (...) {
        failures[i] = std::current_exception();
      }
      logs[i] = capture.take();
    });
  }
  try {
    work(0);
  } catch (...) {
    failures[0] = std::current_exception();
  }
  for (std::thread& t : threads) t.join();
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
