#include "platform/large_pages.h"

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "wordmodel/hbuffer.h"

namespace moravine {
namespace {

void AdviseLargePages(void* data, size_t size) {
#if defined(MADV_HUGEPAGE)
  // Only advice: a system that declines it keeps small pages.
  (void)::madvise(data, size, MADV_HUGEPAGE);
#else
  (void)data;
  (void)size;
#endif
}

}  // namespace

void UseLargePagesForLargeBuffers() { HBuffer_setLargeBufferHook(&AdviseLargePages); }

}  // namespace moravine
