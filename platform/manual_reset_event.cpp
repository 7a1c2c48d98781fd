#include "platform/manual_reset_event.h"

#include <cassert>

namespace quimbel {

void ManualResetEvent::Set() {
  {
    std::lock_guard lock(group_.mutex_);
    signalled_ = true;
  }
  group_.changed_.notify_all();
}

void ManualResetEvent::Reset() {
  std::lock_guard lock(group_.mutex_);
  signalled_ = false;
}

bool ManualResetEvent::IsSet() const {
  std::lock_guard lock(group_.mutex_);
  return signalled_;
}

int WaitAny(const ManualResetEvent& first, const ManualResetEvent& second) {
  assert(&first.group_ == &second.group_);
  EventGroup& group = first.group_;
  std::unique_lock lock(group.mutex_);
  group.changed_.wait(lock, [&] { return first.signalled_ || second.signalled_; });
  return first.signalled_ ? 0 : 1;
}

}  // namespace quimbel
