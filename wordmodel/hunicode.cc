#include "wordmodel/hunicode.h"

#include <utf8proc.h>

#include <algorithm>
#include <memory>
#include <string>

namespace {

// The blocks of the scripts written without blanks between words, whose
// letters are words of one code point each.
struct Range {
  int32_t first;
  int32_t last;
};
constexpr Range kSingleScripts[] = {
    {0x0E00, 0x0E7F},    // Thai
    {0x0E80, 0x0EFF},    // Lao
    {0x1000, 0x109F},    // Myanmar
    {0x1780, 0x17FF},    // Khmer
    {0x19E0, 0x19FF},    // Khmer symbols
    {0x3005, 0x3007},    // ideographic iteration mark, closing mark, number zero
    {0x3021, 0x3029},    // Hangzhou numerals
    {0x3038, 0x303B},    // more Han numerals and marks
    {0x3040, 0x309F},    // Hiragana
    {0x30A0, 0x30FF},    // Katakana
    {0x31F0, 0x31FF},    // Katakana phonetic extensions
    {0x3400, 0x4DBF},    // CJK unified ideographs extension A
    {0x4E00, 0x9FFF},    // CJK unified ideographs
    {0xA9E0, 0xA9FF},    // Myanmar extended B
    {0xAA60, 0xAA7F},    // Myanmar extended A
    {0xF900, 0xFAFF},    // CJK compatibility ideographs
    {0xFF66, 0xFF9F},    // halfwidth Katakana
    {0x1B000, 0x1B16F},  // Kana supplement and extended
    {0x20000, 0x323AF},  // CJK unified ideographs extensions B to H, compatibility supplement
};

HCharClass Classify(int32_t cp) {
  switch (utf8proc_category(cp)) {
    case UTF8PROC_CATEGORY_LU:
    case UTF8PROC_CATEGORY_LL:
    case UTF8PROC_CATEGORY_LT:
    case UTF8PROC_CATEGORY_LM:
    case UTF8PROC_CATEGORY_LO:
    case UTF8PROC_CATEGORY_MN:
    case UTF8PROC_CATEGORY_MC:
    case UTF8PROC_CATEGORY_ME:
    case UTF8PROC_CATEGORY_ND:
    case UTF8PROC_CATEGORY_NL:
    case UTF8PROC_CATEGORY_NO:
      break;
    default:
      return HCHAR_SEPARATOR;
  }
  for (const Range& r : kSingleScripts) {
    if (cp >= r.first && cp <= r.last) return HCHAR_SINGLE;
  }
  return HCHAR_WORD;
}

const unsigned char* BuildBmp() {
  static const std::unique_ptr<unsigned char[]> table = [] {
    std::unique_ptr<unsigned char[]> t(new unsigned char[0x10000]);
    for (int32_t cp = 0; cp < 0x10000; ++cp) t[cp] = Classify(cp);
    return t;
  }();
  return table.get();
}

inline bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

}  // namespace

const unsigned char* HUnicode_bmpClasses() {
  static const unsigned char* const table = BuildBmp();
  return table;
}

const char* HUnicode_versionNote() {
  static const std::string note =
      std::string(", or was written with the word characters of another Unicode version than this program's (") +
      utf8proc_unicode_version() + ")";
  return note.c_str();
}

HCharClass HUnicode_classOfCodePoint(int32_t code_point) {
  if (code_point < 0 || code_point > 0x10FFFF) return HCHAR_SEPARATOR;
  if (code_point < 0x10000) return static_cast<HCharClass>(HUnicode_bmpClasses()[code_point]);
  return Classify(code_point);
}

HCharClass HUnicode_classBefore(const unsigned char* text, int64_t at, int64_t* begins) {
  *begins = at - 1;
  if (at <= 0) {
    *begins = at;
    return HCHAR_SEPARATOR;
  }
  // A character of k bytes ending at `at` begins with a lead byte k bytes
  // back and is well-formed; a byte that ends none is a separator of its own.
  if (IsContinuation(text[at - 1])) {
    for (int64_t k = 2; k <= 4 && at - k >= 0; ++k) {
      if (IsContinuation(text[at - k])) continue;
      int32_t length;
      const HCharClass c = HUnicode_classAt(text + at - k, k, &length);
      if (length == k) {
        *begins = at - k;
        return c;
      }
      break;
    }
    return HCHAR_SEPARATOR;
  }
  int32_t length;
  return HUnicode_classAt(text + at - 1, 1, &length);
}

int32_t HUnicode_scan(const unsigned char* p, int64_t remaining) {
  if (p[0] == '\n') return 1;
  int32_t n;
  const HCharClass first = HUnicode_classAt(p, remaining, &n);
  if (first == HCHAR_SINGLE) return n;
  int32_t length = n;
  while (length < remaining && p[length] != '\n') {
    const HCharClass c = HUnicode_classAt(p + length, remaining - length, &n);
    if (c != first) break;
    length += n;
  }
  return length;
}

void HUnicode_blockClasses(const unsigned char* text, int64_t length, int64_t block, uint64_t* word,
                           uint64_t* spaceable, uint64_t* single_edges) {
  uint64_t w = 0, s = 0, e = 0;
  const int64_t end = length - block < 64 ? length : block + 64;
  int64_t p = block;
  // A character that began before the block: its bytes here take its class.
  if (p < end && IsContinuation(text[p])) {
    for (int64_t k = 1; k <= 3 && p - k >= 0; ++k) {
      if (IsContinuation(text[p - k])) continue;
      int32_t n;
      const HCharClass c = HUnicode_classAt(text + p - k, length - (p - k), &n);
      if (n > k) {
        const int64_t stop = std::min<int64_t>(p - k + n, end);
        const uint64_t bits = (stop - block >= 64 ? ~uint64_t{0} : (uint64_t{1} << (stop - block)) - 1);
        if (c != HCHAR_SEPARATOR) w |= bits;
        if (c == HCHAR_WORD) s |= bits;
        if (c == HCHAR_SINGLE && p - k + n < end) e |= uint64_t{1} << (p - k + n - block);
        p = p - k + n;
      }
      break;
    }
  } else if (p < end) {
    int64_t begins;
    if (HUnicode_classBefore(text, p, &begins) == HCHAR_SINGLE) e |= 1;
  }
  while (p < end) {
    const unsigned char c0 = text[p];
    if (c0 < 0x80) {
      const bool alnum = (c0 >= '0' && c0 <= '9') || ((c0 | 0x20) >= 'a' && (c0 | 0x20) <= 'z');
      w |= static_cast<uint64_t>(alnum) << (p - block);
      s |= static_cast<uint64_t>(alnum) << (p - block);
      ++p;
      continue;
    }
    int32_t n;
    const HCharClass c = HUnicode_classAt(text + p, length - p, &n);
    const int64_t stop = std::min<int64_t>(p + n, end);
    const uint64_t bits = ((stop - block >= 64 ? ~uint64_t{0} : (uint64_t{1} << (stop - block)) - 1)) &
                          ~((uint64_t{1} << (p - block)) - 1);
    if (c != HCHAR_SEPARATOR) w |= bits;
    if (c == HCHAR_WORD) s |= bits;
    if (c == HCHAR_SINGLE) {
      e |= uint64_t{1} << (p - block);
      if (p + n < end) e |= uint64_t{1} << (p + n - block);
    }
    p += n;
  }
  *word = w;
  *spaceable = s;
  *single_edges = e;
}

void HUnicode_sampleLetters(const unsigned char* text, int64_t length, int64_t* ascii, int64_t* other) {
  *ascii = 0;
  *other = 0;
  constexpr int64_t kWindows = 64;
  constexpr int64_t kWindow = 16 << 10;
  const int64_t windows = length <= kWindows * kWindow ? 1 : kWindows;
  const int64_t window = windows == 1 ? length : kWindow;
  for (int64_t w = 0; w < windows; ++w) {
    int64_t p = windows == 1 ? 0 : (length - window) * w / (windows - 1);
    const int64_t end = p + window;
    while (p < end && p < length && (text[p] & 0xC0) == 0x80) ++p;  // start at a character
    while (p < end && p < length) {
      const unsigned char c = text[p];
      if (c < 0x80) {
        *ascii += (c | 0x20) >= 'a' && (c | 0x20) <= 'z';
        ++p;
        continue;
      }
      int32_t n;
      const int32_t cp = HUnicode_decode(text + p, length - p, &n);
      if (cp >= 0 && utf8proc_category(cp) >= UTF8PROC_CATEGORY_LU && utf8proc_category(cp) <= UTF8PROC_CATEGORY_LO) {
        ++*other;
      }
      p += n;
    }
  }
}
