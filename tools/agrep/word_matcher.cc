// Myers' bit-vector edit distance. Bit i of a block stands for row i + 1 of
// the dynamic-programming table (row r: the first r bytes of the word);
// Pv/Mv hold the vertical differences D[r][j] - D[r-1][j] of +1 and -1, and
// the score follows D[m][j] through the horizontal difference at row m.
// Row 0 is D[0][j] = j for a whole-line match (horizontal carry +1 into the
// first block) and 0 for a substring search (carry 0).
#include <algorithm>
#include <limits>

#include "agrep.h"

namespace agrep {
namespace {

constexpr uint64_t kHighBit = uint64_t{1} << 63;

inline bool IsAsciiLetter(unsigned char c) { return (c | 0x20u) >= 'a' && (c | 0x20u) <= 'z'; }

inline bool SameIgnoringCase(char a, char b) {
  const auto x = static_cast<unsigned char>(a), y = static_cast<unsigned char>(b);
  return x == y || (IsAsciiLetter(x) && (x ^ 0x20u) == y);
}

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), SameIgnoringCase);
}

bool ContainsIgnoringCase(std::string_view text, std::string_view word) {
  return std::search(text.begin(), text.end(), word.begin(), word.end(), SameIgnoringCase) != text.end();
}

// One column step of one block. hin is the horizontal difference entering
// the block's top row; returns the one leaving the row marked by out_bit.
inline int StepBlock(uint64_t eq, uint64_t& pv, uint64_t& mv, int hin, uint64_t out_bit) {
  const uint64_t hin_neg = hin < 0 ? 1 : 0;
  const uint64_t xv = eq | mv;
  eq |= hin_neg;
  const uint64_t xh = (((eq & pv) + pv) ^ pv) | eq;
  uint64_t ph = mv | ~(xh | pv);
  uint64_t mh = pv & xh;
  const int hout = (ph & out_bit) ? 1 : (mh & out_bit) ? -1 : 0;
  ph = (ph << 1) | (hin > 0 ? 1 : 0);
  mh = (mh << 1) | hin_neg;
  pv = mh | ~(xv | ph);
  mv = ph & xv;
  return hout;
}

}  // namespace

WordMatcher::WordMatcher(std::string_view word, Mode mode, int max_errors, bool ignore_case)
    : word_(word), mode_(mode), max_errors_(max_errors), ignore_case_(ignore_case) {
  const size_t m = word_.size();
  if (m == 0) return;
  blocks_ = (m + 63) / 64;
  last_bit_ = uint64_t{1} << ((m - 1) % 64);
  peq_.assign(256 * blocks_, 0);
  for (size_t i = 0; i < m; ++i) {
    const auto c = static_cast<unsigned char>(word_[i]);
    peq_[c * blocks_ + i / 64] |= uint64_t{1} << (i % 64);
    if (ignore_case_ && IsAsciiLetter(c)) peq_[(c ^ 0x20u) * blocks_ + i / 64] |= uint64_t{1} << (i % 64);
  }
  if (blocks_ > 1) {
    pv_.resize(blocks_);
    mv_.resize(blocks_);
  }
}

int64_t WordMatcher::distance(std::string_view line) const {
  return run(line, std::numeric_limits<int64_t>::max() / 2, false);
}

bool WordMatcher::matches(std::string_view line) const {
  const auto m = static_cast<int64_t>(word_.size());
  const auto n = static_cast<int64_t>(line.size());
  const int64_t k = max_errors_;
  if (mode_ == Mode::kWholeLine) {
    // Every byte of length difference costs an insertion or a deletion.
    if (n - m > k || m - n > k) return false;
    if (k == 0) return ignore_case_ ? EqualIgnoringCase(line, word_) : line == word_;
  } else {
    if (m - n > k) return false;
    if (k == 0) return ignore_case_ ? ContainsIgnoringCase(line, word_) : line.find(word_) != std::string_view::npos;
  }
  return run(line, k, true) <= k;
}

int64_t WordMatcher::run(std::string_view line, int64_t limit, bool stop_at_hit) const {
  const auto m = static_cast<int64_t>(word_.size());
  const bool whole = mode_ == Mode::kWholeLine;
  if (m == 0) return whole ? static_cast<int64_t>(line.size()) : 0;
  if (blocks_ > 1) return runMultiBlock(line, limit, stop_at_hit);
  return whole ? runSingleBlock<true>(line, limit, stop_at_hit) : runSingleBlock<false>(line, limit, stop_at_hit);
}

template <bool kWhole>
int64_t WordMatcher::runSingleBlock(std::string_view line, int64_t limit, bool stop_at_hit) const {
  const auto m = static_cast<int64_t>(word_.size());
  const auto n = static_cast<int64_t>(line.size());
  const uint64_t* peq = peq_.data();
  const auto* text = reinterpret_cast<const unsigned char*>(line.data());
  uint64_t pv = ~uint64_t{0};
  uint64_t mv = 0;
  int64_t score = m;
  int64_t best = m;  // a substring search may also take the empty substring
  for (int64_t j = 0; j < n; ++j) {
    score += StepBlock(peq[text[j]], pv, mv, kWhole ? 1 : 0, last_bit_);
    if constexpr (kWhole) {
      // D[m][n] >= D[m][j] - (n - j): the rest of the line cannot bring the
      // distance back within the limit.
      if (score - (n - 1 - j) > limit) return limit + 1;
    } else {
      best = std::min(best, score);
      if (stop_at_hit && best <= limit) return best;
    }
  }
  return kWhole ? score : best;
}

int64_t WordMatcher::runMultiBlock(std::string_view line, int64_t limit, bool stop_at_hit) const {
  const auto m = static_cast<int64_t>(word_.size());
  const auto n = static_cast<int64_t>(line.size());
  const bool whole = mode_ == Mode::kWholeLine;
  const auto* text = reinterpret_cast<const unsigned char*>(line.data());
  std::fill(pv_.begin(), pv_.end(), ~uint64_t{0});
  std::fill(mv_.begin(), mv_.end(), 0);
  int64_t score = m;
  int64_t best = m;
  for (int64_t j = 0; j < n; ++j) {
    const uint64_t* eq = &peq_[text[j] * blocks_];
    int carry = whole ? 1 : 0;
    for (size_t b = 0; b + 1 < blocks_; ++b) carry = StepBlock(eq[b], pv_[b], mv_[b], carry, kHighBit);
    score += StepBlock(eq[blocks_ - 1], pv_[blocks_ - 1], mv_[blocks_ - 1], carry, last_bit_);
    if (whole) {
      if (score - (n - 1 - j) > limit) return limit + 1;
    } else {
      best = std::min(best, score);
      if (stop_at_hit && best <= limit) return best;
    }
  }
  return whole ? score : best;
}

}  // namespace agrep
