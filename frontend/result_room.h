// The room in the results list during a search, shared by the search jobs
// of a batch: the first hits, up to the list's limit, get rows; every hit is
// counted, with the files it was found in, for the status line.
#ifndef MORAVINE_FRONTEND_RESULT_ROOM_H_
#define MORAVINE_FRONTEND_RESULT_ROOM_H_

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace moravine::frontend {

class ResultRoom {
 public:
  explicit ResultRoom(int64_t limit = 0) { reset(limit); }

  // A new search, whose rows the list holds up to `limit`; between
  // batches only.
  void reset(int64_t limit);
  // One file's hits, from any thread: counts them and returns how many of
  // them still get a row. The rows given never add up to more than the
  // limit, whichever jobs ask at the same time.
  size_t take(size_t hits);

  int64_t limit() const { return limit_.load(); }
  int64_t hits() const { return hits_.load(); }
  int files() const { return files_.load(); }
  // The rows given so far.
  int64_t given() const { return limit_.load() - left_.load(); }

 private:
  std::atomic<int64_t> limit_{0};
  std::atomic<int64_t> left_{0};
  std::atomic<int64_t> hits_{0};
  std::atomic<int> files_{0};
};

}  // namespace moravine::frontend

#endif  // MORAVINE_FRONTEND_RESULT_ROOM_H_
