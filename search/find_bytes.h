// Finding short runs of bytes in a long one, as memmem does, for the
// vocabulary passes of the search: their needles are words of a few bytes
// and their haystacks dictionaries of many kilobytes. The two bytes of a
// needle that are rarest in text are compared at many places at a time, so
// few places are left to check in full.
#ifndef MORAVINE_SEARCH_FIND_BYTES_H_
#define MORAVINE_SEARCH_FIND_BYTES_H_

#include <cstddef>
#include <string_view>
#include <vector>

// The first place of the needle in the haystack, or nullptr. An empty needle
// is found at the start.
const unsigned char* Search_findBytes(const unsigned char* haystack, size_t haystack_length,
                                      const unsigned char* needle, size_t needle_length);

// Whether any of the needles is in the haystack, in one pass over it.
bool Search_findAnyBytes(const unsigned char* haystack, size_t haystack_length,
                         const std::vector<std::string_view>& needles);

#endif  // MORAVINE_SEARCH_FIND_BYTES_H_
