#include "links/url_escapes.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>

#include "platform/ascii.h"

namespace quimbel {
namespace {

constexpr auto npos = std::string_view::npos;

}  // namespace

bool IsHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int HexValue(char c) {
  if (c <= '9') return c - '0';
  return (c | 0x20) - 'a' + 10;
}

void AppendEscape(std::string& out, unsigned char byte) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  out += '%';
  out += kHex[byte >> 4];
  out += kHex[byte & 0x0F];
}

// The bytes the browser escapes in each part (its percent-encode sets).
bool BrowserEscapes(unsigned char byte, Part part, bool special) {
  if (byte < 0x20 || byte > 0x7E) return true;
  switch (part) {
    case Part::kFragment:
      return std::string_view(" \"<>`").find(static_cast<char>(byte)) != npos;
    case Part::kQuery:
      return std::string_view(" \"#<>").find(static_cast<char>(byte)) != npos ||
             (special && byte == '\'');
    case Part::kPath:
      return std::string_view(" \"#<>?`{}").find(static_cast<char>(byte)) != npos;
    case Part::kUserinfo:
      return std::string_view(" \"#<>?`{}/;=[\\]^|").find(static_cast<char>(byte)) != npos;
    case Part::kHost:
      return false;
  }
  return false;
}

// The bytes uriparser takes as they are in each part, by RFC 3986's
// grammar; any other is carried through it escaped, and let out again.
bool RfcAllows(unsigned char byte, Part part) {
  if (std::isalnum(byte) != 0 && byte < 0x80) return true;
  if (std::string_view("-._~!$&'()*+,;=").find(static_cast<char>(byte)) != npos) return true;
  switch (part) {
    case Part::kUserinfo:
      return byte == ':';
    case Part::kHost:
      return false;
    case Part::kPath:
      return byte == ':' || byte == '@' || byte == '/';
    case Part::kQuery:
    case Part::kFragment:
      return byte == ':' || byte == '@' || byte == '/' || byte == '?';
  }
  return false;
}

// A part in the browser's spelling: the bytes of its set escaped, escapes
// already written kept as written.
std::string BrowserSpelling(std::string_view text, Part part, bool special) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (BrowserEscapes(byte, part, special)) {
      AppendEscape(out, byte);
    } else {
      out += c;
    }
  }
  return out;
}

// Escapes every "%" and every byte RFC 3986 does not allow in the part, so
// uriparser reads any text the browser keeps; Unescape() undoes exactly
// this, since after it every "%" starts an escape it made.
void AppendCarried(std::string& out, std::string_view text, Part part) {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '%' || !RfcAllows(byte, part)) {
      AppendEscape(out, byte);
    } else {
      out += c;
    }
  }
}

std::string Unescape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && IsHex(text[i + 1]) && IsHex(text[i + 2])) {
      out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// A query's non-ASCII letters as the bytes of the page's charset; a letter
// the charset lacks is written as a numeric character reference, as
// browsers submit it. UTF-8 and charsets iconv does not know leave the
// text as it is.
std::string InCharset(const std::string& query, std::string_view charset) {
  std::string name = AsciiLowered(std::string(charset));
  // Browsers read these labels as windows-1252, a superset.
  for (const std::string_view latin1 :
       {"iso-8859-1", "iso8859-1", "iso_8859-1", "latin1", "l1", "ascii", "us-ascii", "cp1252"}) {
    if (name == latin1) name = "windows-1252";
  }
  // A UTF-16 page's URLs are sent in UTF-8, as browsers do.
  if (name.empty() || name == "utf-8" || name == "utf8" || name.starts_with("utf-16") ||
      std::all_of(query.begin(), query.end(),
                  [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
    return query;
  }
  iconv_t convert = iconv_open(name.c_str(), "UTF-8");
  // iconv_open's failure is the handle -1.
  if (reinterpret_cast<std::intptr_t>(convert) == -1) return query;
  std::string out;
  for (std::size_t at = 0; at < query.size();) {
    const auto lead = static_cast<unsigned char>(query[at]);
    if (lead < 0x80) {
      out += query[at++];
      continue;
    }
    const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    std::string letter = query.substr(at, length);
    at += letter.size();
    std::array<char, 16> bytes{};
    char* in = letter.data();
    std::size_t in_left = letter.size();
    char* converted = bytes.data();
    std::size_t out_left = bytes.size();
    iconv(convert, nullptr, nullptr, nullptr, nullptr);
    if (iconv(convert, &in, &in_left, &converted, &out_left) != static_cast<std::size_t>(-1) &&
        in_left == 0) {
      out.append(bytes.data(), converted);
      continue;
    }
    // The letter's code point, for its character reference.
    unsigned long code = length == 1 ? lead : lead & (0xFF >> (length + 1));
    for (std::size_t i = 1; i < letter.size(); ++i)
      code = (code << 6) | (static_cast<unsigned char>(letter[i]) & 0x3F);
    out += "%26%23" + std::to_string(code) + "%3B";
  }
  iconv_close(convert);
  return out;
}

}  // namespace quimbel
