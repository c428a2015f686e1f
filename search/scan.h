// The body scan: every codeword of a compressed body that is in the word
// table, by the byte offset of its first byte, in ascending order.
#ifndef MORAVINE_SEARCH_SCAN_H_
#define MORAVINE_SEARCH_SCAN_H_

#include <cstdint>
#include <memory>
#include <vector>

#include "search/myhash.h"
#include "wordmodel/hbuffer.h"

// The offsets array of a scan, owned by the caller.
struct SearchOffsets {
  std::unique_ptr<int32_t[], HFree> at;
  int32_t capacity = 0;
};

// How the scan looks for candidate bytes: byte by byte, 16 bytes at a time
// with SSE2, 32 at a time with AVX2. kAuto takes the widest that the
// processor has. Every path gives the same offsets.
enum class SearchScanPath { kAuto, kScalar, kSse2, kAvx2 };

// Whether this build and this processor can take the path.
bool Search_scanPathAvailable(SearchScanPath path);

// On entry *count is the number of hits expected (0: no estimate); on return
// it is the number of offsets. filter holds 256 flags: a codeword whose first
// byte has a clear flag is not in the table.
void Search_scanBody(int32_t* count, const MyHash* table, const unsigned char* filter, const unsigned char* body,
                     int32_t length, SearchOffsets* offsets);

// Line feeds counted by the scan as it goes, when the newline token has a
// one-byte codeword: each of its bytes in the body is that codeword.
struct SearchLineCount {
  int newline = -1;             // the codeword's byte; -1: not counted
  bool counted = false;         // out: the scan's path counted them (else count them after)
  int64_t total = 0;            // out: newline codewords in the body scanned
  std::vector<int64_t> before;  // out: newline codewords before each offset found
};

// As Search_scanBody, stopping after max_hits offsets (0: no limit), on the
// given path (an unavailable one falls back to the scalar scan). With
// `lines`, the widest paths also count the newline codewords.
void Search_scanBodyWith(int32_t* count, const MyHash* table, const unsigned char* filter, const unsigned char* body,
                         int32_t length, int32_t max_hits, SearchScanPath path, SearchOffsets* offsets,
                         SearchLineCount* lines = nullptr);

// The number of times the codeword (key, 1 to 4 bytes, tagged byte first)
// begins at a position from `from` up to `to` (excluded) of a body of
// `length` bytes. Since no codeword is the beginning of another, this counts
// the occurrences of the key's bytes that begin at a tagged byte.
int64_t Search_countCodeword(const unsigned char* body, int32_t length, int32_t from, int32_t to,
                             const unsigned char* key, int32_t key_length);

#endif  // MORAVINE_SEARCH_SCAN_H_
