// --files-from: the names of the paths to work on, read from a file.
#include <cstring>

#include "cli/commands.h"
#include "platform/console.h"
#include "platform/file.h"

namespace moravine::cli {

bool ReadFileList(const std::string& source, bool null_separated, std::vector<std::string>* names,
                  std::string* error) {
  std::string all;
  int number = 0;
  if (!(source == "-" ? ReadAllStandardInput(&all, &number) : ReadWholeFile(source, &all, &number))) {
    *error = std::strerror(number);
    return false;
  }
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
