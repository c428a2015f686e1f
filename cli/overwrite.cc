#include "cli/overwrite.h"

#include <cstring>

#include "platform/file.h"

namespace moravine::cli {

namespace {

// The refusal of the batch core ("The selected file is ...") as the command
// line says it, naming the file.
std::string Refusal(const char* selected, const std::string& given) {
  static const struct {
    const char* core;
    const char* line;
  } kWords[] = {
      {"The selected file is not compressed", " is not a compressed file"},
      {"The selected file is compressed", " is a compressed file already"},
      {"The selected file does not have a compressed version", " has no compressed version (.hwz) beside it"},
      {"The selected file does not have an uncompressed version", " has no original beside it"},
  };
  for (const auto& words : kWords) {
    if (std::strcmp(selected, words.core) == 0) return given + words.line;
  }
  return given + ": " + selected;
}

}  // namespace

bool MayWrite(const std::string& path, JobType type, Overwrite rule, ConsoleWindow* window) {
  const std::string target = JobOutput(path, type);
  if (target.empty() || rule == Overwrite::kAlways) return true;
  FileStatus st;
  if (!PathStatus(target, false, &st)) return true;
  if (rule == Overwrite::kOlder) return true;  // the walk has left out outputs that are up to date
  const bool compressing = type == JOB_COMPRESS;
  window->showError(window->shownPath(target) + " already exists; not overwritten (" +
                    (compressing ? "compressing " : "decompressing ") + window->shownPath(path) +
                    "; -f replaces it, --update when it is older)");
  return false;
}

void RunCommandOnItem(CMainDlg& dlg, JobType type, const PathItem& item, const std::string& given, Overwrite rule,
                      ConsoleWindow* window) {
  // A file present in both versions: the output of either command exists.
  const bool both = item.image == IMG_BOTH && (type == JOB_COMPRESS || type == JOB_DECOMPRESS);
  if (!both) {
    if (const char* refusal = CommandRefusal(item.image, type)) return window->showError(Refusal(refusal, given));
    return dlg.RunCommandOnPath(type, item);
  }
  // The names in the messages are those given.
  const std::string input = type == JOB_COMPRESS || EndsWithHwz(given) ? given : given + ".hwz";
  const std::string input_path = type == JOB_COMPRESS ? item.path : item.path + ".hwz";
  if (rule == Overwrite::kOlder && OutputUpToDate(input_path, type)) return;  // left out, silently
  if (rule == Overwrite::kNever) {
    MayWrite(input, type, rule, window);
    return;
  }
  if (type == JOB_COMPRESS) {
    dlg.StartJob(item.path, type);  // replaces FILE.hwz, which the window refuses to do
    return;
  }
  dlg.RunCommandOnPath(type, item);
}

}  // namespace moravine::cli
