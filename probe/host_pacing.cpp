#include "probe/host_pacing.h"

#include <algorithm>

namespace quimbel {

bool HostPacing::MayStart(const std::string& host, Clock::time_point now) {
  const auto found = next_.find(host);
  if (found == next_.end()) return true;
  if (found->second <= now) {
    // A host no longer held back is forgotten: a run over many hosts
    // keeps only the busy ones.
    if (rate_ == 0) next_.erase(found);
    return true;
  }
  next_due_ = next_due_ ? std::min(*next_due_, found->second) : found->second;
  return false;
}

void HostPacing::Started(const std::string& host, Clock::time_point now) {
  if (rate_ <= 0) return;
  Clock::time_point& next = next_[host];
  // Spaced evenly from the last start, not bunched after a quiet spell.
  const auto interval =
      std::chrono::duration_cast<Clock::duration>(std::chrono::seconds(1)) / rate_;
  next = std::max(next, now) + interval;
}

void HostPacing::HoldOff(const std::string& host, Clock::time_point until) {
  Clock::time_point& next = next_[host];
  next = std::max(next, until);
}

std::optional<HostPacing::Clock::time_point> HostPacing::TakeNextDue() {
  const auto due = next_due_;
  next_due_.reset();
  return due;
}

void HostPacing::Clear() {
  next_.clear();
  next_due_.reset();
}

}  // namespace quimbel
