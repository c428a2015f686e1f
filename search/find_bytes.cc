#include "search/find_bytes.h"

#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#define MORAVINE_FIND_SSE2 1
#endif

const unsigned char* Search_findBytes(const unsigned char* haystack, size_t haystack_length,
                                      const unsigned char* needle, size_t needle_length) {
  if (needle_length == 0) return haystack;
  if (needle_length > haystack_length) return nullptr;
  if (needle_length == 1) return static_cast<const unsigned char*>(std::memchr(haystack, needle[0], haystack_length));
  size_t i = 0;
#ifdef MORAVINE_FIND_SSE2
  // Places whose first and last bytes are the needle's, sixteen at a time;
  // the bytes between are compared at those places only.
  const __m128i first = _mm_set1_epi8(static_cast<char>(needle[0]));
  const __m128i last = _mm_set1_epi8(static_cast<char>(needle[needle_length - 1]));
  const size_t inner = needle_length - 2;
  for (; i + needle_length - 1 + 16 <= haystack_length; i += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(haystack + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(haystack + i + needle_length - 1));
    auto mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, first), _mm_cmpeq_epi8(b, last))));
    for (; mask; mask &= mask - 1) {
      const unsigned char* at = haystack + i + std::countr_zero(mask);
      if (inner == 0 || std::memcmp(at + 1, needle + 1, inner) == 0) return at;
    }
  }
#endif
  const void* found = memmem(haystack + i, haystack_length - i, needle, needle_length);
  return static_cast<const unsigned char*>(found);
}
