#include "platform/mapping_guard.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>

namespace moravine {

namespace {

constexpr int kSlots = 1024;

enum : int { kMapped = 0, kReplacing = 1, kReplaced = 2 };

struct Slot {
  std::atomic<uintptr_t> start{0};
  std::atomic<uintptr_t> end{0};
  std::atomic<int> state{kMapped};
  std::atomic<bool> taken{false};
};

Slot g_slots[kSlots];

// Puts zero-filled memory where the slot's view was. The first thread that
// faults in the view does it; the others wait for it and read the zeros.
bool Replace(Slot& s, uintptr_t start, uintptr_t end) {
  int expected = kMapped;
  if (s.state.compare_exchange_strong(expected, kReplacing)) {
    void* at = reinterpret_cast<void*>(start);
    const bool ok = ::UnmapViewOfFile(at) &&
                    ::VirtualAlloc(at, end - start, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE) == at;
    s.state.store(ok ? kReplaced : kMapped);
    return ok;
  }
  while (s.state.load() == kReplacing) ::SwitchToThread();
  return s.state.load() == kReplaced;
}

// Called for every exception of the process before any frame's handler:
// a failed page-in (EXCEPTION_IN_PAGE_ERROR) inside a watched view is
// taken care of; everything else goes on its usual way.
LONG CALLBACK OnException(EXCEPTION_POINTERS* pointers) {
  const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
  if (record->ExceptionCode != EXCEPTION_IN_PAGE_ERROR || record->NumberParameters < 2) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  const uintptr_t at = static_cast<uintptr_t>(record->ExceptionInformation[1]);
  for (Slot& s : g_slots) {
    const uintptr_t start = s.start.load(std::memory_order_acquire);
    const uintptr_t end = s.end.load(std::memory_order_acquire);
    if (start == 0 || at < start || at >= end) continue;
    return Replace(s, start, end) ? EXCEPTION_CONTINUE_EXECUTION : EXCEPTION_CONTINUE_SEARCH;
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

void InstallOnce() {
  static std::once_flag once;
  std::call_once(once, [] { ::AddVectoredExceptionHandler(1, OnException); });
}

}  // namespace

bool MappingGuard::watch(const void* start, size_t length) {
  release();
  damaged_ = false;
  if (!start || length == 0) return false;
  InstallOnce();
  for (int i = 0; i < kSlots; ++i) {
    bool expected = false;
    if (!g_slots[i].taken.compare_exchange_strong(expected, true)) continue;
    Slot& s = g_slots[i];
    s.state.store(kMapped);
    s.end.store(reinterpret_cast<uintptr_t>(start) + length, std::memory_order_release);
    s.start.store(reinterpret_cast<uintptr_t>(start), std::memory_order_release);
    slot_ = i;
    return true;
  }
  return false;
}

void MappingGuard::release() {
  if (slot_ < 0) return;
  Slot& s = g_slots[slot_];
  s.start.store(0, std::memory_order_release);
  s.end.store(0, std::memory_order_release);
  while (s.state.load() == kReplacing) ::SwitchToThread();
  damaged_ = damaged_ || s.state.load() == kReplaced;
  s.state.store(kMapped);
  s.taken.store(false, std::memory_order_release);
  slot_ = -1;
}

bool MappingGuard::damaged() const { return damaged_ || (slot_ >= 0 && g_slots[slot_].state.load() == kReplaced); }

}  // namespace moravine
