// The command line's arguments: the commands and their options, the habits
// of gzip and zstd users (-d for decompress, -k, -r), "help COMMAND", and
// the usage errors, which name what was wrong and exit with status 2.
#ifndef MORAVINE_CLI_COMMAND_LINE_H_
#define MORAVINE_CLI_COMMAND_LINE_H_

#include <string>
#include <vector>

namespace moravine::cli {

struct CommandLine {
  // The command, as it is typed ("compress", "search", ...).
  std::string command;

  // Options of every command.
  bool quiet = false;
  bool verbose = false;  // a line for each file done (compress, decompress, test)
  std::string log_path;
  std::string colour = "auto";
  int jobs = 1;
  int threads = 1;  // threads of one compression

  // The paths, and where more are listed.
  std::vector<std::string> paths;
  std::string files_from;
  bool null_separated = false;

  // Compress and decompress.
  bool words = false;
  bool unicode = false;
  int distance = 128;
  bool force = false;   // outputs may replace existing files
  bool update = false;  // files whose output is up to date are left out; older outputs are replaced
  bool to_stdout = false;

  std::string list_format = "table";
  bool info_verbose = false;  // info: the dictionary listing

  // Search.
  std::string word;
  int errors = 0;
  std::string format = "text";
  bool ignore_case = false;
  bool fixed_strings = false;
  bool line_numbers = false;
  bool whole_lines = false;
  bool byte_offsets = false;
  bool list_files = false;
  bool count_hits = false;
  int before = 0;
  int after = 0;
  int max_count = 0;
  int context_words = 3;

  bool is(const char* name) const { return command == name; }
};

// Reads the arguments into *line. Returns -1 when the program goes on;
// otherwise the exit status after help or the version was printed (0) or
// a usage error was told (2).
int ParseCommandLine(int argc, char** argv, CommandLine* line);

// Tells a usage error in one line, with where to look; returns 2.
int UsageError(const std::string& text);

// The command nearest to a mistyped one, or empty when none is near.
std::string NearestCommand(const std::string& typed, const std::vector<std::string>& commands);

}  // namespace moravine::cli

#endif  // MORAVINE_CLI_COMMAND_LINE_H_
