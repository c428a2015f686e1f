// The job that searches one compressed file for the window's search word
// and adds a row to the results list for every hit.
#ifndef MORAVINE_BATCH_SEARCH_JOB_H_
#define MORAVINE_BATCH_SEARCH_JOB_H_

#include <cstdint>
#include <string>
#include <vector>

#include "search/hits.h"
#include "search/search_host.h"
#include "batch/main_dialog.h"

// Thread procedure; takes ownership of its JobParams and returns 0.
int SearchJob(moravine::JobParams* params);

// What the job does with a compressed file's bytes, for a file it has read
// and for one that comes another way (standard input): the word searched
// with the settings on up to `threads` threads, and one row per hit with
// the file's display name and path. False when the search failed, with
// the library's text for it in *error; a context that could not be decoded (a damaged
// file) leaves no rows and its message in *error. A cancelled search gives
// true and no rows.
// The two steps of SearchJob_searchBytes. Finding: the hits of the word in
// the file, false when the search failed. Making rows: one row for each of
// the `count` hits given, as SearchJob_searchBytes makes them. A query that
// the file's model cannot see leaves no hits and the reason in *refused (as
// does a failed search, with the library's text); a context
// that could not be decoded leaves no rows and its message in *error; a
// cancelled run leaves none. With `header_checked`, the file's header was
// found to allow hits already (Search_mayHit), and is not asked again.
bool SearchJob_findHits(const std::string& word, int32_t errors, const moravine::SearchSettings& settings,
                        int32_t threads, const unsigned char* data, int32_t size, SearchHost* host,
                        std::vector<SearchHit>* hits, std::string* refused, bool header_checked = false);
void SearchJob_makeRows(const moravine::SearchSettings& settings, int32_t threads, const unsigned char* data,
                        int32_t size, const std::string& name, const std::string& path, const SearchHit* hits,
                        size_t count, std::vector<SearchRow>* rows, std::string* error);

bool SearchJob_searchBytes(const std::string& word, int32_t errors, const moravine::SearchSettings& settings,
                           int32_t threads, const unsigned char* data, int32_t size, const std::string& name,
                           const std::string& path, SearchHost* host, std::vector<SearchRow>* rows,
                           std::string* error);

#endif  // MORAVINE_BATCH_SEARCH_JOB_H_
