// The window's log file: "Moravine.log" in the folder the program was
// started from when that folder is writable, otherwise in the user's state
// folder. The log is replaced at every start, but never through a symbolic
// link and never over a file that is not the user's own.
#ifndef MORAVINE_FRONTEND_LOG_FILE_H_
#define MORAVINE_FRONTEND_LOG_FILE_H_

#include <cstdio>
#include <functional>
#include <string>

namespace moravine::frontend {

inline constexpr char kLogName[] = "Moravine.log";

// $XDG_STATE_HOME/moravine when that variable holds an absolute path,
// otherwise $HOME/.local/state/moravine; empty when neither is known.
std::string StateFolder(const std::function<std::string(const char* name)>& environment);

// Creates FOLDER/Moravine.log, or empties the one there, and opens it for
// writing, unbuffered. Refuses (null, errno set) when the folder is not
// writable, or when the name holds anything but a regular file that
// belongs to the user and has no other name (a symbolic link, a hard link
// to another file, a pipe, another user's file): then nothing is touched.
FILE* CreateLogIn(const std::string& folder);

struct OpenedLog {
  FILE* stream = nullptr;  // null when no folder took the log
  std::string path;        // the log's path; the preferred one when none
};

// The log in `preferred` (the current folder) when CreateLogIn accepts it
// there, otherwise in `state`, which is created as needed.
OpenedLog OpenLog(const std::string& preferred, const std::string& state);

}  // namespace moravine::frontend

#endif  // MORAVINE_FRONTEND_LOG_FILE_H_
