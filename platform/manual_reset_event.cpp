#include "platform/manual_reset_event.h"

#include <condition_variable>
#include <mutex>

namespace quimbel {
namespace {

// One mutex and condition variable serve every event. Events change a few
// times per probe, so sharing costs nothing measurable, and it lets a waiter
// sleep on two events at once without any registration scheme.
std::mutex& EventMutex() {
  static std::mutex mutex;
  return mutex;
}

std::condition_variable& EventChanged() {
  static std::condition_variable changed;
  return changed;
}

}  // namespace

void ManualResetEvent::Set() {
  {
    std::lock_guard lock(EventMutex());
    signalled_ = true;
  }
  EventChanged().notify_all();
}

void ManualResetEvent::Reset() {
  std::lock_guard lock(EventMutex());
  signalled_ = false;
}

bool ManualResetEvent::IsSet() const {
  std::lock_guard lock(EventMutex());
  return signalled_;
}

int WaitAny(const ManualResetEvent& first, const ManualResetEvent& second) {
  std::unique_lock lock(EventMutex());
  EventChanged().wait(lock, [&] { return first.signalled_ || second.signalled_; });
  return first.signalled_ ? 0 : 1;
}

}  // namespace quimbel
