#include "links/url_split.h"

namespace quimbel {
namespace {

// The text between the scheme and the first "/", or nothing when the URL is
// no longer than its scheme.
std::optional<std::string_view> Authority(std::string_view url, Protocol protocol) {
  const std::size_t prefix = SchemeLength(protocol);
  if (url.size() <= prefix) return std::nullopt;
  std::string_view rest = url.substr(prefix);
  return rest.substr(0, rest.find('/'));
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

UrlPathPieces UrlPathView(std::string_view url, Protocol protocol) {
  const std::size_t prefix = SchemeLength(protocol);
  if (url.size() <= prefix) return {};
  const std::string_view rest = url.substr(prefix);
  const std::size_t slash = rest.find('/');
  if (slash == std::string_view::npos) return {"/", false};
  std::string_view path = rest.substr(slash);
  path = path.substr(0, path.find('#'));
  const bool slash_added =
      path.size() > 1 && path.back() != '/' && path.find('.') == std::string_view::npos;
  return {path, slash_added};
}

std::string UrlPath(std::string_view url, Protocol protocol) {
  const UrlPathPieces pieces = UrlPathView(url, protocol);
  std::string path(pieces.text);
  if (pieces.slash_added) path += '/';
  return path;
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

}  // namespace quimbel
