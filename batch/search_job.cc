#include "batch/search_job.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "codec/container.h"
#include "search/search_file.h"
#include "batch/job_frame.h"
#include "wordmodel/hlog.h"
#include "wordmodel/hrule.h"

namespace {

constexpr size_t kBoxCharacters = 998;

// The files being searched at this moment, by every worker.
std::atomic<int> g_searching{0};

// Counts a file's search among those under way for as long as it lasts.
class Searching {
 public:
  Searching() : under_way_(g_searching.fetch_add(1) + 1) {}
  ~Searching() { g_searching.fetch_sub(1); }
  Searching(const Searching&) = delete;
  Searching& operator=(const Searching&) = delete;
  // The threads this file may take: its own and those no other file uses.
  int32_t threads(int32_t budget) const { return std::max(1, budget - under_way_ + 1); }

 private:
  int under_way_;
};

// A search reads the first bytes of a file, then the rest of its header
// when they do not hold it all, and its body only when the dictionary holds
// a token that the query may match: most files of a collection searched
// for a rare word are done after their header.
constexpr int64_t kFirstBytes = 16 << 10;

SearchOptions Options(const std::string& word, int32_t errors, const moravine::SearchSettings& settings,
                      int32_t threads) {
  SearchOptions options;
  options.errors = errors;
  options.ignore_case = settings.ignore_case;
  options.phrase = Search_isPhrase(word);
  options.literal = settings.literal;
  options.max_hits = settings.max_hits;
  options.line_numbers = settings.line_numbers;
  options.text_offsets = settings.text_offsets;
  options.threads = threads;
  return options;
}

// What the header of a file opened with its first bytes says of a query.
enum class HeaderVerdict {
  kUnknown,  // not asked: the whole file is read already, or something failed
  kNoHits,   // the dictionary holds no token that the query may match
  kMayHit,
};

// Asks the header of a file opened with its first bytes alone, reading the
// rest of the header when needed. Whatever fails on the way leaves the
// verdict unknown: the search of the whole file then decides, and says why
// it fails.
HeaderVerdict AskHeader(const std::string& word, const SearchOptions& options, moravine::MappedFile* input,
                        SearchHost* host) {
  try {
    if (input->available() >= input->size() || !HRule_known(input->data()[0])) return HeaderVerdict::kUnknown;
    const int64_t header = HContainer_headerEnd(input->data(), input->available());
    if (header > input->available()) {
      // A header too large to be read whole is left to the search of the
      // whole file, which maps it with the body: copying it first, and
      // going through the dictionary twice, would cost more.
      if (header >= input->size() || header > moravine::MappedFile::kReadWholeBytes) return HeaderVerdict::kUnknown;
      moravine::MappedFile::Failure failure;
      int error = 0;
      if (!input->readMore(header, &failure, &error)) return HeaderVerdict::kUnknown;
    }
    return Search_mayHit(word, input->data(), input->available(), input->size(), options, host)
               ? HeaderVerdict::kMayHit
               : HeaderVerdict::kNoHits;
  } catch (...) {
    return HeaderVerdict::kUnknown;
  }
}

void Search(moravine::JobParams& params) {
  moravine::CMainDlg* owner = params.owner;
  moravine::WindowControls* ui = owner->controls();
  std::string path = params.path;
  ui->setStatus(moravine::BoundedFormat("Searching %s...", path));
  HLog_report("%s", moravine::BoundedFormat("\n=== Searching %s ===\n", path).c_str());

  moravine::MappedFile input;
  if (!moravine::MapJobInput(owner, path, &input, kFirstBytes)) return;
  std::string errors_text = ui->allowErrorsText().substr(0, kBoxCharacters);
  std::string word = ui->searchWordText().substr(0, kBoxCharacters);
  moravine::SearchSettings settings = ui->searchSettings();
  settings.rows.cancel = owner->cancelFlag();
  const Searching searching;
  const int32_t threads = searching.threads(settings.threads);
  const int32_t errors = std::atoi(errors_text.c_str());
  const HeaderVerdict verdict = AskHeader(word, Options(word, errors, settings, threads), &input, owner->searchHost());
  if (verdict == HeaderVerdict::kNoHits) {
    if (input.changed()) moravine::ReportChangedInput(owner, path);
    return;
  }
  if (!moravine::ReadJobInput(owner, path, &input, input.size())) return;
  const int32_t size = static_cast<int32_t>(input.size());
  std::vector<SearchHit> hits;
  std::string refused;
  const bool searched = SearchJob_findHits(word, errors, settings, threads, input.data(), size, owner->searchHost(),
                                           &hits, &refused, verdict == HeaderVerdict::kMayHit);
  if (owner->cancelRequested()) return;  // whatever was found is not shown
  if (input.changed()) return moravine::ReportChangedInput(owner, path);
  if (!searched) return ui->showError(moravine::FailureMessage(ui, "Search failed.", refused));
  if (!refused.empty()) return ui->showError(refused);
  if (hits.empty()) return;
  // Hits past the room left in the list are counted there, and cost
  // nothing more here.
  const size_t shown = std::min(ui->takeResultRows(hits.size()), hits.size());
  if (shown == 0) return;
  std::vector<SearchRow> rows;
  std::string error;
  SearchJob_makeRows(settings, threads, input.data(), size, Search_displayName(path), path, hits.data(), shown,
                     &rows, &error);
  if (owner->cancelRequested()) return;
  if (input.changed()) return moravine::ReportChangedInput(owner, path);
  // A file found damaged while its rows were made shows none of them.
  if (!error.empty()) return ui->showError(error);
  if (!rows.empty()) ui->addResultRows(rows);
}

}  // namespace

int SearchJob(moravine::JobParams* params) { return moravine::RunJob(params, Search); }

bool SearchJob_findHits(const std::string& word, int32_t errors, const moravine::SearchSettings& settings,
                        int32_t threads, const unsigned char* data, int32_t size, SearchHost* host,
                        std::vector<SearchHit>* hits, std::string* refused, bool header_checked) {
  hits->clear();
  refused->clear();
  SearchOptions options = Options(word, errors, settings, threads);
  options.header_checked = header_checked;
  try {
    // Only parsing rules 0 to 3 exist; decompression refuses any other
    // first byte, and so does the search.
    if (size > 0 && !HRule_known(data[0])) {
      HFatal("Fatal Error: First byte of compressed file not 1, actually %d\n",
             static_cast<int>(static_cast<signed char>(data[0])));
    }
    Search_findHits(word, data, size, options, host, hits);
  } catch (const HCancelled&) {
    hits->clear();
    return true;
  } catch (const SearchRefused& why) {
    *refused = why.what();
    return true;
  } catch (...) {
    *refused = moravine::FailureText(std::current_exception());
    return false;
  }
  return true;
}

void SearchJob_makeRows(const moravine::SearchSettings& settings, int32_t threads, const unsigned char* data,
                        int32_t size, const std::string& name, const std::string& path, const SearchHit* hits,
                        size_t count, std::vector<SearchRow>* rows, std::string* error) {
  rows->clear();
  error->clear();
  if (count == 0) return;
  if (settings.positions_only) {
    rows->resize(count);
    for (size_t i = 0; i < count; ++i) {
      (*rows)[i].file = name;
      (*rows)[i].position = std::to_string(hits[i].offset);
      (*rows)[i].line = hits[i].line;
      (*rows)[i].text_offset = hits[i].text_offset;
    }
  } else {
    try {
      Search_hitRows(name, data, size, hits, static_cast<int32_t>(count), settings.rows, rows, error, threads);
    } catch (const HCancelled&) {
      rows->clear();
      return;
    } catch (...) {
      *error = "Error decompressing left context.";
    }
    // The file is damaged where a context could not be decoded: none of
    // its rows is given, not even those before the damage.
    if (!error->empty()) rows->clear();
  }
  for (SearchRow& row : *rows) row.path = path;
}

bool SearchJob_searchBytes(const std::string& word, int32_t errors, const moravine::SearchSettings& settings,
                           int32_t threads, const unsigned char* data, int32_t size, const std::string& name,
                           const std::string& path, SearchHost* host, std::vector<SearchRow>* rows,
                           std::string* error) {
  rows->clear();
  error->clear();
  std::vector<SearchHit> hits;
  if (!SearchJob_findHits(word, errors, settings, threads, data, size, host, &hits, error)) return false;
  if (!error->empty()) return true;
  SearchJob_makeRows(settings, threads, data, size, name, path, hits.data(), hits.size(), rows, error);
  return true;
}
