// The parts of file access that every system shares: messages, and the
// outputs written through a PendingFile.
#include <cstring>

#include "platform/fileio.h"

namespace moravine {

namespace {

std::string Reason(const char* what, int err) { return std::string(what) + ": " + std::strerror(err); }

}  // namespace

std::string MappedFile::Describe(Failure failure, int error, const FileStatus* st) {
  switch (failure) {
    case Failure::kOpen: return Reason("cannot open it", error);
    case Failure::kNotRegular:
      return std::string("it is ") + (st ? FileTypeName(st->type) : "not a regular file") +
             ", not a regular file";
    case Failure::kEmpty: return "the file is empty";
    case Failure::kTooLarge: return "the file is 2 GiB or larger; Moravine handles files below 2 GiB";
    case Failure::kMap: return Reason("cannot map it", error);
  }
  return std::string();
}

bool MappedFile::open(const std::string& path, std::string* message) {
  Failure failure;
  int error;
  if (open(path, &failure, &error)) return true;
  *message = Describe(failure, error, &status_);
  return false;
}

bool WriteFileAtomically(const std::string& path, const unsigned char* data, int64_t length, std::string* message,
                         const FileAttributes* attributes) {
  WriteFailure failure;
  int error;
  if (WriteFileAtomically(path, data, length, &failure, &error, attributes)) return true;
  *message = Reason(failure == WriteFailure::kCreate ? "cannot create a temporary file beside it" : "cannot write it",
                    error);
  return false;
}

bool WriteFileAtomically(const std::string& path, const unsigned char* data, int64_t length, WriteFailure* failure,
                         int* error, const FileAttributes* attributes) {
  StreamedOutput output;
  if (!output.create(path, error, attributes)) {
    *failure = WriteFailure::kCreate;
    return false;
  }
  *failure = WriteFailure::kWrite;
  return output.write(data, length, error) && output.commit(error);
}

bool StreamedOutput::create(const std::string& path, int* error, const FileAttributes* attributes) {
  return file_.create(path, attributes, error);
}

bool StreamedOutput::commit(int* error) { return file_.finish(true, false, error); }

}  // namespace moravine
