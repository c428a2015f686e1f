// The console: the standard streams, whether they are terminals, and the
// requests to stop that come through it (Ctrl-C, a terminate request, the
// end of the session), which the command line takes as Cancel.
#ifndef MORAVINE_PLATFORM_CONSOLE_H_
#define MORAVINE_PLATFORM_CONSOLE_H_

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace moravine {

enum class StandardStream { kInput, kOutput, kError };

// Call first in main: sets the standard streams up for bytes (no newline
// translation; on Windows a console shows UTF-8) and returns the program's
// arguments in UTF-8 (on Windows from the wide command line, not from argv,
// which holds them in the ANSI code page).
std::vector<std::string> StartConsoleProgram(int argc, char** argv);

bool IsTerminal(StandardStream stream);
// The width of the terminal that the stream goes to; 0 when unknown.
int TerminalColumns(StandardStream stream);

// Writes everything to standard output, past the C library's buffers;
// 0 or the error number (EPIPE when the reader has gone).
int WriteStandardOutput(const unsigned char* data, int64_t length);
// Reads what standard input has, waiting in short steps between which
// `stopped` is asked: the number of bytes read, 0 at its end, -1 on an
// error (errno set) and -2 once `stopped` said yes.
int64_t ReadStandardInputUnlessStopped(unsigned char* buffer, int64_t size, const std::function<bool()>& stopped);
// Reads standard input to its end; false with *error set.
bool ReadAllStandardInput(std::string* bytes, int* error);
// A stream that throws away what is written to it; null when none can be
// opened.
FILE* OpenNullStream();

// What asked the program to stop.
enum class StopCause {
  kNone = 0,
  kInterrupt,     // Ctrl-C
  kTerminate,     // a request to end the program
  kHangUp,        // the end of the terminal session
  kClosedOutput,  // standard output cannot be written any more
};

// The exit status that tells the cause: on POSIX systems 128 plus the
// number of the signal (SIGPIPE for a closed output). Windows has no
// signals; the same numbers serve there, as they do in many Windows ports
// of POSIX tools: 130 for Ctrl-C, 143 for Ctrl-Break (taken as a request to
// end the program: SIGTERM's number), 129 for a closed console window, a
// logoff or a shutdown (SIGHUP's), 141 for a closed output (SIGPIPE's).
int StopExitStatus(StopCause cause);

// Watches for the console's requests to stop, from now on, on a thread of
// its own; call at the start of main, before any other thread starts. The
// first request goes to RequestStop; should the work still run
// `grace_milliseconds` later, or should a second request come (after one
// that was not kClosedOutput), the program ends at once with the first
// cause's status, its temporary files removed. Writing to a closed pipe
// or past a file-size limit makes the write fail instead of ending the
// program.
void WatchStopRequests(std::function<void(StopCause)> on_stop, int grace_milliseconds);
// What a request from the console does (the watcher's work, as above): the
// first goes to RequestStop and starts the grace, a second one ends the
// program. For tests on systems whose console cannot send one to a
// program without a console (Windows under Wine).
void HandleStopRequest(StopCause cause);
// Records a request to stop, the first one only, and calls on_stop.
void RequestStop(StopCause cause);
// The first request to stop (kNone: none came).
StopCause StopRequested();

}  // namespace moravine

#endif  // MORAVINE_PLATFORM_CONSOLE_H_
