#include "frontend/status_text.h"

#include <vector>

namespace moravine::frontend {

std::string GroupedNumber(int64_t value) {
  std::string digits = std::to_string(value);
  const size_t first = value < 0 ? 1 : 0;  // after the sign
  for (size_t at = digits.size(); at > first + 3;) {
    at -= 3;
    digits.insert(at, 1, ',');
  }
  return digits;
}

namespace {

std::string Counted(int64_t count, const char* one, const char* many) {
  return GroupedNumber(count) + ' ' + (count == 1 ? one : many);
}

std::string ShownPart(const BatchOutcome& outcome, bool finished) {
  if (!finished) {
    return outcome.shown == 0 ? std::string()
                              : Counted(outcome.shown, "hit", "hits") + (outcome.shown == 1 ? " is shown" : " are shown");
  }
  const std::string searched = Counted(outcome.files, "file searched", "files searched");
  if (outcome.hits == 0) return outcome.files > 0 ? "no hits in " + searched : "no hits";
  std::string text = Counted(outcome.hits, "hit", "hits") + " in " +
                     (outcome.files > 0 ? GroupedNumber(outcome.files_with_hits) + " of " + searched
                                        : Counted(outcome.files_with_hits, "file", "files"));
  if (outcome.shown >= outcome.hits) return text;
  if (outcome.shown == 0) return text + "; none is shown";
  if (outcome.shown == 1) return text + "; the first is shown";
  return text + "; the first " + GroupedNumber(outcome.shown) + " are shown";
}

}  // namespace

bool IsBatchEnd(const std::string& core_text) {
  return core_text == "Finished" || core_text.starts_with("Cancelled after ");
}

std::string StatusAtBatchEnd(const std::string& core_text, const BatchOutcome& outcome) {
  const bool finished = core_text == "Finished";
  std::vector<std::string> parts;
  if (outcome.search) parts.push_back(ShownPart(outcome, finished));
  if (outcome.failed > 0) parts.push_back(Counted(outcome.failed, "file", "files") + " failed (see the log file)");
  std::string joined;
  for (const std::string& part : parts) {
    if (part.empty()) continue;
    joined += (joined.empty() ? "" : "; ") + part;
  }
  if (joined.empty()) return core_text;
  return core_text + (finished ? ": " : "; ") + joined;
}

std::string NothingToDo(JobType type, int up_to_date) {
  if (up_to_date > 0 && (type == JOB_COMPRESS || type == JOB_DECOMPRESS)) {
    return std::string(type == JOB_COMPRESS ? "Nothing to compress: " : "Nothing to decompress: ") +
           Counted(up_to_date, "file", "files") + " below the selected folder " + (up_to_date == 1 ? "is" : "are") +
           " up to date";
  }
  switch (type) {
    case JOB_COMPRESS: return "Nothing to compress: no uncompressed file below the selected folder";
    case JOB_DECOMPRESS: return "Nothing to decompress: no compressed file below the selected folder";
    case JOB_REMOVE_COMPRESSED: return "Nothing to remove: no compressed file below the selected folder";
    case JOB_REMOVE_ORIGINAL: return "Nothing to remove: no uncompressed file below the selected folder";
    case JOB_SEARCH: return "Nothing to search: no compressed file below the selected folder";
  }
  return "";
}

std::string IdleStatus(const std::string& selected_path) {
  return selected_path.empty() ? std::string(kSelectPrompt) : "Selected: " + selected_path;
}

bool IsIdleStatus(const std::string& text) { return text == kSelectPrompt || text.starts_with("Selected: "); }

bool EscapeCloses(bool batch_running, const std::string& search_word, const std::string& allow_errors) {
  return !batch_running && search_word.empty() && allow_errors.empty();
}

std::string SearchWordRefusal(const std::string& word) {
  if (word.empty()) return "Please type the word to search for in \"Search word\".";
  if (word.size() > 998) return "The search word must hold 1 to 998 bytes.";
  return std::string();
}

std::string LogViewerError(const std::string& program, const std::string& log_path) {
  const size_t cut = log_path.find_last_of("/\\");
  const std::string name = cut == std::string::npos ? log_path : log_path.substr(cut + 1);
  std::string folder = cut == std::string::npos ? std::string(".") : log_path.substr(0, cut);
  if (folder.empty()) folder = log_path.substr(0, 1);  // the root itself
  return "Error running " + program + ". You can find " + name + " in " + folder + ".";
}

std::string AgrepMissingText(const std::string& folder) {
  return "agrep not found\n\nPlease make sure that the agrep installed with Moravine lies beside moravine-gui in " +
         folder + ", or that an agrep is reachable through your PATH.\nWithout agrep you will not be able to search.";
}

}  // namespace moravine::frontend
