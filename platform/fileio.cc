// The parts of file access that every system shares: messages, the checks
// and reads of an opened input, and the outputs written through a
// PendingFile.
#include <cerrno>
#include <cstring>
#include <utility>

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

bool MappedFile::open(const std::string& path, Failure* failure, int* error, int64_t first_bytes) {
  first_bytes_ = first_bytes;
  const bool opened = open(path, failure, error);
  first_bytes_ = 0;
  return opened;
}

bool MappedFile::readMore(int64_t upto, Failure* failure, int* error) {
  *error = 0;
  if (!copy_ || have_ >= upto) return true;
  if (upto >= size_ && size_ > kReadWholeBytes) return mapWhole(failure, error);
  return readPrefix(upto < size_ ? upto : size_, failure, error);
}

bool MappedFile::mapOpened(File file, Failure* failure, int* error) {
  if (!file.status(&status_, error)) {
    *failure = Failure::kOpen;
    return false;
  }
  if (status_.type != FileType::kRegular) {
    *failure = Failure::kNotRegular;
    return false;
  }
  if (status_.size > kMaxInputBytes) {
    *failure = Failure::kTooLarge;
    *error = EFBIG;
    return false;
  }
  if (status_.size == 0) {
    *failure = Failure::kEmpty;
    return false;
  }
  file_ = std::move(file);
  if (loadOpened(failure, error)) return true;
  close();
  return false;
}

bool MappedFile::readTo(int64_t end, Failure* failure, int* error) {
  while (have_ < end) {
    const int64_t n = readAt(have_, copy_.get() + have_, end - have_, error);
    if (n < 0) {
      *failure = Failure::kOpen;
      return false;
    }
    if (n == 0) {
      // Cut short while being read: the rest reads as zeros, as a
      // mapping's would, and the file counts as changed.
      std::memset(copy_.get() + have_, 0, static_cast<size_t>(end - have_));
      cut_short_ = true;
      have_ = end;
      break;
    }
    have_ += n;
  }
  return true;
}

bool MappedFile::loadOpened(Failure* failure, int* error) {
  size_ = status_.size;
  if (first_bytes_ > 0 && size_ > first_bytes_) return readPrefix(first_bytes_, failure, error);
  if (size_ <= kReadWholeBytes) return readPrefix(size_, failure, error);
  return mapWhole(failure, error);
}

bool MappedFile::readPrefix(int64_t end, Failure* failure, int* error) {
  if (capacity_ < end) {
    // Once more than the first bytes are wanted, most readers want all.
    const int64_t capacity = end < size_ && size_ <= kReadWholeBytes ? size_ : end;
    std::unique_ptr<unsigned char[]> grown(new (std::nothrow) unsigned char[static_cast<size_t>(capacity)]);
    if (!grown) {
      *failure = Failure::kMap;
      *error = ENOMEM;
      return false;
    }
    if (have_ > 0) std::memcpy(grown.get(), copy_.get(), static_cast<size_t>(have_));
    copy_ = std::move(grown);
    capacity_ = capacity;
    data_ = copy_.get();
  }
  return readTo(end, failure, error);
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
