// The main window's controls on a terminal: failures on standard error;
// status texts, hints and a progress bar there too when it is a terminal
// (and not --quiet), so that a pipe or a file gets failures alone; result
// rows on standard output.
#ifndef MORAVINE_CLI_CONSOLE_WINDOW_H_
#define MORAVINE_CLI_CONSOLE_WINDOW_H_

#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>

#include "cli/row_format.h"
#include "batch/window_controls.h"

namespace moravine {

class ConsoleWindow : public WindowControls {
 public:
  // has_log_file: diagnostics go to a log file of their own; otherwise
  // they share standard error with the messages.
  ConsoleWindow(bool quiet, RowFormat format, bool has_log_file = false);

  // What a search prints for each file: its rows, the file's path once when
  // it has hits, or the path with its number of hits.
  enum class Listing { kRows, kFiles, kCounts };

  void setStatus(const std::string& text) override;
  void setProgress(int position, int maximum) override;
  void enable(Control, bool) override {}
  void showInformation(const std::string& text) override;
  void showWarning(const std::string& text) override;
  void showError(const std::string& text) override;
  void showHint(const std::string& text) override;
  void clearResults() override {}
  void jobProgress(const std::string& path, int64_t done, int64_t total) override;
  void fileWritten(const std::string& input, const std::string& output, int64_t in_bytes,
                   int64_t out_bytes) override;
  bool hasLogFile() const override { return has_log_file_; }
  void addResultRows(const std::vector<SearchRow>& rows) override;
  std::string searchWordText() override { return word_; }
  std::string allowErrorsText() override { return errors_; }
  SearchSettings searchSettings() override { return settings_; }
  // Each file's output waits until the files queued before it are done, so
  // that files come out in the order of the walk whatever the number of jobs.
  void jobQueued(const std::string& path) override;
  void jobDone(const std::string& path) override;

  // Whether the hit of a text row is coloured (default: standard output is
  // a terminal).
  void setColour(bool colour) { colour_ = colour && format_ == RowFormat::kText; }
  // Once this flag is set, rows are no longer formatted or written: a stop
  // signal ends even a flood of output at once.
  void setStopFlag(const std::atomic<bool>* stop) { stop_ = stop; }
  // -v: a line on standard error for each file written, terminal or not.
  void setVerbose(bool verbose) { verbose_ = verbose; }
  void setSearch(const std::string& word, const std::string& errors) {
    word_ = word;
    errors_ = errors;
  }
  void setSearchSettings(const SearchSettings& settings, const RowStyle& style, Listing listing) {
    settings_ = settings;
    style_ = style;
    style_.format = format_;
    style_.colour = colour_;
    listing_ = listing;
  }
  // The next command's files are shown under the path the user gave for
  // the absolute path that the command walks.
  void setGivenPath(const std::string& given, const std::string& absolute);
  // The path of a file below the given one as the user would write it.
  std::string shownPath(const std::string& path) const;
  // A text with the absolute path of the command's walk put back as given.
  std::string shownText(const std::string& text) const;
  // Writes what is still held back (after the batch).
  void flushResults();

  // Messages shown as error or information boxes so far, and rows printed.
  int problems() const { return problems_.load(); }
  long long rows() const { return rows_.load(); }

  // Called once when standard output cannot be written any more (the
  // reader went away, the disk is full): nothing more is worth doing.
  void setOnOutputFailure(std::function<void()> callback) { on_output_failure_ = std::move(callback); }
  // The error number of the first failed write to standard output, or 0.
  int outputError() const { return output_error_.load(); }

  // A message box's text as one line: the blank line between its sentence
  // and the system's text becomes ": ", line feeds become blanks.
  static std::string OneLine(const std::string& text);

 private:
  void message(const char* kind, const std::string& text);
  // Writes to standard output; true when this write is the first to fail.
  bool writeOut(const std::string& text);
  bool stopped() const;
  void drawBar();
  void clearBar();
  // Whether status texts and the bar are shown: on a terminal, unless quiet.
  bool showsProgress() const { return terminal_ && !quiet_; }
  // A file's output: its rows, or its line of the listing.
  std::string fileOutput(const std::string& path, const std::string& rows_text, long long hits) const;
  // Writes the outputs of the done files at the head of the queue (under the mutex); true on a first failure.
  bool flushDone();

  struct PendingFile {
    std::string path;
    std::string text;
    long long hits = 0;
    bool done = false;
  };

  std::mutex mutex_;
  bool quiet_;
  bool terminal_;
  bool colour_;
  bool has_log_file_;
  RowFormat format_;
  std::string status_;
  int position_ = 0;
  int maximum_ = 0;
  bool bar_shown_ = false;
  bool verbose_ = false;
  bool cancel_told_ = false;  // "Cancelled after ..." is on the terminal
  // The part of each running job's file done so far, from 0 to 1, and the
  // percentage of the batch last drawn.
  std::unordered_map<std::string, double> running_;
  int drawn_percent_ = -1;
  std::string word_;
  std::string errors_;
  SearchSettings settings_;
  RowStyle style_;
  Listing listing_ = Listing::kRows;
  std::string given_;
  std::string absolute_;
  std::deque<PendingFile> pending_;  // files queued, in walk order, not written yet
  std::unordered_map<std::string, PendingFile*> pending_by_path_;
  std::atomic<int> problems_{0};
  std::atomic<long long> rows_{0};
  std::atomic<int> output_error_{0};
  std::function<void()> on_output_failure_;
  const std::atomic<bool>* stop_ = nullptr;
};

}  // namespace moravine

#endif  // MORAVINE_CLI_CONSOLE_WINDOW_H_
