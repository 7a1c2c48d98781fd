// Letter case in ASCII only, the way protocol and markup names compare:
// bytes above 127 are never folded, whatever the locale. Pure functions;
// any thread.
#pragma once

#include <algorithm>
#include <cstdint>
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

// A blank as the C locale's isspace() sees it: space, tab, line feed,
// vertical tab, form feed, carriage return.
inline bool IsAsciiBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

inline std::string_view TrimAsciiBlanks(std::string_view text) {
  while (!text.empty() && IsAsciiBlank(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && IsAsciiBlank(text.back()))
    text.remove_suffix(1);
  return text;
}

// The line feeds in [begin, end). Counted in blocks of at most 255 bytes
// into a byte-wide counter, which the compiler turns into wide byte adds:
// several times faster than std::count's 64-bit lanes, and every link's
// line number goes through here.
inline std::size_t CountLineFeeds(const char* begin, const char* end) {
  std::size_t total = 0;
  while (begin < end) {
    const auto block = std::min<std::ptrdiff_t>(end - begin, 255);
    std::uint8_t feeds = 0;
    for (std::ptrdiff_t i = 0; i < block; ++i)
      feeds = static_cast<std::uint8_t>(feeds + (begin[i] == '\n'));
    total += feeds;
    begin += block;
  }
  return total;
}

}  // namespace quimbel
