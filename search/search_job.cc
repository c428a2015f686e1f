#include "search/search_job.h"

#include <cstdlib>
#include <string>
#include <vector>

#include "search/hits.h"
#include "search/vocabulary_match.h"
#include "shell/job_frame.h"
#include "wordmodel/hlog.h"

namespace {

constexpr size_t kBoxCharacters = 998;

void Search(moravine::JobParams& params) {
  moravine::CMainDlg* owner = params.owner;
  moravine::WindowControls* ui = owner->controls();
  std::string path = params.path;
  ui->setStatus(moravine::BoundedFormat("Searching %s...", path));
  HLog_report("%s", moravine::BoundedFormat("\n=== Searching %s ===\n", path).c_str());

  moravine::MappedFile input;
  if (!moravine::MapJobInput(owner, path, &input)) return;
  std::string errors_text = ui->allowErrorsText().substr(0, kBoxCharacters);
  std::string word = ui->searchWordText().substr(0, kBoxCharacters);
  int32_t errors = std::atoi(errors_text.c_str());

  int32_t count = 0;
  SearchOffsets offsets;
  int32_t size = static_cast<int32_t>(input.size());
  try {
    // Only parsing rules 0 and 1 exist; decompression refuses any other
    // first byte, and so does the search.
    if (input.data()[0] > 1) {
      HFatal("Fatal Error: First byte of compressed file not 1, actually %d\n",
             static_cast<int>(static_cast<signed char>(input.data()[0])));
    }
    Search_compressedFile(&count, word, input.data(), size, errors, owner->searchHost(), &offsets);
  } catch (...) {
    if (input.changed()) return moravine::ReportChangedInput(owner, path);
    ui->showError("Search failed. See log file for details.");
    return;
  }
  if (count == 0) return;
  std::vector<SearchRow> rows;
  std::string error;
  try {
    Search_contextRows(Search_displayName(path), input.data(), size, offsets.at.get(), count, &rows, &error);
  } catch (...) {
    error = "Error decompressing left context.";
  }
  if (input.changed()) return moravine::ReportChangedInput(owner, path);
  ui->addResultRows(rows);
  if (!error.empty()) ui->showError(error);
}

}  // namespace

int SearchJob(moravine::JobParams* params) { return moravine::RunJob(params, Search); }
