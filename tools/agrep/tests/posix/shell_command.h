// Running a command line through the system's shell on POSIX systems
// (/bin/sh): quoting an argument, and the exit status that std::system()
// reports.
#ifndef MORAVINE_TOOLS_AGREP_TESTS_SHELL_COMMAND_H_
#define MORAVINE_TOOLS_AGREP_TESTS_SHELL_COMMAND_H_

#include <sys/wait.h>

#include <cstdlib>
#include <string>

namespace agrep_test {

// The argument in single quotes, a quote in it as '\''.
inline std::string Quote(const std::string& argument) {
  std::string out = "'";
  for (char c : argument) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// The command's exit status, or -1 when it did not exit.
inline int RunShellCommand(const std::string& command) {
  const int raw = std::system(command.c_str());
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

}  // namespace agrep_test

#endif  // MORAVINE_TOOLS_AGREP_TESTS_SHELL_COMMAND_H_
