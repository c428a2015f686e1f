#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

#include "cli/commands.h"
#include "cli/input.h"
#include "cli/standard_input.h"
#include "codec/compress.h"
#include "codec/decompress.h"
#include "batch/file_jobs.h"
#include "wordmodel/hrule.h"
#include "cli/console_window.h"
#include "batch/search_job.h"
#include "batch/job_frame.h"
#include "batch/job_path.h"
#include "platform/console.h"
#include "platform/system_search_host.h"
#include "wordmodel/hbuffer.h"

namespace moravine::cli {

std::atomic<int> g_stop_signal{0};
std::atomic<bool> g_stop_requested{false};

int OutputFailed(int error) {
  if (error == EPIPE) return StopExitStatus(StopCause::kClosedOutput);
  std::fprintf(stderr, "moravine: error writing to standard output: %s\n", std::strerror(error ? error : EIO));
  return 2;
}

namespace {

// Writes everything to standard output; 0 or the error number.
int WriteOut(const unsigned char* data, int64_t length) { return WriteStandardOutput(data, length); }

// Thrown by a decoder's sink to stop the decoding when the output fails.
struct OutputStopped {};

void Failed(const std::string& name, const std::string& why) {
  std::fprintf(stderr, "moravine: %s: %s\n", name.c_str(), why.c_str());
}

std::string Reason(const std::exception& failure) {
  std::string what = failure.what();
  while (!what.empty() && (what.back() == '\n' || what.back() == '.')) what.pop_back();
  return what;
}

}  // namespace

bool Input::open(const std::string& path, std::string* error, bool compressed) {
  standard_ = path == "-";
  name_ = standard_ ? "standard input" : path;
  if (!standard_) {
    MappedFile::Failure failure;
    int number = 0;
    if (file_.open(path, &failure, &number)) return true;
    if (failure == MappedFile::Failure::kEmpty) return true;  // size 0
    *error = MappedFile::Describe(failure, number, &file_.status());
    while (!error->empty() && error->back() == '.') error->pop_back();
    return false;
  }
  bool stopped = false;
  if (ReadStandardInput(&memory_, compressed, error, &stopped)) return true;
  if (stopped) error->clear();
  return false;
}

int CompressToStdout(const std::string& path, int rule, int distance, bool force, int threads, bool quiet) {
  if (!force && IsTerminal(StandardStream::kOutput)) {
    std::fprintf(stderr, "moravine: compressed data is not written to a terminal; use -f to force it\n");
    return 1;
  }
  Input input;
  std::string error;
  if (!input.open(path, &error)) {
    if (!error.empty()) Failed(input.name(), error);  // empty: stopped by a signal
    return 1;
  }
  if (input.size() == 0) {
    Failed(input.name(), "empty; there is no text to compress");
    return 1;
  }
  HBuffer out;
  int32_t out_length = 0;
  try {
    auto length = static_cast<int32_t>(input.size());
    HCompress_rule(input.data(), length, rule, distance > 0 ? distance : 0, &out, &out_length, 0, threads);
  } catch (const std::exception& failure) {
    Failed(input.name(), "compression failed: " + Reason(failure));
    return 1;
  }
  if (!quiet && !HRule_unicode(rule)) {
    const std::string hint = UnicodeHint(input.data(), input.size());
    if (!hint.empty()) std::fprintf(stderr, "moravine: hint: %s: %s\n", input.name().c_str(), hint.c_str());
  }
  int written = WriteOut(out.get(), out_length);
  return written ? OutputFailed(written) : 0;
}

int DecompressToStdout(const std::vector<std::string>& paths) {
  int status = 0;
  for (const std::string& path : paths) {
    if (g_stop_signal.load() != 0) break;
    int written = 0;
    auto write = [&written](const unsigned char* text, int64_t length) {
      written = WriteOut(text, length);
      if (written) throw OutputStopped();
    };
    if (path == "-") {
      // Decoded as it arrives: a pipe that never ends is never held whole,
      // and bytes that are not a compressed file are refused at once.
      std::string error;
      bool stopped = false;
      bool decoded = false;
      try {
        decoded = DecodeStandardInput(write, &error, &stopped);
      } catch (const OutputStopped&) {
        return OutputFailed(written);
      }
      if (!decoded && !stopped) {
        Failed("standard input", error);
        status = 1;
      }
      continue;
    }
    Input input;
    std::string error;
    if (!input.open(path, &error)) {
      Failed(input.name(), error);
      status = 1;
      continue;
    }
    if (input.size() == 0) {
      Failed(input.name(), "not a valid compressed file: it is empty");
      status = 1;
      continue;
    }
    // The text goes out a cache-sized piece at a time, as zcat's does: the
    // first bytes leave at once and the whole text is never held. A file
    // found damaged part way has written what came before; the failure is
    // said and the status tells.
    int32_t text_length = 0;
    try {
      HDecompress_fileStream(input.data(), static_cast<int32_t>(input.size()), write, &text_length, 0);
    } catch (const OutputStopped&) {
    } catch (const std::exception& failure) {
      Failed(input.name(), "not a valid compressed file: " + Reason(failure));
      status = 1;
      continue;
    }
    if (written) return OutputFailed(written);
  }
  return status;
}

void SearchStandardInput(moravine::ConsoleWindow* window) {
  // Messages name the input as the other commands name it.
  SetCurrentJobPath("standard input");
  struct Clear {
    ~Clear() { SetCurrentJobPath(std::string()); }
  } clear;
  Input input;
  std::string error;
  if (!input.open("-", &error, true)) {
    if (error.empty()) return;  // stopped while standard input was read
    return window->showError(error);
  }
  if (input.size() == 0) return window->showError("not a valid compressed file: it is empty");
  const std::string word = window->searchWordText();
  SearchSettings settings = window->searchSettings();
  settings.rows.cancel = &g_stop_requested;
  SystemSearchHost host;
  host.setCancelFlag(&g_stop_requested);
  std::vector<SearchRow> rows;
  const std::string name = "(standard input)";
  if (!SearchJob_searchBytes(word, std::atoi(window->allowErrorsText().c_str()), settings, settings.threads,
                             input.data(), static_cast<int32_t>(input.size()), name, name, &host, &rows, &error)) {
    return window->showError(FailureMessage(window, "Search failed.", error));
  }
  if (!error.empty()) return window->showError(error);
  window->addResultRows(rows);
}

}  // namespace moravine::cli
