// HostPacing: when the probe thread may next start a request to a host.
// A run may limit requests per second to each host, and a host that
// answers 429 (too many requests) is given the pause it asks for; both
// slow that host only, never the others. Probe thread only.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <unordered_map>

namespace quimbel {

class HostPacing {
 public:
  using Clock = std::chrono::steady_clock;

  // Requests started per second to one host; 0 for no limit.
  void SetRate(int per_second) { rate_ = per_second; }

  // Whether a request to `host` may start at `now`. One that may not
  // makes NextDue() tell when it may.
  bool MayStart(const std::string& host, Clock::time_point now);
  // A request to `host` started at `now`.
  void Started(const std::string& host, Clock::time_point now);
  // `host` asked for a pause: nothing starts to it before `until`.
  void HoldOff(const std::string& host, Clock::time_point until);
  // The earliest time a request held back since the last call may start.
  std::optional<Clock::time_point> TakeNextDue();
  void Clear();

 private:
  int rate_ = 0;
  std::unordered_map<std::string, Clock::time_point> next_;
  std::optional<Clock::time_point> next_due_;
};

}  // namespace quimbel
