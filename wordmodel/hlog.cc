#include "wordmodel/hlog.h"

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

std::atomic<FILE*> g_report{nullptr};
std::atomic<FILE*> g_error{nullptr};
std::atomic<FILE*> g_discarded{nullptr};
thread_local HLogCapture* t_capture = nullptr;

std::mutex& OutputMutex() {
  static std::mutex mutex;
  return mutex;
}

std::string FormatV(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  char small[512];
  int n = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (n < 0) return std::string();
  if (static_cast<size_t>(n) < sizeof small) return std::string(small, n);
  std::vector<char> big(static_cast<size_t>(n) + 1);
  std::vsnprintf(big.data(), big.size(), format, args);
  return std::string(big.data(), n);
}

void Write(FILE* stream, const std::string& text) {
  if (t_capture) {
    t_capture->append(stream, text);
    return;
  }
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

}  // namespace

void HLog_setStreams(FILE* report, FILE* error) {
  g_report.store(report);
  g_error.store(error);
}

FILE* HLog_reportStream() {
  FILE* f = g_report.load();
  return f ? f : stdout;
}

FILE* HLog_errorStream() {
  FILE* f = g_error.load();
  return f ? f : stderr;
}

void HLog_setDiscarded(FILE* stream) { g_discarded.store(stream); }

void HLog_report(const char* format, ...) {
  if (HLog_reportStream() == g_discarded.load()) return;
  va_list args;
  va_start(args, format);
  if (t_capture) {
    std::string text = FormatV(format, args);
    t_capture->append(HLog_reportStream(), text);
  } else {
    std::vfprintf(HLog_reportStream(), format, args);
  }
  va_end(args);
}

void HLog_error(const char* format, ...) {
  if (HLog_errorStream() == g_discarded.load()) return;
  va_list args;
  va_start(args, format);
  std::string text = FormatV(format, args);
  va_end(args);
  Write(HLog_errorStream(), text);
}

void HFatal(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatV(format, args);
  va_end(args);
  Write(HLog_errorStream(), text);
  throw HFatalFailure(text);
}

void HFatal_perror(const char* what) {
  int saved = errno;
  std::string text = std::string(what) + ": " + std::strerror(saved) + "\n";
  Write(HLog_errorStream(), text);
  throw HFatalFailure(text);
}

HLogCapture::HLogCapture() : outer_(t_capture) { t_capture = this; }

HLogCapture::~HLogCapture() { finish(); }

void HLogCapture::append(FILE* stream, const std::string& text) {
  if (!segments_.empty() && segments_.back().first == stream) {
    segments_.back().second += text;
  } else {
    segments_.emplace_back(stream, text);
  }
}

void HLogCapture::flush() {
  if (segments_.empty()) return;
  std::lock_guard<std::mutex> lock(OutputMutex());
  for (const auto& [stream, text] : segments_) {
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
  }
  segments_.clear();
}

void HLogCapture::finish() {
  if (!active_) return;
  active_ = false;
  if (t_capture == this) t_capture = outer_;
  flush();
}

void HLog_flushCapture() {
  if (t_capture) t_capture->flush();
}

std::vector<std::pair<FILE*, std::string>> HLogCapture::take() {
  std::vector<std::pair<FILE*, std::string>> taken;
  taken.swap(segments_);
  return taken;
}

void HLog_replay(const std::vector<std::pair<FILE*, std::string>>& segments) {
  for (const auto& [stream, text] : segments) Write(stream, text);
}
