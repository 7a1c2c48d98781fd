// The C.UTF-8 character type for a thread, whatever the process's locale.
// Nothing changes where C.UTF-8 is missing.
//
// Making a locale reads the environment (LOCPATH), and a read of it may
// crash while another thread sets a variable: so the locale is made by
// whoever starts the thread, and the thread only puts it to use.
#pragma once

#include <clocale>

namespace quimbel {

class Utf8Locale {
 public:
  Utf8Locale() : locale_(newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr))) {}
  ~Utf8Locale() {
    if (locale_ != static_cast<locale_t>(nullptr)) freelocale(locale_);
  }
  Utf8Locale(const Utf8Locale&) = delete;
  Utf8Locale& operator=(const Utf8Locale&) = delete;
  locale_t get() const { return locale_; }

 private:
  locale_t locale_;
};

// The locale for the calling thread while the object lives; the thread's
// own locale after. The locale must outlive the object.
class ScopedThreadLocale {
 public:
  explicit ScopedThreadLocale(const Utf8Locale& locale) : locale_(locale.get()) {
    if (locale_ != static_cast<locale_t>(nullptr)) previous_ = uselocale(locale_);
  }
  ~ScopedThreadLocale() {
    if (locale_ != static_cast<locale_t>(nullptr)) uselocale(previous_);
  }
  ScopedThreadLocale(const ScopedThreadLocale&) = delete;
  ScopedThreadLocale& operator=(const ScopedThreadLocale&) = delete;

 private:
  locale_t locale_;
  locale_t previous_ = LC_GLOBAL_LOCALE;
};

}  // namespace quimbel
