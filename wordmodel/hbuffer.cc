#include "wordmodel/hbuffer.h"

#include <atomic>
#include <cstdint>

namespace {

std::atomic<HLargeBufferHook> g_large_hook{nullptr};

}  // namespace

void HBuffer_setLargeBufferHook(HLargeBufferHook hook) { g_large_hook.store(hook, std::memory_order_relaxed); }

HBuffer HBuffer_allocateLarge(size_t n) {
  const size_t alignment = n >= kHLargeBuffer ? kHLargeBuffer : 64;
  if (n > SIZE_MAX - alignment) return HBuffer();
  const size_t size = n == 0 ? alignment : (n + alignment - 1) & ~(alignment - 1);
  HBuffer buffer(static_cast<unsigned char*>(HMemory_allocateAligned(alignment, size)));
  if (buffer && alignment == kHLargeBuffer) {
    if (HLargeBufferHook hook = g_large_hook.load(std::memory_order_relaxed)) hook(buffer.get(), size);
  }
  return buffer;
}
