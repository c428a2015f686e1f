// The commands that work on standard streams and on single compressed files
// without the batch core: compression to and from standard output, cat,
// test and list, and the reading of file lists.
#ifndef MORAVINE_CLI_COMMANDS_H_
#define MORAVINE_CLI_COMMANDS_H_

#include <atomic>
#include <string>
#include <vector>

namespace moravine {
class ConsoleWindow;
}

namespace moravine::cli {

// Reports a failed write to standard output and gives the exit status: a
// reader that went away is told by the status alone (141, as after SIGPIPE),
// any other failure by a message and 2.
int OutputFailed(int error);

// Set on a request to stop (to its StopCause): the commands stop between
// files when it is not 0.
extern std::atomic<int> g_stop_signal;
// Set with g_stop_signal, for the loops that look at a cancel flag.
extern std::atomic<bool> g_stop_requested;

// Compresses one file ("-": standard input) to standard output with the
// parsing rule's model. A terminal
// does not receive compressed bytes unless `force`. Returns the exit status.
int CompressToStdout(const std::string& path, int rule, int distance, bool force, int threads, bool quiet);

// Decodes each compressed file ("-": standard input) to standard output, one
// after the other. Returns the exit status.
int DecompressToStdout(const std::vector<std::string>& paths);

// Searches standard input, read whole as one compressed file, with the
// window's word, errors and settings; its rows go to the window under the
// name "(standard input)", its failures to standard error.
void SearchStandardInput(moravine::ConsoleWindow* window);

// Checks that each file is a complete, decodable compressed file whose text
// has the length its header states; writes nothing. Failures are told on
// standard error; `verbose` adds a line per good file on standard output.
// Returns 0 when every file passed, 1 otherwise.
int TestFiles(const std::vector<std::string>& paths, bool verbose);

// A table of compressed files: compressed size, text size, ratio, model,
// distinct tokens and name; or one JSON object per line.
int ListFiles(const std::vector<std::string>& paths, bool json);

// Reads the names listed in `source` ("-": standard input), one a line, or
// separated by NUL bytes when `null_separated`. Empty names are skipped.
bool ReadFileList(const std::string& source, bool null_separated, std::vector<std::string>* names,
                  std::string* error);

}  // namespace moravine::cli

#endif  // MORAVINE_CLI_COMMANDS_H_
