// Letter case in ASCII only, the way protocol and markup names compare:
// bytes above 127 are never folded, whatever the locale. Pure functions;
// any thread.
#pragma once

#include <string>
#include <string_view>

namespace quimbel {

inline char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}

inline std::string AsciiLowered(std::string text) {
  for (char& c : text)
    c = AsciiLower(c);
  return text;
}

inline bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (AsciiLower(text[i]) != AsciiLower(prefix[i])) return false;
  }
  return true;
}

inline bool SameIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && StartsWithIgnoringCase(a, b);
}

}  // namespace quimbel
