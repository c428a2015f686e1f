// Moravine's temporary files: how they are named, and the list of those
// that exist right now, so that a forced exit can remove them.
#ifndef MORAVINE_PLATFORM_TEMP_FILES_H_
#define MORAVINE_PLATFORM_TEMP_FILES_H_

#include <string>

namespace moravine {

// The longest file name the file systems we run on accept.
constexpr size_t kMaxNameBytes = 255;

// ".moravine-PID-N." followed by as much of `base` as fits in a name of
// kMaxNameBytes bytes (cut at a character boundary): a hidden name that
// always fits where `base` fits and still tells what it is for.
std::string TemporaryName(const std::string& base, long pid, unsigned long n);

// Whether a name has the form that TemporaryName gives; walks skip them.
bool IsTemporaryName(const std::string& name);

// The files being written right now. Registered when created, forgotten
// when renamed into place or removed.
void RegisterTemporaryFile(const std::string& path);
void ForgetTemporaryFile(const std::string& path);
// Removes every registered file. Called on a forced exit only.
void RemoveTemporaryFiles();

}  // namespace moravine

#endif  // MORAVINE_PLATFORM_TEMP_FILES_H_
