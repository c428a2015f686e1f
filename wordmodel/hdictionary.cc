#include "wordmodel/hdictionary.h"

#include <bit>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#define MORAVINE_DICTIONARY_SSE2 1
#endif

#include "wordmodel/hcodeword.h"
#include "wordmodel/hcoding.h"
#include "wordmodel/hhashtable.h"
#include "wordmodel/hlog.h"
#include "wordmodel/htoken.h"
#include "wordmodel/hunicode.h"

namespace {

// Computes the start positions of a dictionary string: each token runs from
// its first byte to the next newline after that byte. Stores at most `limit`
// positions and returns the number of tokens found, or -1 when the string
// does not end with a token's newline. Tokens are a few bytes long, so the
// newlines are found with wide compares rather than by a search per token.
int64_t ScanStarts(const unsigned char* s, int32_t length, int32_t limit, int32_t* start) {
  int64_t found = 0;
  int32_t pos = 0;  // the first byte of the token being read
  // A newline ends the token being read unless it is that token's first byte.
  auto newline_at = [&](int32_t p) {
    if (p == pos) return;
    if (found < limit) start[found] = pos;
    ++found;
    pos = p + 1;
  };
  int32_t p = 0;
#ifdef MORAVINE_DICTIONARY_SSE2
  // 64 bytes a round: the loop over a round's newlines is left once per
  // round, not once per sixteen bytes.
  const __m128i newline = _mm_set1_epi8('\n');
  auto newlines = [&](int32_t at) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + at));
    return static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, newline))));
  };
  for (; p + 64 <= length; p += 64) {
    uint64_t mask = newlines(p) | newlines(p + 16) << 16 | newlines(p + 32) << 32 | newlines(p + 48) << 48;
    for (; mask; mask &= mask - 1) newline_at(p + std::countr_zero(mask));
  }
#endif
  for (; p < length; ++p) {
    if (s[p] == '\n') newline_at(p);
  }
  return pos < length ? -1 : found;
}

// The count that ScanStarts returns, without the starts. A block without
// two newlines side by side holds at most one newline that begins a token:
// its first byte, when the token being read starts there; every other
// newline of such a block ends a token, and they are counted all at once.
int64_t CountTokens(const unsigned char* s, int32_t length) {
  int64_t found = 0;
  int32_t pos = 0;  // the first byte of the token being read
  auto newline_at = [&](int32_t p) {
    if (p == pos) return;
    ++found;
    pos = p + 1;
  };
  int32_t p = 0;
#ifdef MORAVINE_DICTIONARY_SSE2
  const __m128i newline = _mm_set1_epi8('\n');
  auto compare = [&](int32_t at) {
    return _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + at)), newline);
  };
  const __m128i zero = _mm_setzero_si128();
  for (; p + 64 <= length; p += 64) {
    const __m128i c0 = compare(p), c1 = compare(p + 16), c2 = compare(p + 32), c3 = compare(p + 48);
    uint64_t mask = static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(c0))) |
                    static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(c1))) << 16 |
                    static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(c2))) << 32 |
                    static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(c3))) << 48;
    if (!mask) continue;
    if (mask & (mask >> 1)) {
      for (; mask; mask &= mask - 1) newline_at(p + std::countr_zero(mask));
      continue;
    }
    // The newlines of the block, summed lane by lane (each compare is 0 or
    // -1 in a lane), without a popcount instruction.
    const __m128i lanes = _mm_sub_epi8(_mm_sub_epi8(_mm_sub_epi8(_mm_sub_epi8(zero, c0), c1), c2), c3);
    const __m128i sums = _mm_sad_epu8(lanes, zero);
    int64_t count = _mm_cvtsi128_si32(sums) + _mm_extract_epi16(sums, 4);
    if (pos == p && (mask & 1)) {
      mask &= ~uint64_t{1};
      --count;
    }
    if (mask) {
      found += count;
      pos = p + 64 - std::countl_zero(mask);
    }
  }
#endif
  for (; p < length; ++p) {
    if (s[p] == '\n') newline_at(p);
  }
  return pos < length ? -1 : found;
}

}  // namespace

void HDictionary_fromtree(HNode* const* tree, int32_t n, HDictionary* dictionary) {
  int64_t total = 0;
  for (int32_t r = 0; r < n; ++r) total += static_cast<int64_t>(tree[r]->length) + 1;
  if (total > INT32_MAX - 1) HFatal("Error: dictionary length (HDictionary_fromtree)\n");
  int32_t length = static_cast<int32_t>(total);

  HBuffer string = HBuffer_allocate(static_cast<size_t>(length) + 1);
  std::unique_ptr<int32_t[]> start(new (std::nothrow) int32_t[n > 0 ? n : 1]);
  if (!string || !start) HFatal("Error: memory allocation (HDictionary_fromtree)\n");
  int32_t w = 0;
  for (int32_t r = 0; r < n; ++r) {
    std::memcpy(string.get() + w, tree[r]->token, static_cast<size_t>(tree[r]->length));
    w += tree[r]->length;
    string[w++] = '\n';
  }
  string[w] = 0;
  if (w != length) HFatal("Error: dictionary length (HDictionary_fromtree)\n");
  if (ScanStarts(string.get(), length, n, start.get()) != n) {
    HFatal("Error: num tokens in dictionary (HDictionary_fromtree)\n");
  }
  dictionary->string = string.get();
  dictionary->owned_string = std::move(string);
  dictionary->string_length = length;
  dictionary->token_count = n;
  dictionary->start = std::move(start);
  dictionary->classes.reset();
}

void HDictionary_fromstring(const unsigned char* string, int32_t length, int32_t n, HDictionary* dictionary) {
  if (string == nullptr && length > 0) HFatal("Error: memory allocation (HDictionary_fromstring)\n");
  if (n < 0) HFatal("Error: num tokens in dictionary (HDictionary_fromstring)\n");
  std::unique_ptr<int32_t[]> start(new (std::nothrow) int32_t[n > 0 ? n : 1]);
  if (!start) HFatal("Error: memory allocation (HDictionary_fromstring)\n");
  int64_t found = ScanStarts(string, length, n, start.get());
  if (found < 0) HFatal("Error: dictionary string does not end with a newline (HDictionary_fromstring)\n");
  if (found != n) HFatal("Error: num tokens in dictionary (HDictionary_fromstring)\n");
  dictionary->owned_string.reset();
  dictionary->string = string;
  dictionary->string_length = length;
  dictionary->token_count = n;
  dictionary->start = std::move(start);
  dictionary->classes.reset();
}

void HDictionary_checkTokens(const HDictionary* dictionary) {
  const int32_t n = dictionary->token_count;
  const unsigned char* string = dictionary->string;
  for (int32_t r = 0; r < n; ++r) {
    const int32_t s = dictionary->start[r];
    const int32_t end = (r + 1 < n ? dictionary->start[r + 1] : dictionary->string_length) - 1;
    bool good = end > s;
    if (good && string[s] == '\n') {
      good = end == s + 1;
    } else if (good && dictionary->classes) {
      // The Unicode models' files carry a checksum of the text, which finds
      // any damage; the classes of their characters depend on the Unicode
      // version of the categories, which may differ from the one the file
      // was written with, so a token is only checked to be one line.
      good = std::memchr(string + s, '\n', static_cast<size_t>(end - s)) == nullptr;
    } else if (good) {
      const bool word = HToken_isWordByte(string[s]);
      for (int32_t i = s + 1; i < end && good; ++i) good = HToken_isWordByte(string[i]) == word && string[i] != '\n';
    }
    if (!good) HFatal("Error: dictionary token %d is not a token of any text (HDictionary_checkTokens)\n", r);
  }
}

void HDictionary_classify(HDictionary* dictionary) {
  const int32_t n = dictionary->token_count;
  dictionary->classes.reset(new unsigned char[n > 0 ? n : 1]);
  for (int32_t r = 0; r < n; ++r) {
    const int32_t s = dictionary->start[r];
    const int32_t end = (r + 1 < n ? dictionary->start[r + 1] : dictionary->string_length) - 1;
    dictionary->classes[r] = end > s ? HUnicode_tokenClass(dictionary->string + s, end - s) : HCHAR_SEPARATOR;
  }
}

void HHashtable_fromdict(const HDictionary* dictionary, const HCodetable* table, HModel* model) {
  int32_t n = dictionary->token_count;
  HHashtable_create(model, n);
  HHashtable* vocabulary = &model->vocabulary;
  int32_t walked = 0;
  for (int32_t r = 0; r < n; ++r) {
    int32_t s = dictionary->start[r];
    int32_t end = r + 1 < n ? dictionary->start[r + 1] : dictionary->string_length;
    int is_new;
    HNode* node = HHashtable_insertEntry(dictionary->string + s, end - s - 1, vocabulary, &is_new);
    if (!node) HFatal("Error: token not found (HHashtable_fromdict)\n");
    HCodeword_TaggedFromTokenrank(r, table, &node->codeword, &node->level);
    ++walked;
  }
  if (walked != n) HFatal("Error: num tokens in dictionary (HHashtable_fromdict)\n");
}

void HCodetable_tostring(unsigned char* out, const HCodetable* table) {
  HInt_tostring(table->max_cw_length, out);
  for (int32_t l = 1; l <= 4; ++l) {
    HInt_tostring(table->First_cw[l], out + 4 + 8 * (l - 1));
    HInt_tostring(table->Offset[l], out + 8 + 8 * (l - 1));
  }
}

void HCodetable_fromstring(const unsigned char* in, HCodetable* table) {
  HInt_fromstring(in, &table->max_cw_length);
  for (int32_t l = 1; l <= 4; ++l) {
    HInt_fromstring(in + 4 + 8 * (l - 1), &table->First_cw[l]);
    HInt_fromstring(in + 8 + 8 * (l - 1), &table->Offset[l]);
  }
}

void HPrint_string(const unsigned char* bytes, int32_t length) {
  if (length < 0) HFatal("Error: negative string length (HPrint_string)\n");
  FILE* out = HLog_reportStream();
  for (int32_t i = 0; i < length; ++i) {
    unsigned char c = bytes[i];
    if (c >= 0x20 && c <= 0x7E) {
      std::fputc(c, out);
    } else {
      std::fprintf(out, "[%d]", static_cast<int>(static_cast<signed char>(c)));
    }
  }
}

void HDictionary_print(const HDictionary* dictionary, const HModel* model, bool with_codewords) {
  int32_t n = dictionary->token_count;
  HLog_report("\n\n================== Dictionary ====================\n");
  HLog_report("Number of tokens = %d, string length = %d\n\n", n, dictionary->string_length);
  for (int32_t r = 0; r < n; ++r) {
    int32_t s = dictionary->start[r];
    int32_t end = r + 1 < n ? dictionary->start[r + 1] : dictionary->string_length;
    int32_t len = end - s - 1;
    HLog_report("\n");
    HPrint_string(dictionary->string + s, len);
    if (with_codewords) {
      const HNode* node = HHashtable_lookup(dictionary->string + s, len, &model->vocabulary);
      if (!node) HFatal("Error: token not found (HDictionary_print)\n");
      uint32_t plain;
      int32_t bits;
      HCodeword_PlainFromTagged(node->codeword, node->level, &plain, &bits);
      HLog_report(r + 1 < n ? ":plain_cw = %x cwlen %d (bits)" : ":plain_cw = %x cwlen %d (bits)\n\n", plain, bits);
    }
  }
}

void HDictionary_free(HDictionary* dictionary, bool owns_string) {
  if (owns_string) dictionary->owned_string.reset();
  dictionary->start.reset();
  dictionary->classes.reset();
}

void HDictionary_fromstringCounted(const unsigned char* string, int32_t length, int32_t n, HDictionary* dictionary) {
  if (string == nullptr && length > 0) HFatal("Error: memory allocation (HDictionary_fromstring)\n");
  if (n < 0) HFatal("Error: num tokens in dictionary (HDictionary_fromstring)\n");
  const int64_t found = CountTokens(string, length);
  if (found < 0) HFatal("Error: dictionary string does not end with a newline (HDictionary_fromstring)\n");
  if (found != n) HFatal("Error: num tokens in dictionary (HDictionary_fromstring)\n");
  dictionary->owned_string.reset();
  dictionary->string = string;
  dictionary->string_length = length;
  dictionary->token_count = n;
  dictionary->start.reset();
  dictionary->classes.reset();
}
