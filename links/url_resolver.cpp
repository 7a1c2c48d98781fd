#include "links/url_resolver.h"

#include <uriparser/Uri.h>

#include <algorithm>
#include <cstdint>
#include <memory>

#include "links/url_escapes.h"
#include "links/url_split.h"
#include "platform/ascii.h"

namespace quimbel {
namespace {

constexpr auto npos = std::string_view::npos;

// A URL or reference cut into its parts as the browser reads them; the
// parts hold the browser's spelling (its escapes added).
struct UrlParts {
  std::string scheme;  // lower case; empty for a relative reference
  bool has_authority = false;
  std::string userinfo;  // with its "@", when it has one
  std::string host;
  std::optional<std::string> port;
  std::string path;
  std::optional<std::string> query;
  std::optional<std::string> fragment;
};

std::uint16_t DefaultPortOf(std::string_view scheme) {
  if (scheme == "http" || scheme == "ws") return 80;
  if (scheme == "https" || scheme == "wss") return 443;
  if (scheme == "ftp") return 21;
  return 0;
}

// A path segment the browser reads as "." or "..", escaped dots included.
std::string_view DotSegment(std::string_view segment) {
  const std::string lowered = AsciiLowered(std::string(segment));
  if (lowered == "." || lowered == "%2e") return ".";
  if (lowered == ".." || lowered == ".%2e" || lowered == "%2e." || lowered == "%2e%2e") return "..";
  return {};
}

std::string WithPlainDots(std::string_view path) {
  std::string out;
  out.reserve(path.size());
  std::size_t at = 0;
  while (true) {
    const std::size_t slash = std::min(path.find('/', at), path.size());
    const std::string_view segment = path.substr(at, slash - at);
    const std::string_view dots = segment.size() <= 6 ? DotSegment(segment) : std::string_view();
    out += dots.empty() ? segment : dots;
    if (slash == path.size()) break;
    out += '/';
    at = slash + 1;
  }
  return out;
}

// "[" IPv6 address "]": hex digits, ":" and "." (an IPv4 tail).
bool IsIpLiteral(std::string_view host) {
  if (host.size() < 3 || !host.starts_with('[') || !host.ends_with(']')) return false;
  return std::all_of(host.begin() + 1, host.end() - 1,
                     [](char c) { return IsHex(c) || c == ':' || c == '.'; });
}

// The host of an http, https or ftp URL as the browser reads it: its
// escapes decoded, in lower case; "" when a byte no host name may hold is
// in it. Letters beyond ASCII stay UTF-8 (the transfer turns them into
// their ASCII form).
std::string HostOfSpecial(std::string_view written) {
  if (written.starts_with('['))
    return IsIpLiteral(written) ? AsciiLowered(std::string(written)) : "";
  std::string host = AsciiLowered(PercentDecode(written));
  for (const char c : host) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte == 0x7F || std::string_view("#%/:<>?@[\\]^|").find(c) != npos) {
      return {};
    }
  }
  return host;
}

// The host of a URL of another scheme, as the browser keeps it: bytes
// beyond ASCII escaped; "" when a byte no host may hold is in it.
std::string OpaqueHost(std::string_view written) {
  if (written.starts_with('[')) return IsIpLiteral(written) ? std::string(written) : "";
  std::string host;
  for (const char c : written) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte == 0x7F || std::string_view("#/<>?@[\\]^|").find(c) != npos) {
      return {};
    }
    if (byte > 0x7E) {
      AppendEscape(host, byte);
    } else {
      host += c;
    }
  }
  return host;
}

// Reads a reference as the browser does, for a base of `base_scheme`
// (empty when the text is to be an absolute URL itself). Nothing when
// its port is no number.
std::optional<UrlParts> ReadReference(std::string_view written, std::string_view base_scheme,
                                      std::string_view charset) {
  while (!written.empty() && static_cast<unsigned char>(written.front()) <= 0x20)
    written.remove_prefix(1);
  while (!written.empty() && static_cast<unsigned char>(written.back()) <= 0x20)
    written.remove_suffix(1);
  std::string text;
  text.reserve(written.size());
  for (const char c : written) {
    if (c != '\t' && c != '\n' && c != '\r') text += c;
  }
  UrlParts parts;
  std::string body = text;
  if (HasScheme(text)) {
    const std::size_t colon = text.find(':');
    parts.scheme = AsciiLowered(text.substr(0, colon));
    body = text.substr(colon + 1);
  }
  const std::string_view scheme = parts.scheme.empty() ? base_scheme : parts.scheme;
  const bool special = IsSpecialScheme(scheme);
  if (special) {
    const std::size_t end = std::min(body.find_first_of("?#"), body.size());
    std::replace(body.begin(), body.begin() + static_cast<std::ptrdiff_t>(end), '\\', '/');
  }
  if (special && scheme != "file") {
    const bool slashes = body.starts_with("//");
    if (!parts.scheme.empty() && parts.scheme == base_scheme && !slashes) {
      // "http:g" on an http page is a relative reference.
      parts.scheme.clear();
    } else if (!parts.scheme.empty() || slashes) {
      // Any run of slashes, or none, before the host of an absolute URL.
      body.erase(0, body.find_first_not_of('/'));
      body.insert(0, "//");
    }
  }
  std::string_view rest = body;
  if (rest.starts_with("//")) {
    parts.has_authority = true;
    const std::size_t end = std::min(rest.find_first_of("/?#", 2), rest.size());
    std::string_view authority = rest.substr(2, end - 2);
    rest.remove_prefix(end);
    if (const std::size_t at = authority.rfind('@'); at != npos) {
      parts.userinfo = BrowserSpelling(authority.substr(0, at), Part::kUserinfo, special) + "@";
      authority.remove_prefix(at + 1);
    }
    std::size_t colon = authority.find(':', authority.starts_with('[') ? authority.find(']') : 0);
    if (authority.starts_with('[') && authority.find(']') == npos) colon = npos;
    if (colon != npos) {
      parts.port = std::string(authority.substr(colon + 1));
      authority = authority.substr(0, colon);
      if (!std::all_of(parts.port->begin(), parts.port->end(),
                       [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
      }
    }
    parts.host = special ? HostOfSpecial(authority) : OpaqueHost(authority);
    if (special && scheme != "file" && parts.host.empty()) return std::nullopt;
    if (!special && !authority.empty() && parts.host.empty()) return std::nullopt;
  }
  const std::size_t fragment_at = rest.find('#');
  if (fragment_at != npos) {
    parts.fragment = BrowserSpelling(rest.substr(fragment_at + 1), Part::kFragment, special);
    rest = rest.substr(0, fragment_at);
  }
  const std::size_t query_at = rest.find('?');
  if (query_at != npos) {
    parts.query = BrowserSpelling(InCharset(std::string(rest.substr(query_at + 1)), charset),
                                  Part::kQuery, special);
    rest = rest.substr(0, query_at);
  }
  parts.path = WithPlainDots(BrowserSpelling(rest, Part::kPath, special));
  return parts;
}

// The parts as a text uriparser reads, every byte it would refuse carried
// escaped.
std::string CarriedText(const UrlParts& parts) {
  std::string out;
  if (!parts.scheme.empty()) out += parts.scheme + ":";
  if (parts.has_authority) {
    out += "//";
    if (!parts.userinfo.empty()) {
      AppendCarried(out, std::string_view(parts.userinfo).substr(0, parts.userinfo.size() - 1),
                    Part::kUserinfo);
      out += '@';
    }
    if (parts.host.starts_with('[') && parts.host.ends_with(']')) {
      out += parts.host;
    } else {
      AppendCarried(out, parts.host, Part::kHost);
    }
    if (parts.port) out += ":" + *parts.port;
  }
  AppendCarried(out, parts.path, Part::kPath);
  if (parts.query) {
    out += '?';
    AppendCarried(out, *parts.query, Part::kQuery);
  }
  if (parts.fragment) {
    out += '#';
    AppendCarried(out, *parts.fragment, Part::kFragment);
  }
  return out;
}

// The browser's last touches on an absolute URL: the scheme's own port and
// an empty port dropped, "/" for the empty path of a URL with a host.
// `ip_literal` is the "[...]" host as written, which uriparser spells out
// in full.
std::optional<std::string> Finished(std::string_view text, std::string_view ip_literal) {
  std::optional<UrlParts> read = ReadReference(text, {}, {});
  if (!read || read->scheme.empty()) return std::nullopt;
  UrlParts& parts = *read;
  if (parts.host.starts_with('[')) parts.host = AsciiLowered(std::string(ip_literal));
  const bool special = IsSpecialScheme(parts.scheme);
  if (special && parts.scheme != "file" && parts.host.empty()) return std::nullopt;
  std::string out = parts.scheme + ":";
  if (parts.has_authority) {
    out += "//" + parts.userinfo + parts.host;
    if (parts.port && !parts.port->empty()) {
      const unsigned long port = std::stoul(parts.port->substr(0, 6));
      if (port > 65535) return std::nullopt;
      if (port != DefaultPortOf(parts.scheme)) out += ":" + std::to_string(port);
    }
  }
  out += special && parts.path.empty() ? std::string("/") : parts.path;
  if (parts.query) out += "?" + *parts.query;
  if (parts.fragment) out += "#" + *parts.fragment;
  return out;
}

struct UriDeleter {
  void operator()(UriUriA* uri) const {
    uriFreeUriMembersA(uri);
    delete uri;
  }
};
using Uri = std::unique_ptr<UriUriA, UriDeleter>;

Uri ParseUri(const std::string& text) {
  Uri uri(new UriUriA{});
  const char* error = nullptr;
  if (uriParseSingleUriExA(uri.get(), text.data(), text.data() + text.size(), &error) !=
      URI_SUCCESS) {
    return nullptr;
  }
  return uri;
}

std::optional<std::string> UriText(const UriUriA& uri) {
  int length = 0;
  if (uriToStringCharsRequiredA(&uri, &length) != URI_SUCCESS) return std::nullopt;
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  if (uriToStringA(text.data(), &uri, length + 1, nullptr) != URI_SUCCESS) return std::nullopt;
  text.resize(static_cast<std::size_t>(length));
  return text;
}

}  // namespace

bool IsSpecialScheme(std::string_view scheme) {
  for (const std::string_view special : {"http", "https", "ftp", "ws", "wss", "file"}) {
    if (SameIgnoringCase(scheme, special)) return true;
  }
  return false;
}

std::optional<std::string> ResolveUrl(std::string_view base, std::string_view reference,
                                      std::string_view charset) {
  const std::optional<UrlParts> base_parts = ReadReference(base, {}, {});
  if (!base_parts || base_parts->scheme.empty()) return std::nullopt;
  const std::optional<UrlParts> reference_parts =
      ReadReference(reference, base_parts->scheme, charset);
  if (!reference_parts) return std::nullopt;
  // uriparser's texts point into these strings, which outlive them here.
  const std::string base_text = CarriedText(*base_parts);
  const std::string reference_text = CarriedText(*reference_parts);
  const Uri base_uri = ParseUri(base_text);
  const Uri reference_uri = ParseUri(reference_text);
  if (!base_uri || !reference_uri) return std::nullopt;
  Uri resolved(new UriUriA{});
  if (uriAddBaseUriExA(resolved.get(), reference_uri.get(), base_uri.get(), URI_RESOLVE_STRICTLY) !=
      URI_SUCCESS) {
    // Freeing members of a result that was never filled in is safe: it is
    // zeroed.
    return std::nullopt;
  }
  const std::optional<std::string> text = UriText(*resolved);
  if (!text) return std::nullopt;
  // The host comes from the reference when it names one, else the base.
  const std::string& host =
      reference_parts->has_authority ? reference_parts->host : base_parts->host;
  return Finished(Unescape(*text), host);
}

std::optional<std::string> NormalizeUrl(std::string_view url) {
  return ResolveUrl(url, url);
}

std::string WithoutPassword(std::string_view url) {
  const std::size_t slashes = url.find("://");
  if (slashes == npos || !HasScheme(url)) return std::string(url);
  const std::size_t start = slashes + 3;
  const std::size_t end = std::min(url.find_first_of("/?#", start), url.size());
  const std::size_t at = url.rfind('@', end == 0 ? 0 : end - 1);
  if (at == npos || at < start) return std::string(url);
  const std::size_t colon = url.find(':', start);
  if (colon == npos || colon > at) return std::string(url);
  return std::string(url.substr(0, colon + 1)) + "***" + std::string(url.substr(at));
}

std::string_view RequestKeyOf(std::string_view url) {
  return url.substr(0, url.find('#'));
}

}  // namespace quimbel
