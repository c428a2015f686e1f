#include "wordmodel/hparse.h"

#include "wordmodel/hhashtable.h"
#include "wordmodel/hlog.h"
#include "wordmodel/htokencache.h"
#include "wordmodel/htokenpipe.h"

void HParse_text(const unsigned char* text, int32_t length, HModel* model) {
  if (length <= 0 || text == nullptr) {
    HFatal("Fatal Error: You're trying to parse an empty file! (HParse_text)\n");
  }
  HHashtable* table = &model->vocabulary;
  HTokenCache cache(length);
  HTokenPipe_walk(text, length, &cache, table, [&](const HPipeToken& t) {
    const unsigned char* token = text + t.position;
    int32_t n = t.length;
    if (n <= 8) {
      HTokenCacheEntry& e = cache.at(t.key, n);
      if (e.key == t.key && e.length == n) {
        ++e.pending;
      } else {
        HNode* node = HHashtable_insertKey(token, n, HPipeToken_hash(t, text, t.key, table), t.key, table);
        if (e.length && e.pending) e.node->frequency += e.pending;
        e = HTokenCacheEntry{t.key, n, 0, node};
      }
    } else {
      uint64_t prefix = HHashtable_prefix(token, n);
      HHashtable_insertKey(token, n, HPipeToken_hash(t, text, prefix, table), prefix, table);
    }
  });
  cache.flush();
}
