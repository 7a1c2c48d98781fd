#include "purge/purge_worker.h"

namespace quimbel {

std::uint64_t PurgeWorker::Kick(std::string path) {
  const std::uint64_t number = next_job_++;
  thread_.Kick([this, number, path = std::move(path)] {
    poster_.Post(WorkerMessage{MessageId::kPurgeFileStarted, number, 0, path, {}});
    const PurgeResult result = PurgeFileComments(path);
    poster_.Post(WorkerMessage{MessageId::kPurgeFileDone, number, result.comments, path, result});
  });
  return number;
}

}  // namespace quimbel
