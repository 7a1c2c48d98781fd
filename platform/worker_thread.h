// WorkerThread: one long-lived thread that runs one job per kick, blocking
// on a (stop, kick) pair of manual-reset events in between.
//
// A job is handed over by value with its kick, so the thread never reads
// state the user-interface thread may change. A kick given while a job
// runs waits for that job to end; a second such kick replaces the first.
// Any thread may call any member; the destructor stops and joins.
#pragma once

#include <functional>
#include <optional>
#include <thread>

#include "platform/manual_reset_event.h"
#include "platform/mutex.h"

namespace quimbel {

class WorkerThread {
 public:
  // `on_take` runs under the thread's lock each time a job is taken, so it
  // cannot race with DropPending's `if_busy`.
  explicit WorkerThread(std::function<void()> on_take = {}) : on_take_(std::move(on_take)) {}
  ~WorkerThread() { Stop({}); }
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  void Start();
  void Kick(std::function<void()> job);

  // Drops a job not yet started; when one is running, calls `if_busy` (under
  // the lock) so the caller can cut it short.
  void DropPending(const std::function<void()>& if_busy);

  // True while a job has been kicked and not yet finished.
  bool Busy();

  // Ends the thread: drops what is pending, lets `if_busy` cut the running
  // job short, and joins. Idempotent.
  void Stop(const std::function<void()>& if_busy);

 private:
  void Run();

  std::function<void()> on_take_;
  EventGroup events_;
  ManualResetEvent stop_{events_};
  ManualResetEvent kick_{events_};
  Mutex mutex_;
  std::optional<std::function<void()>> pending_ GUARDED_BY(mutex_);
  bool running_job_ GUARDED_BY(mutex_) = false;
  std::thread thread_;
};

}  // namespace quimbel
