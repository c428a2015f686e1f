// Log streams and the fatal failure.
//
// The library writes reports (statistics, listings) to the report stream and
// diagnostics to the error stream. Both default to the process's standard
// output and standard error; a front end may point them elsewhere, for
// instance both at one unbuffered log file.
//
// A fatal failure writes one message to the error stream and throws
// HFatalFailure, which unwinds to the caller's handler. Every buffer in the
// library is owned by an RAII holder, so nothing leaks on that path.
#ifndef MORAVINE_WORDMODEL_HLOG_H_
#define MORAVINE_WORDMODEL_HLOG_H_

#include <atomic>
#include <cstdio>
#include <exception>
#include <string>
#include <utility>
#include <vector>

class HFatalFailure : public std::exception {
 public:
  explicit HFatalFailure(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

// Thrown by a long loop that finds its cancel flag set: the work was asked
// to stop, which is not a failure and writes nothing to the log.
class HCancelled : public std::exception {
 public:
  const char* what() const noexcept override { return "cancelled"; }
};

// Throws HCancelled when the flag is given and set. Long loops call it every
// few thousand steps, so that Cancel takes effect within a fraction of a
// second whatever the input.
inline void HCancel_check(const std::atomic<bool>* flag) {
  if (flag != nullptr && flag->load(std::memory_order_relaxed)) throw HCancelled();
}

// Points the two streams at the given files; a null argument restores the
// default (stdout for reports, stderr for diagnostics).
void HLog_setStreams(FILE* report, FILE* error);
FILE* HLog_reportStream();
FILE* HLog_errorStream();

// Names a stream whose lines nobody reads (a front end's /dev/null): what
// HLog_report and HLog_error aim at it is dropped before it is formatted.
void HLog_setDiscarded(FILE* stream);

void HLog_report(const char* format, ...) __attribute__((format(printf, 1, 2)));
void HLog_error(const char* format, ...) __attribute__((format(printf, 1, 2)));

// While an HLogCapture lives, what its thread writes to either stream is held
// in it instead, and written out in one piece (per stream, in order, under a
// lock that every capture shares) by finish(), flush() or its destructor. A
// job that runs beside others keeps its lines together this way.
class HLogCapture {
 public:
  HLogCapture();
  ~HLogCapture();
  HLogCapture(const HLogCapture&) = delete;
  HLogCapture& operator=(const HLogCapture&) = delete;

  // Writes out what is held so far; the capture goes on.
  void flush();
  // Writes out what is held and ends the capture.
  void finish();

  void append(FILE* stream, const std::string& text);

  // Hands over what is held, in order, and holds nothing after: for a
  // helper thread whose lines belong to the job that started it.
  std::vector<std::pair<FILE*, std::string>> take();

 private:
  std::vector<std::pair<FILE*, std::string>> segments_;
  HLogCapture* outer_;
  bool active_ = true;
};

// Writes out what the calling thread's capture holds so far, if it has one.
void HLog_flushCapture();

// Writes lines taken from a helper thread's capture as the calling thread
// writes its own: into its capture when it has one.
void HLog_replay(const std::vector<std::pair<FILE*, std::string>>& segments);

// Writes the formatted message to the error stream and throws HFatalFailure.
[[noreturn]] void HFatal(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Writes "WHAT: <system text for errno>\n" (the perror form) to the error
// stream and throws HFatalFailure.
[[noreturn]] void HFatal_perror(const char* what);

#endif  // MORAVINE_WORDMODEL_HLOG_H_
