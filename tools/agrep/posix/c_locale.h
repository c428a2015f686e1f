// Regular expressions compile and match in the "C" locale whatever locale
// the calling process has chosen: bytes are bytes, and case folding touches
// ASCII letters only, as in the word matcher.
#ifndef MORAVINE_TOOLS_AGREP_C_LOCALE_H_
#define MORAVINE_TOOLS_AGREP_C_LOCALE_H_

#include <locale.h>

namespace agrep {

// Switches the calling thread to the "C" locale for its lifetime.
class CLocaleScope {
 public:
  CLocaleScope() {
    static const locale_t c_locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    if (c_locale) saved_ = uselocale(c_locale);
  }
  ~CLocaleScope() {
    if (saved_) uselocale(saved_);
  }
  CLocaleScope(const CLocaleScope&) = delete;
  CLocaleScope& operator=(const CLocaleScope&) = delete;

 private:
  locale_t saved_ = static_cast<locale_t>(0);
};

}  // namespace agrep

#endif  // MORAVINE_TOOLS_AGREP_C_LOCALE_H_
