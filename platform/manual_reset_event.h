// ManualResetEvent: an event that stays signalled until it is reset, and
// WaitAny, which blocks until one of two events is signalled.
//
// Events that are waited on together belong to one EventGroup, which holds
// the lock and the condition the waiter sleeps on; a Set() wakes only the
// waiters of its own group. The workers block on a (stop, kick) pair; the
// stop event wins when both are signalled, so a stop can never be starved
// by a stream of kicks. Any thread may call any member. A group must
// outlive its events, and events their waiters.
#pragma once

#include "platform/mutex.h"

namespace quimbel {

class EventGroup {
 public:
  EventGroup() = default;
  EventGroup(const EventGroup&) = delete;
  EventGroup& operator=(const EventGroup&) = delete;

 private:
  friend class ManualResetEvent;
  friend int WaitAny(const class ManualResetEvent&, const class ManualResetEvent&);
  Mutex mutex_;
  ConditionVariable changed_;
};

class ManualResetEvent {
 public:
  explicit ManualResetEvent(EventGroup& group) : group_(group) {}
  ManualResetEvent(const ManualResetEvent&) = delete;
  ManualResetEvent& operator=(const ManualResetEvent&) = delete;

  void Set();
  void Reset();
  bool IsSet() const;

 private:
  friend int WaitAny(const ManualResetEvent& first, const ManualResetEvent& second);
  EventGroup& group_;
  bool signalled_ GUARDED_BY(group_.mutex_) = false;
};

// Blocks without a time limit until `first` or `second` is signalled and
// returns 0 for `first`, 1 for `second`; 0 when both are. Both events must
// belong to the same group.
int WaitAny(const ManualResetEvent& first, const ManualResetEvent& second);

}  // namespace quimbel
