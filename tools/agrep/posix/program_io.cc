// The agrep program's system interface on POSIX systems.
#include "program_io.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace agrep {

std::vector<std::string> StartProgram(int argc, char** argv) { return std::vector<std::string>(argv + 1, argv + argc); }

bool WriteStandardOutput(std::string_view data, std::string* reason) {
  while (!data.empty()) {
    const ssize_t n = ::write(STDOUT_FILENO, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      *reason = std::strerror(errno);
      return false;
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

InputText::~InputText() {
  if (mapped_) ::munmap(mapped_, mapped_size_);
}

bool InputText::load(const std::string& name, std::string* reason) {
  const bool standard_input = name == "-";
  const int fd = standard_input ? STDIN_FILENO : ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *reason = std::strerror(errno);
    return false;
  }
  struct Closer {
    int fd;
    bool close;
    ~Closer() {
      if (close) ::close(fd);
    }
  } closer{fd, !standard_input};
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    *reason = std::strerror(errno);
    return false;
  }
  if (S_ISREG(st.st_mode) && st.st_size > 0) {
    void* p = ::mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
    if (p != MAP_FAILED) {
      ::madvise(p, static_cast<size_t>(st.st_size), MADV_SEQUENTIAL);
      mapped_ = p;
      mapped_size_ = static_cast<size_t>(st.st_size);
      return true;
    }
  }
  size_t used = 0;
  buffer_.resize(size_t{1} << 20);
  for (;;) {
    if (used == buffer_.size()) buffer_.resize(buffer_.size() * 2);
    const ssize_t n = ::read(fd, buffer_.data() + used, buffer_.size() - used);
    if (n < 0) {
      if (errno == EINTR) continue;
      *reason = std::strerror(errno);
      return false;
    }
    if (n == 0) break;
    used += static_cast<size_t>(n);
  }
  buffer_.resize(used);
  return true;
}

}  // namespace agrep
