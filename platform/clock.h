// The steady time the engine paces, retries and times out by, behind a
// seam: a test installs a clock it moves by hand, so a ten-second wait is
// checked to the millisecond without being waited for. Nothing is
// installed outside tests. Any thread.
#pragma once

#include <chrono>

namespace quimbel {

using SteadyTime = std::chrono::steady_clock::time_point;

class Clock {
 public:
  virtual ~Clock() = default;
  virtual SteadyTime Now() = 0;
};

// The installed clock's time, or the steady clock's when none is.
SteadyTime SteadyNow();
// Installs `clock` for every thread; nullptr removes it. The caller keeps
// it alive until it is removed.
void SetClock(Clock* clock);

}  // namespace quimbel
