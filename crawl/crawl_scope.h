// Which addresses a crawl follows: the pages on a start address's scheme,
// host and port and under its path, or, widened, anywhere on that host.
// Also the one spelling of a page's address that tells whether two links
// name the same page. Pure functions; any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quimbel {

// How far a crawl reaches from its start addresses.
enum class ScopeMode { kPath, kHost };

// The address a page is known by: http or https only, scheme and host in
// lower case, the scheme's own port left out, "/" for an empty path, the
// fragment cut; the path and query stay as written. Nothing for another
// scheme or an address without a host.
std::optional<std::string> PageKey(std::string_view url);

// The fragment of an address, without its "#"; nothing when it has none.
std::optional<std::string_view> FragmentOf(std::string_view url);

class CrawlScope {
 public:
  CrawlScope() = default;
  // The scope of these start addresses (page keys). A start address's path
  // is taken up to its last "/": "https://h/docs/intro" reaches all of
  // "https://h/docs/".
  CrawlScope(const std::vector<std::string>& starts, ScopeMode mode);

  // Whether the page (a page key) is one the crawl follows.
  bool Contains(std::string_view key) const;
  // The origins of the start addresses ("https://h:8080"), each once.
  const std::vector<std::string>& origins() const { return origins_; }

 private:
  std::vector<std::string> prefixes_;
  std::vector<std::string> origins_;
};

// "https://h:8080" of a page key.
std::string OriginOf(std::string_view key);

}  // namespace quimbel
