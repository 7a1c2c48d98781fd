// PurgeWorker: the long-lived thread that purges one file per kick.
//
// The path travels with the kick. For each job the worker posts
// kPurgeFileStarted, then kPurgeFileDone with the number of comments
// removed as its parameter and the PurgeResult as its payload; both carry
// the job number Kick() returned. Any thread may call Kick() and Stop();
// the destructor stops and joins (a file being purged is finished first,
// so it is never left half written).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/worker_message.h"
#include "platform/worker_thread.h"
#include "purge/comment_purge.h"

namespace quimbel {

class PurgeWorker {
 public:
  explicit PurgeWorker(MessagePoster& poster) : poster_(poster) {}
  ~PurgeWorker() { Stop(); }
  PurgeWorker(const PurgeWorker&) = delete;
  PurgeWorker& operator=(const PurgeWorker&) = delete;

  void Start() { thread_.Start(); }
  std::uint64_t Kick(std::string path);
  // True from a kick until its kPurgeFileDone has been posted.
  bool Busy() { return thread_.Busy(); }
  void Stop() { thread_.Stop({}); }

 private:
  MessagePoster& poster_;
  std::atomic<std::uint64_t> next_job_{1};
  WorkerThread thread_;
};

}  // namespace quimbel
