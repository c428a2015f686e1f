// The command line's overwrite rule: compress and decompress do not replace
// an existing output unless --force is given. The desktop window keeps its
// own rules.
#ifndef MORAVINE_CLI_OVERWRITE_H_
#define MORAVINE_CLI_OVERWRITE_H_

#include <string>

#include "cli/console_window.h"
#include "batch/main_dialog.h"

namespace moravine::cli {

// False, having said so naming both files, when the output of the job of
// `type` for `path` exists.
bool MayWrite(const std::string& path, JobType type, ConsoleWindow* window);

// Runs the command on the item of a path that the user named (`given`):
// under the rule unless `force`, and with `force` a file's existing
// FILE.hwz is replaced.
void RunCommandOnItem(CMainDlg& dlg, JobType type, const PathItem& item, const std::string& given, bool force,
                      ConsoleWindow* window);

}  // namespace moravine::cli

#endif  // MORAVINE_CLI_OVERWRITE_H_
