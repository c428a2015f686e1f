// Running a command line through the system's shell on Windows (cmd.exe):
// quoting an argument for the program's command-line parsing, and the exit
// status that std::system() reports.
#ifndef MORAVINE_TOOLS_AGREP_TESTS_SHELL_COMMAND_H_
#define MORAVINE_TOOLS_AGREP_TESTS_SHELL_COMMAND_H_

#include <cstdlib>
#include <string>

namespace agrep_test {

// The argument in double quotes, as CommandLineToArgvW and the C runtime
// read it back: a quote as \", and backslashes doubled where a quote follows
// them. Inside the quotes cmd.exe takes ^ < > | & as they are; the tests
// pass no %.
inline std::string Quote(const std::string& argument) {
  std::string out = "\"";
  size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    out.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    backslashes = 0;
    out += c;
  }
  out.append(2 * backslashes, '\\');
  return out + "\"";
}

// The command's exit status. cmd.exe /c strips the first and the last
// quote of a command line that starts with one: a pair around the whole
// line keeps the rest as written.
inline int RunShellCommand(const std::string& command) { return std::system(("\"" + command + "\"").c_str()); }

}  // namespace agrep_test

#endif  // MORAVINE_TOOLS_AGREP_TESTS_SHELL_COMMAND_H_
