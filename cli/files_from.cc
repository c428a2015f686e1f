// --files-from: the names of the paths to work on, read from a file.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cli/commands.h"

namespace moravine::cli {

bool ReadFileList(const std::string& source, bool null_separated, std::vector<std::string>* names,
                  std::string* error) {
  int fd = source == "-" ? STDIN_FILENO : ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = std::strerror(errno);
    return false;
  }
  std::string all;
  char chunk[65536];
  for (;;) {
    ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = std::strerror(errno);
      if (fd != STDIN_FILENO) ::close(fd);
      return false;
    }
    if (n == 0) break;
    all.append(chunk, static_cast<size_t>(n));
  }
  if (fd != STDIN_FILENO) ::close(fd);
  const char separator = null_separated ? '\0' : '\n';
  size_t start = 0;
  while (start < all.size()) {
    size_t end = all.find(separator, start);
    if (end == std::string::npos) end = all.size();
    std::string name = all.substr(start, end - start);
    if (!null_separated && !name.empty() && name.back() == '\r') name.pop_back();
    if (!name.empty()) names->push_back(name);
    start = end + 1;
  }
  return true;
}

}  // namespace moravine::cli
