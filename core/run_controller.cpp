#include "core/run_controller.h"

#include <any>
#include <filesystem>
#include <string_view>

#include "core/status_code_table.h"
#include "platform/open_files.h"
#include "platform/product.h"

namespace quimbel {
namespace {

constexpr std::string_view kNoFilesFound =
    "No files found.\n\nWas your filter option set correctly?";

}  // namespace

RunController::RunController(RunHost& host, MessagePoster& poster)
    : host_(host),
      probe_worker_(poster),
      purge_(host_, poster,
             {[this](const std::string& file, int number) {
                if (number > 1) progress_.NextFile();
                current_file_ = file;
                progress_.ShowFile(file, number, total_files_, nullptr, 0);
              },
              [this] { EndPurge(); }}),
      progress_(host_),
      recheck_(results_, host_, [this](const ProbeOutcome& outcome) { return VerdictOf(outcome); }),
      watch_({results_, host_, [this](const ProbeOutcome& outcome) { return VerdictOf(outcome); },
              [this](const std::string& page, LocalLinkChecker& checker, LinkLists& lists) {
                return ReadPageLinks(page, checker, lists);
              },
              [this] { return state_ == RunState::kIdle; }}),
      buffer_([this](std::string request) {
        // Looking for anchors reads every HTML page a link leads to: a
        // page is asked for once, whichever of its links comes first.
        const BodyWanted body =
            run_local_options_.check_fragments ? BodyWanted::kHtml : BodyWanted::kNone;
        return probe_worker_.Kick(
            {std::move(request), settings_.timeout, settings_.user_agent, body});
      }) {}

// The workers stop and join in their own destructors: a probe is cut short,
// a file being purged is finished.
RunController::~RunController() = default;

void RunController::SetUp() {
  file_limit_ = RaiseOpenFileLimit();
  probe_worker_.Start();
  purge_.SetUp();
}

bool RunController::CollectRunFiles(const std::string& path, const RunScope& scope) {
  const std::vector<std::string> files = CollectFiles(path, scope);
  if (files.empty()) {
    host_.ShowMessage(std::string(kNoFilesFound));
    return false;
  }
  // A new run supersedes whatever a stopped one left behind.
  purge_.Forget();
  files_.assign(files.begin(), files.end());
  last_test_.files = files;
  total_files_ = static_cast<int>(files.size());
  return true;
}

void RunController::LogWithDate(const std::string& prefix, const std::string& suffix) {
  host_.LogAppend(prefix + host_.LongDateTime() + suffix);
}

void RunController::BeginRun(RunState state) {
  // A new run ends the watch of the last one.
  StopWatch();
  watch_.ForgetKept();
  progress_.Open(state == RunState::kPurging, total_files_);
  results_ready_ = false;
  host_.LogClear();
  results_.Clear();
  LogWithDate("Start of test ", "\r\n");
  if (!settings_.options_file.empty())
    host_.LogAppend("Options read from " + settings_.options_file + "\r\n");
  file_records_.clear();
  unreadable_.clear();
  pages_not_checked_ = 0;
  pages_opened_ = 0;
  state_ = state;
}

void RunController::StartTest(const std::string& path, const RunScope& scope) {
  if (!CollectRunFiles(path, scope)) return;
  last_test_.path = path;
  last_test_.scope = scope;
  LocalLinkOptions local = settings_.local;
  if (local.site_root.empty()) {
    std::error_code error;
    local.site_root = std::filesystem::is_directory(path, error)
                          ? path
                          : std::filesystem::path(path).parent_path().string();
    // A bare file name lies in the current folder.
    if (local.site_root.empty()) local.site_root = ".";
  }
  BeginTest(std::move(local), nullptr);
}

void RunController::BeginTest(LocalLinkOptions local, std::unique_ptr<Crawler> crawler) {
  request_policy_.reset();
  const ProbeSettings probe = ProbeSettingsInForce();
  probe_worker_.Configure(probe);
  // Each run asks afresh, once for each URL.
  probe_worker_.ForgetReplies();
  run_local_options_ = local;
  buffer_.SetRelativeScheme(ProtocolRelativeScheme(local));
  // A crawl reads pages, not files: no link of it is checked on disk.
  crawl_ = crawler ? std::make_unique<CrawlSource>(std::move(crawler), results_, local) : nullptr;
  local_checker_ = crawl_ ? nullptr : std::make_unique<LocalLinkChecker>(std::move(local));
  if (local_checker_) {
    for (const std::string& file : files_)
      local_checker_->NoteRunFile(file);
  }
  error_count_ = -1;
  unknown_error_seen_ = false;
  links_ = LinkLists();
  links_checked_ = 0;
  BeginRun(RunState::kTesting);
  tested_ = true;
  stopped_ = false;
  if (probe.parallel < settings_.probe.parallel) {
    host_.LogAppend("Links in flight lowered to " + std::to_string(probe.parallel) +
                    ": the limit on open files is " + std::to_string(file_limit_) + "\r\n");
  }
  OpenCache();
  if (crawl_) crawl_->crawler().Start();
  TestURLsStateMachine();
  repair_completed_ = false;
}

void RunController::TestURLsStateMachine() {
  // Heads whose outcomes are already in, and files without links, are
  // passed over here in one loop. A message box can let worker messages in
  // while it is open; they only record their outcomes, and this loop takes
  // them when it gets there.
  if (advancing_) return;
  advancing_ = true;
  // Pages whose links are all checked on disk need no reply to wait for:
  // the loop gets a turn every so often, so Stop and the window answer.
  const auto yield_at = std::chrono::steady_clock::now() + std::chrono::milliseconds(25);
  while (state_ == RunState::kTesting) {
    if (std::chrono::steady_clock::now() >= yield_at) {
      host_.StartTimer(kContinueTimer, std::chrono::milliseconds(0));
      break;
    }
    if (links_.urls.empty()) {
      if (!OpenNextFile()) break;
      continue;
    }
    Dispatch();
    if (!head_begun_) {
      progress_.ShowHead(links_, url_count_, settings_.timeout);
      head_begun_ = true;
    }
    const EntryRef head = buffer_.head();
    if (!head->done) break;
    OnThreadURLDone(head->outcome);
  }
  advancing_ = false;
}

bool RunController::OpenNextFile() {
  if (crawl_) TakeCrawledPages();
  if (FilesLeft() == 0) {
    // A crawl's next page may still be on its way.
    if (crawl_ && !crawl_->crawler().Finished()) return false;
    EndTest();
    return false;
  }
  if (error_count_ != -1) LogFileResults();
  if (crawl_) crawl_->DropPage(current_file_);
  current_file_ = buffer_.HasReadAhead() ? buffer_.NextReadAheadPath() : files_.front();
  ++pages_opened_;
  // A crawl's pages are counted as they come; files are all known at the start.
  ShowFileProgress();
  if (error_count_ != -1) progress_.NextFile();
  error_count_ = 0;
  bool opened = false;
  // A file that cannot be opened was not tested: its log line says 0.
  url_count_ = 0;
  if (!buffer_.HasReadAhead()) {
    links_.skipped = 0;
    opened = ExtractRunLinks(current_file_, links_, url_count_);
    files_.pop_front();
  } else {
    ReorderBuffer::ReadAhead next = buffer_.TakeReadAhead();
    opened = next.opened;
    links_ = std::move(next.links);
    url_count_ = next.url_count;
  }
  if (!opened && !crawl_) {
    // One page that cannot be read is no reason to leave the others
    // unchecked: it is named with the system's reason, and the run says
    // it was incomplete.
    const auto why = unreadable_.find(current_file_);
    host_.LogWarning("Not checked: " + current_file_ + ": " +
                     (why != unreadable_.end() ? why->second : "it cannot be read") + "\r\n");
    if (why != unreadable_.end()) unreadable_.erase(why);
    ++pages_not_checked_;
    error_count_ = -1;  // no results line for it
    links_ = LinkLists();
    return true;
  }
  if (!opened) {
    // A start address or sitemap that gave no page ends the crawl, saying
    // what came back (where a start page moved, say).
    host_.ShowMessage(
        "Error: Cannot read the web page:\n\n" + current_file_ + "\n\n" + crawl_->failure(),
        MessageIcon::kExclamation);
    progress_.StopWatchdog();
    files_.clear();
    buffer_.DropReadAhead();
    EndTest();
    return false;
  }
  file_records_.push_back({current_file_, 0, 0, 0, {}, {}});
  if (crawl_) file_records_.back().not_requested = crawl_->TakeNotRequested(current_file_);
  host_.LogAppend("Testing: " + current_file_);
  progress_.SetLinks(links_.urls.size());
  return true;
}

void RunController::Dispatch() {
  if (crawl_) TakeCrawledPages();
  buffer_.Fill(links_, files_, settings_.probe.parallel,
               [this](const std::string& path, LinkLists& lists, std::size_t& count) {
                 return ExtractRunLinks(path, lists, count);
               });
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

ProbeSettings RunController::ProbeSettingsInForce() const {
  ProbeSettings probe = settings_.probe;
  probe.parallel = ParallelWithinFileLimit(probe.parallel, file_limit_);
  probe.per_host = std::min(probe.per_host, probe.parallel);
  probe.policy = request_policy_;
  return probe;
}

void RunController::OnProbeDone(const WorkerMessage& message) {
  const auto& outcome = std::any_cast<const ProbeOutcome&>(message.payload);
  if (watch_.OnProbeDone(message.job, outcome)) return;
  if (state_ == RunState::kTesting && crawl_ && !outcome.out_of_descriptors &&
      OnCrawlFetched(message.job, outcome)) {
    return;
  }
  // Only a probe of the run or recheck under way: a late one of a stopped
  // run says nothing about this one.
  const bool current = rechecking() ? recheck_.Owns(message.job)
                                    : state_ == RunState::kTesting && buffer_.InFlight(message.job);
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
    if (settings_.keep_outcomes && !crawl_) watch_.Keep(outcome);
    recheck_.OnDone(message.job, outcome);
    if (recheck_.done()) state_ = RunState::kIdle;
    return;
  }
  // A probe of a run that is over, or that a stop cut short, changes nothing.
  if (buffer_.Complete(message.job, outcome)) TestURLsStateMachine();
}

void RunController::OnThreadURLDone(const ProbeOutcome& outcome) {
  progress_.StopWatchdog();
  head_begun_ = false;
  if (!outcome.local && crawl_ && !links_.targets.empty() &&
      crawl_->MissingAnchor(links_.targets.front())) {
    RecordSocketError(kLocalAnchorNotFound);
    return;
  }
  if (!outcome.local && MissingAnchorOnPage()) {
    RecordSocketError(kAnchorNotFound);
    return;
  }
  if (outcome.local) {
    if (outcome.code == kLocalTargetFound) {
      PopHeads();
      progress_.LinkDone();
    } else {
      RecordSocketError(outcome.code);
    }
    return;
  }
  if (settings_.keep_outcomes && !crawl_) watch_.Keep(outcome);
  progress_.ShowProbeStatus(outcome);
  host_.SetStatusText(StatusPane::kConnection, "No connection");
  if (outcome.code != kReplyRead) {
    RecordSocketError(outcome.code);
  } else {
    ClassifyReply(outcome);
    PopHeads();
    progress_.LinkDone();
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

void RunController::AddRow(const std::string& reason, OutcomeCode code) {
  // The head is dropped right after its row is made: the row takes its
  // text over instead of a copy, which matters for a huge URL.
  const std::size_t line = links_.lines.empty() ? 0 : links_.lines.front();
  const bool resource = !links_.resources.empty() && links_.resources.front();
  const LinkKind kind = links_.kinds.empty() ? LinkKind::kAnchor : links_.kinds.front();
  const std::size_t row =
      results_.AppendResultRow(std::move(links_.urls.front()), line, resource, kind);
  results_.SetCode(row, code);
  head_row_ = row;
  if (settings_.visible) host_.ScrollToRow(row);
  results_.SetResultColumn(ResultColumn::kReason, reason);
  results_.SetResultColumn(ResultColumn::kSiteName, links_.anchors.front(), current_file_);
  if (!links_.targets.empty()) {
    results_.SetTarget(row, links_.targets.front());
    if (crawl_) crawl_->NoteRowSource(current_file_, row, line);
  }
  ++error_count_;
}

void RunController::PopHeads() {
  if (settings_.record_links && !links_.urls.empty() && !file_records_.empty()) {
    // A row took the head's text over.
    file_records_.back().links.push_back(
        {std::string(head_row_ ? results_.row(*head_row_).url()
                               : std::string_view(links_.urls.front())),
         links_.lines.empty() ? 0 : links_.lines.front(), head_row_});
  }
  head_row_.reset();
  if (!links_.urls.empty()) ++links_checked_;
  PopFrontLink(links_);
  buffer_.PopHead();
}

void RunController::RecordSocketError(OutcomeCode code) {
  if (links_.urls.empty()) {
    host_.ShowMessage("empty URL list");
  } else {
    if (settings_.filter.IsReported(code)) {
      AddRow(std::string(ReasonText(code, unknown_error_seen_, host_)), code);
    }
    PopHeads();
  }
  progress_.LinkDone();
}

void RunController::EndTest() {
  progress_.StopWatchdog();
  ResetRun();
  LogFileResults();
  if (crawl_ && crawl_->not_requested_count() > 0) {
    host_.LogAppend("Links not requested, as robots.txt asks: " +
                    std::to_string(crawl_->not_requested_count()) + "\r\n");
  }
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
  host_.KillTimer(kContinueTimer);
  probe_worker_.CancelProbe();
  CloseCache();
  local_checker_.reset();
  buffer_.Clear();
  head_begun_ = false;
  files_.clear();
  links_.urls.clear();
  links_.anchors.clear();
  links_.lines.clear();
  links_.offsets.clear();
  links_.local.clear();
  links_.resources.clear();
  links_.kinds.clear();
  links_.targets.clear();
  if (crawl_) crawl_->Clear();
  progress_.Close();
  results_ready_ = true;
  host_.SetStatusText(StatusPane::kConnection, kConnectionStatusIdle);
  host_.SetStatusText(StatusPane::kMethod, kMethodStatusIdle);
}

}  // namespace quimbel
