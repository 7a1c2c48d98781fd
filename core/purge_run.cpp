#include "core/purge_run.h"

#include "core/run_controller.h"

#include <any>
#include <chrono>

namespace quimbel {

std::string PurgeQuestion(std::size_t file_count) {
  return "Remove all HTML comments from " + std::to_string(file_count) +
         (file_count == 1 ? " file" : " files") + "? This cannot be undone.";
}

Purge::Purge(RunHost& host, MessagePoster& poster, Hooks hooks)
    : host_(host), worker_(poster), hooks_(std::move(hooks)) {}

void Purge::Start(std::vector<std::string> files) {
  files_.assign(files.begin(), files.end());
  number_ = 0;
  failures_ = 0;
  Next();
}

void Purge::Forget() {
  host_.KillTimer(kPurgeSettleTimer);
  job_ = 0;
  files_.clear();
}

void Purge::Next() {
  if (files_.empty()) {
    job_ = 0;
    hooks_.on_end();
    return;
  }
  current_ = files_.front();
  hooks_.on_file(current_, ++number_);
  comments_ = 0;
  error_.clear();
  host_.LogAppend("Testing: " + current_);
  job_ = worker_.Kick(current_);
}

void Purge::OnFileDone(const WorkerMessage& message) {
  comments_ += static_cast<int>(message.param);
  if (const auto* result = std::any_cast<PurgeResult>(&message.payload);
      result && !result->status) {
    error_ = result->status.message();
    ++failures_;
  }
  // A short pause before the next file, without freezing the window.
  host_.StartTimer(kPurgeSettleTimer, std::chrono::milliseconds(100));
}

void Purge::OnSettled() {
  host_.KillTimer(kPurgeSettleTimer);
  // A file left alone says why, and only that: a count of 0 beside it
  // would read as a file without comments.
  if (!error_.empty()) {
    host_.LogAppend("Error: " + error_ + "\r\n");
  } else {
    host_.LogAppend("Results for " + current_ + ": Comments purged: " + std::to_string(comments_) +
                    ". \r\n");
  }
  if (!files_.empty()) files_.pop_front();
  Next();
}

// The controller's side: the run around the purge.

void RunController::StartPurge(const std::string& path, const RunScope& scope,
                               PurgeConfirmation confirmation) {
  if (!CollectRunFiles(path, scope)) return;
  if (confirmation == PurgeConfirmation::kAsk &&
      !host_.AskYesNoDefaultNo(PurgeQuestion(files_.size()), MessageIcon::kQuestion)) {
    return;
  }
  BeginRun(RunState::kPurging, static_cast<int>(files_.size()));
  tested_ = false;
  purge_.Start(files_);
  repair_completed_ = false;
}

void RunController::EndPurge() {
  progress_.NextFile();
  progress_.LastFileDone();
  ResetRun();
  LogWithDate("End of test: ", "");
  host_.Beep(BeepKind::kDefault);
  state_ = RunState::kIdle;
}

}  // namespace quimbel
