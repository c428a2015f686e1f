// The words that both windows show: the status line at a batch's end, the
// refusals of Search, the log viewer's error and the program's own name.
// Every text is UTF-8.
#ifndef MORAVINE_FRONTEND_STATUS_TEXT_H_
#define MORAVINE_FRONTEND_STATUS_TEXT_H_

#include <cstdint>
#include <string>

#include "batch/main_dialog.h"

namespace moravine::frontend {

inline constexpr char kProgramName[] = "Moravine";
inline constexpr char kVersionText[] = "Moravine Version 1.0";

// A count with its thousands set apart: "5,612,034".
std::string GroupedNumber(int64_t value);

// What a batch did, for the status line at its end.
struct BatchOutcome {
  bool search = false;
  int64_t hits = 0;         // every hit found, shown or not
  int files_with_hits = 0;
  int64_t shown = 0;        // the rows in the results list
  int failed = 0;           // the files whose job failed
  int files = 0;            // the files of the batch (searched, for a search); 0: not known
};
// Whether the status text is one the batch core gives when a batch ends:
// "Finished", or "Cancelled after N of M files".
bool IsBatchEnd(const std::string& core_text);
// That text with what the batch did: the failed files and, for a search,
// the hits, the files they lie in of those searched, and how many of them
// the list shows. "Finished: 5,612,034 hits in 480 of 500 files searched;
// the first 100,000 are shown".
std::string StatusAtBatchEnd(const std::string& core_text, const BatchOutcome& outcome);

// The status when a command's walk found no file for it; `up_to_date`
// files were left out because their output is up to date.
std::string NothingToDo(JobType type, int up_to_date = 0);

// The status line of an idle window that has shown no batch yet: what is
// selected, or the request to select something.
inline constexpr char kSelectPrompt[] = "Select a file or directory";
std::string IdleStatus(const std::string& selected_path);
// Whether a status text is one of those (and so may follow the selection).
bool IsIdleStatus(const std::string& text);

// What "Allow errors" says when it refuses a character: it takes digits.
inline constexpr char kAllowErrorsDigitsOnly[] =
    "\"Allow errors\" takes a number: the letters each word may differ by (0 to 998).";

// Escape closes the window only when it would lose nothing: no batch runs
// and neither search box holds text (Escape there is more likely meant
// for the box than for the window).
bool EscapeCloses(bool batch_running, const std::string& search_word, const std::string& allow_errors);
// What the window's close button asks while a batch runs.
inline constexpr char kCloseDuringBatch[] =
    "A batch is still running.\n\nClose the window? The file at work is finished first; the files not yet "
    "begun are left as they are.";

// Why Search refuses the word of the "Search word" box (empty when it does
// not): the word must hold 1 to 998 bytes, as on the command line.
std::string SearchWordRefusal(const std::string& word);

// "Error running NAME. You can find Moravine.log in FOLDER." with the
// folder of the log in use (the path up to its last separator).
std::string LogViewerError(const std::string& program, const std::string& log_path);

// The warning at start-up when no agrep can be run from `folder`.
std::string AgrepMissingText(const std::string& folder);

}  // namespace moravine::frontend

#endif  // MORAVINE_FRONTEND_STATUS_TEXT_H_
