// The body scan: every codeword of a compressed body that is in the word
// table, by the byte offset of its first byte, in ascending order.
#ifndef MORAVINE_SEARCH_SCAN_H_
#define MORAVINE_SEARCH_SCAN_H_

#include <cstdint>
#include <memory>

#include "search/myhash.h"
#include "wordmodel/hbuffer.h"

// The offsets array of a scan, owned by the caller.
struct SearchOffsets {
  std::unique_ptr<int32_t[], HFree> at;
  int32_t capacity = 0;
};

// On entry *count is the number of hits expected (0: no estimate); on return
// it is the number of offsets. filter holds 256 flags: a codeword whose first
// byte has a clear flag is not in the table.
void Search_scanBody(int32_t* count, const MyHash* table, const unsigned char* filter, const unsigned char* body,
                     int32_t length, SearchOffsets* offsets);

#endif  // MORAVINE_SEARCH_SCAN_H_
