#include "core/message_loop.h"

#include <memory>

namespace quimbel {

void MessageLoop::PostTask(std::function<void()> task, Wake wake) {
  {
    MutexLock lock(mutex_);
    tasks_.push_back(std::move(task));
  }
  if (wake == Wake::kNow) wake_.notify_one();
}

void MessageLoop::Quit() {
  {
    MutexLock lock(mutex_);
    quit_ = true;
  }
  wake_.notify_one();
}

void MessageLoop::StartTimer(int id, std::chrono::milliseconds interval,
                             std::function<void()> on_fire) {
  timers_[id] = Timer{interval, Clock::now() + interval, std::move(on_fire)};
}

void MessageLoop::KillTimer(int id) {
  timers_.erase(id);
}

bool MessageLoop::Run(Clock::time_point deadline) {
  for (;;) {
    Clock::time_point next = deadline;
    for (const auto& [id, timer] : timers_)
      next = std::min(next, timer.due);

    std::function<void()> task;
    {
      MutexLock lock(mutex_);
      while (!quit_ && tasks_.empty()) {
        if (wake_.wait_until(mutex_, next) == std::cv_status::timeout) break;
      }
      if (quit_) {
        quit_ = false;
        return true;
      }
      if (!tasks_.empty()) {
        task = std::move(tasks_.front());
        tasks_.pop_front();
      }
    }
    if (task) {
      task();
      continue;
    }

    const auto now = Clock::now();
    // A timer callback may start or kill timers, so fire one at a time and
    // look the map up again afterwards.
    bool fired = false;
    for (auto& [id, timer] : timers_) {
      if (timer.due <= now) {
        timer.due = now + timer.interval;
        auto on_fire = timer.on_fire;
        on_fire();
        fired = true;
        break;
      }
    }
    if (!fired && now >= deadline) return false;
  }
}

void LoopPoster::Post(WorkerMessage message) {
  const auto wake =
      !urgent_ || urgent_(message) ? MessageLoop::Wake::kNow : MessageLoop::Wake::kLater;
  auto shared = std::make_shared<WorkerMessage>(std::move(message));
  loop_.PostTask([this, shared] { handler_(*shared); }, wake);
}

}  // namespace quimbel
