// Owned byte buffers handed from the library to its callers.
#ifndef MORAVINE_WORDMODEL_HBUFFER_H_
#define MORAVINE_WORDMODEL_HBUFFER_H_

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

#endif  // MORAVINE_WORDMODEL_HBUFFER_H_
