// The buffers' memory where the C library has aligned_alloc, whose blocks
// free() releases: POSIX systems.
#include <cstdlib>

#include "wordmodel/hbuffer.h"

void* HMemory_allocate(size_t n) { return std::malloc(n); }

void* HMemory_allocateAligned(size_t alignment, size_t n) { return std::aligned_alloc(alignment, n); }

void* HMemory_resize(void* p, size_t n) { return std::realloc(p, n); }

void HMemory_release(void* p) noexcept { std::free(p); }
