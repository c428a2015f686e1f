#include "frontend/result_room.h"

#include <algorithm>

namespace moravine::frontend {

void ResultRoom::reset(int64_t limit) {
  limit_.store(std::max<int64_t>(limit, 0));
  left_.store(limit_.load());
  hits_.store(0);
  files_.store(0);
}

size_t ResultRoom::take(size_t hits) {
  if (hits == 0) return 0;
  hits_.fetch_add(static_cast<int64_t>(hits));
  files_.fetch_add(1);
  const int64_t wanted = static_cast<int64_t>(std::min<size_t>(hits, INT64_MAX));
  int64_t left = left_.load();
  int64_t given = 0;
  do {
    given = std::min(left, wanted);
  } while (given > 0 && !left_.compare_exchange_weak(left, left - given));
  return static_cast<size_t>(std::max<int64_t>(given, 0));
}

}  // namespace moravine::frontend
