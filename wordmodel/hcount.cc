#include "wordmodel/hcount.h"

#include <algorithm>
#include <cstring>
#include <new>

#include <zlib.h>

#include "wordmodel/hcounttable.h"
#include "wordmodel/hhashtable.h"
#include "wordmodel/hlog.h"
#include "wordmodel/hparts.h"
#include "wordmodel/htoken.h"
#include "wordmodel/htokencache.h"
#include "wordmodel/hunicode.h"

namespace {

// Stretches shorter than this are not worth a thread of their own.
constexpr int32_t kMinStretch = 1 << 20;

// How much text counting passes between two calls of the text_read callback.
constexpr int32_t kReadStep = 8 << 20;

// A direct-mapped cache of recent tokens of at most 16 bytes and their ids
// in front of the table: the slots of frequent tokens sit together instead
// of spread over the whole table, which keeps their lookups in the
// processor's caches, and a miss of the cache costs a lookup in the table.
// A slot holds the same key as the table's slots, and the occurrences of
// its token since it came in, which go to the counts when it leaves: a hit
// touches no memory beyond its slot.
struct alignas(32) IdCacheSlot {
  uint64_t head;
  uint64_t tail;
  int32_t length;  // 0: empty slot
  int32_t id;
  int32_t pending;
  int32_t unused;
};

// Up to 2^17 slots (4 MiB, two large pages); one per 128 bytes of a shorter
// text, which holds fewer distinct tokens than that. The lookups of
// neighbouring tokens overlap, so a cache beyond the nearest processor
// caches still pays.
constexpr int32_t kIdCacheMaxBits = 17;

inline int32_t IdCacheBits(int32_t text_length) {
  int32_t bits = 6;
  while (bits < kIdCacheMaxBits && (int64_t{1} << (bits + 7)) < text_length) ++bits;
  return bits;
}

inline uint32_t IdCachePlace(uint64_t head, uint64_t tail, int32_t length, int32_t bits) {
  return static_cast<uint32_t>(((head ^ (tail * 0xC2B2AE3D27D4EB4Full) ^ static_cast<uint64_t>(length)) *
                                0x9E3779B97F4A7C15ull) >>
                               (64 - bits));
}

// A token the cache does not hold, from the table.
[[gnu::noinline]] int32_t TableId(HCountTable* table, const unsigned char* token, int32_t n, uint64_t head,
                                  uint64_t tail) {
  return HCountTable_id(table, token, n, head, tail);
}

// The classes of the characters around a position, as the text models see
// them: whether the one before `at` (or after it) is a separator other than
// the line feed, which would join a blank at `at` into a longer token, and
// whether it is of a word that takes a blank.
template <bool kUnicode>
bool SeparatorBefore(const unsigned char* text, int32_t at) {
  if (!kUnicode || text[at - 1] < 0x80) return HToken_byteClass[text[at - 1]] == HBYTE_SEPARATOR;
  int64_t begins;
  return HUnicode_classBefore(text, at, &begins) == HCHAR_SEPARATOR;
}
template <bool kUnicode>
bool SeparatorAt(const unsigned char* text, int32_t at, int32_t end) {
  int32_t n;
  if (!kUnicode || text[at] < 0x80) return HToken_byteClass[text[at]] == HBYTE_SEPARATOR;
  return HUnicode_classAt(text + at, end - at, &n) == HCHAR_SEPARATOR;
}
template <bool kUnicode>
bool SpaceableBefore(const unsigned char* text, int32_t at) {
  if (!kUnicode || text[at - 1] < 0x80) return HToken_isWordByte(text[at - 1]);
  int64_t begins;
  return HUnicode_classBefore(text, at, &begins) == HCHAR_WORD;
}
template <bool kUnicode>
bool SpaceableAt(const unsigned char* text, int32_t at, int32_t end) {
  int32_t n;
  if (!kUnicode || text[at] < 0x80) return HToken_isWordByte(text[at]);
  return HUnicode_classAt(text + at, end - at, &n) == HCHAR_WORD;
}

// The first token of [begin, end) that is a single blank, or -1.
template <bool kUnicode>
int32_t FirstBlankToken(const unsigned char* text, int32_t begin, int32_t end) {
  for (int32_t q = begin; q < end;) {
    const void* found = std::memchr(text + q, ' ', static_cast<size_t>(end - q));
    if (!found) return -1;
    q = static_cast<int32_t>(static_cast<const unsigned char*>(found) - text);
    const bool alone_before = q == begin || !SeparatorBefore<kUnicode>(text, q);
    const bool alone_after = q + 1 == end || !SeparatorAt<kUnicode>(text, q + 1, end);
    if (alone_before && alone_after) return q;
    ++q;
  }
  return -1;
}

// Appends ids to a chunked stream. The writing position lives in the
// counting loop's own variables, which hand it back here for a new chunk.
class IdWriter {
 public:
  explicit IdWriter(HCountStretch* s) : s_(s) {}

  // Closes the current chunk at w and opens a new one; gives its start and
  // sets *end to its end. (The loop's writing position never has its
  // address taken: the compiler keeps it in a register across stores.)
  unsigned char* next(unsigned char* w, unsigned char** end) {
    finish(w);
    HBuffer chunk = HBuffer_allocateLarge(kChunk);
    if (!chunk) HFatal("Error: memory allocation (HParse_text)\n");
    unsigned char* start = chunk.get();
    *end = start + kChunk;
    s_->chunks.push_back(std::move(chunk));
    return start;
  }
  void finish(const unsigned char* w) {
    if (!s_->chunks.empty() && s_->chunk_lengths.size() < s_->chunks.size()) {
      s_->chunk_lengths.push_back(static_cast<int32_t>(w - s_->chunks.back().get()));
    }
  }

 private:
  static constexpr int32_t kChunk = static_cast<int32_t>(kHLargeBuffer);
  HCountStretch* s_;
};


// The checksum of the text is taken a few KiB behind the tokenizer, while
// the bytes are still in the processor's caches.
constexpr int32_t kChecksumStep = 16 << 10;

template <bool kSpaceless, bool kUnicode>
void CountStretch(const unsigned char* text, int32_t length, HCountTable* table, HCountStretch* s,
                  const HTextRead& text_read, int32_t distance, bool checksum) {
  uLong crc = crc32(0, nullptr, 0);
  int32_t crc_from = s->begin;
  const int32_t end = s->end;
  const int32_t bits = IdCacheBits(end - s->begin);
  const size_t cache_bytes = (size_t{1} << bits) * sizeof(IdCacheSlot);
  HBuffer cache_memory = HBuffer_allocateLarge(cache_bytes);
  if (!cache_memory) HFatal("Error: memory allocation (HParse_text)\n");
  std::memset(cache_memory.get(), 0, cache_bytes);  // every slot empty
  IdCacheSlot* const cache = reinterpret_cast<IdCacheSlot*>(cache_memory.get());
  IdWriter ids(s);
  unsigned char* w = nullptr;
  unsigned char* w_end = nullptr;
  std::vector<int32_t>& counts = s->counts;
  counts.reserve(1024);
  int32_t* count_of = counts.data();
  uint32_t counted = 0;
  auto count_new = [&](int32_t id) {
    if (static_cast<uint32_t>(id) == counted) [[unlikely]] {
      if (counted >= kHIdStreamIdMask) HFatal("Error: too many distinct tokens (HParse_text)\n");
      counts.push_back(0);
      count_of = counts.data();
      ++counted;
    }
  };
  // The blanks that stand alone between two words never reach the lookups:
  // the tokenizer flags the token after each, and under the words model the
  // word's entry in the stream says that the blank follows.
  int64_t between = 0;  // such blanks met by the tokenizer
  int32_t read_to = s->begin;  // text before this point has been handed to text_read
  // Tokens are taken in batches: the cache places of a batch are worked
  // out and their lines requested first, then the batch is looked up, so
  // that the lookups of neighbouring tokens overlap.
  // A batch is the tokens of whole blocks of 64 bytes, at least kBatch of
  // them unless the stretch ends, at most kBatch + 64.
  constexpr int32_t kBatch = 32;
  constexpr int32_t kMaxBatch = kBatch + 64;
  // Room checked every batch: at most one entry of four bytes per token,
  // and the two bytes beyond that a store writes.
  constexpr ptrdiff_t kBatchRoom = 4 * kMaxBatch + 2;
  int32_t at[kMaxBatch + 5];
  int32_t lengths[kMaxBatch];
  int32_t blank_before[kMaxBatch + 5];  // from 1: whether a blank between words stands just before at[i]
  uint64_t heads[kMaxBatch], tails[kMaxBatch];
  uint32_t places[kMaxBatch];
  // Pointer marks. The next mark as a text position, INT32_MAX once no pair
  // can follow (no token starts there).
  const bool marks = !kSpaceless && distance > 0;
  const int64_t capacity = marks ? length / distance + 1 : 0;
  int64_t pairs = s->pairs_first;
  auto mark_of = [&](int64_t count) {
    return marks && count < capacity ? static_cast<int32_t>(count * distance) : INT32_MAX;
  };
  int32_t mark = mark_of(pairs);
  auto add_pair = [&](int32_t token_at, const unsigned char* stream_place, uint64_t on_blank) {
    const unsigned char* chunk = s->chunks.back().get();
    s->pair_text.push_back(token_at);
    s->pair_place.push_back((static_cast<uint64_t>(s->chunks.size() - 1) << 32) |
                            static_cast<uint64_t>(stream_place - chunk) | on_blank);
    ++pairs;
    mark = mark_of(pairs);
  };
  if (marks) {  // every mark of the stretch, and one more
    s->pair_text.reserve(static_cast<size_t>((end - s->begin) / distance + 2));
    s->pair_place.reserve(s->pair_text.capacity());
  }
  unsigned char* stream_at[kMaxBatch];
  // The tokens up to the blank's first occurrence, that one, and the rest.
  const int32_t first = FirstBlankToken<kUnicode>(text, s->begin, end);
  int64_t dropped = 0;
  int32_t blank = -1;  // the blank's id
  int32_t from = s->begin;
  int32_t to = first < 0 ? end : first;
  for (;;) {
    HTokenStarts starts;
    HTokenStarts_init<true, kUnicode>(&starts, text, length, from, to);
    int32_t p = from;
    while (p < to) {
      if (p - read_to >= kReadStep && text_read) {
        text_read(read_to, p);
        read_to = p;
      }
      if (w_end - w < kBatchRoom) w = ids.next(w, &w_end);
      at[0] = p;
      const int32_t m = HTokenStarts_fill<true, kUnicode>(&starts, kBatch, at + 1, blank_before + 1);
      for (int32_t i = 0; i < m; ++i) {
        lengths[i] = at[i + 1] - blank_before[i + 1] - at[i];
        between += blank_before[i + 1];
      }
      p = at[m];
      if (checksum && p - crc_from >= kChecksumStep) {
        crc = crc32(crc, text + crc_from, static_cast<uInt>(p - crc_from));
        crc_from = p;
      }
      for (int32_t i = 0; i < m; ++i) {
        const unsigned char* token = text + at[i];
        const int32_t n = lengths[i];
        heads[i] = HTokenCache_key(token, n, length - at[i]);
        tails[i] = HCountTable_tail(token, n);
        places[i] = IdCachePlace(heads[i], tails[i], n, bits);
        __builtin_prefetch(&cache[places[i]]);
      }
      for (int32_t i = 0; i < m; ++i) {
        const unsigned char* token = text + at[i];
        const int32_t n = lengths[i];
        const uint64_t head = heads[i];
        const uint64_t tail = tails[i];
        int32_t id;
        if (n <= 16) [[likely]] {
          IdCacheSlot& slot = cache[places[i]];
          if (slot.head == head && slot.tail == tail && slot.length == n) [[likely]] {
            id = slot.id;
            ++slot.pending;
          } else {
            id = TableId(table, token, n, head, tail);
            count_new(id);
            if (slot.length) count_of[slot.id] += slot.pending;
            slot = IdCacheSlot{head, tail, n, id, 1, 0};
          }
        } else {
          id = TableId(table, token, n, head, tail);
          count_new(id);
          ++count_of[id];
        }
        stream_at[i] = w;
        if constexpr (kSpaceless) {
          w = HIdStream_put(w, static_cast<uint32_t>(id));
        } else {
          w = HIdStream_put(w, static_cast<uint32_t>(id) | (static_cast<uint32_t>(blank_before[i + 1]) << 30));
        }
      }
      if (marks) {
        // The first token at or after the mark gets a pair; so does the
        // first one after it at or after the next mark, while the batch has
        // one. The blank just before token j stands at at[j] - 1, flagged
        // on the entry of token j - 1.
        for (int32_t floor = at[0];;) {
          const int32_t target = mark > floor ? mark : floor;
          int32_t j = 0;
          for (int32_t i = 0; i < m; ++i) j += at[i] < target;
          if (j > 0 && blank_before[j] && at[j] - 1 >= target) {
            add_pair(at[j] - 1, stream_at[j - 1], kHPairOnBlank);
            floor = at[j];
          } else if (j < m) {
            add_pair(at[j], stream_at[j], 0);
            floor = at[j] + 1;
          } else {
            break;
          }
        }
      }
    }
    if (to == end) break;
    // The blank's first occurrence, which gives it its id.
    if (w_end - w < kBatchRoom) w = ids.next(w, &w_end);
    const int32_t id = TableId(table, text + first, 1, ' ', 0);
    count_new(id);
    ++count_of[id];
    blank = id;
    const bool left_out = kSpaceless && first > s->begin && first + 1 < end && SpaceableBefore<kUnicode>(text, first) &&
                          SpaceableAt<kUnicode>(text, first + 1, end);
    if (left_out) {
      ++dropped;
    } else {
      if (marks && first >= mark) add_pair(first, w, 0);
      w = HIdStream_put(w, static_cast<uint32_t>(id));
    }
    from = first + 1;
    to = end;
  }
  if (blank >= 0) count_of[blank] += static_cast<int32_t>(between);  // none before its first occurrence
  if (kSpaceless) dropped += between;
  s->pairs_after = pairs;
  ids.finish(w);
  for (size_t k = 0; k < (size_t{1} << bits); ++k) {
    if (cache[k].length) count_of[cache[k].id] += cache[k].pending;
  }
  if (checksum) s->checksum = static_cast<uint32_t>(crc32(crc, text + crc_from, static_cast<uInt>(end - crc_from)));
  if (text_read) text_read(read_to, end);
  s->dropped_blanks = dropped;
  s->blank_id = HCountTable_find(table, reinterpret_cast<const unsigned char*>(" "), 1);
}

// Adds the tokens of a table to the vocabulary in id order, or finds them
// there; `ids` (when given) receives the vocabulary id of each. The chains
// of the tokens a few places ahead are requested early.
void AddToVocabulary(const HCountTable* local, HHashtable* vocabulary, std::vector<int32_t>* ids) {
  const int32_t size = HCountTable_size(local);
  const bool same_seed = local->seed == vocabulary->seed;
  constexpr int32_t kAhead = 8;
  for (int32_t lid = 0; lid < size; ++lid) {
    if (ids && (*ids)[static_cast<size_t>(lid)] >= 0) continue;  // already known
    if (same_seed && lid + kAhead < size) {
      __builtin_prefetch(HHashtable_bucketAddress(local->hashes[static_cast<size_t>(lid + kAhead)], vocabulary));
    }
    const unsigned char* token = local->tokens[static_cast<size_t>(lid)];
    const int32_t n = local->lengths[static_cast<size_t>(lid)];
    const uint64_t prefix = HHashtable_prefix(token, n);
    const uint64_t hash = same_seed ? local->hashes[static_cast<size_t>(lid)]
                                    : HHashtable_keyHash(token, n, prefix, vocabulary->seed);
    const int32_t id = HHashtable_internKey(token, n, hash, prefix, vocabulary)->id;
    if (ids) {
      (*ids)[static_cast<size_t>(lid)] = id;
    } else if (id != lid) {
      HFatal("Error: Insert hash table\n");
    }
  }
}

// The id in `first` of each token of `local`, or -1 when `first` does not
// hold it. Reads both tables only.
void FindInFirst(const HCountTable* local, const HCountTable* first, std::vector<int32_t>* ids) {
  const int32_t size = HCountTable_size(local);
  ids->assign(static_cast<size_t>(size), -1);
  for (int32_t lid = 0; lid < size; ++lid) {
    (*ids)[static_cast<size_t>(lid)] =
        HCountTable_find(first, local->tokens[static_cast<size_t>(lid)], local->lengths[static_cast<size_t>(lid)]);
  }
}

// Seams after a newline near every multiple of length / threads: the token
// that follows a newline starts afresh under both models.
std::vector<int32_t> Seams(const unsigned char* text, int32_t length, int32_t threads) {
  std::vector<int32_t> seams = {0};
  int32_t parts = threads;
  if (static_cast<int64_t>(length) / kMinStretch < parts) parts = static_cast<int32_t>(length / kMinStretch);
  for (int32_t k = 1; k < parts; ++k) {
    int32_t target = static_cast<int32_t>(static_cast<int64_t>(length) * k / parts);
    if (target <= seams.back()) continue;
    const void* nl = std::memchr(text + target, '\n', static_cast<size_t>(length - target));
    if (!nl) break;
    int32_t at = static_cast<int32_t>(static_cast<const unsigned char*>(nl) - text) + 1;
    if (at >= length) break;
    seams.push_back(at);
  }
  seams.push_back(length);
  return seams;
}

}  // namespace

int64_t HCount_assumedPairs(const HCountResult* result, size_t k, int32_t distance) {
  return k == 0 ? 0 : (static_cast<int64_t>(result->stretches[k].begin) - 1) / distance + 1;
}

void HCount_text(const unsigned char* text, int32_t length, bool spaceless, int32_t threads, HModel* model,
                 HCountResult* result, const HTextRead& text_read, int32_t distance, bool unicode, bool checksum) {
  if (length <= 0 || text == nullptr) {
    HFatal("Fatal Error: You're trying to parse an empty file! (HParse_text)\n");
  }
  std::vector<int32_t> seams = Seams(text, length, threads < 1 ? 1 : threads);
  size_t parts = seams.size() - 1;
  std::vector<HCountStretch>& stretches = result->stretches;
  stretches.clear();
  stretches.resize(parts);
  for (size_t k = 0; k < parts; ++k) {
    stretches[k].begin = seams[k];
    stretches[k].end = seams[k + 1];
  }
  if (spaceless) distance = 0;
  for (size_t k = 0; k < parts; ++k) {
    HCountStretch& s = stretches[k];
    s.table.reset(new HCountTable);
    HCountTable_create(s.table.get(), s.end - s.begin);
    if (distance > 0) s.pairs_first = HCount_assumedPairs(result, k, distance);
  }
  HRunParts(parts, [&](size_t k) {
    HCountStretch* stretch = &stretches[k];
    HCountTable* table = stretch->table.get();
    if (spaceless && unicode) {
      CountStretch<true, true>(text, length, table, stretch, text_read, 0, checksum);
    } else if (spaceless) {
      CountStretch<true, false>(text, length, table, stretch, text_read, 0, checksum);
    } else if (unicode) {
      CountStretch<false, true>(text, length, table, stretch, text_read, distance, checksum);
    } else {
      CountStretch<false, false>(text, length, table, stretch, text_read, distance, checksum);
    }
  });
  // The model's vocabulary: the first stretch's tokens in id order, then
  // every other stretch's in order of their ids. A token new to it gets the
  // next id, which is the order of first occurrence in the whole text.
  // While the first stretch's tokens go in, the other stretches find theirs
  // in the first stretch's table: those have the same id in the vocabulary.
  HHashtable* vocabulary = &model->vocabulary;
  int64_t listed = 0;
  for (const HCountStretch& s : stretches) listed += HCountTable_size(s.table.get());
  HHashtable_reserve(vocabulary, static_cast<int32_t>(std::min<int64_t>(listed, INT32_MAX)));
  const HCountTable* first = stretches[0].table.get();
  HRunParts(parts, [&](size_t k) {
    if (k == 0) {
      AddToVocabulary(first, vocabulary, nullptr);
    } else {
      FindInFirst(stretches[k].table.get(), first, &stretches[k].global_id);
    }
  });
  for (size_t k = 1; k < parts; ++k) {
    AddToVocabulary(stretches[k].table.get(), vocabulary, &stretches[k].global_id);
    stretches[k].table.reset();
  }
  // Frequencies: the counts of every stretch, by model id.
  std::vector<int64_t> total(vocabulary->entries.size(), 0);
  for (const HCountStretch& s : stretches) {
    for (size_t lid = 0; lid < s.counts.size(); ++lid) {
      total[s.global_id.empty() ? lid : static_cast<size_t>(s.global_id[lid])] += s.counts[lid];
    }
  }
  for (HNode* node : vocabulary->entries) node->frequency = static_cast<int32_t>(total[static_cast<size_t>(node->id)]);
  stretches[0].table.reset();
}
