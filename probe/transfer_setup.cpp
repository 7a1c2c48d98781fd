#include "probe/transfer_setup.h"

#include <algorithm>
#include <string>

#include "platform/clock.h"
#include "probe/proxy_rules.h"

namespace quimbel {
namespace {

void ConfigureTls(CURL* easy, const ProbeSettings& settings) {
  if (settings.insecure) {
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 0L);
    return;
  }
  if (!settings.ca_file.empty()) {
    // The private CA is trusted beside the system's, not instead of it.
    curl_easy_setopt(easy, CURLOPT_CAINFO, settings.ca_file.c_str());
    curl_easy_setopt(easy, CURLOPT_CAPATH, "/etc/ssl/certs");
  }
}

}  // namespace

std::chrono::milliseconds HopTimeLimit(Transfer& transfer) {
  const SteadyTime now = SteadyNow();
  if (!transfer.deadline) transfer.deadline = now + transfer.request.time_limit;
  return std::max(std::chrono::milliseconds(1),
                  std::chrono::duration_cast<std::chrono::milliseconds>(*transfer.deadline - now));
}

bool SetUpTransfer(CURL* easy, Transfer& t, const ProbeSettings& settings) {
  const Protocol protocol = t.outcome.protocol;
  const std::uint16_t port = *UrlPort(t.outcome.url, protocol);
  std::string address = t.address;
  if (address.find(':') != std::string::npos && address.front() != '[') {
    address = '[' + address + ']';
  }
  const bool secure = protocol == Protocol::kHttps;
  const std::string origin =
      std::string(secure ? "https://" : "http://") + address + ':' + std::to_string(port);
  curl_easy_setopt(easy, CURLOPT_URL, (origin + '/').c_str());
  curl_easy_setopt(easy, CURLOPT_PRIVATE, &t);
  t.no_descriptor = false;
  curl_easy_setopt(easy, CURLOPT_OPENSOCKETFUNCTION, &OnOpenSocket);
  curl_easy_setopt(easy, CURLOPT_OPENSOCKETDATA, &t);
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_QUICK_EXIT, 1L);  // a stuck lookup never holds a stop
  const long limit = HopTimeLimit(t).count();
  curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, limit);
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, limit);
  if (protocol == Protocol::kFtp) {
    // A connection is all an ftp link gets: no login, no proxy.
    curl_easy_setopt(easy, CURLOPT_CONNECT_ONLY, 1L);
    curl_easy_setopt(easy, CURLOPT_PROXY, "");
    return true;
  }
  const bool proxied = ConfigureProxy(easy, protocol, t.address);
  // Through a proxy that is no tunnel, the request names the whole URL,
  // an international name in its ASCII form.
  const std::string target = proxied && !secure ? AsciiOrigin(origin) + t.target : t.target;
  // Longer than curl takes: the request cannot go out.
  if (curl_easy_setopt(easy, CURLOPT_REQUEST_TARGET, target.c_str()) != CURLE_OK) return false;
  // HTTP/2 where the host offers it in the handshake, its requests sharing
  // one connection; plain http only when the user knows the host speaks it.
  const long version = secure ? CURL_HTTP_VERSION_2TLS
                       : settings.http2_prior_knowledge && !proxied
                           ? CURL_HTTP_VERSION_2_PRIOR_KNOWLEDGE
                           : CURL_HTTP_VERSION_1_1;
  curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, version);
  if (t.multiplexed) curl_easy_setopt(easy, CURLOPT_PIPEWAIT, 1L);
  curl_easy_setopt(easy, CURLOPT_USERAGENT, t.request.user_agent.c_str());
  curl_easy_setopt(easy, CURLOPT_HTTP09_ALLOWED, 1L);
  curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &OnHeader);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, &t);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &OnBody);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &t);
  curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &OnProgress);
  curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &t);
  curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
  // A body that is read whole may come compressed; curl unpacks it.
  if (t.request.body != BodyWanted::kNone) curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");
  if (secure) ConfigureTls(easy, settings);
  return true;
}

}  // namespace quimbel
