// HostConnections: the probe thread's requests in flight host by host, and
// what each host is known to speak, to decide which waiting request may
// start. A host that answered over HTTP/2 takes up to `streams` requests
// on one connection; one that may speak it is asked one request at a time
// until its first reply says which it speaks (or a second passes); any
// other takes a connection a request, up to `per_host`. -j counts
// connections, so an HTTP/2 host's requests count ceil(n / streams).
//
// The probe thread's alone.
#pragma once

#include <cstddef>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "platform/clock.h"

namespace quimbel {

class HostConnections {
 public:
  void SetLimits(int per_host, int streams) {
    per_host_ = per_host;
    streams_ = streams;
  }

  // Whether a request to `host_key` may start now, as far as its host's
  // connections go, and how.
  struct Opening {
    bool fits = false;
    bool new_connection = false;  // it takes a connection of its own
    bool multiplexed = false;     // it shares its host's HTTP/2 connection
  };
  Opening Open(const std::string& host_key, bool may_multiplex, SteadyTime now) const;
  void Started(const std::string& host_key, SteadyTime now);
  void Ended(const std::string& host_key);

  // Notes how a host answered: `version` as CURLINFO_HTTP_VERSION gives
  // it, 0 for no reply yet (which tells nothing).
  void Learn(const std::string& host_key, long version);
  bool Multiplexed(const std::string& host_key) const { return multiplexed_.contains(host_key); }
  bool AnyMultiplexed() const { return !multiplexed_.empty(); }
  // The connections the requests in flight take.
  std::size_t Connections() const;
  void Clear();

 private:
  // Requests that share one connection to a host.
  int Share(const std::string& host_key) const { return Multiplexed(host_key) ? streams_ : 1; }

  int per_host_ = 1;
  int streams_ = 1;
  std::unordered_map<std::string, int> in_flight_;
  // Hosts that answered over HTTP/2: their requests share a connection.
  std::unordered_set<std::string> multiplexed_;
  // Hosts that answered at all, and when each that may speak HTTP/2 was
  // first asked.
  std::unordered_set<std::string> spoken_;
  std::unordered_map<std::string, SteadyTime> learning_;
};

}  // namespace quimbel
