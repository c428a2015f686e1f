#include "cli/overwrite.h"

#include <sys/stat.h>

namespace moravine::cli {

namespace {

bool EndsWithHwz(const std::string& path) {
  return path.size() > 4 && path.compare(path.size() - 4, 4, ".hwz") == 0;
}

}  // namespace

bool MayWrite(const std::string& path, JobType type, ConsoleWindow* window) {
  bool compressing = type == JOB_COMPRESS;
  if (!compressing && (type != JOB_DECOMPRESS || !EndsWithHwz(path))) return true;
  std::string target = compressing ? path + ".hwz" : path.substr(0, path.size() - 4);
  struct stat st;
  if (::lstat(target.c_str(), &st) != 0) return true;
  window->showError(target + " already exists; not overwritten (" + (compressing ? "compressing " : "decompressing ") +
                    path + "; -f replaces it)");
  return false;
}

void RunCommandOnItem(CMainDlg& dlg, JobType type, TreeItem* item, const std::string& given, const std::string& shown,
                      bool force, ConsoleWindow* window) {
  // A file present in both versions: the output of either command exists.
  bool both = item->image == IMG_BOTH && (type == JOB_COMPRESS || type == JOB_DECOMPRESS);
  if (both && !force) {
    // The names in the message are those given.
    MayWrite(type == JOB_COMPRESS || EndsWithHwz(given) ? given : given + ".hwz", type, window);
    return;
  }
  if (both && type == JOB_COMPRESS) {
    dlg.StartJob(shown, type);  // replaces FILE.hwz, which the window refuses to do
    return;
  }
  dlg.RunCommand(type, item);
}

}  // namespace moravine::cli
