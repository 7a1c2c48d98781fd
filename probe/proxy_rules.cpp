#include "probe/proxy_rules.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string_view>

#include "platform/ascii.h"

namespace quimbel {

// "scheme://host:port" with an international host name in its ASCII
// (punycode) form, as a proxy must be sent it; unchanged when curl cannot
// convert it.
std::string AsciiOrigin(const std::string& origin) {
  if (std::all_of(origin.begin(), origin.end(), [](unsigned char c) { return c < 0x80; })) {
    return origin;
  }
  std::string result = origin;
  CURLU* url = curl_url();
  char* ascii = nullptr;
  if (curl_url_set(url, CURLUPART_URL, (origin + '/').c_str(), 0) == CURLUE_OK &&
      curl_url_get(url, CURLUPART_URL, &ascii, CURLU_PUNYCODE) == CURLUE_OK) {
    result = ascii;
    if (!result.empty() && result.back() == '/') result.pop_back();
  }
  curl_free(ascii);
  curl_url_cleanup(url);
  return result;
}

// Whether the environment's proxy applies to this host; curl is told the
// same, so both agree.
bool ConfigureProxy(CURL* easy, Protocol protocol, const std::string& host) {
  const char* proxy = std::getenv(protocol == Protocol::kHttps ? "https_proxy" : "http_proxy");
  if (protocol == Protocol::kHttps && (proxy == nullptr || *proxy == '\0')) {
    proxy = std::getenv("HTTPS_PROXY");
  }
  if (proxy == nullptr || *proxy == '\0') proxy = std::getenv("all_proxy");
  if (proxy == nullptr || *proxy == '\0') proxy = std::getenv("ALL_PROXY");
  if (proxy == nullptr || *proxy == '\0' || IsExemptFromProxy(host)) {
    curl_easy_setopt(easy, CURLOPT_PROXY, "");
    return false;
  }
  curl_easy_setopt(easy, CURLOPT_PROXY, proxy);
  curl_easy_setopt(easy, CURLOPT_NOPROXY, "");
  return true;
}

// no_proxy as the usual tools read it: "*", or host names and domain
// suffixes separated by commas, in any case.
bool IsExemptFromProxy(std::string host) {
  const char* list = std::getenv("no_proxy");
  if (list == nullptr || *list == '\0') list = std::getenv("NO_PROXY");
  if (list == nullptr) return false;
  host = AsciiLowered(std::move(host));
  if (host.size() > 2 && host.front() == '[') host = host.substr(1, host.size() - 2);
  std::string_view rest = list;
  while (!rest.empty()) {
    const std::size_t comma = rest.find(',');
    std::string entry(rest.substr(0, comma));
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    entry.erase(std::remove_if(entry.begin(), entry.end(),
                               [](unsigned char c) { return std::isspace(c) != 0; }),
                entry.end());
    entry = AsciiLowered(std::move(entry));
    if (entry == "*") return true;
    while (!entry.empty() && entry.front() == '.')
      entry.erase(0, 1);
    if (entry.empty()) continue;
    if (host == entry) return true;
    if (host.size() > entry.size() &&
        host.compare(host.size() - entry.size(), entry.size(), entry) == 0 &&
        host[host.size() - entry.size() - 1] == '.') {
      return true;
    }
  }
  return false;
}

}  // namespace quimbel
