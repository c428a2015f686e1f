#include "batch/job_frame.h"

#include <cstring>

#include "wordmodel/hlog.h"

namespace moravine {

namespace {

// Shows the error box that names the step of reading an input that failed.
void ShowInputFailure(CMainDlg* owner, const std::string& path, const MappedFile& input, MappedFile::Failure failure,
                      int error) {
  switch (failure) {
    case MappedFile::Failure::kOpen:
      owner->ShowErrorBox("Error opening input file.", error);
      break;
    case MappedFile::Failure::kNotRegular:
      // Never read: a FIFO or a device could block the job forever.
      owner->controls()->showError(std::string("Error opening input file.\n\nIt is ") +
                                   FileTypeName(input.status().type) + ", not a regular file.");
      break;
    case MappedFile::Failure::kTooLarge:
      owner->controls()->showError("The file " + path.substr(0, 1000) +
                                   " is 2 GiB or larger.\n\nMoravine handles files below 2 GiB only.");
      break;
    case MappedFile::Failure::kEmpty:
    case MappedFile::Failure::kMap:
      owner->ShowErrorBox("Error creating file mapping.", error);
      break;
  }
}

}  // namespace

bool MapJobInput(CMainDlg* owner, const std::string& path, MappedFile* input, int64_t first_bytes) {
  MappedFile::Failure failure;
  int error = 0;
  if (input->open(path, &failure, &error, first_bytes)) return true;
  ShowInputFailure(owner, path, *input, failure, error);
  return false;
}

bool ReadJobInput(CMainDlg* owner, const std::string& path, MappedFile* input, int64_t upto) {
  MappedFile::Failure failure;
  int error = 0;
  if (input->readMore(upto, &failure, &error)) return true;
  ShowInputFailure(owner, path, *input, failure, error);
  return false;
}

void ReportChangedInput(CMainDlg* owner, const std::string& path) {
  HLog_error("Error: %s changed while it was read\n", path.c_str());
  owner->controls()->showError("The file changed while it was read.\n\nNothing was written; try again.");
}

std::string FailureMessage(WindowControls* ui, const std::string& what, const std::string& library_text) {
  std::string text = what;
  if (ui->hasLogFile()) text += " See log file for details.";
  if (!library_text.empty()) text += "\n\n" + library_text;
  return text;
}

std::string FailureText(const std::exception_ptr& failure) {
  std::string text;
  try {
    if (failure) std::rethrow_exception(failure);
  } catch (const std::exception& caught) {
    text = caught.what();
  } catch (...) {
  }
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

}  // namespace moravine
