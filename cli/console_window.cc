#include "cli/console_window.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>

#include "shell/job_frame.h"

namespace moravine {

ConsoleWindow::ConsoleWindow(bool quiet, RowFormat format)
    : quiet_(quiet),
      terminal_(::isatty(STDERR_FILENO)),
      colour_(format == RowFormat::kText && ::isatty(STDOUT_FILENO)),
      format_(format) {}

void ConsoleWindow::clearBar() {
  if (bar_shown_) {
    std::fputs("\r\033[K", stderr);
    bar_shown_ = false;
  }
}

void ConsoleWindow::drawBar() {
  if (!terminal_ || quiet_ || maximum_ == 0) return;
  struct winsize ws;
  int columns = ::ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 20 ? ws.ws_col : 80;
  const int width = 20;
  int filled = static_cast<int>(static_cast<long long>(width) * position_ / maximum_);
  std::string line = "[" + std::string(static_cast<size_t>(filled), '#') +
                     std::string(static_cast<size_t>(width - filled), ' ') + "] " + std::to_string(position_) + "/" +
                     std::to_string(maximum_) + " " + status_;
  if (static_cast<int>(line.size()) > columns - 1) line.resize(static_cast<size_t>(columns - 1));
  std::fprintf(stderr, "\r\033[K%s", line.c_str());
  std::fflush(stderr);
  bar_shown_ = true;
}

void ConsoleWindow::setStatus(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  status_ = text;
  if (quiet_) return;
  if (terminal_ && text != "Finished") {
    drawBar();
  } else {
    clearBar();
    std::fprintf(stderr, "%s\n", text.c_str());
  }
}

void ConsoleWindow::setProgress(int position, int maximum) {
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
  std::lock_guard<std::mutex> lock(mutex_);
  clearBar();
  // A box's blank line becomes ": " on one line; the job's file leads.
  std::string line = text;
  for (size_t at; (at = line.find("\n\n")) != std::string::npos;) line.replace(at, 2, ": ");
  for (char& c : line) {
    if (c == '\n') c = ' ';
  }
  while (!line.empty() && (line.back() == ' ' || line.back() == ':')) line.pop_back();
  const std::string& path = CurrentJobPath();
  std::fprintf(stderr, "moravine: %s%s%s%s\n", kind, path.c_str(), path.empty() ? "" : ": ", line.c_str());
  std::fflush(stderr);
  drawBar();
}

void ConsoleWindow::showInformation(const std::string& text) {
  ++problems_;
  message("", text);
}

void ConsoleWindow::showWarning(const std::string& text) { message("warning: ", text); }

void ConsoleWindow::showError(const std::string& text) {
  ++problems_;
  message("", text);
}

void ConsoleWindow::addResultRows(const std::vector<SearchRow>& rows) {
  std::lock_guard<std::mutex> lock(mutex_);
  clearBar();
  for (const SearchRow& row : rows) std::fputs(FormatRow(row, format_, colour_).c_str(), stdout);
  std::fflush(stdout);
  rows_ += static_cast<long long>(rows.size());
  drawBar();
}

}  // namespace moravine
