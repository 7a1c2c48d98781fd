#include "core/run_controller.h"

#include <any>
#include <string_view>

#include "core/product.h"
#include "core/status_code_table.h"
#include "probe/reply_parsing.h"

namespace quimbel {
namespace {

constexpr std::string_view kNoFilesFound =
    "No files found.\n\nWas your filter option set correctly?";

std::string Format(std::string_view pattern, const std::string& text) {
  std::string result(pattern);
  result.replace(result.find("%s"), 2, text);
  return result;
}

}  // namespace

std::string PurgeQuestion(std::size_t file_count) {
  return "Remove all HTML comments from " + std::to_string(file_count) +
         (file_count == 1 ? " file" : " files") + "? This cannot be undone.";
}

RunController::RunController(RunHost& host, MessagePoster& poster)
    : host_(host), probe_worker_(poster), purge_worker_(poster), poster_(poster) {
  user_agent_ = UserAgent();
}

bool IsUsableUserAgent(std::string_view agent) {
  if (agent.empty()) return false;
  for (const char c : agent) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) return false;
  }
  return true;
}

void RunController::SetUserAgent(const std::string& agent) {
  user_agent_ = IsUsableUserAgent(agent) ? agent : UserAgent();
}

// The workers stop and join in their own destructors: a probe is cut short,
// a file being purged is finished.
RunController::~RunController() = default;

void RunController::SetUp() {
  probe_worker_.Start();
  purge_worker_.Start();
}

bool RunController::CollectRunFiles(const std::string& path, const RunScope& scope) {
  const std::vector<std::string> files = CollectFiles(path, scope);
  if (files.empty()) {
    host_.ShowMessage(std::string(kNoFilesFound));
    return false;
  }
  // A new run supersedes whatever a stopped one left behind.
  host_.KillTimer(kPurgeSettleTimer);
  probe_job_ = 0;
  purge_job_ = 0;
  files_.assign(files.begin(), files.end());
  total_files_ = static_cast<int>(files.size());
  return true;
}

void RunController::LogWithDate(const std::string& prefix, const std::string& suffix) {
  host_.LogAppend(prefix + host_.LongDateTime() + suffix);
}

void RunController::BeginRun(bool file_only) {
  host_.CreateProgress(file_only);
  progress_open_ = true;
  progress_ = {};
  host_.SetFileBarRange(total_files_);
  results_ready_ = false;
  host_.LogClear();
  results_.Clear();
  LogWithDate("Start of test ", "\r\n");
  running_ = true;
}

void RunController::StartTest(const std::string& path, const RunScope& scope) {
  if (!CollectRunFiles(path, scope)) return;
  probed_.clear();
  error_count_ = -1;
  unknown_error_seen_ = false;
  BeginRun(false);
  TestURLsStateMachine();
  repair_completed_ = false;
}

void RunController::ShowFileProgress() {
  progress_.current_file = current_file_;
  progress_.file_number = std::to_string(total_files_ - static_cast<int>(files_.size()) + 1);
  progress_.file_total = std::to_string(total_files_);
  if (progress_open_) host_.TransferProgress(progress_);
}

void RunController::TestURLsStateMachine() {
  // Files without links are passed over here in one go.
  for (;;) {
    if (files_.empty() && links_.urls.empty()) {
      EndTest();
      return;
    }
    if (!links_.urls.empty()) {
      KickHead();
      return;
    }
    if (error_count_ != -1) LogFileResults();
    current_file_ = files_.front();
    ShowFileProgress();
    if (error_count_ != -1 && progress_open_) {
      host_.StepFileBar();
      host_.SetUrlBarPosition(0);
    }
    error_count_ = 0;
    if (!ExtractUrls(current_file_, links_, url_count_)) {
      host_.ShowMessage(CannotOpenFileMessage(current_file_), MessageIcon::kExclamation);
      StopWatchdog();
      host_.ShowMessage("Unknown error: Processing has stopped");
      files_.clear();
      EndTest();
      return;
    }
    host_.LogAppend("Testing: " + current_file_);
    files_.pop_front();
    if (!links_.urls.empty()) {
      if (progress_open_) host_.SetUrlBarRange(static_cast<int>(links_.urls.size()));
      KickHead();
      return;
    }
  }
}

void RunController::KickHead() {
  const auto found = probed_.find(links_.urls.front());
  if (found == probed_.end()) {
    probe_job_ = probe_worker_.Kick({links_.urls.front(), timeout_, user_agent_});
    return;
  }
  // The replay goes through the message queue like a probe's messages, so
  // a page of repeated links never nests one call in the next.
  constexpr std::uint64_t kReplayed = std::uint64_t{1} << 63;
  probe_job_ = kReplayed | ++replayed_jobs_;
  ProbeOutcome outcome = found->second;
  outcome.job = probe_job_;
  poster_.Post({MessageId::kProbeBegun, probe_job_, 0, {}, {}});
  poster_.Post({MessageId::kProbeDone, probe_job_, outcome.code, {}, std::move(outcome)});
}

void RunController::LogFileResults() {
  host_.LogAppend("Results for " + current_file_ + ": URLs tested: " + std::to_string(url_count_) +
                  ". URL errors: " + std::to_string(error_count_) + ".\r\n");
}

void RunController::HandleMessage(const WorkerMessage& message) {
  switch (message.id) {
    case MessageId::kPurgeFileStarted:
      if (message.job == purge_job_ && progress_open_) host_.TransferProgress(progress_);
      return;
    case MessageId::kPurgeFileDone:
      if (message.job == purge_job_) OnPurgeFileDone(message);
      return;
    default:
      break;
  }
  // A probe of a run that is over, or that a stop cut short, changes nothing.
  if (message.job != probe_job_) return;
  switch (message.id) {
    case MessageId::kProbeBegun:
      OnProbeBegun();
      break;
    case MessageId::kProbeConnecting:
      if (!running_) break;
      host_.SetStatusText(StatusPane::kConnection, Format("Connecting to %s", message.text));
      host_.SetStatusText(StatusPane::kMethod, "");
      break;
    case MessageId::kProbeConnected:
      if (!running_) break;
      host_.SetStatusText(
          StatusPane::kConnection,
          Format(message.param != 0 ? "Connection to %s failed" : "Connected to %s", message.text));
      break;
    case MessageId::kProbeRequestSent:
      if (running_) host_.SetStatusText(StatusPane::kMethod, "GET method sent to host");
      break;
    case MessageId::kProbeReplyRead:
      if (!running_) break;
      host_.SetStatusText(StatusPane::kMethod,
                          message.param > 0 ? "Host Reply Received" : "No Reply Received");
      break;
    case MessageId::kProbeDone:
      OnThreadURLDone(std::any_cast<const ProbeOutcome&>(message.payload));
      break;
    default:
      break;
  }
}

void RunController::OnProbeBegun() {
  if (!running_) return;
  // The head of the list is the URL under way; the progress window shows
  // at most a screenful of it, however long it is.
  constexpr std::size_t kShownLength = 4096;
  progress_.current_url =
      links_.urls.empty() ? std::string() : links_.urls.front().substr(0, kShownLength);
  progress_.url_link_text =
      links_.anchors.empty() ? std::string() : links_.anchors.front().substr(0, kShownLength);
  progress_.url_number = std::to_string(url_count_ - links_.urls.size() + 1);
  progress_.url_total = std::to_string(url_count_);
  if (progress_open_) host_.TransferProgress(progress_);
  host_.StartTimer(kWatchdogTimer, timeout_ + std::chrono::seconds(1));
  watchdog_armed_ = true;
}

void RunController::OnTimer(int id) {
  if (id == kWatchdogTimer) {
    if (!watchdog_armed_) return;
    // The watchdog only marks a slow probe; the worker's own limits end it.
    static const std::string kNone;
    const std::string& url = links_.urls.empty() ? kNone : links_.urls.front();
    host_.LogAppend("Timeout occured while testing " + url + ".\r\n");
    StopWatchdog();
  } else if (id == kPurgeSettleTimer) {
    host_.KillTimer(kPurgeSettleTimer);
    FinishPurgedFile();
  }
}

void RunController::StopWatchdog() {
  if (!watchdog_armed_) return;
  host_.KillTimer(kWatchdogTimer);
  watchdog_armed_ = false;
}

void RunController::OnThreadURLDone(const ProbeOutcome& outcome) {
  StopWatchdog();
  if (!running_) return;
  // Remembered for the URL's later occurrences; a huge URL is not worth
  // holding twice.
  constexpr std::size_t kLongestRemembered = 1 << 16;
  if (!outcome.cancelled && outcome.url.size() <= kLongestRemembered) {
    probed_.try_emplace(outcome.url, outcome);
  }
  host_.SetStatusText(StatusPane::kConnection, "No connection");
  if (outcome.code != kReplyRead) {
    RecordSocketError(outcome.code);
  } else {
    ClassifyReply(outcome);
    PopHeads();
    if (progress_open_) host_.StepUrlBar();
  }
  TestURLsStateMachine();
}

void RunController::ClassifyReply(const ProbeOutcome& outcome) {
  if (outcome.protocol == Protocol::kFtp) return;  // a connection is all ftp gets
  const std::string alternate = AlternateUrl(outcome.reply, outcome.url);
  if (ReplyText(outcome.reply).empty()) {
    // The host closed without a word: always worth a row, but no beep.
    AddRow(std::string(kUnknownErrorReason));
    return;
  }
  // A status line without a number is as unexpected as an unknown code.
  const OutcomeCode status = ParseStatusCode(outcome.reply).value_or(0);
  if (!filter_.IsReported(status)) return;
  const std::string reason(ReasonText(status, unknown_error_seen_, host_));
  const bool moved = status == 301 || status == 302 || status == 307 || status == 308;
  AddRow(reason);
  if (moved) results_.SetResultColumn(ResultColumn::kAlternateUrl, alternate);
}

void RunController::AddRow(const std::string& reason) {
  // The head is dropped right after its row is made: the row takes its
  // text over instead of a copy, which matters for a huge URL.
  const std::size_t row = results_.AppendResultRow(std::move(links_.urls.front()));
  if (visible_) host_.ScrollToRow(row);
  results_.SetResultColumn(ResultColumn::kReason, reason);
  results_.SetResultColumn(ResultColumn::kSiteName, links_.anchors.front(), current_file_);
  ++error_count_;
}

void RunController::PopHeads() {
  if (!links_.urls.empty()) links_.urls.pop_front();
  if (!links_.anchors.empty()) links_.anchors.pop_front();
}

void RunController::RecordSocketError(OutcomeCode code) {
  if (links_.urls.empty()) {
    host_.ShowMessage("empty URL list");
  } else {
    if (filter_.IsReported(code)) {
      AddRow(std::string(ReasonText(code, unknown_error_seen_, host_)));
    }
    PopHeads();
  }
  if (progress_open_) host_.StepUrlBar();
}

void RunController::EndTest() {
  StopWatchdog();
  ResetRun();
  LogFileResults();
  LogWithDate("End of test: ", "");
  host_.SetStatusText(StatusPane::kConnection, "Search Complete");
  host_.SetStatusText(StatusPane::kMethod, "");
  host_.Beep(BeepKind::kDefault);
  running_ = false;
}

void RunController::StopTest() {
  running_ = false;
  StopWatchdog();
  ResetRun();
  host_.LogAppend("Testing Stopped by User");
}

void RunController::ResetRun() {
  probe_worker_.CancelProbe();
  files_.clear();
  links_.urls.clear();
  links_.anchors.clear();
  if (progress_open_) {
    host_.DestroyProgress();
    progress_open_ = false;
  }
  results_ready_ = true;
  host_.SetStatusText(StatusPane::kConnection, kConnectionStatusIdle);
  host_.SetStatusText(StatusPane::kMethod, kMethodStatusIdle);
}

void RunController::StartPurge(const std::string& path, const RunScope& scope,
                               PurgeConfirmation confirmation) {
  if (!CollectRunFiles(path, scope)) return;
  if (confirmation == PurgeConfirmation::kAsk &&
      !host_.AskYesNo(PurgeQuestion(files_.size()), MessageIcon::kQuestion)) {
    files_.clear();
    return;
  }
  purge_failures_ = 0;
  first_file_pending_ = true;
  BeginRun(true);
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
  // A file left alone says why, so a count of 0 is never taken for a
  // file without comments.
  if (!purge_error_.empty()) host_.LogAppend("Error: " + purge_error_);
  host_.LogAppend("Results for " + current_file_ +
                  ": Comments purged: " + std::to_string(comments_purged_) + ". \r\n");
  if (!files_.empty()) files_.pop_front();
  if (!running_) files_.clear();  // stopped: this file was the last
  PurgeNextFile();
}

void RunController::EndPurge() {
  if (progress_open_) host_.StepFileBar();
  ResetRun();
  LogWithDate("End of test: ", "");
  host_.Beep(BeepKind::kDefault);
  running_ = false;
}

}  // namespace quimbel
