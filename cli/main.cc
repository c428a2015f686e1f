// moravine: compress, decompress, remove and search text files and whole
// folders from the command line. A thin layer over the batch core that the
// desktop window uses too.
#include <CLI/CLI.hpp>

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
#include "platform/large_pages.h"
#include "platform/system_search_host.h"
#include "wordmodel/hhashtable.h"
#include "wordmodel/hlog.h"
#include "wordmodel/hreport.h"
#include "wordmodel/hrule.h"
#include "wordmodel/hmodel_free.h"

namespace {

using moravine::CMainDlg;
using moravine::JobType;

// The most errors a search allows: a search word holds at most 998 bytes.
constexpr int kMaxErrors = 998;

struct BatchOptions {
  bool spaceless = true;
  int distance = 128;
  int jobs = 1;
  int threads = 1;  // threads of one compression
  std::string word;
  std::string errors;
  bool force = false;  // outputs may replace existing files
  bool unicode = false;  // the Unicode models
};

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
void RunBatches(JobType type, const std::vector<std::string>& paths, const BatchOptions& options,
                moravine::ConsoleWindow* window) {
  SortedFileSystem fs;
  // Never read: the command line shows no tree, and its paths are looked
  // up one by one (LookUpPath).
  moravine::TreeModel tree(&fs);
  moravine::SystemSearchHost host;
  moravine::DetachedThreadStarter threads;
  moravine::MainServices services{window, &tree, &fs, &threads, &host, {CompressJob, DecompressJob, SearchJob}};
  CMainDlg dlg(services, true, options.jobs);
  host.setCancelFlag(dlg.cancelFlag());
  dlg.setOptions(options.spaceless, options.distance);
  dlg.setUnicode(options.unicode);
  dlg.setCompressThreads(options.threads);
  if (!options.force) dlg.setJobCheck([window](const std::string& path, JobType type) {
    return moravine::cli::MayWrite(path, type, window);
  });
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
    moravine::cli::RunCommandOnItem(dlg, type, item, given, options.force, window);
    dlg.WaitUntilIdle();
    window->flushResults();
  }
}

using moravine::cli::OutputFailed;

// A usage error: one line that names the problem, and where to look.
int UsageError(const std::string& text) {
  std::fprintf(stderr, "moravine: %s\nTry 'moravine --help' for more information.\n", text.c_str());
  return 2;
}

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
      HPrint_globalInfos(&model, body_length, text_length, length, rule, verbose ? 2 : 1);
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

}  // namespace

int main(int argc, char** argv) {
  // In UTF-8, whatever the system's code page; the pointers lead into it.
  const std::vector<std::string> arguments = moravine::StartConsoleProgram(argc, argv);
  std::vector<const char*> argument_pointers;
  for (const std::string& argument : arguments) argument_pointers.push_back(argument.c_str());
  moravine::PrependProgramDirectoryToPath();
  moravine::UseLargePagesForLargeBuffers();
  moravine::WatchStopRequests(StopEverything, kStopGraceMilliseconds);

  CLI::App app{"Moravine: word-based compression of text files, searchable without decompressing.\n"
               "compress, decompress, search and the removals take files and folders, walked with everything\n"
               "below them; cat, test, list and info take files. '-' is standard input.",
               "moravine"};
  app.require_subcommand(1);
  // Global options may come after the command too.
  app.fallthrough();
  app.set_version_flag("--version", "moravine 1.0");
  bool quiet = false;
  std::string log_path;
  BatchOptions options;
  unsigned cores = std::thread::hardware_concurrency();
  options.jobs = cores > 0 ? static_cast<int>(cores) : 1;
  options.threads = options.jobs;
  app.add_flag("-q,--quiet", quiet, "No status texts or progress bar");
  app.add_option("--log", log_path, "Write the log (job headers, statistics, diagnostics) to this file");
  app.add_option("-j,--jobs", options.jobs, "Jobs that run at the same time (default: the number of cores)")
      ->check(CLI::Range(1, 256));
  std::string colour = "auto";
  app.add_option("--color,--colour", colour, "Colour the hits of text rows: auto (on a terminal, unless NO_COLOR is "
                 "set), always or never")
      ->check(CLI::IsMember({"auto", "always", "never"}));

  std::vector<std::string> paths;
  std::string files_from;
  bool null_separated = false;
  bool to_stdout = false;
  auto add_list = [&](CLI::App* cmd) {
    cmd->add_option("--files-from", files_from, "Also work on the paths listed in FILE, one a line ('-': standard "
                    "input)")->option_text("FILE");
    cmd->add_flag("--null", null_separated, "The names of --files-from are separated by NUL bytes");
  };
  auto add_paths = [&](CLI::App* cmd, const char* what, const char* name = "PATH") {
    cmd->add_option(name, paths, what);
    add_list(cmd);
  };
  auto add_output = [&](CLI::App* cmd) {
    cmd->add_flag("-f,--force", options.force, "Replace existing output files");
    cmd->add_flag("-c,--stdout", to_stdout, "Write to standard output and keep the input");
  };

  CLI::App* compress = app.add_subcommand("compress", "Compress each file to FILE.hwz");
  bool spaceless_flag = false;
  bool words_flag = false;
  auto* spaceless = compress->add_flag("--spaceless", spaceless_flag,
                                       "Spaceless model: single blanks between words are implied (default)");
  auto* words = compress->add_flag("--words", words_flag, "Words-and-separators model: every token is coded");
  spaceless->excludes(words);
  bool unicode_flag = false;
  compress->add_flag("--unicode", unicode_flag,
                     "Unicode words: letters, marks and numbers of every script are words (with --spaceless or "
                     "--words); the file also holds a checksum of its text");
  compress->add_option("--distance", options.distance,
                       "Auxiliary pointer distance of the words-and-separators model (0 or less: none)")
      ->default_val(128);
  compress->add_option("-T,--threads", options.threads,
                       "Threads that compress one file (default: the number of cores); the output is the same "
                       "whatever the number")
      ->check(CLI::Range(1, 256));
  add_paths(compress, "Files and folders to compress ('-': standard input to standard output)");
  add_output(compress);

  CLI::App* decompress = app.add_subcommand("decompress", "Decompress each FILE.hwz to FILE");
  add_paths(decompress, "Compressed files and folders ('-': standard input to standard output)");
  add_output(decompress);
  CLI::App* cat = app.add_subcommand("cat", "Decompress each FILE.hwz to standard output");
  add_paths(cat, "Compressed files ('-': standard input)", "FILE");
  CLI::App* test = app.add_subcommand("test", "Check that compressed files are complete and decode whole");
  bool test_verbose = false;
  test->add_flag("-v,--verbose", test_verbose, "Print a line for each good file too");
  add_paths(test, "Compressed files ('-': standard input)", "FILE");
  CLI::App* list = app.add_subcommand("list", "A table of compressed files: sizes, ratio, model, tokens");
  std::string list_format = "table";
  list->add_option("--format", list_format, "table (default) or json (one object per line)")
      ->check(CLI::IsMember({"table", "json"}));
  add_paths(list, "Compressed files ('-': standard input)", "FILE");
  CLI::App* remove_compressed =
      app.add_subcommand("remove-compressed", "Remove each FILE.hwz whose original FILE is present");
  add_paths(remove_compressed, "Compressed files and folders");
  CLI::App* remove_original = app.add_subcommand(
      "remove-original", "Remove each FILE whose FILE.hwz is present and holds exactly its text");
  add_paths(remove_original, "Files and folders");

  CLI::App* search = app.add_subcommand("search", "Search compressed files for a word, exactly or with errors");
  int errors = 0;
  std::string format_name = "text";
  search->add_option("-e,--errors", errors, "Number of errors allowed (insertions, deletions, substitutions)")
      ->check(CLI::Validator(
          [](std::string& value) -> std::string {
            int n = -1;
            size_t used = 0;
            try {
              n = std::stoi(value, &used);
            } catch (const std::exception&) {
              used = 0;
            }
            if (used == value.size() && n >= 0 && n <= kMaxErrors) return std::string();
            return "the number of errors must be a whole number from 0 to " + std::to_string(kMaxErrors) +
                   ", not '" + value + "'";
          },
          "0.." + std::to_string(kMaxErrors)));
  search->add_option("--format", format_name, "Rows as text (default), tsv or json (one object per line)")
      ->check(CLI::IsMember({"text", "tsv", "json"}));
  bool ignore_case = false, line_numbers = false, whole_lines = false, byte_offsets = false;
  bool list_files = false, count_hits = false;
  int before = 0, after = 0, around = 0, max_count = 0, context_words = 3;
  search->add_flag("-i,--ignore-case", ignore_case,
                   "Letters match in either case (in files of the Unicode models by Unicode case folding, accents "
                   "of Latin, Greek and Cyrillic letters ignored)");
  bool fixed_strings = false;
  search->add_flag("-F,--fixed-strings", fixed_strings, "Take WORD as it stands: no pattern characters");
  search->add_flag("-n,--line-number", line_numbers, "Show the line number of each hit");
  search->add_flag("--lines", whole_lines, "Show the whole line of each hit, like grep");
  auto* after_opt = search->add_option("-A,--after-context", after, "Show NUM lines after each hit's line")
      ->check(CLI::Range(0, 10000));
  auto* before_opt = search->add_option("-B,--before-context", before, "Show NUM lines before each hit's line")
      ->check(CLI::Range(0, 10000));
  auto* around_opt = search->add_option("-C,--context", around, "Show NUM lines before and after each hit's line")
      ->check(CLI::Range(0, 10000));
  search->add_flag("-b,--byte-offset", byte_offsets, "Show the offset of each hit in the original text");
  auto* list_opt = search->add_flag("-l,--files-with-matches", list_files, "Print only the files that have hits");
  auto* count_opt = search->add_flag("-c,--count", count_hits, "Print the files that have hits with their number");
  list_opt->excludes(count_opt);
  search->add_option("-m,--max-count", max_count, "Stop each file after NUM hits")->check(CLI::Range(1, 1 << 30));
  search->add_option("--context-words", context_words, "Words shown on either side of a hit (default 3)")
      ->check(CLI::Range(0, 1000));
  search->add_option("WORD", options.word, "The word; regular-expression characters are passed on to agrep")
      ->required();
  add_paths(search, "Compressed files and folders");

  bool info_verbose = false;
  CLI::App* info = app.add_subcommand("info", "Print the statistics report of compressed files");
  info->add_flag("-v,--verbose", info_verbose, "Add the dictionary listing");
  add_paths(info, "Compressed files (.hwz; '-': standard input)", "FILE");

  try {
    app.parse(static_cast<int>(argument_pointers.size()), argument_pointers.data());
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    // An option that nobody knows is the likelier mistake than the missing
    // command that the parser noticed first.
    std::vector<std::string> left = app.remaining();
    for (const std::string& arg : left) {
      if (arg.size() > 1 && arg[0] == '-') return UsageError("unknown option '" + arg + "'");
    }
    return UsageError(e.what());
  }

  // The paths: those given, then those listed in --files-from.
  bool stdin_path = false;
  for (const std::string& path : paths) stdin_path = stdin_path || path == "-";
  if (!files_from.empty()) {
    if (files_from == "-" && stdin_path) {
      return UsageError("standard input cannot hold both the list of --files-from and a file ('-')");
    }
    std::string error;
    if (!moravine::cli::ReadFileList(files_from, null_separated, &paths, &error)) {
      std::fprintf(stderr, "moravine: cannot read the list %s: %s\n",
                   files_from == "-" ? "on standard input" : files_from.c_str(), error.c_str());
      return 2;
    }
    if (paths.empty()) return 0;  // an empty list: nothing to do
  } else if (null_separated) {
    return UsageError("--null goes with --files-from");
  }
  if (paths.empty()) return UsageError("no files given");
  bool streams = to_stdout || stdin_path;
  if (stdin_path && (*remove_compressed || *remove_original)) {
    return UsageError(std::string("'-' (standard input) is not taken by ") +
                      (*remove_compressed ? "remove-compressed" : "remove-original"));
  }
  if (*compress && streams && paths.size() != 1) {
    return UsageError("compressing to standard output takes one file");
  }

  // The log: reports and diagnostics to --log; without it, diagnostics go to
  // standard error and reports nowhere (info prints its report itself).
  FILE* log = nullptr;
  FILE* null = moravine::OpenNullStream();
  HLog_setDiscarded(null);
  if (!log_path.empty()) {
    log = moravine::OpenStream(log_path, "w");
    if (!log) {
      std::fprintf(stderr, "moravine: cannot open the log file %s: %s\n", log_path.c_str(), std::strerror(errno));
      return 2;
    }
    std::setvbuf(log, nullptr, _IONBF, 0);
    HLog_setStreams(log, log);
  } else {
    HLog_setStreams(*info ? stdout : null, stderr);
  }
  // These commands tell their failures themselves; the library's
  // diagnostics go to the log alone.
  if (!log && ((*compress && streams) || *cat || (*decompress && streams) || *test || *list)) {
    HLog_setStreams(null, null);
  }
  if (*compress && streams) {
    int status = moravine::cli::CompressToStdout(paths[0], HRule_of(unicode_flag, !words_flag), options.distance,
                                                 options.force, options.threads, quiet);
    return Stopped() ? StoppedStatus() : status;
  }
  if (*cat || (*decompress && streams) || *test || *list) {
    int status = *test   ? moravine::cli::TestFiles(paths, test_verbose)
                 : *list ? moravine::cli::ListFiles(paths, list_format == "json")
                         : moravine::cli::DecompressToStdout(paths);
    return Stopped() && status < 128 ? StoppedStatus() : status;
  }
  if (*info) {
    int status = Info(paths, info_verbose);
    return Stopped() ? StoppedStatus() : status;
  }

  JobType type = *compress            ? moravine::JOB_COMPRESS
                 : *decompress        ? moravine::JOB_DECOMPRESS
                 : *remove_compressed ? moravine::JOB_REMOVE_COMPRESSED
                 : *remove_original   ? moravine::JOB_REMOVE_ORIGINAL
                                      : moravine::JOB_SEARCH;
  options.spaceless = !words_flag;
  options.unicode = unicode_flag;
  moravine::RowFormat format = format_name == "tsv"    ? moravine::RowFormat::kTsv
                               : format_name == "json" ? moravine::RowFormat::kJson
                                                       : moravine::RowFormat::kText;
  moravine::ConsoleWindow window(quiet, format, log != nullptr);
  const char* no_colour = std::getenv("NO_COLOR");
  if (colour != "auto") window.setColour(colour == "always");
  else if (no_colour && *no_colour) window.setColour(false);
  window.setOnOutputFailure([] { moravine::RequestStop(moravine::StopCause::kClosedOutput); });
  window.setStopFlag(&moravine::cli::g_stop_requested);
  if (type == moravine::JOB_SEARCH) {
    if (options.word.empty() || options.word.size() > 998) {
      return UsageError("the search word must hold 1 to 998 bytes");
    }
    // The bundled matcher runs in process: no program to start.
    if (!moravine::AgrepIsBundled() && !moravine::AgrepStarts()) {
      std::fprintf(stderr, "moravine: agrep cannot be started (%s); it is installed beside moravine, or "
                   "MORAVINE_AGREP names another\n", moravine::AgrepProgram().c_str());
      return 2;
    }
    window.setSearch(options.word, std::to_string(errors));
    moravine::SearchSettings settings;
    moravine::RowStyle style;
    if (*around_opt) {
      if (!*before_opt) before = around;
      if (!*after_opt) after = around;
    }
    style.lines = whole_lines || before > 0 || after > 0;
    style.context = before > 0 || after > 0;
    style.line_numbers = line_numbers;
    style.byte_offsets = byte_offsets;
    settings.ignore_case = ignore_case;
    settings.literal = fixed_strings;
    settings.line_numbers = line_numbers || style.lines;
    settings.text_offsets = byte_offsets;
    settings.max_hits = list_files ? 1 : max_count;
    settings.positions_only = list_files || count_hits;
    settings.threads = options.jobs;
    settings.rows.left_words = context_words;
    settings.rows.right_words = context_words + 1;
    settings.rows.whole_line = style.lines;
    settings.rows.lines_before = before;
    settings.rows.lines_after = after;
    window.setSearchSettings(settings, style,
                             list_files   ? moravine::ConsoleWindow::Listing::kFiles
                             : count_hits ? moravine::ConsoleWindow::Listing::kCounts
                                          : moravine::ConsoleWindow::Listing::kRows);
  }

  if (type == moravine::JOB_SEARCH && stdin_path) {
    // Standard input first, then the files and folders.
    moravine::cli::SearchStandardInput(&window);
    paths.erase(std::remove(paths.begin(), paths.end(), "-"), paths.end());
  }
  if (!paths.empty()) RunBatches(type, paths, options, &window);
  if (log) std::fclose(log);
  if (window.outputError() != 0) return OutputFailed(window.outputError());
  if (Stopped()) return StoppedStatus();
  if (type == moravine::JOB_SEARCH) return window.problems() > 0 ? 2 : window.rows() > 0 ? 0 : 1;
  return window.problems() > 0 ? 1 : 0;
}
