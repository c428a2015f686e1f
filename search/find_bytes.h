// Finding a short run of bytes in a long one, as memmem does, for the
// vocabulary passes of the search: their needles are words of a few bytes
// and their haystacks dictionaries of many kilobytes, where a compare of
// the needle's first and last bytes over sixteen places at a time leaves
// few places to check.
#ifndef MORAVINE_SEARCH_FIND_BYTES_H_
#define MORAVINE_SEARCH_FIND_BYTES_H_

#include <cstddef>

// The first place of the needle in the haystack, or nullptr. An empty needle
// is found at the start.
const unsigned char* Search_findBytes(const unsigned char* haystack, size_t haystack_length,
                                      const unsigned char* needle, size_t needle_length);

#endif  // MORAVINE_SEARCH_FIND_BYTES_H_
