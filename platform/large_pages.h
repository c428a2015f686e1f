// Large pages for the codec's large working buffers, where the system
// offers them: fewer page faults while a buffer is first written, and
// fewer misses of the processor's address translations in the counting
// tables, which are read at random.
#ifndef MORAVINE_PLATFORM_LARGE_PAGES_H_
#define MORAVINE_PLATFORM_LARGE_PAGES_H_

namespace moravine {

// Installs the hook once at program start; harmless where the system has
// no large pages or refuses them for a buffer.
void UseLargePagesForLargeBuffers();

}  // namespace moravine

#endif  // MORAVINE_PLATFORM_LARGE_PAGES_H_
