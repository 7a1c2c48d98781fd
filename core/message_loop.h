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

#include "platform/mutex.h"
#include "platform/worker_message.h"

namespace quimbel {

class MessageLoop {
 public:
  using Clock = std::chrono::steady_clock;

  // kLater queues the task without waking the loop: it runs, in order,
  // when something else wakes it. For messages nobody waits to see.
  enum class Wake { kNow, kLater };
  void PostTask(std::function<void()> task, Wake wake = Wake::kNow);
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

  Mutex mutex_;
  ConditionVariable wake_;
  std::deque<std::function<void()>> tasks_ GUARDED_BY(mutex_);
  bool quit_ GUARDED_BY(mutex_) = false;
  std::map<int, Timer> timers_;  // loop thread only
};

// Delivers worker messages to a handler on the loop's thread. A host that
// shows nothing for some messages (a command line has no status bar) can
// let them wait for the next wake-up instead of waking the loop for each.
class LoopPoster : public MessagePoster {
 public:
  using Handler = std::function<void(const WorkerMessage&)>;
  using Urgent = std::function<bool(const WorkerMessage&)>;
  LoopPoster(MessageLoop& loop, Handler handler, Urgent urgent = {})
      : loop_(loop), handler_(std::move(handler)), urgent_(std::move(urgent)) {}
  void Post(WorkerMessage message) override;

 private:
  MessageLoop& loop_;
  Handler handler_;
  Urgent urgent_;
};

}  // namespace quimbel
