#include "cli/command_line.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <set>
#include <thread>

namespace moravine::cli {

namespace {

// The most errors a search allows: a search word holds at most 998 bytes.
constexpr int kMaxErrors = 998;

// Global options that take a value in the next argument.
bool TakesValue(const std::string& arg) {
  return arg == "-j" || arg == "--jobs" || arg == "--log" || arg == "--color" || arg == "--colour";
}

// Whether an argument before the command is a global option (with its
// value joined to it, as in -j2 or --log=FILE, or in the next argument).
bool GlobalOption(const std::string& arg) {
  for (const char* flag : {"-q", "--quiet", "-v", "--verbose", "--version", "-h", "--help"}) {
    if (arg == flag) return true;
  }
  for (const char* joined : {"--jobs=", "--log=", "--color=", "--colour="}) {
    if (arg.rfind(joined, 0) == 0) return true;
  }
  return TakesValue(arg) || (arg.size() > 2 && arg.compare(0, 2, "-j") == 0);
}

void AddGlobalOptions(CLI::App& app, CommandLine* line) {
  app.require_subcommand(1);
  // Global options may come after the command too.
  app.fallthrough();
  app.set_version_flag("--version", "moravine 1.0");
  unsigned cores = std::thread::hardware_concurrency();
  line->jobs = cores > 0 ? static_cast<int>(cores) : 1;
  line->threads = line->jobs;
  app.add_flag("-q,--quiet", line->quiet, "No status texts, progress bar or hints");
  app.add_flag("-v,--verbose", line->verbose,
               "A line on standard error for each file compressed or decompressed (test: for each good file)");
  app.add_option("--log", line->log_path, "Write the log (job headers, statistics, diagnostics) to this file");
  app.add_option("-j,--jobs", line->jobs, "Jobs that run at the same time (default: the number of cores)")
      ->check(CLI::Range(1, 256));
  app.add_option("--color,--colour", line->colour,
                 "Colour the hits of text rows: auto (on a terminal, unless NO_COLOR is set), always or never")
      ->check(CLI::IsMember({"auto", "always", "never"}));
  app.footer("'moravine help COMMAND' shows the options of one command.");
}

void AddPaths(CLI::App* cmd, CommandLine* line, const char* what, const char* name = "PATH") {
  cmd->add_option(name, line->paths, what);
  cmd->add_option("--files-from", line->files_from,
                  "Also work on the paths listed in FILE, one a line ('-': standard input)")
      ->option_text("FILE");
  cmd->add_flag("--null", line->null_separated, "The names of --files-from are separated by NUL bytes");
}

// What compress and decompress share: the outputs and gzip's habits.
void AddOutputOptions(CLI::App* cmd, CommandLine* line) {
  auto* force = cmd->add_flag("-f,--force", line->force, "Replace existing output files");
  auto* update = cmd->add_flag("-u,--update", line->update,
                               "Leave out each file whose output exists and is at least as new as it; "
                               "replace older outputs");
  force->excludes(update);
  cmd->add_flag("-c,--stdout", line->to_stdout, "Write to standard output and keep the input");
  cmd->add_flag("-k,--keep")->description("Keep the input files (always done; accepted for gzip's sake)");
  cmd->add_flag("-r,--recursive")->description("Walk folders (always done; accepted for gzip's sake)");
}

void AddCompressCommands(CLI::App& app, CommandLine* line) {
  CLI::App* compress = app.add_subcommand("compress", "Compress each file to FILE.hwz");
  auto* spaceless = compress->add_flag("--spaceless")->description(
      "Spaceless model: single blanks between words are implied (default)");
  auto* words = compress->add_flag("--words", line->words, "Words-and-separators model: every token is coded");
  spaceless->excludes(words);
  compress->add_flag("--unicode", line->unicode,
                     "Unicode words: letters, marks and numbers of every script are words (with --spaceless or "
                     "--words); the file also holds a checksum of its text");
  compress->add_option("--distance", line->distance,
                       "Auxiliary pointer distance of the words-and-separators model (0 or less: none)")
      ->default_val(128);
  compress->add_option("-T,--threads", line->threads,
                       "Threads that compress one file (default: the number of cores); the output is the same "
                       "whatever the number")
      ->check(CLI::Range(1, 256));
  AddPaths(compress, line, "Files and folders to compress ('-': standard input to standard output)");
  AddOutputOptions(compress, line);

  CLI::App* decompress = app.add_subcommand("decompress", "Decompress each FILE.hwz to FILE (also: -d)");
  AddPaths(decompress, line, "Compressed files and folders ('-': standard input to standard output)");
  AddOutputOptions(decompress, line);
}

void AddFileCommands(CLI::App& app, CommandLine* line) {
  CLI::App* cat = app.add_subcommand("cat", "Decompress each FILE.hwz to standard output");
  AddPaths(cat, line, "Compressed files ('-': standard input)", "FILE");
  CLI::App* test = app.add_subcommand("test", "Check that compressed files are complete and decode whole");
  test->add_flag("-v,--verbose", line->verbose, "Print a line for each good file too");
  AddPaths(test, line, "Compressed files ('-': standard input)", "FILE");
  CLI::App* list = app.add_subcommand("list", "A table of compressed files: sizes, ratio, model, tokens");
  list->add_option("--format", line->list_format, "table (default) or json (one object per line)")
      ->check(CLI::IsMember({"table", "json"}));
  AddPaths(list, line, "Compressed files ('-': standard input)", "FILE");
  for (const char* name : {"remove-compressed", "remove-original"}) {
    const bool compressed = name[7] == 'c';
    CLI::App* remove = app.add_subcommand(name, compressed ? "Remove each FILE.hwz whose original FILE is present"
                                                           : "Remove each FILE whose FILE.hwz is present and "
                                                             "holds exactly its text");
    AddPaths(remove, line, compressed ? "Compressed files and folders" : "Files and folders");
    remove->add_flag("-r,--recursive")->description("Walk folders (always done)");
  }
  CLI::App* info = app.add_subcommand("info", "Print the statistics report of compressed files");
  info->add_flag("-v,--verbose", line->info_verbose, "Add the dictionary listing");
  AddPaths(info, line, "Compressed files (.hwz; '-': standard input)", "FILE");
}

std::string ErrorsAllowed(std::string& value) {
  int n = -1;
  size_t used = 0;
  try {
    n = std::stoi(value, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == value.size() && n >= 0 && n <= kMaxErrors) return std::string();
  return "the number of errors must be a whole number from 0 to " + std::to_string(kMaxErrors) + ", not '" +
         value + "'";
}

// The search's options; the counts of -A, -B and -C go to `given`, and
// grep's -v, which search refuses, to given[3].
void AddSearch(CLI::App& app, CommandLine* line, int* around, CLI::Option* given[4]) {
  CLI::App* search = app.add_subcommand("search", "Search compressed files for a word, exactly or with errors");
  // To a grep user -v means the lines without the word, which search does
  // not offer: taken as verbose, it would pass unnoticed.
  given[3] = search->add_flag("-v,--invert-match")->group("");
  search->add_option("-e,--errors", line->errors, "Number of errors allowed (insertions, deletions, substitutions)")
      ->check(CLI::Validator(ErrorsAllowed, "0.." + std::to_string(kMaxErrors)));
  search->add_option("--format", line->format, "Rows as text (default), tsv or json (one object per line)")
      ->check(CLI::IsMember({"text", "tsv", "json"}));
  search->add_flag("-i,--ignore-case", line->ignore_case,
                   "Letters match in either case (in files of the Unicode models by Unicode case folding, accents "
                   "of Latin, Greek and Cyrillic letters ignored)");
  search->add_flag("-F,--fixed-strings", line->fixed_strings, "Take WORD as it stands: no pattern characters");
  search->add_flag("-n,--line-number", line->line_numbers, "Show the line number of each hit");
  search->add_flag("--lines", line->whole_lines, "Show the whole line of each hit, like grep");
  given[0] = search->add_option("-A,--after-context", line->after, "Show NUM lines after each hit's line")
                 ->check(CLI::Range(0, 10000));
  given[1] = search->add_option("-B,--before-context", line->before, "Show NUM lines before each hit's line")
                 ->check(CLI::Range(0, 10000));
  given[2] = search->add_option("-C,--context", *around, "Show NUM lines before and after each hit's line")
                 ->check(CLI::Range(0, 10000));
  search->add_flag("-b,--byte-offset", line->byte_offsets, "Show the offset of each hit in the original text");
  auto* list = search->add_flag("-l,--files-with-matches", line->list_files, "Print only the files that have hits");
  auto* count = search->add_flag("-c,--count", line->count_hits, "Print the files that have hits with their number");
  list->excludes(count);
  search->add_option("-m,--max-count", line->max_count, "Stop each file after NUM hits")
      ->check(CLI::Range(1, 1 << 30));
  search->add_option("--context-words", line->context_words, "Words shown on either side of a hit (default 3)")
      ->check(CLI::Range(0, 1000));
  search->add_flag("-r,--recursive")->description("Walk folders (always done; accepted for grep's sake)");
  search->add_option("WORD", line->word, "The word; regular-expression characters are passed on to agrep")
      ->required();
  AddPaths(search, line, "Compressed files and folders");
}

size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

int UnknownCommand(const std::string& typed, const std::vector<std::string>& commands) {
  const std::string nearest = NearestCommand(typed, commands);
  std::string text = "unknown command '" + typed + "'";
  if (!nearest.empty()) return UsageError(text + "; did you mean '" + nearest + "'?");
  std::string all;
  for (const std::string& command : commands) all += (all.empty() ? "" : ", ") + command;
  return UsageError(text + " (the commands: " + all + ")");
}

// gzip's and zstd's habits and the help command, turned into what the
// parser takes: "-d" (or --decompress, or -d with other letters: -dc)
// before the command stands for the command decompress, put first; "help"
// or "help COMMAND" asks for the help. A command that nobody knows is told
// with the nearest one. Returns -1 to go on.
int Rewrite(std::vector<std::string>* args, const std::vector<std::string>& commands) {
  bool decompress = false;
  std::string misplaced;
  size_t at = 0;
  for (; at < args->size(); ++at) {
    std::string& arg = (*args)[at];
    if (arg == "--" || arg == "-" || arg.empty() || arg[0] != '-') break;
    if (arg == "-d" || arg == "--decompress") {
      decompress = true;
      args->erase(args->begin() + static_cast<long>(at--));
    } else if (arg.size() > 2 && arg[0] == '-' && arg[1] == 'd' &&
               arg.find_first_not_of("cfkqruv", 2) == std::string::npos) {
      decompress = true;
      arg.erase(1, 1);  // -dc: decompress -c
    } else if (TakesValue(arg)) {
      ++at;
    } else if (!GlobalOption(arg) && misplaced.empty()) {
      misplaced = arg;
    }
  }
  // Before -d, decompress's options stand as gzip takes them (-d -f);
  // before any other command, a command's option is out of place.
  if (!decompress && !misplaced.empty()) {
    return UsageError("unknown option '" + misplaced + "' before the command (a command's options come after it)");
  }
  const bool word = at < args->size() && (*args)[at] != "--";
  const std::string first = word ? (*args)[at] : std::string();
  const bool known = std::find(commands.begin(), commands.end(), first) != commands.end();
  if (decompress) {
    if (known) return UsageError("-d stands for the command decompress and takes no other command ('" + first + "')");
    args->insert(args->begin(), "decompress");
    return -1;
  }
  if (first == "help") {
    if (at + 1 >= args->size()) {
      *args = {"--help"};
    } else if (std::find(commands.begin(), commands.end(), (*args)[at + 1]) == commands.end()) {
      return UnknownCommand((*args)[at + 1], commands);
    } else {
      *args = {(*args)[at + 1], "--help"};
    }
    return -1;
  }
  if (word && !known) return UnknownCommand(first, commands);
  return -1;
}

// A path or search word that begins with '-' and came before any "--" was
// meant as an option that nobody knows (-9, say): the parser takes such an
// argument as a name when it looks like a negative number.
int UnknownOptionAmongNames(const std::vector<std::string>& args, const CommandLine& line) {
  const auto dashes = std::find(args.begin(), args.end(), "--");
  const std::set<std::string> after(dashes == args.end() ? dashes : dashes + 1, args.end());
  std::vector<std::string> names = line.paths;
  if (!line.word.empty()) names.push_back(line.word);
  for (const std::string& name : names) {
    if (name.size() > 1 && name[0] == '-' && !after.count(name)) return UsageError("unknown option '" + name + "'");
  }
  return -1;
}

}  // namespace

int UsageError(const std::string& text) {
  std::fprintf(stderr, "moravine: %s\nTry 'moravine --help' for more information.\n", text.c_str());
  return 2;
}

std::string NearestCommand(const std::string& typed, const std::vector<std::string>& commands) {
  std::string nearest;
  size_t best = 0;
  for (const std::string& command : commands) {
    const size_t distance = EditDistance(typed, command);
    if (nearest.empty() || distance < best) nearest = command, best = distance;
  }
  // Near: a slip of a key or two, or the start of a longer name.
  const bool prefix = typed.size() >= 3 && nearest.compare(0, typed.size(), typed) == 0;
  return best <= std::max<size_t>(1, typed.size() / 3) || prefix ? nearest : std::string();
}

int ParseCommandLine(int argc, char** argv, CommandLine* line) {
  CLI::App app{"Moravine: word-based compression of text files, searchable without decompressing.\n"
               "compress, decompress, search and the removals take files and folders, walked with everything\n"
               "below them; cat, test, list and info take files. '-' is standard input.",
               "moravine"};
  AddGlobalOptions(app, line);
  AddCompressCommands(app, line);
  AddFileCommands(app, line);
  int around = 0;
  CLI::Option* context[4] = {nullptr, nullptr, nullptr, nullptr};
  AddSearch(app, line, &around, context);
  std::vector<std::string> commands;
  for (const CLI::App* command : app.get_subcommands({})) commands.push_back(command->get_name());

  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  if (int status = Rewrite(&args, commands); status >= 0) return status;
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    // An option that nobody knows is the likelier mistake than the missing
    // command that the parser noticed first.
    for (const std::string& arg : app.remaining()) {
      if (arg.size() > 1 && arg[0] == '-') return UsageError("unknown option '" + arg + "'");
    }
    return UsageError(e.what());
  }
  for (const CLI::App* command : app.get_subcommands()) line->command = command->get_name();
  if (int status = UnknownOptionAmongNames(args, *line); status >= 0) return status;
  if (context[3]->count() > 0) {
    return UsageError("search has no -v: it shows where the word is, not the lines without it");
  }
  if (context[2]->count() > 0) {
    if (context[0]->count() == 0) line->after = around;
    if (context[1]->count() == 0) line->before = around;
  }
  return -1;
}

}  // namespace moravine::cli
