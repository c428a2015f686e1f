// Removing one version of a file whose other version holds the same text.
//
// Moravine deletes a user's file only when another file certainly holds its
// text: NAME only when NAME.hwz is a regular file that decodes to exactly
// NAME's bytes, and NAME.hwz only when NAME is a regular file holding
// exactly the text that NAME.hwz decodes to. The check and the deletion
// happen under an advisory lock on the directory, which every Moravine
// process takes for the same pair, and the file that is deleted is the very
// file that was checked (same device and inode, unchanged). The file kept is
// on disk, with its directory entry, before the other one goes.
#ifndef MORAVINE_SHELL_REMOVAL_H_
#define MORAVINE_SHELL_REMOVAL_H_

#include <string>

namespace moravine {

struct RemovalResult {
  enum Outcome {
    kRemoved,      // the file is gone
    kNothingToDo,  // the other version does not exist
    kKept,         // the other version does not certainly hold the text; why says so
    kFailed,       // deleting failed; error is the system's error number
  };
  Outcome outcome = kNothingToDo;
  std::string why;
  int error = 0;
};

// Removes the original file NAME when NAME.hwz holds its text.
RemovalResult RemoveOriginalFile(const std::string& original);
// Removes NAME.hwz when the original file NAME holds its text.
RemovalResult RemoveCompressedFile(const std::string& compressed);

}  // namespace moravine

#endif  // MORAVINE_SHELL_REMOVAL_H_
