// The C.UTF-8 character type for the calling thread while the object
// lives, whatever the process's locale; the thread's own locale after.
// Nothing changes where C.UTF-8 is missing.
#pragma once

#include <clocale>

namespace quimbel {

class ScopedUtf8ThreadLocale {
 public:
  ScopedUtf8ThreadLocale()
      : utf8_(newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr))) {
    if (utf8_ != static_cast<locale_t>(nullptr)) previous_ = uselocale(utf8_);
  }
  ~ScopedUtf8ThreadLocale() {
    if (utf8_ == static_cast<locale_t>(nullptr)) return;
    uselocale(previous_);
    freelocale(utf8_);
  }
  ScopedUtf8ThreadLocale(const ScopedUtf8ThreadLocale&) = delete;
  ScopedUtf8ThreadLocale& operator=(const ScopedUtf8ThreadLocale&) = delete;

 private:
  locale_t utf8_;
  locale_t previous_ = LC_GLOBAL_LOCALE;
};

}  // namespace quimbel
