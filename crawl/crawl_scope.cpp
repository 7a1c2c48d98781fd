#include "crawl/crawl_scope.h"

#include <algorithm>

#include "platform/ascii.h"

namespace quimbel {

std::optional<std::string> PageKey(std::string_view url) {
  url = url.substr(0, url.find('#'));
  const std::size_t colon = url.find("://");
  if (colon == std::string_view::npos) return std::nullopt;
  const std::string scheme = AsciiLowered(std::string(url.substr(0, colon)));
  if (scheme != "http" && scheme != "https") return std::nullopt;
  const std::size_t host_start = colon + 3;
  const std::size_t host_end = std::min(url.find_first_of("/?", host_start), url.size());
  std::string authority = AsciiLowered(std::string(url.substr(host_start, host_end - host_start)));
  // User information names no other page.
  if (const std::size_t at = authority.rfind('@'); at != std::string::npos) {
    authority.erase(0, at + 1);
  }
  const std::string own_port = scheme == "http" ? ":80" : ":443";
  if (authority.ends_with(own_port)) authority.resize(authority.size() - own_port.size());
  if (authority.ends_with(':')) authority.pop_back();
  // No blank, control byte or character a URL cannot carry names a host.
  const auto unfit = [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte <= 0x20 || byte == 0x7F ||
           std::string_view("\"<>\\^`{|}").find(c) != std::string_view::npos;
  };
  if (authority.empty() || std::any_of(authority.begin(), authority.end(), unfit))
    return std::nullopt;
  std::string key = scheme + "://" + authority;
  const std::string_view rest = url.substr(host_end);
  if (rest.empty() || rest.front() == '?') key += '/';
  key += rest;
  return key;
}

std::optional<std::string_view> FragmentOf(std::string_view url) {
  const std::size_t hash = url.find('#');
  if (hash == std::string_view::npos) return std::nullopt;
  return url.substr(hash + 1);
}

std::string OriginOf(std::string_view key) {
  const std::size_t host_start = key.find("://");
  if (host_start == std::string_view::npos) return std::string(key);
  return std::string(key.substr(0, std::min(key.find('/', host_start + 3), key.size())));
}

CrawlScope::CrawlScope(const std::vector<std::string>& starts, ScopeMode mode) {
  for (const std::string& start : starts) {
    std::string origin = OriginOf(start);
    std::string prefix = origin + '/';
    if (mode == ScopeMode::kPath) {
      const std::string_view path = std::string_view(start).substr(
          origin.size(), std::string_view(start).find('?') - origin.size());
      prefix = origin + std::string(path.substr(0, path.rfind('/') + 1));
    }
    if (std::find(origins_.begin(), origins_.end(), origin) == origins_.end()) {
      origins_.push_back(std::move(origin));
    }
    prefixes_.push_back(std::move(prefix));
  }
}

bool CrawlScope::Contains(std::string_view key) const {
  return std::any_of(prefixes_.begin(), prefixes_.end(),
                     [key](const std::string& prefix) { return key.starts_with(prefix); });
}

}  // namespace quimbel
