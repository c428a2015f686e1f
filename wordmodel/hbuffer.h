// Owned byte buffers handed from the library to its callers.
#ifndef MORAVINE_WORDMODEL_HBUFFER_H_
#define MORAVINE_WORDMODEL_HBUFFER_H_

#include <cstddef>
#include <memory>

// The memory of the buffers below (hmemory_*.cc, chosen by the build): the
// C library's malloc, realloc and free, and an aligned allocation that the
// same free releases. Where the C library has none (Windows), every block
// notes its alignment beside it, so that one release and one resize serve
// blocks of any alignment.
//
// Allocates n bytes (n > 0); nullptr when out of memory.
void* HMemory_allocate(size_t n);
// Allocates n bytes aligned to `alignment` (a power of two, at least 16;
// n a multiple of it); nullptr when out of memory.
void* HMemory_allocateAligned(size_t alignment, size_t n);
// Resizes a block of either kind to n bytes (n > 0), keeping its first
// bytes; nullptr, with the block left as it was, when out of memory.
void* HMemory_resize(void* p, size_t n);
// Releases a block of either kind; nullptr is ignored.
void HMemory_release(void* p) noexcept;

struct HFree {
  void operator()(void* p) const noexcept { HMemory_release(p); }
};

// A byte buffer from HMemory; growing it with realloc keeps large buffers cheap.
using HBuffer = std::unique_ptr<unsigned char[], HFree>;

// Allocates n bytes (at least one); returns an empty buffer when out of memory.
inline HBuffer HBuffer_allocate(size_t n) { return HBuffer(static_cast<unsigned char*>(HMemory_allocate(n ? n : 1))); }

// Resizes the buffer to n bytes; on failure the buffer is left as it was
// and false is returned.
inline bool HBuffer_resize(HBuffer* buffer, size_t n) {
  void* p = HMemory_resize(buffer->get(), n ? n : 1);
  if (!p) return false;
  buffer->release();
  buffer->reset(static_cast<unsigned char*>(p));
  return true;
}

// Large working memory (the counting tables, the id streams, a whole
// compressed file): from this size on, buffers are aligned to it, so that
// the system may back them with large pages and spare the processor's
// address translations. The library makes no system call for that itself:
// a program may install a hook that is offered every such buffer.
constexpr size_t kHLargeBuffer = size_t{2} << 20;
using HLargeBufferHook = void (*)(void* data, size_t size);
void HBuffer_setLargeBufferHook(HLargeBufferHook hook);

// As HBuffer_allocate, aligned to 64 bytes, and to kHLargeBuffer from that
// size on (then offered to the hook); the contents are undefined.
HBuffer HBuffer_allocateLarge(size_t n);

#endif  // MORAVINE_WORDMODEL_HBUFFER_H_
