// moravine: compress, decompress, remove and search text files and whole
// folders from the command line. A thin layer over the batch core that the
// desktop window uses too.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <mutex>
#include <thread>
#include <vector>

#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/console_window.h"
#include "cli/input.h"
#include "cli/overwrite.h"
#include "codec/container.h"
#include "batch/file_jobs.h"
#include "batch/search_job.h"
#include "batch/main_dialog.h"
#include "platform/console.h"
#include "platform/file.h"
#include "platform/fileio.h"
#include "platform/filesystem.h"
#include "platform/large_pages.h"
#include "platform/system_search_host.h"
#include "wordmodel/hdictionary.h"
#include "wordmodel/hhashtable.h"
#include "wordmodel/hlog.h"
#include "wordmodel/hreport.h"
#include "wordmodel/hrule.h"
#include "wordmodel/hmodel_free.h"

namespace {

using moravine::CMainDlg;
using moravine::JobType;
using moravine::cli::CommandLine;
using moravine::cli::UsageError;

// The dialog of the running batch, for the stop watcher. The watcher calls
// it under g_dialog_lock, and the batch takes the dialog away under the same
// lock before destroying it, so a late request never reaches a dead dialog.
std::mutex g_dialog_lock;
CMainDlg* g_dialog = nullptr;

// How long the work has to end after a request to stop before the program
// ends anyway.
constexpr int kStopGraceMilliseconds = 250;

// Ctrl-C, SIGTERM and SIGHUP act as Cancel for good: the running jobs end
// (their outputs complete or are thrown away), nothing more is started,
// written or removed, and the exit status tells which it was. A second
// request ends the program at once, removing the files it was writing. A
// failed write to standard output stops the work the same way.
void StopEverything(moravine::StopCause cause) {
  int expected = 0;
  moravine::cli::g_stop_signal.compare_exchange_strong(expected, static_cast<int>(cause));
  moravine::cli::g_stop_requested.store(true);
  std::lock_guard<std::mutex> lock(g_dialog_lock);
  if (g_dialog) g_dialog->Abort();
}

bool Stopped() { return moravine::StopRequested() != moravine::StopCause::kNone; }

// The exit status after a request to stop.
int StoppedStatus() { return moravine::StopExitStatus(moravine::StopRequested()); }

// The file system with the entries of each folder sorted by name, so that a
// folder's files are searched, and printed, in the order of their paths.
class SortedFileSystem : public moravine::SystemFileSystem {
 public:
  bool enumerate(const std::string& dir, std::vector<moravine::DirEntry>* entries) override {
    if (!SystemFileSystem::enumerate(dir, entries)) return false;
    std::sort(entries->begin(), entries->end(),
              [](const moravine::DirEntry& a, const moravine::DirEntry& b) { return a.name < b.name; });
    return true;
  }
};

// Runs one command over each path as the window runs it on a selected item.
void RunBatches(JobType type, const std::vector<std::string>& paths, const CommandLine& line,
                moravine::ConsoleWindow* window) {
  SortedFileSystem fs;
  // Never read: the command line shows no tree, and its paths are looked
  // up one by one (LookUpPath).
  moravine::TreeModel tree(&fs);
  moravine::SystemSearchHost host;
  moravine::DetachedThreadStarter threads;
  moravine::MainServices services{window, &tree, &fs, &threads, &host, {CompressJob, DecompressJob, SearchJob}};
  CMainDlg dlg(services, true, line.jobs);
  host.setCancelFlag(dlg.cancelFlag());
  dlg.setOptions(!line.words, line.distance);
  dlg.setUnicode(line.unicode);
  dlg.setCompressThreads(line.threads);
  dlg.setSkipUpToDate(line.update);
  const moravine::cli::Overwrite rule = line.force    ? moravine::cli::Overwrite::kAlways
                                        : line.update ? moravine::cli::Overwrite::kOlder
                                                      : moravine::cli::Overwrite::kNever;
  if (rule != moravine::cli::Overwrite::kAlways) {
    dlg.setJobCheck([window, rule](const std::string& path, JobType type) {
      return moravine::cli::MayWrite(path, type, rule, window);
    });
  }
  // Seen by the stop watcher for as long as it lives, on every way out.
  struct Shown {
    explicit Shown(CMainDlg* dlg) {
      std::lock_guard<std::mutex> lock(g_dialog_lock);
      g_dialog = dlg;
    }
    ~Shown() {
      std::lock_guard<std::mutex> lock(g_dialog_lock);
      g_dialog = nullptr;
    }
  } shown(&dlg);
  if (Stopped()) dlg.Abort();  // a request that came before the dialog
  for (const std::string& given : paths) {
    if (dlg.aborted()) break;
    std::string path = moravine::AbsolutePath(given);
    // The path alone is looked at, not the folders above it.
    moravine::PathItem item;
    if (!dlg.LookUpPath(path, &item)) {
      moravine::FileStatus st;
      if (moravine::PathStatus(path, false, &st) && st.type != moravine::FileType::kRegular &&
          st.type != moravine::FileType::kDirectory) {
        window->showError(given + ": " + std::string(moravine::FileTypeName(st.type)) +
                          ", not a regular file or folder");
      } else {
        window->showError(given + ": no such file or directory");
      }
      continue;
    }
    window->setGivenPath(given, path);
    moravine::cli::RunCommandOnItem(dlg, type, item, given, rule, window);
    dlg.WaitUntilIdle();
    window->flushResults();
  }
}

using moravine::cli::OutputFailed;

int Info(const std::vector<std::string>& files, bool verbose) {
  bool ok = true;
  for (const auto& path : files) {
    moravine::cli::Input input;
    std::string error;
    if (Stopped()) break;
    if (!input.open(path, &error, true) || (input.size() == 0 && !(error = "the file is empty").empty())) {
      if (error.empty()) break;  // stopped by a signal
      std::fprintf(stderr, "moravine: %s: %s\n", input.name().c_str(), error.c_str());
      ok = false;
      continue;
    }
    try {
      HModel model;
      int32_t text_length;
      const unsigned char* body;
      int32_t body_length;
      int32_t length = static_cast<int32_t>(input.size());
      HDecompress_getBodyAndConsole(input.data(), length, &text_length, &body, &body_length, &model);
      int rule = input.data()[0];
      if (!HRule_known(rule)) {
        std::fprintf(stderr, "moravine: %s: unknown parsing rule %d\n", input.name().c_str(),
                     static_cast<signed char>(rule));
        HModel_free(&model, false);
        ok = false;
        continue;
      }
      // The ratio as list states it: the text's size by the compressed file's.
      HPrint_modelInfos(&model, body_length, text_length, rule);
      HLog_report("\n Overall compressed file length = %d, ratio = %.3f (text size by compressed size)\n\n",
                  length, length > 0 ? static_cast<double>(text_length) / length : 0.0);
      if (verbose) HDictionary_print(&model.dictionary, &model, true);
      HModel_free(&model, false);
      if (std::fflush(HLog_reportStream()) != 0 || std::ferror(HLog_reportStream())) return OutputFailed(errno);
    } catch (const HFatalFailure& failure) {
      std::string what = failure.what();
      while (!what.empty() && what.back() == '\n') what.pop_back();
      std::fprintf(stderr, "moravine: %s: not a valid compressed file: %s\n", input.name().c_str(), what.c_str());
      ok = false;
    }
  }
  return ok ? 0 : 1;
}

// The paths: those given, then those listed in --files-from. Returns -1 to
// go on, or the exit status.
int GatherPaths(CommandLine* line) {
  bool stdin_path = false;
  for (const std::string& path : line->paths) stdin_path = stdin_path || path == "-";
  if (!line->files_from.empty()) {
    if (line->files_from == "-" && stdin_path) {
      return UsageError("standard input cannot hold both the list of --files-from and a file ('-')");
    }
    std::string error;
    if (!moravine::cli::ReadFileList(line->files_from, line->null_separated, &line->paths, &error)) {
      std::fprintf(stderr, "moravine: cannot read the list %s: %s\n",
                   line->files_from == "-" ? "on standard input" : line->files_from.c_str(), error.c_str());
      return 2;
    }
    if (line->paths.empty()) return 0;  // an empty list: nothing to do
  } else if (line->null_separated) {
    return UsageError("--null goes with --files-from");
  }
  if (line->paths.empty()) return UsageError("no files given");
  if (stdin_path && (line->is("remove-compressed") || line->is("remove-original"))) {
    return UsageError("'-' (standard input) is not taken by " + line->command);
  }
  if (line->is("compress") && (line->to_stdout || stdin_path) && line->paths.size() != 1) {
    return UsageError("compressing to standard output takes one file");
  }
  return -1;
}

// Whether the command works on standard streams, without the batch core.
bool StreamCommand(const CommandLine& line) {
  bool stdin_path = std::find(line.paths.begin(), line.paths.end(), "-") != line.paths.end();
  bool streams = line.to_stdout || stdin_path;
  return ((line.is("compress") || line.is("decompress")) && streams) || line.is("cat") || line.is("test") ||
         line.is("list");
}

// The log: reports and diagnostics to --log; without it, reports go nowhere
// (info prints its report itself) and the library's diagnostics too: each
// failure's message carries the library's text, after its file's name.
// Returns false, having said why, when the log file cannot be opened.
bool OpenLog(const CommandLine& line, FILE** log) {
  FILE* null = moravine::OpenNullStream();
  HLog_setDiscarded(null);
  if (line.log_path.empty()) {
    HLog_setStreams(line.is("info") ? stdout : null, null);
    return true;
  }
  *log = moravine::OpenStream(line.log_path, "w");
  if (!*log) {
    std::fprintf(stderr, "moravine: cannot open the log file %s: %s\n", line.log_path.c_str(), std::strerror(errno));
    return false;
  }
  std::setvbuf(*log, nullptr, _IONBF, 0);
  HLog_setStreams(*log, *log);
  return true;
}

int RunStreamCommand(const CommandLine& line) {
  if (line.is("compress")) {
    const bool quiet = line.quiet || !moravine::IsTerminal(moravine::StandardStream::kError);
    int status = moravine::cli::CompressToStdout(line.paths[0], HRule_of(line.unicode, !line.words), line.distance,
                                                 line.force, line.threads, quiet);
    return Stopped() ? StoppedStatus() : status;
  }
  int status = line.is("test")   ? moravine::cli::TestFiles(line.paths, line.verbose)
               : line.is("list") ? moravine::cli::ListFiles(line.paths, line.list_format == "json")
                                 : moravine::cli::DecompressToStdout(line.paths);
  return Stopped() && status < 128 ? StoppedStatus() : status;
}

// The search's word and settings, given to the window; -1 to go on, or the
// exit status.
int SetUpSearch(const CommandLine& line, moravine::ConsoleWindow* window) {
  if (line.word.empty() || line.word.size() > 998) {
    return UsageError("the search word must hold 1 to 998 bytes");
  }
  // The bundled matcher runs in process: no program to start.
  if (!moravine::AgrepIsBundled() && !moravine::AgrepStarts()) {
    std::fprintf(stderr, "moravine: agrep cannot be started (%s); it is installed beside moravine, or "
                 "MORAVINE_AGREP names another\n", moravine::AgrepProgram().c_str());
    return 2;
  }
  window->setSearch(line.word, std::to_string(line.errors));
  moravine::SearchSettings settings;
  moravine::RowStyle style;
  style.lines = line.whole_lines || line.before > 0 || line.after > 0;
  style.context = line.before > 0 || line.after > 0;
  style.line_numbers = line.line_numbers;
  style.byte_offsets = line.byte_offsets;
  settings.ignore_case = line.ignore_case;
  settings.literal = line.fixed_strings;
  settings.line_numbers = line.line_numbers || style.lines;
  settings.text_offsets = line.byte_offsets;
  settings.max_hits = line.list_files ? 1 : line.max_count;
  settings.positions_only = line.list_files || line.count_hits;
  settings.threads = line.jobs;
  settings.rows.left_words = line.context_words;
  settings.rows.right_words = line.context_words + 1;
  settings.rows.whole_line = style.lines;
  settings.rows.lines_before = line.before;
  settings.rows.lines_after = line.after;
  window->setSearchSettings(settings, style,
                            line.list_files   ? moravine::ConsoleWindow::Listing::kFiles
                            : line.count_hits ? moravine::ConsoleWindow::Listing::kCounts
                                              : moravine::ConsoleWindow::Listing::kRows);
  return -1;
}

// compress, decompress, the removals and search: the batch core's commands.
int RunBatchCommand(CommandLine& line, bool has_log) {
  JobType type = line.is("compress")            ? moravine::JOB_COMPRESS
                 : line.is("decompress")        ? moravine::JOB_DECOMPRESS
                 : line.is("remove-compressed") ? moravine::JOB_REMOVE_COMPRESSED
                 : line.is("remove-original")   ? moravine::JOB_REMOVE_ORIGINAL
                                                : moravine::JOB_SEARCH;
  moravine::RowFormat format = line.format == "tsv"    ? moravine::RowFormat::kTsv
                               : line.format == "json" ? moravine::RowFormat::kJson
                                                       : moravine::RowFormat::kText;
  moravine::ConsoleWindow window(line.quiet, format, has_log);
  window.setVerbose(line.verbose);
  const char* no_colour = std::getenv("NO_COLOR");
  if (line.colour != "auto") window.setColour(line.colour == "always");
  else if (no_colour && *no_colour) window.setColour(false);
  window.setOnOutputFailure([] { moravine::RequestStop(moravine::StopCause::kClosedOutput); });
  window.setStopFlag(&moravine::cli::g_stop_requested);
  if (type == moravine::JOB_SEARCH) {
    if (int status = SetUpSearch(line, &window); status >= 0) return status;
    if (std::find(line.paths.begin(), line.paths.end(), "-") != line.paths.end()) {
      // Standard input first, then the files and folders.
      moravine::cli::SearchStandardInput(&window);
      line.paths.erase(std::remove(line.paths.begin(), line.paths.end(), "-"), line.paths.end());
    }
  }
  if (!line.paths.empty()) RunBatches(type, line.paths, line, &window);
  if (window.outputError() != 0) return OutputFailed(window.outputError());
  if (Stopped()) return StoppedStatus();
  if (type == moravine::JOB_SEARCH) return window.problems() > 0 ? 2 : window.rows() > 0 ? 0 : 1;
  return window.problems() > 0 ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  // In UTF-8, whatever the system's code page; the pointers lead into it.
  std::vector<std::string> arguments = moravine::StartConsoleProgram(argc, argv);
  std::vector<char*> argument_pointers;
  for (std::string& argument : arguments) argument_pointers.push_back(argument.data());
  moravine::PrependProgramDirectoryToPath();
  moravine::UseLargePagesForLargeBuffers();
  moravine::WatchStopRequests(StopEverything, kStopGraceMilliseconds);

  CommandLine line;
  if (int status = moravine::cli::ParseCommandLine(static_cast<int>(argument_pointers.size()), argument_pointers.data(), &line); status >= 0) return status;
  if (int status = GatherPaths(&line); status >= 0) return status;
  FILE* log = nullptr;
  if (!OpenLog(line, &log)) return 2;
  int status;
  if (StreamCommand(line)) {
    status = RunStreamCommand(line);
  } else if (line.is("info")) {
    status = Info(line.paths, line.info_verbose);
    if (Stopped()) status = StoppedStatus();
  } else {
    status = RunBatchCommand(line, log != nullptr);
  }
  if (log) std::fclose(log);
  return status;
}
