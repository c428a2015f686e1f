#include "wordmodel/hcount.h"

#include <cstring>
#include <exception>
#include <new>
#include <thread>

#include "wordmodel/hhashtable.h"
#include "wordmodel/hlog.h"
#include "wordmodel/htoken.h"
#include "wordmodel/htokencache.h"
#include "wordmodel/hmodel_free.h"

namespace {

// Stretches shorter than this are not worth a thread of their own.
constexpr int32_t kMinStretch = 1 << 20;

// How much text counting passes between two calls of the text_read callback.
constexpr int32_t kReadStep = 8 << 20;

// A direct-mapped cache of recent tokens of at most 8 bytes and their ids,
// small enough to stay in the processor's cache: most tokens of a text are
// frequent ones and cost neither a hash nor a walk through the table.
struct IdCacheSlot {
  uint64_t key;
  int32_t length;  // 0: empty slot
  int32_t id;
};

// The same for tokens of 9 to 16 bytes (long words are frequent enough),
// keyed by their first and last 8 bytes, which together cover every byte.
struct LongIdCacheSlot {
  uint64_t head;
  uint64_t tail;
  int32_t length;  // 0: empty slot
  int32_t id;
};
constexpr int32_t kLongCacheBits = 13;

inline uint32_t LongCacheSlot(uint64_t head, uint64_t tail, int32_t length) {
  return static_cast<uint32_t>(((head ^ (tail * 0xC2B2AE3D27D4EB4Full) ^ static_cast<uint64_t>(length)) *
                                0x9E3779B97F4A7C15ull) >>
                               (64 - kLongCacheBits));
}

// Appends ids to a chunked stream.
class IdWriter {
 public:
  explicit IdWriter(HCountStretch* s) : s_(s) {}
  ~IdWriter() { finish(); }
  void put(uint32_t id) {
    if (end_ - w_ < 4) next();
    w_ = HIdStream_put(w_, id);
  }
  void finish() {
    if (!s_->chunks.empty() && s_->chunk_lengths.size() < s_->chunks.size()) {
      s_->chunk_lengths.push_back(static_cast<int32_t>(w_ - s_->chunks.back().get()));
    }
  }

 private:
  static constexpr int32_t kChunk = 1 << 20;
  void next() {
    finish();
    HBuffer chunk = HBuffer_allocate(kChunk);
    if (!chunk) HFatal("Error: memory allocation (HParse_text)\n");
    w_ = chunk.get();
    end_ = w_ + kChunk;
    s_->chunks.push_back(std::move(chunk));
  }
  HCountStretch* s_;
  unsigned char* w_ = nullptr;
  unsigned char* end_ = nullptr;
};

template <bool kSpaceless>
void CountStretch(const unsigned char* text, int32_t length, HHashtable* table, HCountStretch* s,
                  const HTextRead& text_read) {
  const int32_t end = s->end;
  const int32_t bits = HTokenCache_bitsFor(end - s->begin);
  std::unique_ptr<IdCacheSlot[]> cache(new IdCacheSlot[size_t{1} << bits]());
  std::unique_ptr<LongIdCacheSlot[]> long_cache(new LongIdCacheSlot[size_t{1} << kLongCacheBits]());
  IdWriter ids(s);
  std::vector<int32_t>& counts = s->counts;
  counts.reserve(1024);
  // The counts' place and size in locals: stores of ids through bytes
  // would otherwise make every token read them again from the vector.
  int32_t* count_of = counts.data();
  size_t counted = 0;
  enum { kOther, kAfterWord, kHeldBlank } state = kOther;
  int32_t blank_id = -1;
  int64_t dropped = 0;
  int32_t read_to = s->begin;  // text before this point has been handed to text_read
  HTokenStarts starts;
  HTokenStarts_init(&starts, text, length, s->begin, end);
  for (int32_t p = s->begin; p < end;) {
    if (p - read_to >= kReadStep && text_read) {
      text_read(read_to, p);
      read_to = p;
    }
    const unsigned char* token = text + p;
    const int32_t next = static_cast<int32_t>(HTokenStarts_next(&starts));
    int32_t n = next - p;
    int32_t id;
    if (n <= 8) {
      uint64_t key = HTokenCache_key(token, n, length - p);
      IdCacheSlot& slot = cache[HTokenCache_slot(key, n, bits)];
      if (slot.key == key && slot.length == n) {
        id = slot.id;
      } else {
        id = HHashtable_internKey(token, n, HHashtable_keyHash(token, n, key, table->seed), key, table)->id;
        slot = IdCacheSlot{key, n, id};
      }
    } else if (n <= 16) {
      const uint64_t head = HHash_load8(token);
      const uint64_t tail = HHash_load8(token + n - 8);
      LongIdCacheSlot& slot = long_cache[LongCacheSlot(head, tail, n)];
      if (slot.head == head && slot.tail == tail && slot.length == n) {
        id = slot.id;
      } else {
        uint64_t prefix = HHashtable_prefix(token, n);
        id = HHashtable_internKey(token, n, HHashtable_keyHash(token, n, prefix, table->seed), prefix, table)->id;
        slot = LongIdCacheSlot{head, tail, n, id};
      }
    } else {
      uint64_t prefix = HHashtable_prefix(token, n);
      id = HHashtable_internKey(token, n, HHashtable_keyHash(token, n, prefix, table->seed), prefix, table)->id;
    }
    if (static_cast<size_t>(id) == counted) {
      counts.push_back(0);
      count_of = counts.data();
      ++counted;
    }
    ++count_of[id];
    if constexpr (kSpaceless) {
      bool word = HToken_isWordByte(token[0]);
      if (state == kAfterWord && n == 1 && token[0] == ' ') {
        blank_id = id;
        state = kHeldBlank;
        ++dropped;
      } else {
        if (state == kHeldBlank && !word) {
          ids.put(static_cast<uint32_t>(blank_id));
          --dropped;
        }
        ids.put(static_cast<uint32_t>(id));
        state = word ? kAfterWord : kOther;
      }
    } else {
      ids.put(static_cast<uint32_t>(id));
    }
    p = next;
  }
  if (kSpaceless && state == kHeldBlank) {
    ids.put(static_cast<uint32_t>(blank_id));
    --dropped;
  }
  ids.finish();
  if (text_read) text_read(read_to, end);
  s->dropped_blanks = dropped;
  const HNode* blank = HHashtable_lookup(reinterpret_cast<const unsigned char*>(" "), 1, table);
  s->blank_id = blank ? blank->id : -1;
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

void HCount_text(const unsigned char* text, int32_t length, bool spaceless, int32_t threads, HModel* model,
                 HCountResult* result, const HTextRead& text_read) {
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
  auto count = [&](size_t k, HHashtable* table) {
    if (spaceless) {
      CountStretch<true>(text, length, table, &stretches[k], text_read);
    } else {
      CountStretch<false>(text, length, table, &stretches[k], text_read);
    }
  };
  HHashtable* vocabulary = &model->vocabulary;
  if (parts == 1) {
    count(0, vocabulary);
  } else {
    // Stretch 0 counts into the model's table; every other one into its own.
    for (size_t k = 1; k < parts; ++k) {
      stretches[k].local.reset(new HModel);
      HHashtable_create(stretches[k].local.get(), vocabulary->bucket_count - 13);
    }
    std::vector<std::exception_ptr> failures(parts);
    std::vector<std::thread> workers;
    for (size_t k = 1; k < parts; ++k) {
      workers.emplace_back([&, k] {
        try {
          count(k, &stretches[k].local->vocabulary);
        } catch (...) {
          failures[k] = std::current_exception();
        }
      });
    }
    try {
      count(0, vocabulary);
    } catch (...) {
      failures[0] = std::current_exception();
    }
    for (std::thread& t : workers) t.join();
    for (const std::exception_ptr& f : failures) {
      if (f) std::rethrow_exception(f);
    }
    // Merge in text order: a token new to the model gets the next id, which
    // is the order of first occurrence in the whole text.
    for (size_t k = 1; k < parts; ++k) {
      HCountStretch& s = stretches[k];
      const HHashtable* local = &s.local->vocabulary;
      s.global_id.resize(local->entries.size());
      for (const HNode* node : local->entries) {
        uint64_t hash = HHashtable_keyHash(node->token, node->length, node->prefix, vocabulary->seed);
        s.global_id[node->id] = HHashtable_internKey(node->token, node->length, hash, node->prefix, vocabulary)->id;
      }
      HModel_free(s.local.get(), true);
      s.local.reset();
    }
  }
  // Frequencies: the counts of every stretch, by model id.
  std::vector<int64_t> total(vocabulary->entries.size(), 0);
  for (const HCountStretch& s : stretches) {
    for (size_t lid = 0; lid < s.counts.size(); ++lid) {
      total[s.global_id.empty() ? lid : static_cast<size_t>(s.global_id[lid])] += s.counts[lid];
    }
  }
  for (HNode* node : vocabulary->entries) node->frequency = static_cast<int32_t>(total[node->id]);
}
