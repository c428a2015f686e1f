#include "platform/large_pages.h"

namespace moravine {

// Large pages on Windows take the "Lock pages in memory" right, which users
// do not hold: the buffers keep small pages.
void UseLargePagesForLargeBuffers() {}

}  // namespace moravine
