// The comment purge: one file at a time on the purge worker, a short
// settle between files, a log line per file.
#include "core/run_controller.h"

namespace quimbel {

std::string PurgeQuestion(std::size_t file_count) {
  return "Remove all HTML comments from " + std::to_string(file_count) +
         (file_count == 1 ? " file" : " files") + "? This cannot be undone.";
}

void RunController::StartPurge(const std::string& path, const RunScope& scope,
                               PurgeConfirmation confirmation) {
  if (!CollectRunFiles(path, scope)) return;
  if (confirmation == PurgeConfirmation::kAsk &&
      !host_.AskYesNoDefaultNo(PurgeQuestion(files_.size()), MessageIcon::kQuestion)) {
    files_.clear();
    return;
  }
  purge_failures_ = 0;
  first_file_pending_ = true;
  BeginRun(RunState::kPurging);
  tested_ = false;
  links_checked_ = 0;
  PurgeNextFile();
  repair_completed_ = false;
}

void RunController::PurgeNextFile() {
  if (!first_file_pending_) {
    if (progress_open_) {
      host_.StepFileBar();
      host_.SetUrlBarPosition(0);
    }
  } else {
    first_file_pending_ = false;
  }
  if (files_.empty()) {
    EndPurge();
    return;
  }
  current_file_ = files_.front();
  ShowFileProgress();
  comments_purged_ = 0;
  purge_error_.clear();
  host_.LogAppend("Testing: " + current_file_);
  purge_job_ = purge_worker_.Kick(current_file_);
}

void RunController::OnPurgeFileDone(const WorkerMessage& message) {
  comments_purged_ += static_cast<int>(message.param);
  if (const auto* result = std::any_cast<PurgeResult>(&message.payload);
      result && !result->status) {
    purge_error_ = result->status.message();
    ++purge_failures_;
  }
  // A short pause before the next file, without freezing the window.
  host_.StartTimer(kPurgeSettleTimer, std::chrono::milliseconds(100));
}

void RunController::FinishPurgedFile() {
  // A file left alone says why, and only that: a count of 0 beside it
  // would read as a file without comments.
  if (!purge_error_.empty()) {
    host_.LogAppend("Error: " + purge_error_ + "\r\n");
  } else {
    host_.LogAppend("Results for " + current_file_ +
                    ": Comments purged: " + std::to_string(comments_purged_) + ". \r\n");
  }
  if (!files_.empty()) files_.pop_front();
  if (state_ != RunState::kPurging) files_.clear();  // stopped: this file was the last
  PurgeNextFile();
}

void RunController::EndPurge() {
  if (progress_open_) host_.StepFileBar();
  ResetRun();
  LogWithDate("End of test: ", "");
  host_.Beep(BeepKind::kDefault);
  state_ = RunState::kIdle;
}

}  // namespace quimbel
