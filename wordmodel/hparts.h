// Work split into parts that run at the same time, for the passes that
// split a text into stretches.
#ifndef MORAVINE_WORDMODEL_HPARTS_H_
#define MORAVINE_WORDMODEL_HPARTS_H_

#include <cstddef>
#include <exception>
#include <thread>
#include <vector>

// Runs job(k) for every k below `parts`, each on a thread of its own (the
// first on the calling one), and rethrows the first failure once all have
// ended.
template <class Job>
void HRunParts(size_t parts, const Job& job) {
  std::vector<std::exception_ptr> failures(parts);
  auto run = [&](size_t k) {
    try {
      job(k);
    } catch (...) {
      failures[k] = std::current_exception();
    }
  };
  std::vector<std::thread> workers;
  for (size_t k = 1; k < parts; ++k) workers.emplace_back(run, k);
  run(0);
  for (std::thread& t : workers) t.join();
  for (const std::exception_ptr& f : failures) {
    if (f) std::rethrow_exception(f);
  }
}

#endif  // MORAVINE_WORDMODEL_HPARTS_H_
