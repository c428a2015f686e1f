#include "search/find_bytes.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string_view>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define MORAVINE_FIND_X86 1
#endif

namespace {

// How common each byte is in the words of English text (higher is more
// common; bytes never seen there are 0). Only the order matters: it picks
// the two bytes of a needle that the wide compares look for.
constexpr std::array<unsigned char, 256> kCommon = {
    155, 0, 0, 0, 0, 0, 0, 0, 0, 195, 255, 0, 156, 194, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 157, 0, 0, 0, 0, 0,
    245, 184, 186, 167, 176, 161, 159, 187, 179, 193, 196, 211, 180, 233, 213, 171,
    219, 215, 212, 208, 204, 201, 203, 197, 198, 202, 178, 175, 165, 188, 181, 177,
    158, 235, 220, 227, 217, 228, 199, 209, 214, 224, 191, 206, 216, 226, 223, 218,
    221, 163, 225, 231, 222, 205, 189, 190, 170, 183, 182, 166, 174, 172, 160, 173,
    162, 253, 237, 242, 244, 254, 234, 239, 241, 252, 192, 230, 246, 240, 251, 247,
    238, 185, 250, 249, 248, 243, 232, 229, 200, 236, 210, 164, 169, 168, 207, 0,
};

// A needle with the offsets of its three rarest bytes (the same offset
// twice in a needle of two bytes).
struct Needle {
  const unsigned char* bytes;
  size_t length;
  size_t rare[3];
};

Needle Prepare(const unsigned char* bytes, size_t length) {
  Needle n{bytes, length, {0, 0, 0}};
  // The offsets by how common their bytes are, rarest first; a stable
  // order keeps the choice the same from run to run.
  size_t order[3] = {0, 0, 0};
  size_t taken = 0;
  for (size_t pick = 0; pick < 3 && pick < length; ++pick) {
    size_t best = length;
    for (size_t i = 0; i < length; ++i) {
      if (std::find(order, order + taken, i) != order + taken) continue;
      if (best == length || kCommon[bytes[i]] < kCommon[bytes[best]]) best = i;
    }
    order[taken++] = best;
  }
  for (size_t k = 0; k < 3; ++k) n.rare[k] = order[k < taken ? k : taken - 1];
  return n;
}

// Whether the needle is at place p (known to fit and to hold its rare
// bytes); the bytes checked are all of them, which is simplest and cheap.
inline bool At(const Needle& n, const unsigned char* p) {
  for (size_t i = 0; i < n.length; ++i) {
    if (p[i] != n.bytes[i]) return false;
  }
  return true;
}

#ifdef MORAVINE_FIND_X86
inline const __m256i* At32(const unsigned char* at) { return reinterpret_cast<const __m256i*>(at); }

// Places from `i` on, 32 at a time, while the wide loads stay inside; the
// place reached is left in `i`. Returns the first place found or nullptr.
// N needles, known when compiled, keep their bytes and offsets in
// registers; N == 0 takes `count` needles from memory.
template <size_t N>
__attribute__((target("avx2"))) const unsigned char* FindWide(const unsigned char* h, size_t length,
                                                               const Needle* needles, size_t count, size_t* i) {
  const size_t n = N > 0 ? N : count;
  size_t reach = 0;
  for (size_t k = 0; k < n; ++k) reach = std::max(reach, needles[k].length);
  constexpr size_t kRoom = N > 0 ? N : 8;
  __m256i wanted[kRoom][3];
  size_t offset[kRoom][3];
  for (size_t k = 0; k < n; ++k) {
    for (size_t r = 0; r < 3; ++r) {
      offset[k][r] = needles[k].rare[r];
      wanted[k][r] = _mm256_set1_epi8(static_cast<char>(needles[k].bytes[offset[k][r]]));
    }
  }
  size_t p = *i;
  for (; p + reach - 1 + 32 <= length; p += 32) {
    for (size_t k = 0; k < n; ++k) {
      const __m256i a = _mm256_cmpeq_epi8(_mm256_loadu_si256(At32(h + p + offset[k][0])), wanted[k][0]);
      const __m256i b = _mm256_cmpeq_epi8(_mm256_loadu_si256(At32(h + p + offset[k][1])), wanted[k][1]);
      const __m256i c = _mm256_cmpeq_epi8(_mm256_loadu_si256(At32(h + p + offset[k][2])), wanted[k][2]);
      auto mask = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_and_si256(_mm256_and_si256(a, b), c)));
      for (; mask; mask &= mask - 1) {
        const unsigned char* place = h + p + std::countr_zero(mask);
        if (At(needles[k], place)) {
          *i = p;
          return place;
        }
      }
    }
  }
  *i = p;
  return nullptr;
}

const unsigned char* FindWideAny(const unsigned char* h, size_t length, const Needle* needles, size_t count,
                                 size_t* i) {
  switch (count) {
    case 1: return FindWide<1>(h, length, needles, count, i);
    case 2: return FindWide<2>(h, length, needles, count, i);
    case 3: return FindWide<3>(h, length, needles, count, i);
    default: return FindWide<0>(h, length, needles, count, i);
  }
}
#endif

bool HasAvx2() {
#ifdef MORAVINE_FIND_X86
  static const bool avx2 = __builtin_cpu_supports("avx2");
  return avx2;
#else
  return false;
#endif
}

// A place of one of the needles in the haystack (for one needle, its first
// place), or nullptr. Needles of two bytes or more, at most 8 of them.
const unsigned char* FindAny(const unsigned char* h, size_t length, const Needle* needles, size_t count) {
  size_t i = 0;
  const unsigned char* found = nullptr;
#ifdef MORAVINE_FIND_X86
  if (HasAvx2()) found = FindWideAny(h, length, needles, count, &i);
#endif
  if (found) return found;
  // The rest, too short for a wide load (or all of it, without AVX2): each
  // needle on its own, keeping the earliest place.
  const std::string_view rest(reinterpret_cast<const char*>(h + i), length - i);
  for (size_t k = 0; k < count; ++k) {
    if (i + needles[k].length > length) continue;
    const size_t at = rest.find(std::string_view(reinterpret_cast<const char*>(needles[k].bytes), needles[k].length));
    if (at != std::string_view::npos && (!found || h + i + at < found)) found = h + i + at;
  }
  return found;
}

}  // namespace

const unsigned char* Search_findBytes(const unsigned char* haystack, size_t haystack_length,
                                      const unsigned char* needle, size_t needle_length) {
  if (needle_length == 0) return haystack;
  if (needle_length > haystack_length) return nullptr;
  if (needle_length == 1) return static_cast<const unsigned char*>(std::memchr(haystack, needle[0], haystack_length));
  const Needle n = Prepare(needle, needle_length);
  return FindAny(haystack, haystack_length, &n, 1);
}

bool Search_findAnyBytes(const unsigned char* haystack, size_t haystack_length,
                         const std::vector<std::string_view>& needles) {
  std::array<Needle, 8> prepared;
  size_t count = 0;
  for (const std::string_view needle : needles) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(needle.data());
    if (needle.size() > haystack_length) continue;
    if (needle.size() < 2 || count == prepared.size()) {
      // Rare cases, searched on their own.
      if (Search_findBytes(haystack, haystack_length, bytes, needle.size())) return true;
      continue;
    }
    prepared[count++] = Prepare(bytes, needle.size());
  }
  return count > 0 && FindAny(haystack, haystack_length, prepared.data(), count) != nullptr;
}
