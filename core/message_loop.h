// MessageLoop: the headless stand-in for a window's message queue.
//
// Tasks posted from any thread run one at a time, in posting order, on the
// thread that calls Run(). Timers repeat, like window timers, until killed.
// StartTimer, KillTimer and Run belong to the loop thread; PostTask, Quit
// and LoopPoster::Post may be called from anywhere.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>

#include "platform/worker_message.h"

namespace quimbel {

class MessageLoop {
 public:
  using Clock = std::chrono::steady_clock;

  void PostTask(std::function<void()> task);
  void Quit();

  void StartTimer(int id, std::chrono::milliseconds interval, std::function<void()> on_fire);
  void KillTimer(int id);

  // Dispatches until Quit() or `deadline`; true when Quit() ended it. A
  // Quit() that came before Run() ends the next Run() at once.
  bool Run(Clock::time_point deadline = Clock::time_point::max());

 private:
  struct Timer {
    std::chrono::milliseconds interval;
    Clock::time_point due;
    std::function<void()> on_fire;
  };

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> tasks_;  // guarded by mutex_
  bool quit_ = false;                        // guarded by mutex_
  std::map<int, Timer> timers_;              // loop thread only
};

// Delivers worker messages to a handler on the loop's thread.
class LoopPoster : public MessagePoster {
 public:
  using Handler = std::function<void(const WorkerMessage&)>;
  LoopPoster(MessageLoop& loop, Handler handler) : loop_(loop), handler_(std::move(handler)) {}
  void Post(WorkerMessage message) override;

 private:
  MessageLoop& loop_;
  Handler handler_;
};

}  // namespace quimbel
