// Regular expressions compile and match in the "C" locale whatever locale
// the calling process has chosen: bytes are bytes, and case folding touches
// ASCII letters only, as in the word matcher. The C runtime of Windows has
// no uselocale(): the calling thread gets a locale of its own, set to "C"
// for the scope's lifetime.
#ifndef MORAVINE_TOOLS_AGREP_C_LOCALE_H_
#define MORAVINE_TOOLS_AGREP_C_LOCALE_H_

#include <locale.h>

#include <cstring>
#include <string>

namespace agrep {

// Switches the calling thread to the "C" locale for its lifetime.
class CLocaleScope {
 public:
  CLocaleScope() {
    previous_ = _configthreadlocale(_ENABLE_PER_THREAD_LOCALE);
    const char* current = setlocale(LC_ALL, nullptr);
    if (current != nullptr && std::strcmp(current, "C") != 0) {
      saved_ = current;
      changed_ = setlocale(LC_ALL, "C") != nullptr;
    }
  }
  ~CLocaleScope() {
    if (changed_) setlocale(LC_ALL, saved_.c_str());
    if (previous_ == _DISABLE_PER_THREAD_LOCALE) _configthreadlocale(previous_);
  }
  CLocaleScope(const CLocaleScope&) = delete;
  CLocaleScope& operator=(const CLocaleScope&) = delete;

 private:
  int previous_;
  std::string saved_;
  bool changed_ = false;
};

}  // namespace agrep

#endif  // MORAVINE_TOOLS_AGREP_C_LOCALE_H_
