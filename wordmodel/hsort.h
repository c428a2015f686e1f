// Sorting by 64-bit keys in linear time, for the vocabulary's orders (a
// few hundred thousand entries, where a comparison sort shows in the time
// of a whole compression).
#ifndef MORAVINE_WORDMODEL_HSORT_H_
#define MORAVINE_WORDMODEL_HSORT_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// Sorts the items by key(item), ascending and stable: 11 bits of the key at
// a time, least significant first, skipping digits that all keys share.
// The counts of every digit come from one pass. Small lists go to a
// comparison sort.
template <class Item, class KeyOf>
void HSort_radix(std::vector<Item>* items, KeyOf key) {
  const size_t n = items->size();
  if (n < 2048) {
    std::stable_sort(items->begin(), items->end(), [&](const Item& x, const Item& y) { return key(x) < key(y); });
    return;
  }
  constexpr int kBits = 11;
  constexpr int kDigits = (64 + kBits - 1) / kBits;
  constexpr size_t kBuckets = size_t{1} << kBits;
  std::unique_ptr<size_t[]> count(new size_t[kDigits * kBuckets]());
  for (size_t i = 0; i < n; ++i) {
    const uint64_t k = key((*items)[i]);
    for (int d = 0; d < kDigits; ++d) ++count[d * kBuckets + ((k >> (d * kBits)) & (kBuckets - 1))];
  }
  std::vector<Item> other(n);
  Item* from = items->data();
  Item* to = other.data();
  for (int d = 0; d < kDigits; ++d) {
    size_t* c = &count[d * kBuckets];
    const int shift = d * kBits;
    if (c[(key(from[0]) >> shift) & (kBuckets - 1)] == n) continue;  // every key has this digit
    size_t at = 0;
    for (size_t b = 0; b < kBuckets; ++b) {
      const size_t here = c[b];
      c[b] = at;
      at += here;
    }
    for (size_t i = 0; i < n; ++i) to[c[(key(from[i]) >> shift) & (kBuckets - 1)]++] = from[i];
    std::swap(from, to);
  }
  if (from != items->data()) std::copy(from, from + n, items->data());
}

#endif  // MORAVINE_WORDMODEL_HSORT_H_
