// The command line's overwrite rule: compress and decompress do not replace
// an existing output unless --force is given, or --update and the output
// is older than its input. The desktop window keeps its own rules.
#ifndef MORAVINE_CLI_OVERWRITE_H_
#define MORAVINE_CLI_OVERWRITE_H_

#include <string>

#include "cli/console_window.h"
#include "batch/main_dialog.h"

namespace moravine::cli {

enum class Overwrite {
  kNever,   // an existing output is an error
  kOlder,   // --update: an output older than its input is replaced (newer ones are left out before)
  kAlways,  // --force
};

// False, having said so naming both files, when the output of the job of
// `type` for `path` exists and the rule keeps it.
bool MayWrite(const std::string& path, JobType type, Overwrite rule, ConsoleWindow* window);

// Runs the command on the item of a path that the user named (`given`),
// under the rule. A file the command does not take is told in the command
// line's words ("books/a.txt is not a compressed file").
void RunCommandOnItem(CMainDlg& dlg, JobType type, const PathItem& item, const std::string& given, Overwrite rule,
                      ConsoleWindow* window);

}  // namespace moravine::cli

#endif  // MORAVINE_CLI_OVERWRITE_H_
