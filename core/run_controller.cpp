#include "core/run_controller.h"

#include <any>
#include <filesystem>
#include <string_view>

#include "core/product.h"
#include "core/status_code_table.h"
#include "platform/open_files.h"

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
    : host_(host), probe_worker_(poster), purge_worker_(poster) {
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
  file_limit_ = RaiseOpenFileLimit();
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
  if (!options_file_.empty()) host_.LogAppend("Options read from " + options_file_ + "\r\n");
  file_records_.clear();
  running_ = true;
}

void RunController::StartTest(const std::string& path, const RunScope& scope) {
  if (!CollectRunFiles(path, scope)) return;
  const ProbeSettings probe = ProbeSettingsInForce();
  probe_worker_.Configure(probe);
  LocalLinkOptions local = local_options_;
  if (local.site_root.empty()) {
    std::error_code error;
    local.site_root = std::filesystem::is_directory(path, error)
                          ? path
                          : std::filesystem::path(path).parent_path().string();
    // A bare file name lies in the current folder.
    if (local.site_root.empty()) local.site_root = ".";
  }
  run_local_options_ = local;
  local_checker_ = std::make_unique<LocalLinkChecker>(std::move(local));
  error_count_ = -1;
  unknown_error_seen_ = false;
  links_ = LinkLists();
  links_checked_ = 0;
  BeginRun(false);
  tested_ = true;
  if (probe.parallel < probe_settings_.parallel) {
    host_.LogAppend("Links in flight lowered to " + std::to_string(probe.parallel) +
                    ": the limit on open files is " + std::to_string(file_limit_) + "\r\n");
  }
  TestURLsStateMachine();
  repair_completed_ = false;
}

void RunController::ShowFileProgress() {
  progress_.current_file = current_file_;
  progress_.file_number = std::to_string(total_files_ - static_cast<int>(FilesLeft()) + 1);
  progress_.file_total = std::to_string(total_files_);
  if (progress_open_) host_.TransferProgress(progress_);
}

void RunController::TestURLsStateMachine() {
  // Heads whose outcomes are already in, and files without links, are
  // passed over here in one loop. A message box can let worker messages in
  // while it is open; they only record their outcomes, and this loop takes
  // them when it gets there.
  if (advancing_) return;
  advancing_ = true;
  while (running_) {
    if (links_.urls.empty()) {
      if (!OpenNextFile()) break;
      continue;
    }
    Dispatch();
    if (!head_begun_) OnProbeBegun();
    const EntryRef head = entries_.front();
    if (!head->done) break;
    OnThreadURLDone(head->outcome);
  }
  advancing_ = false;
}

bool RunController::OpenNextFile() {
  if (FilesLeft() == 0) {
    EndTest();
    return false;
  }
  if (error_count_ != -1) LogFileResults();
  current_file_ = read_ahead_.empty() ? files_.front() : read_ahead_.front().path;
  ShowFileProgress();
  if (error_count_ != -1 && progress_open_) {
    host_.StepFileBar();
    host_.SetUrlBarPosition(0);
  }
  error_count_ = 0;
  bool opened = false;
  if (read_ahead_.empty()) {
    links_.skipped = 0;
    opened = ExtractRunLinks(current_file_, links_, url_count_);
    files_.pop_front();
  } else {
    ReadAhead& next = read_ahead_.front();
    opened = next.opened;
    links_ = std::move(next.links);
    url_count_ = next.url_count;
    entries_ = std::move(next.entries);
    read_ahead_.pop_front();
  }
  if (!opened) {
    host_.ShowMessage(CannotOpenFileMessage(current_file_), MessageIcon::kExclamation);
    StopWatchdog();
    host_.ShowMessage("Unknown error: Processing has stopped");
    files_.clear();
    read_ahead_.clear();
    EndTest();
    return false;
  }
  file_records_.push_back({current_file_, 0, 0, 0, {}});
  host_.LogAppend("Testing: " + current_file_);
  if (!links_.urls.empty() && progress_open_) {
    host_.SetUrlBarRange(static_cast<int>(links_.urls.size()));
  }
  return true;
}

void RunController::Dispatch() {
  // Enough URLs in flight or queued at the worker that a free slot never
  // waits for this thread, and that a host at its cap can be passed over.
  const std::size_t window = static_cast<std::size_t>(probe_settings_.parallel) * 4 + 16;
  // Refilled in batches, each waking the probe thread once. Whenever a
  // probe is in flight, every URL before it has its entry, the head too.
  if (in_flight_.size() > window / 2) return;
  const auto fill = [&](const LinkLists& lists, std::deque<EntryRef>& entries) {
    const std::deque<std::string>& urls = lists.urls;
    const std::deque<std::uint32_t>& local = lists.local;
    while (entries.size() < urls.size()) {
      if (in_flight_.size() >= window) return false;
      entries.push_back(EntryFor(urls[entries.size()], local[entries.size()]));
    }
    return true;
  };
  if (!fill(links_, entries_)) return;
  for (ReadAhead& ahead : read_ahead_) {
    if (!ahead.opened || !fill(ahead.links, ahead.entries)) return;
  }
  // Everything read so far is under way: read the next files ahead.
  while (!files_.empty() && in_flight_.size() < window) {
    ReadAhead& ahead = read_ahead_.emplace_back();
    ahead.path = std::move(files_.front());
    files_.pop_front();
    ahead.opened = ExtractRunLinks(ahead.path, ahead.links, ahead.url_count);
    if (!ahead.opened || !fill(ahead.links, ahead.entries)) return;
  }
}

bool RunController::ExtractRunLinks(const std::string& path, LinkLists& lists,
                                    std::size_t& url_count) {
  if (!local_checker_) return ExtractUrls(path, lists, url_count);
  const auto file = MappedFile::Open(path);
  if (!file) return false;
  results_.SetPageIdentity(path, file->identity());
  local_checker_->AddPageLinks(path, file->text(), lists);
  if (!rules_.empty()) LeaveOutSkipped(lists);
  url_count = lists.urls.size();
  return true;
}

void RunController::LeaveOutSkipped(LinkLists& lists) const {
  LinkLists kept;
  kept.skipped = lists.skipped;
  while (!lists.urls.empty()) {
    if (rules_.Skips(lists.urls.front())) {
      ++kept.skipped;
      PopFrontLink(lists);
    } else {
      MoveFrontLink(lists, kept);
    }
  }
  lists = std::move(kept);
}

RunController::EntryRef RunController::EntryFor(const std::string& url, std::uint32_t local) {
  if (local != 0) {
    auto entry = std::make_shared<ProbeEntry>();
    entry->done = true;
    entry->outcome.url = url;
    entry->outcome.local = true;
    entry->outcome.code = local;
    return entry;
  }
  // The request is the URL the page names, its references decoded: the
  // same link written two ways is one probe.
  std::string request = RequestUrl(url);
  // A huge URL is not worth holding twice.
  constexpr std::size_t kLongestRemembered = 1 << 16;
  const bool remembered = request.size() <= kLongestRemembered;
  if (remembered) {
    if (const auto found = probed_.find(request); found != probed_.end()) return found->second;
  }
  auto entry = std::make_shared<ProbeEntry>();
  const std::uint64_t job =
      probe_worker_.Kick({remembered ? request : std::move(request), timeout_, user_agent_});
  in_flight_.emplace(job, entry);
  if (remembered) {
    probed_.emplace(std::move(request), entry);
    if (probed_.size() >= forget_at_) ForgetOldProbes();
  }
  return entry;
}

void RunController::ForgetOldProbes() {
  // A run of a million different links must not keep a million outcomes:
  // what is done and no longer ahead in the list is forgotten (a repeat of
  // it later is probed again). Halving keeps this linear over a run.
  std::erase_if(probed_,
                [](const auto& item) { return item.second->done && item.second.use_count() == 1; });
  forget_at_ = std::max(kRememberedProbes, probed_.size() * 2);
}

void RunController::LogFileResults() {
  std::string line = "Results for " + current_file_ +
                     ": URLs tested: " + std::to_string(url_count_) +
                     ". URL errors: " + std::to_string(error_count_) + ".";
  // Only a run with rules that left links out says so.
  if (links_.skipped > 0) line += " URLs skipped: " + std::to_string(links_.skipped) + ".";
  host_.LogAppend(line + "\r\n");
  if (!file_records_.empty()) {
    FileRecord& record = file_records_.back();
    record.urls_tested = url_count_;
    record.url_errors = static_cast<std::size_t>(error_count_);
    record.skipped = links_.skipped;
  }
}

void RunController::HandleMessage(const WorkerMessage& message) {
  switch (message.id) {
    case MessageId::kPurgeFileStarted:
      if (message.job == purge_job_ && progress_open_) host_.TransferProgress(progress_);
      return;
    case MessageId::kPurgeFileDone:
      if (message.job == purge_job_) OnPurgeFileDone(message);
      return;
    case MessageId::kProbeDone:
      OnProbeDone(message);
      return;
  }
}

ProbeSettings RunController::ProbeSettingsInForce() const {
  ProbeSettings probe = probe_settings_;
  probe.parallel = ParallelWithinFileLimit(probe.parallel, file_limit_);
  probe.per_host = std::min(probe.per_host, probe.parallel);
  return probe;
}

void RunController::OnProbeDone(const WorkerMessage& message) {
  const auto& outcome = std::any_cast<const ProbeOutcome&>(message.payload);
  // Only a probe of the run or recheck under way: a late one of a stopped
  // run says nothing about this one.
  const bool current = rechecking_ ? recheck_jobs_.count(message.job) != 0
                                   : running_ && in_flight_.count(message.job) != 0;
  if (outcome.out_of_descriptors && current) {
    // Not the link's fault: nothing more can be checked.
    const std::string reason =
        "Cannot go on: no file descriptor is left (the limit on open "
        "files is " +
        std::to_string(file_limit_) + "). Check fewer links at once. Processing has stopped";
    if (rechecking_) {
      StopTest();
    } else {
      running_ = false;
      StopWatchdog();
      ResetRun();
    }
    host_.LogAppend(reason);
    host_.ShowMessage(reason, MessageIcon::kExclamation);
    return;
  }
  if (rechecking_) {
    OnRecheckDone(message.job, std::any_cast<const ProbeOutcome&>(message.payload));
    return;
  }
  // A probe of a run that is over, or that a stop cut short, changes nothing.
  const auto found = in_flight_.find(message.job);
  if (found == in_flight_.end()) return;
  const EntryRef entry = found->second;
  in_flight_.erase(found);
  entry->outcome = std::any_cast<const ProbeOutcome&>(message.payload);
  entry->done = true;
  TestURLsStateMachine();
}

void RunController::OnProbeBegun() {
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
  head_begun_ = true;
  if (!links_.local.empty() && links_.local.front() != 0) return;  // no connection for it
  const std::string& url = links_.urls.front();
  host_.SetStatusText(StatusPane::kConnection,
                      Format("Connecting to %s", UrlHost(url, ProtocolOf(url))));
  host_.SetStatusText(StatusPane::kMethod, "");
}

void RunController::ShowProbeStatus(const ProbeOutcome& outcome) {
  const bool connected = outcome.code == kReplyRead || outcome.code == kSendFailed ||
                         outcome.code == kReplyTimedOut || outcome.code == kTookTooLong;
  host_.SetStatusText(
      StatusPane::kConnection,
      Format(connected ? "Connected to %s" : "Connection to %s failed", outcome.host));
  if (outcome.protocol == Protocol::kFtp || !connected || outcome.code == kSendFailed) return;
  host_.SetStatusText(StatusPane::kMethod, "GET method sent to host");
  if (outcome.code != kReplyRead) return;
  host_.SetStatusText(StatusPane::kMethod,
                      outcome.reply.empty() ? "No Reply Received" : "Host Reply Received");
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
  head_begun_ = false;
  if (outcome.local) {
    if (outcome.code == kLocalTargetFound) {
      PopHeads();
      if (progress_open_) host_.StepUrlBar();
    } else {
      RecordSocketError(outcome.code);
    }
    return;
  }
  ShowProbeStatus(outcome);
  host_.SetStatusText(StatusPane::kConnection, "No connection");
  if (outcome.code != kReplyRead) {
    RecordSocketError(outcome.code);
  } else {
    ClassifyReply(outcome);
    PopHeads();
    if (progress_open_) host_.StepUrlBar();
  }
}

void RunController::ClassifyReply(const ProbeOutcome& outcome) {
  const auto verdict = VerdictOf(outcome);
  if (!verdict) return;
  AddRow(verdict->reason, verdict->code);
  if (IsMoveCode(verdict->code))
    results_.SetResultColumn(ResultColumn::kAlternateUrl, verdict->alternate);
  if (!verdict->redirects.empty()) results_.SetRedirects(*head_row_, verdict->redirects);
}

bool RunController::StartRecheck(const std::vector<std::size_t>& rows) {
  if (running_ || rechecking_ || rows.empty()) return false;
  probe_worker_.Configure(ProbeSettingsInForce());
  recheck_jobs_.clear();
  recheck_results_.clear();
  rechecking_ = true;
  // A section of its own, set off from the run's last line.
  LogWithDate(
      "\r\nRecheck of " + std::to_string(rows.size()) + (rows.size() == 1 ? " link " : " links "),
      "\r\n");
  LocalLinkChecker local(run_local_options_);
  std::unordered_map<std::string, std::uint64_t> jobs;  // one probe per URL
  for (const std::size_t index : rows) {
    if (index >= results_.size()) continue;
    const ResultRow& row = results_.row(index);
    const std::string& url = row.text(ResultColumn::kUrl);
    if (row.code == kLocalFileNotFound || row.code == kLocalAnchorNotFound) {
      ProbeOutcome outcome;
      outcome.url = url;
      outcome.local = true;
      outcome.code = local.Recheck(url, row.text(ResultColumn::kFileName));
      recheck_results_.emplace_back(index, VerdictOf(outcome));
      continue;
    }
    const std::string request = RequestUrl(url);
    auto [found, added] = jobs.try_emplace(request, 0);
    if (added) found->second = probe_worker_.Kick({request, timeout_, user_agent_});
    recheck_jobs_[found->second].push_back(index);
  }
  if (recheck_jobs_.empty()) FinishRecheck();
  return true;
}

void RunController::OnRecheckDone(std::uint64_t job, const ProbeOutcome& outcome) {
  const auto found = recheck_jobs_.find(job);
  if (found == recheck_jobs_.end()) return;
  for (const std::size_t index : found->second)
    recheck_results_.emplace_back(index, VerdictOf(outcome));
  recheck_jobs_.erase(found);
  if (recheck_jobs_.empty()) FinishRecheck();
}

void RunController::FinishRecheck() {
  // Highest rows first, so removing one leaves the others' places alone.
  std::sort(recheck_results_.begin(), recheck_results_.end(),
            [](const auto& a, const auto& b) { return a.first > b.first; });
  std::size_t good = 0;
  std::vector<std::string> lines;
  for (const auto& [index, verdict] : recheck_results_) {
    const std::string url = results_.row(index).text(ResultColumn::kUrl);
    if (!verdict) {
      results_.RemoveRow(index);
      ++good;
      lines.push_back(url + ": now good");
    } else {
      results_.UpdateRow(index, verdict->reason, verdict->code, verdict->alternate);
      results_.SetRedirects(index, verdict->redirects);
      lines.push_back(url + ": " + verdict->reason);
    }
  }
  // The log reads in list order.
  for (auto line = lines.rbegin(); line != lines.rend(); ++line)
    host_.LogAppend(*line);
  host_.LogAppend("Recheck done: " + std::to_string(good) + " now good, " +
                  std::to_string(recheck_results_.size() - good) + " still listed.\r\n");
  recheck_results_.clear();
  rechecking_ = false;
}

void RunController::AddRow(const std::string& reason, OutcomeCode code) {
  // The head is dropped right after its row is made: the row takes its
  // text over instead of a copy, which matters for a huge URL.
  const std::size_t line = links_.lines.empty() ? 0 : links_.lines.front();
  const bool resource = !links_.resources.empty() && links_.resources.front();
  const std::size_t row = results_.AppendResultRow(std::move(links_.urls.front()), line, resource);
  results_.SetCode(row, code);
  head_row_ = row;
  if (visible_) host_.ScrollToRow(row);
  results_.SetResultColumn(ResultColumn::kReason, reason);
  results_.SetResultColumn(ResultColumn::kSiteName, links_.anchors.front(), current_file_);
  ++error_count_;
}

void RunController::PopHeads() {
  if (record_links_ && !links_.urls.empty() && !file_records_.empty()) {
    // A row took the head's text over.
    file_records_.back().links.push_back(
        {head_row_ ? results_.row(*head_row_).text(ResultColumn::kUrl) : links_.urls.front(),
         links_.lines.empty() ? 0 : links_.lines.front(), head_row_});
  }
  head_row_.reset();
  if (!links_.urls.empty()) ++links_checked_;
  PopFrontLink(links_);
  if (!entries_.empty()) entries_.pop_front();
}

void RunController::RecordSocketError(OutcomeCode code) {
  if (links_.urls.empty()) {
    host_.ShowMessage("empty URL list");
  } else {
    if (filter_.IsReported(code)) {
      AddRow(std::string(ReasonText(code, unknown_error_seen_, host_)), code);
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
  if (rechecking_) {
    probe_worker_.CancelProbe();
    recheck_jobs_.clear();
    recheck_results_.clear();
    rechecking_ = false;
    host_.LogAppend("Recheck Stopped by User\r\n");
    return;
  }
  running_ = false;
  StopWatchdog();
  ResetRun();
  host_.LogAppend("Testing Stopped by User");
}

void RunController::ResetRun() {
  probe_worker_.CancelProbe();
  local_checker_.reset();
  in_flight_.clear();
  probed_.clear();
  forget_at_ = kRememberedProbes;
  entries_.clear();
  read_ahead_.clear();
  head_begun_ = false;
  files_.clear();
  links_.urls.clear();
  links_.anchors.clear();
  links_.lines.clear();
  links_.offsets.clear();
  links_.local.clear();
  links_.resources.clear();
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
      !host_.AskYesNoDefaultNo(PurgeQuestion(files_.size()), MessageIcon::kQuestion)) {
    files_.clear();
    return;
  }
  purge_failures_ = 0;
  first_file_pending_ = true;
  BeginRun(true);
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
