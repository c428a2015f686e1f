// Owned byte buffers handed from the library to its callers.
#ifndef MORAVINE_WORDMODEL_HBUFFER_H_
#define MORAVINE_WORDMODEL_HBUFFER_H_

#include <cstddef>
#include <cstdlib>
#include <memory>

struct HFree {
  void operator()(void* p) const noexcept { std::free(p); }
};

// A malloc'ed byte buffer; growing it with realloc keeps large buffers cheap.
using HBuffer = std::unique_ptr<unsigned char[], HFree>;

// Allocates n bytes (at least one); returns an empty buffer when out of memory.
inline HBuffer HBuffer_allocate(size_t n) {
  return HBuffer(static_cast<unsigned char*>(std::malloc(n ? n : 1)));
}

// Resizes the buffer to n bytes; on failure the buffer is left as it was
// and false is returned.
inline bool HBuffer_resize(HBuffer* buffer, size_t n) {
  void* p = std::realloc(buffer->get(), n ? n : 1);
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
