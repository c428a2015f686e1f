#include "platform/temp_files.h"

#include <cctype>
#include <mutex>
#include <set>

#include "platform/file.h"

namespace moravine {

namespace {

const char kPrefix[] = ".moravine-";

std::mutex& RegistryMutex() {
  static std::mutex mutex;
  return mutex;
}

std::set<std::string>& Registry() {
  static std::set<std::string> files;
  return files;
}

}  // namespace

std::string TemporaryName(const std::string& base, long pid, unsigned long n) {
  std::string name = kPrefix + std::to_string(pid) + "-" + std::to_string(n) + ".";
  size_t room = name.size() < kMaxNameBytes ? kMaxNameBytes - name.size() : 0;
  size_t keep = base.size() < room ? base.size() : room;
  // Never cut a UTF-8 sequence in two.
  while (keep > 0 && keep < base.size() && (static_cast<unsigned char>(base[keep]) & 0xC0) == 0x80) --keep;
  return name + base.substr(0, keep);
}

bool IsTemporaryName(const std::string& name) {
  const size_t prefix = sizeof kPrefix - 1;
  if (name.compare(0, prefix, kPrefix) != 0) return false;
  size_t i = prefix;
  auto digits = [&name, &i] {
    size_t from = i;
    while (i < name.size() && std::isdigit(static_cast<unsigned char>(name[i]))) ++i;
    return i > from;
  };
  if (!digits() || i >= name.size() || name[i] != '-') return false;
  ++i;
  return digits() && i < name.size() && name[i] == '.';
}

void RegisterTemporaryFile(const std::string& path) {
  std::lock_guard<std::mutex> lock(RegistryMutex());
  Registry().insert(path);
}

void ForgetTemporaryFile(const std::string& path) {
  std::lock_guard<std::mutex> lock(RegistryMutex());
  Registry().erase(path);
}

void RemoveTemporaryFiles() {
  std::lock_guard<std::mutex> lock(RegistryMutex());
  for (const std::string& path : Registry()) RemoveFile(path);
  Registry().clear();
}

}  // namespace moravine
