#include "cli/console_window.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "batch/job_frame.h"
#include "batch/tree_model.h"
#include "platform/console.h"
#include "platform/filesystem.h"
#include "wordmodel/hlog.h"

namespace moravine {

ConsoleWindow::ConsoleWindow(bool quiet, RowFormat format, bool has_log_file)
    : quiet_(quiet),
      terminal_(IsTerminal(StandardStream::kError)),
      colour_(format == RowFormat::kText && IsTerminal(StandardStream::kOutput)),
      has_log_file_(has_log_file),
      format_(format) {}

std::string ConsoleWindow::OneLine(const std::string& text) {
  std::string line = text;
  for (size_t at; (at = line.find("\n\n")) != std::string::npos;) {
    // "Sentence.\n\nSystem text" reads "Sentence: System text".
    size_t cut = at;
    while (cut > 0 && (line[cut - 1] == '.' || line[cut - 1] == ' ')) --cut;
    line.replace(cut, at + 2 - cut, ": ");
  }
  for (char& c : line) {
    if (c == '\n') c = ' ';
  }
  while (!line.empty() && (line.back() == ' ' || line.back() == ':')) line.pop_back();
  return line;
}

void ConsoleWindow::clearBar() {
  if (bar_shown_) {
    std::fputs("\r\033[K", stderr);
    bar_shown_ = false;
  }
}

void ConsoleWindow::drawBar() {
  if (!showsProgress() || maximum_ == 0 || cancel_told_) return;
  const int terminal_columns = TerminalColumns(StandardStream::kError);
  int columns = terminal_columns > 20 ? terminal_columns : 80;
  const int width = 20;
  // Files done, and the parts done of those under way: one large file
  // moves the bar as its bytes are worked through.
  double done = position_;
  for (const auto& [path, part] : running_) done += part;
  const double share = std::min(1.0, done / maximum_);
  const int filled = static_cast<int>(width * share);
  drawn_percent_ = static_cast<int>(100 * share);
  std::string line = "[" + std::string(static_cast<size_t>(filled), '#') +
                     std::string(static_cast<size_t>(width - filled), ' ') + "] " + std::to_string(position_) + "/" +
                     std::to_string(maximum_) + " " + std::to_string(drawn_percent_) + " % " + status_;
  if (static_cast<int>(line.size()) > columns - 1) line.resize(static_cast<size_t>(columns - 1));
  std::fprintf(stderr, "\r\033[K%s", line.c_str());
  std::fflush(stderr);
  bar_shown_ = true;
}

void ConsoleWindow::setStatus(const std::string& text) {
  // The status is shown on the progress line alone.
  if (!showsProgress()) return;
  std::lock_guard<std::mutex> lock(mutex_);
  status_ = PrintableText(shownText(text));
  // The batch's last word stays on the terminal; the others replace each
  // other in the progress line. A request to stop tells at once how far
  // the batch came, since the program may end before the batch does.
  const bool cancelled = text.rfind("Cancelled after ", 0) == 0;
  if (text == "Cancelling..." && maximum_ > 0 && !cancel_told_) {
    status_ = "Cancelled after " + std::to_string(position_) + " of " + std::to_string(maximum_) +
              (maximum_ == 1 ? " file" : " files");
    cancel_told_ = true;
  } else if (!(text == "Finished" || cancelled)) {
    return drawBar();
  } else if (cancelled && cancel_told_) {
    cancel_told_ = false;
    return clearBar();
  }
  clearBar();
  std::fprintf(stderr, "%s\n", status_.c_str());
}

void ConsoleWindow::jobProgress(const std::string& path, int64_t done, int64_t total) {
  if (total <= 0 || !showsProgress()) return;
  std::lock_guard<std::mutex> lock(mutex_);
  running_[path] = std::min(1.0, static_cast<double>(done) / static_cast<double>(total));
  // Drawn again only when the percentage moves.
  double all = position_;
  for (const auto& [file, part] : running_) all += part;
  if (maximum_ > 0 && static_cast<int>(100 * std::min(1.0, all / maximum_)) != drawn_percent_) drawBar();
}

void ConsoleWindow::fileWritten(const std::string& input, const std::string& output, int64_t in_bytes,
                                int64_t out_bytes) {
  if (!verbose_) return;
  std::lock_guard<std::mutex> lock(mutex_);
  const bool compressed = EndsWithHwz(output);
  const int64_t text = compressed ? in_bytes : out_bytes, packed = compressed ? out_bytes : in_bytes;
  char ratio[32];
  std::snprintf(ratio, sizeof ratio, "%.3f", packed > 0 ? static_cast<double>(text) / packed : 0.0);
  clearBar();
  std::fprintf(stderr, "%s -> %s: %lld -> %lld bytes, ratio %s\n", PrintableText(shownPath(input)).c_str(),
               PrintableText(shownPath(output)).c_str(), static_cast<long long>(in_bytes),
               static_cast<long long>(out_bytes), ratio);
  std::fflush(stderr);
  drawBar();
}

void ConsoleWindow::setProgress(int position, int maximum) {
  if (!showsProgress()) return;
  std::lock_guard<std::mutex> lock(mutex_);
  position_ = position;
  maximum_ = maximum;
  if (maximum == 0) {
    clearBar();
  } else {
    drawBar();
  }
}

void ConsoleWindow::message(const char* kind, const std::string& text) {
  // The job's own diagnostics come before what it says about them.
  if (!has_log_file_) HLog_flushCapture();
  std::lock_guard<std::mutex> lock(mutex_);
  clearBar();
  // One line, led by the job's file.
  std::string line = OneLine(shownText(text));
  // The file as the user named it, as its rows show it.
  const std::string path = shownPath(CurrentJobPath());
  std::fprintf(stderr, "moravine: %s%s%s%s\n", kind, PrintableText(path).c_str(), path.empty() ? "" : ": ",
               PrintableText(line).c_str());
  std::fflush(stderr);
  drawBar();
}

void ConsoleWindow::showInformation(const std::string& text) {
  ++problems_;
  message("", text);
}

void ConsoleWindow::showWarning(const std::string& text) { message("warning: ", text); }

// Advice is no failure: it goes where the progress goes, to a terminal.
void ConsoleWindow::showHint(const std::string& text) {
  if (showsProgress()) message("hint: ", text);
}

void ConsoleWindow::showError(const std::string& text) {
  ++problems_;
  message("", text);
}

bool ConsoleWindow::stopped() const { return stop_ != nullptr && stop_->load(std::memory_order_relaxed); }

bool ConsoleWindow::writeOut(const std::string& text) {
  if (output_error_.load() != 0) return false;
  errno = 0;
  // A megabyte at a time, so that a stop signal ends a long output soon.
  constexpr size_t kChunk = 1 << 20;
  bool written = true;
  for (size_t at = 0; at < text.size() && written && !stopped(); at += kChunk) {
    const size_t n = std::min(kChunk, text.size() - at);
    written = std::fwrite(text.data() + at, 1, n, stdout) == n;
  }
  if (written && std::fflush(stdout) == 0) return false;
  int error = errno ? errno : EIO;
  std::clearerr(stdout);
  int expected = 0;
  return output_error_.compare_exchange_strong(expected, error);
}

void ConsoleWindow::setGivenPath(const std::string& given, const std::string& absolute) {
  std::lock_guard<std::mutex> lock(mutex_);
  given_ = given;
  // Trailing separators go, but not the root's ("/", "C:\\").
  while (given_.size() > std::max<size_t>(1, RootLength(given_)) && IsPathSeparator(given_.back())) given_.pop_back();
  absolute_ = absolute;
}

std::string ConsoleWindow::shownPath(const std::string& path) const {
  // The original of a compressed file that was named: "a.txt" for "a.txt.hwz".
  if (EndsWithHwz(absolute_) && EndsWithHwz(given_) && path.size() + 4 == absolute_.size() &&
      absolute_.compare(0, path.size(), path) == 0) {
    return given_.substr(0, given_.size() - 4);
  }
  if (absolute_.empty() || path.compare(0, absolute_.size(), absolute_) != 0) return path;
  std::string rest = path.substr(absolute_.size());
  if (!rest.empty() && IsPathSeparator(rest.front()) && !given_.empty() && IsPathSeparator(given_.back())) {
    rest.erase(0, 1);
  }
  return given_ + rest;
}

std::string ConsoleWindow::shownText(const std::string& text) const {
  if (absolute_.empty() || absolute_ == given_) return text;
  std::string out;
  size_t from = 0;
  for (size_t at; (at = text.find(absolute_, from)) != std::string::npos;) {
    const size_t end = at + absolute_.size();
    // The path itself or one below it, not a longer name that starts alike.
    if (end < text.size() && text[end] != '/' && text[end] != '.' && text[end] != ' ' && text[end] != ':' &&
        text[end] != '\n') {
      out += text.substr(from, end - from);
    } else {
      out += text.substr(from, at - from) + shownPath(text.substr(at, absolute_.size()));
    }
    from = end;
  }
  return out + text.substr(from);
}

std::string ConsoleWindow::fileOutput(const std::string& path, const std::string& rows_text, long long hits) const {
  if (listing_ == Listing::kRows || hits == 0) return rows_text;
  return FormatListing(shownPath(path), listing_ == Listing::kCounts ? hits : -1, format_);
}

void ConsoleWindow::jobQueued(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (pending_by_path_.count(path)) return;
  pending_.emplace_back();
  pending_.back().path = path;
  pending_by_path_[path] = &pending_.back();
}

bool ConsoleWindow::flushDone() {
  std::string text;
  while (!pending_.empty() && pending_.front().done) {
    PendingFile& file = pending_.front();
    // A file's rows go out as they were formatted, without another copy.
    if (text.empty() && (listing_ == Listing::kRows || file.hits == 0)) {
      text.swap(file.text);
    } else {
      text += fileOutput(file.path, file.text, file.hits);
    }
    pending_by_path_.erase(file.path);
    pending_.pop_front();
  }
  if (text.empty()) return false;
  clearBar();
  bool failed = writeOut(text);
  drawBar();
  return failed;
}

void ConsoleWindow::jobDone(const std::string& path) {
  bool failed;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    running_.erase(path);
    auto it = pending_by_path_.find(path);
    if (it == pending_by_path_.end()) return;
    it->second->done = true;
    failed = flushDone();
  }
  if (failed && on_output_failure_) on_output_failure_();
}

void ConsoleWindow::flushResults() {
  bool failed;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (PendingFile& file : pending_) file.done = true;
    failed = flushDone();
  }
  if (failed && on_output_failure_) on_output_failure_();
}

void ConsoleWindow::addResultRows(const std::vector<SearchRow>& rows) {
  if (rows.empty()) return;
  const std::string& path = rows.front().path.empty() ? CurrentJobPath() : rows.front().path;
  // Formatted outside the lock: jobs on other cores go on meanwhile.
  std::string text;
  if (stopped()) return;
  if (listing_ == Listing::kRows) text = FormatFileRows(rows, shownPath(path), style_);
  bool failed = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    rows_ += static_cast<long long>(rows.size());
    auto it = pending_by_path_.find(path);
    if (it != pending_by_path_.end()) {
      if (it->second->text.empty()) {
        it->second->text.swap(text);
      } else {
        it->second->text += text;
      }
      it->second->hits += static_cast<long long>(rows.size());
    } else {
      text = fileOutput(path, text, static_cast<long long>(rows.size()));
      clearBar();
      failed = writeOut(text);
      drawBar();
    }
  }
  // Outside the lock: the callback cancels, which sets the status line.
  if (failed && on_output_failure_) on_output_failure_();
}

}  // namespace moravine
