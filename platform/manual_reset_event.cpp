#include "platform/manual_reset_event.h"

#include <cassert>

namespace quimbel {

void ManualResetEvent::Set() {
  {
    MutexLock lock(group_.mutex_);
    signalled_ = true;
  }
  group_.changed_.notify_all();
}

void ManualResetEvent::Reset() {
  MutexLock lock(group_.mutex_);
  signalled_ = false;
}

bool ManualResetEvent::IsSet() const {
  MutexLock lock(group_.mutex_);
  return signalled_;
}

// Both events share one group, and so one mutex: asserted here, but beyond
// what the analysis can see through two references.
int WaitAny(const ManualResetEvent& first,
            const ManualResetEvent& second) NO_THREAD_SAFETY_ANALYSIS {
  assert(&first.group_ == &second.group_);
  EventGroup& group = first.group_;
  MutexLock lock(group.mutex_);
  while (!first.signalled_ && !second.signalled_)
    group.changed_.wait(group.mutex_);
  return first.signalled_ ? 0 : 1;
}

}  // namespace quimbel
