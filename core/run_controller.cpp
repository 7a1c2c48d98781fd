#include "core/run_controller.h"

#include <any>
#include <filesystem>
#include <string_view>

#include "core/status_code_table.h"
#include "platform/open_files.h"

namespace quimbel {
namespace {

constexpr std::string_view kNoFilesFound =
    "No files found.\n\nWas your filter option set correctly?";

}  // namespace

RunController::RunController(RunHost& host, MessagePoster& poster)
    : host_(host),
      probe_worker_(poster),
      progress_(host_),
      purge_(host_, poster,
             {[this](const std::string& file, int number) {
                if (number > 1) progress_.NextFile();
                progress_.ShowFile(file, number, static_cast<int>(files_.size()), nullptr, 0);
              },
              [this] { EndPurge(); }}),
      recheck_(results_, host_, [this](const ProbeOutcome& outcome) { return VerdictOf(outcome); }),
      watch_({results_, host_, [this](const ProbeOutcome& outcome) { return VerdictOf(outcome); },
              [this](const std::string& page, LocalLinkChecker& checker, LinkLists& lists) {
                return test_.ReadPageLinks(page, checker, lists);
              },
              [this] { return state_ == RunState::kIdle; }}),
      test_(host_, results_, probe_worker_, progress_, settings_,
            {[this](int files) {
               BeginRun(RunState::kTesting, files);
               tested_ = true;
               stopped_ = false;
               repair_completed_ = false;
             },
             [this] { ResetRun(); }, [this] { EndTest(); },
             [this](const ProbeOutcome& outcome) { watch_.Keep(outcome); }}) {}

// The workers stop and join in their own destructors: a probe is cut short,
// a file being purged is finished.
RunController::~RunController() = default;

void RunController::SetUp() {
  file_limit_ = RaiseOpenFileLimit();
  test_.SetFileLimit(file_limit_);
  probe_worker_.Start();
  purge_.SetUp();
}

bool RunController::CollectRunFiles(const std::string& path, const RunScope& scope) {
  files_ = CollectFiles(path, scope);
  if (files_.empty()) {
    host_.ShowMessage(std::string(kNoFilesFound));
    return false;
  }
  // A new run supersedes whatever a stopped one left behind.
  purge_.Forget();
  return true;
}

void RunController::LogWithDate(const std::string& prefix, const std::string& suffix) {
  host_.LogAppend(prefix + host_.LongDateTime() + suffix);
}

void RunController::BeginRun(RunState state, int files) {
  // A new run ends the watch of the last one.
  StopWatch();
  watch_.ForgetKept();
  progress_.Open(state == RunState::kPurging, files);
  results_ready_ = false;
  host_.LogClear();
  results_.Clear();
  LogWithDate("Start of test ", "\r\n");
  if (!settings_.options_file.empty())
    host_.LogAppend("Options read from " + settings_.options_file + "\r\n");
  state_ = state;
}

void RunController::StartTest(const std::string& path, const RunScope& scope) {
  if (!CollectRunFiles(path, scope)) return;
  last_test_ = {files_, path, scope, {}};
  LocalLinkOptions local = settings_.local;
  if (local.site_root.empty()) {
    std::error_code error;
    local.site_root = std::filesystem::is_directory(path, error)
                          ? path
                          : std::filesystem::path(path).parent_path().string();
    // A bare file name lies in the current folder.
    if (local.site_root.empty()) local.site_root = ".";
  }
  // The history knows a test by the full path of what it checks.
  std::error_code error;
  const std::filesystem::path target = std::filesystem::absolute(path, error).lexically_normal();
  test_.StartFiles(files_, std::move(local), error ? path : target.string());
}

void RunController::StartCrawl(const CrawlOptions& options) {
  // A new run supersedes whatever a stopped one left behind.
  purge_.Forget();
  last_test_ = {};
  test_.StartCrawl(options);
}

void RunController::HandleMessage(const WorkerMessage& message) {
  switch (message.id) {
    case MessageId::kPurgeFileStarted:
      if (purge_.Owns(message.job)) progress_.Show();
      return;
    case MessageId::kPurgeFileDone:
      if (purge_.Owns(message.job)) purge_.OnFileDone(message);
      return;
    case MessageId::kProbeDone:
      OnProbeDone(message);
      return;
    case MessageId::kPathChanged:
      watch_.OnPathChanged(message.text);
      return;
  }
}

void RunController::OnProbeDone(const WorkerMessage& message) {
  const auto& outcome = std::any_cast<const ProbeOutcome&>(message.payload);
  if (watch_.OnProbeDone(message.job, outcome)) return;
  if (state_ == RunState::kTesting && test_.crawler() != nullptr && !outcome.out_of_descriptors &&
      test_.OnCrawlFetched(message.job, outcome)) {
    return;
  }
  // Only a probe of the run or recheck under way: a late one of a stopped
  // run says nothing about this one.
  const bool current = rechecking() ? recheck_.Owns(message.job)
                                    : state_ == RunState::kTesting && test_.InFlight(message.job);
  if (outcome.out_of_descriptors && current) {
    // Not the link's fault: nothing more can be checked.
    const std::string reason =
        "Cannot go on: no file descriptor is left (the limit on open "
        "files is " +
        std::to_string(file_limit_) + "). Check fewer links at once. Processing has stopped";
    if (rechecking()) {
      StopTest();
    } else {
      state_ = RunState::kIdle;
      progress_.StopWatchdog();
      ResetRun();
    }
    host_.LogAppend(reason);
    host_.ShowMessage(reason, MessageIcon::kExclamation);
    return;
  }
  if (rechecking()) {
    if (!recheck_.Owns(message.job)) return;
    // A watch takes the newest outcome of a link.
    if (settings_.keep_outcomes && test_.crawler() == nullptr) watch_.Keep(outcome);
    recheck_.OnDone(message.job, outcome);
    if (recheck_.done()) state_ = RunState::kIdle;
    return;
  }
  if (state_ == RunState::kTesting) test_.Complete(message.job, outcome);
}

void RunController::OnTimer(int id) {
  if (id == kWatchdogTimer) {
    progress_.OnWatchdog(test_.head_url());
  } else if (id == kPurgeSettleTimer) {
    purge_.OnSettled();
  } else if (id == kWatchSettleTimer) {
    watch_.OnSettled();
  } else if (id == kContinueTimer) {
    host_.KillTimer(kContinueTimer);
    test_.Advance();
  }
}

void RunController::EndTest() {
  LogWithDate("End of test: ", "");
  host_.SetStatusText(StatusPane::kConnection, "Search Complete");
  host_.SetStatusText(StatusPane::kMethod, "");
  host_.Beep(BeepKind::kDefault);
  state_ = RunState::kIdle;
}

void RunController::StopTest() {
  if (rechecking()) {
    probe_worker_.CancelProbe();
    recheck_.Cancel();
    state_ = RunState::kIdle;
    host_.LogAppend("Recheck Stopped by User\r\n");
    return;
  }
  if (state_ == RunState::kPurging) purge_.Stop();
  state_ = RunState::kIdle;
  stopped_ = tested_;
  progress_.StopWatchdog();
  ResetRun();
  host_.LogAppend("Testing Stopped by User");
}

void RunController::ResetRun() {
  test_.Reset();
  progress_.Close();
  results_ready_ = true;
  host_.SetStatusText(StatusPane::kConnection, kConnectionStatusIdle);
  host_.SetStatusText(StatusPane::kMethod, kMethodStatusIdle);
}

std::string RunController::checked_folder() const {
  if (last_test_.path.empty() || last_test_.path.find("://") != std::string::npos) return {};
  std::error_code error;
  if (std::filesystem::is_directory(last_test_.path, error)) return last_test_.path;
  const std::string parent = std::filesystem::path(last_test_.path).parent_path().string();
  return parent.empty() ? "." : parent;
}

}  // namespace quimbel
