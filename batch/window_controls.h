// The controls of the main window that the batch core and the jobs use.
// The desktop window and the command line each implement them. Calls come
// from the window's thread and from job threads; an implementation that
// must carry an update over to another thread may do so asynchronously,
// except for message boxes, which return only once the user has seen them.
#ifndef MORAVINE_BATCH_WINDOW_CONTROLS_H_
#define MORAVINE_BATCH_WINDOW_CONTROLS_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "search/hits.h"
#include "search/search_file.h"

namespace moravine {

// How the search job searches and what its rows hold, beyond the two boxes.
// The defaults give the window's rows: three words on either side.
struct SearchSettings {
  bool ignore_case = false;
  bool literal = false;  // the search word has no pattern characters (-F)
  bool line_numbers = false;
  bool text_offsets = false;
  int32_t max_hits = 0;     // per file; 0: all
  bool positions_only = false;  // rows hold the file, path and position alone (counting, listing)
  // Threads for the search as a whole: while fewer files are searched at a
  // time, a large one takes the threads left over.
  int32_t threads = 1;
  SearchRowOptions rows;
};

enum class Control {
  kCompress,
  kDecompress,
  kRemoveCompressed,
  kRemoveOriginal,
  kSearch,
  kExit,
  kCancel,
};

class WindowControls {
 public:
  virtual ~WindowControls() = default;

  virtual void setStatus(const std::string& text) = 0;
  // The progress bar: its range maximum counts the jobs of the batch, its
  // position the jobs finished.
  virtual void setProgress(int position, int maximum) = 0;
  virtual void enable(Control control, bool enabled) = 0;

  // Modal message boxes with an OK button.
  virtual void showInformation(const std::string& text) = 0;
  virtual void showWarning(const std::string& text) = 0;
  virtual void showError(const std::string& text) = 0;
  // A piece of advice about the current file that is no failure (the
  // command line prints it; the window leaves it to the log).
  virtual void showHint(const std::string& /*text*/) {}

  // The results list: rows of one job go to the top, in the given order.
  virtual void clearResults() = 0;
  virtual void addResultRows(const std::vector<SearchRow>& rows) = 0;
  // The room left in the results list. A search job offers the count of a
  // file's hits before it makes their rows and gets back how many of them,
  // the first ones, the list still takes; the others it only counts, with
  // no context decoded. Default: a row for every hit.
  virtual size_t takeResultRows(size_t hits) { return hits; }

  // The text of the "Search word" and "Allow errors" boxes.
  virtual std::string searchWordText() = 0;
  virtual std::string allowErrorsText() = 0;
  // The search settings that the window's other controls choose.
  virtual SearchSettings searchSettings() { return SearchSettings(); }

  // The batch core tells when it queues a job for a file, in the order of
  // its walk, and each job tells when it has ended (whether it ran or was
  // cancelled), after its last result rows. A front end may keep the rows
  // of later files back until the earlier ones are done.
  virtual void jobQueued(const std::string& /*path*/) {}
  virtual void jobDone(const std::string& /*path*/) {}

  // How far the job of `path` has come through its file: `done` of `total`
  // bytes (of the text it reads or writes). Called from the job's thread,
  // every few hundred KiB of a large file.
  virtual void jobProgress(const std::string& /*path*/, int64_t /*done*/, int64_t /*total*/) {}
  // A compression or decompression wrote `output` (out_bytes long) from
  // `input` (in_bytes long).
  virtual void fileWritten(const std::string& /*input*/, const std::string& /*output*/, int64_t /*in_bytes*/,
                           int64_t /*out_bytes*/) {}
  // Whether the library's diagnostics go to a log file that a message may
  // point to. Without one, a failure's message carries the library's text.
  virtual bool hasLogFile() const { return true; }
};

}  // namespace moravine

#endif  // MORAVINE_BATCH_WINDOW_CONTROLS_H_
