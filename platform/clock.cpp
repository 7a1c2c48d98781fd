#include "platform/clock.h"

#include <atomic>

namespace quimbel {
namespace {
std::atomic<Clock*> g_clock{nullptr};
}  // namespace

SteadyTime SteadyNow() {
  Clock* clock = g_clock.load(std::memory_order_acquire);
  return clock != nullptr ? clock->Now() : std::chrono::steady_clock::now();
}

void SetClock(Clock* clock) {
  g_clock.store(clock, std::memory_order_release);
}

}  // namespace quimbel
