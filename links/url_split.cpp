#include "links/url_split.h"

#include <cctype>

namespace quimbel {
namespace {

// The text between the scheme and the first "/", "?" or "#", without the
// user information before an "@"; nothing when the URL is no longer than
// its scheme.
std::optional<std::string_view> Authority(std::string_view url, Protocol protocol) {
  const std::size_t prefix = SchemeLength(protocol);
  if (url.size() <= prefix) return std::nullopt;
  std::string_view rest = url.substr(prefix);
  rest = rest.substr(0, rest.find_first_of("/?#"));
  const std::size_t at = rest.rfind('@');
  return at == std::string_view::npos ? rest : rest.substr(at + 1);
}

// Bytes a request line cannot carry as they are, escaped as browsers do.
bool NeedsEscape(unsigned char byte) {
  return byte <= 0x20 || byte >= 0x7F || byte == '"' || byte == '<' || byte == '>';
}

// Where the port's ":" may stand: after the "]" of an IPv6 address, else
// anywhere.
std::size_t PortColon(std::string_view authority) {
  std::size_t from = 0;
  if (!authority.empty() && authority.front() == '[') {
    const std::size_t close = authority.find(']');
    if (close != std::string_view::npos) from = close;
  }
  return authority.find(':', from);
}

}  // namespace

bool HasScheme(std::string_view text) {
  if (text.empty() || !std::isalpha(static_cast<unsigned char>(text.front()))) return false;
  for (const char c : text) {
    if (c == ':') return true;
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') {
      return false;
    }
  }
  return false;
}

Protocol ProtocolOf(std::string_view url) {
  const auto upper = [&url](std::size_t at) {
    return at < url.size() ? static_cast<char>(url[at] & ~0x20) : '\0';
  };
  if (upper(0) == 'F') return Protocol::kFtp;
  return upper(4) == 'S' ? Protocol::kHttps : Protocol::kHttp;
}

std::size_t SchemeLength(Protocol protocol) {
  switch (protocol) {
    case Protocol::kFtp:
      return 6;
    case Protocol::kHttps:
      return 8;
    case Protocol::kHttp:
      break;
  }
  return 7;
}

std::uint16_t DefaultPort(Protocol protocol) {
  switch (protocol) {
    case Protocol::kFtp:
      return 21;
    case Protocol::kHttps:
      return 443;
    case Protocol::kHttp:
      break;
  }
  return 80;
}

std::string UrlHost(std::string_view url, Protocol protocol) {
  const auto authority = Authority(url, protocol);
  if (!authority) return {};
  return std::string(authority->substr(0, PortColon(*authority)));
}

std::string UrlPath(std::string_view url, Protocol protocol) {
  const std::size_t prefix = SchemeLength(protocol);
  if (url.size() <= prefix) return {};
  std::string_view rest = url.substr(prefix);
  rest = rest.substr(0, rest.find('#'));
  const std::size_t start = rest.find_first_of("/?");
  if (start == std::string_view::npos) return "/";
  rest = rest.substr(start);
  std::string target;
  target.reserve(rest.size() + 1);
  if (rest.front() == '?') target += '/';
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (const char c : rest) {
    const auto byte = static_cast<unsigned char>(c);
    if (NeedsEscape(byte)) {
      target += '%';
      target += kHex[byte >> 4];
      target += kHex[byte & 0xF];
    } else {
      target += c;
    }
  }
  return target;
}

std::optional<std::uint16_t> UrlPort(std::string_view url, Protocol protocol) {
  const auto authority = Authority(url, protocol);
  const std::size_t colon = authority ? PortColon(*authority) : std::string_view::npos;
  if (colon == std::string_view::npos) return DefaultPort(protocol);
  const std::string_view text = authority->substr(colon + 1);
  if (text.empty()) return DefaultPort(protocol);
  unsigned long value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned long>(c - '0');
    if (value > 65535) return std::nullopt;
  }
  if (value == 0) return std::nullopt;
  return static_cast<std::uint16_t>(value);
}

std::string PercentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (text[at] == '%' && at + 2 < text.size() &&
        std::isxdigit(static_cast<unsigned char>(text[at + 1])) &&
        std::isxdigit(static_cast<unsigned char>(text[at + 2]))) {
      out += static_cast<char>(std::stoi(std::string(text.substr(at + 1, 2)), nullptr, 16));
      at += 2;
    } else {
      out += text[at];
    }
  }
  return out;
}

}  // namespace quimbel
