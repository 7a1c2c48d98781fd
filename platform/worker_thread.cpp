#include "platform/worker_thread.h"

namespace quimbel {

void WorkerThread::Start() {
  if (thread_.joinable()) return;
  stop_.Reset();
  kick_.Reset();
  thread_ = std::thread([this] { Run(); });
}

void WorkerThread::Kick(std::function<void()> job) {
  {
    MutexLock lock(mutex_);
    pending_ = std::move(job);
  }
  kick_.Set();
}

void WorkerThread::DropPending(const std::function<void()>& if_busy) {
  MutexLock lock(mutex_);
  pending_.reset();
  if (running_job_ && if_busy) if_busy();
}

bool WorkerThread::Busy() {
  MutexLock lock(mutex_);
  return running_job_ || pending_.has_value();
}

void WorkerThread::Stop(const std::function<void()>& if_busy) {
  stop_.Set();
  DropPending(if_busy);
  if (thread_.joinable()) thread_.join();
}

void WorkerThread::Run() {
  // The stop event comes first: a stop is never starved by kicks.
  while (WaitAny(stop_, kick_) == 1) {
    std::optional<std::function<void()>> job;
    {
      MutexLock lock(mutex_);
      job.swap(pending_);
      kick_.Reset();
      running_job_ = job.has_value();
      if (running_job_ && on_take_) on_take_();
    }
    if (!job) continue;
    (*job)();
    MutexLock lock(mutex_);
    running_job_ = false;
  }
}

}  // namespace quimbel
