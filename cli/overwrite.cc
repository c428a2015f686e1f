#include "cli/overwrite.h"

#include "platform/file.h"

namespace moravine::cli {

bool MayWrite(const std::string& path, JobType type, ConsoleWindow* window) {
  bool compressing = type == JOB_COMPRESS;
  if (!compressing && (type != JOB_DECOMPRESS || !EndsWithHwz(path))) return true;
  std::string target = compressing ? path + ".hwz" : path.substr(0, path.size() - 4);
  FileStatus st;
  if (!PathStatus(target, false, &st)) return true;
  window->showError(target + " already exists; not overwritten (" + (compressing ? "compressing " : "decompressing ") +
                    path + "; -f replaces it)");
  return false;
}

void RunCommandOnItem(CMainDlg& dlg, JobType type, const PathItem& item, const std::string& given, bool force,
                      ConsoleWindow* window) {
  // A file present in both versions: the output of either command exists.
  bool both = item.image == IMG_BOTH && (type == JOB_COMPRESS || type == JOB_DECOMPRESS);
  if (both && !force) {
    // The names in the message are those given.
    MayWrite(type == JOB_COMPRESS || EndsWithHwz(given) ? given : given + ".hwz", type, window);
    return;
  }
  if (both && type == JOB_COMPRESS) {
    dlg.StartJob(item.path, type);  // replaces FILE.hwz, which the window refuses to do
    return;
  }
  dlg.RunCommandOnPath(type, item);
}

}  // namespace moravine::cli
