#include "probe/host_connections.h"

#include <curl/curl.h>

namespace quimbel {
namespace {

// How long a host that may speak HTTP/2 is asked one request at a time
// while its first reply is awaited.
constexpr auto kLongestProtocolWait = std::chrono::seconds(1);

}  // namespace

HostConnections::Opening HostConnections::Open(const std::string& host_key, bool may_multiplex,
                                               SteadyTime now) const {
  const auto found = in_flight_.find(host_key);
  const int in_flight = found == in_flight_.end() ? 0 : found->second;
  const int share = Share(host_key);
  const auto asked = learning_.find(host_key);
  const bool learning = share == 1 && may_multiplex && !spoken_.contains(host_key) &&
                        (asked == learning_.end() || now - asked->second < kLongestProtocolWait);
  const int most = share > 1 ? share : learning ? 1 : per_host_;
  return {in_flight<most, in_flight % share == 0, share> 1};
}

void HostConnections::Started(const std::string& host_key, SteadyTime now) {
  ++in_flight_[host_key];
  learning_.emplace(host_key, now);
}

void HostConnections::Ended(const std::string& host_key) {
  const auto host = in_flight_.find(host_key);
  if (host != in_flight_.end() && --host->second <= 0) in_flight_.erase(host);
}

void HostConnections::Learn(const std::string& host_key, long version) {
  if (version == 0 || spoken_.contains(host_key)) return;
  if (version == CURL_HTTP_VERSION_2_0) multiplexed_.insert(host_key);
  spoken_.insert(host_key);
}

std::size_t HostConnections::Connections() const {
  std::size_t connections = 0;
  for (const auto& [host_key, in_flight] : in_flight_) {
    const int share = Share(host_key);
    connections += static_cast<std::size_t>((in_flight + share - 1) / share);
  }
  return connections;
}

void HostConnections::Clear() {
  in_flight_.clear();
  multiplexed_.clear();
  spoken_.clear();
  learning_.clear();
}

}  // namespace quimbel
