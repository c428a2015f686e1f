#include "platform/mapping_guard.h"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <mutex>

namespace moravine {

namespace {

constexpr int kSlots = 1024;

struct Slot {
  std::atomic<uintptr_t> start{0};
  std::atomic<uintptr_t> end{0};
  std::atomic<bool> damaged{false};
  std::atomic<bool> taken{false};
};

Slot g_slots[kSlots];
struct sigaction g_previous;

void OnBus(int sig, siginfo_t* info, void* context) {
  uintptr_t at = reinterpret_cast<uintptr_t>(info->si_addr);
  for (Slot& s : g_slots) {
    uintptr_t start = s.start.load(std::memory_order_acquire);
    uintptr_t end = s.end.load(std::memory_order_acquire);
    if (start == 0 || at < start || at >= end) continue;
    uintptr_t page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
    uintptr_t from = at & ~(page - 1);
    void* p = ::mmap(reinterpret_cast<void*>(from), end - from, PROT_READ | PROT_WRITE,
                     MAP_FIXED | MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) break;
    s.damaged.store(true, std::memory_order_release);
    return;
  }
  // Not ours: the fault takes its usual course.
  if (g_previous.sa_flags & SA_SIGINFO) {
    if (g_previous.sa_sigaction) return g_previous.sa_sigaction(sig, info, context);
  } else if (g_previous.sa_handler != SIG_DFL && g_previous.sa_handler != SIG_IGN) {
    return g_previous.sa_handler(sig);
  }
  ::signal(SIGBUS, SIG_DFL);
}

void InstallOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction action = {};
    action.sa_sigaction = OnBus;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGBUS, &action, &g_previous);
  });
}

}  // namespace

bool MappingGuard::watch(const void* start, size_t length) {
  release();
  if (!start || length == 0) return false;
  InstallOnce();
  for (int i = 0; i < kSlots; ++i) {
    bool expected = false;
    if (!g_slots[i].taken.compare_exchange_strong(expected, true)) continue;
    Slot& s = g_slots[i];
    s.damaged.store(false);
    damaged_ = false;
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
  damaged_ = damaged_ || s.damaged.load(std::memory_order_acquire);
  s.start.store(0, std::memory_order_release);
  s.end.store(0, std::memory_order_release);
  s.taken.store(false, std::memory_order_release);
  slot_ = -1;
}

bool MappingGuard::damaged() const {
  return damaged_ || (slot_ >= 0 && g_slots[slot_].damaged.load(std::memory_order_acquire));
}

}  // namespace moravine
