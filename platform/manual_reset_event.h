// ManualResetEvent: an event that stays signalled until it is reset, and
// WaitAny, which blocks until one of two events is signalled.
//
// The workers block on a (stop, kick) pair; the stop event wins when both
// are signalled, so a stop can never be starved by a stream of kicks.
// Any thread may call any member. Events must outlive every waiter.
#pragma once

namespace quimbel {

class ManualResetEvent {
 public:
  ManualResetEvent() = default;
  ManualResetEvent(const ManualResetEvent&) = delete;
  ManualResetEvent& operator=(const ManualResetEvent&) = delete;

  void Set();
  void Reset();
  bool IsSet() const;

 private:
  friend int WaitAny(const ManualResetEvent& first, const ManualResetEvent& second);
  bool signalled_ = false;  // Guarded by the process-wide event mutex.
};

// Blocks without a time limit until `first` or `second` is signalled and
// returns 0 for `first`, 1 for `second`. When both are signalled, 0.
int WaitAny(const ManualResetEvent& first, const ManualResetEvent& second);

}  // namespace quimbel
