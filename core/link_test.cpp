#include "core/link_test.h"

#include <chrono>
#include <filesystem>
#include <string_view>

#include "core/status_code_table.h"
#include "platform/open_files.h"

namespace quimbel {

LinkTest::LinkTest(RunHost& host, ResultList& results, ProbeWorker& probe, RunProgress& progress,
                   const RunSettings& settings, Hooks hooks)
    : host_(host),
      results_(results),
      probe_worker_(probe),
      progress_(progress),
      settings_(settings),
      hooks_(std::move(hooks)),
      buffer_([this](std::string request) {
        // Looking for anchors reads every HTML page a link leads to: a
        // page is asked for once, whichever of its links comes first.
        const BodyWanted body =
            local_options_.check_fragments ? BodyWanted::kHtml : BodyWanted::kNone;
        return probe_worker_.Kick(
            {std::move(request), settings_.timeout, settings_.user_agent, body});
      }) {}

void LinkTest::StartFiles(const std::vector<std::string>& files, LocalLinkOptions local,
                          std::string target) {
  target_ = std::move(target);
  files_.assign(files.begin(), files.end());
  total_files_ = static_cast<int>(files.size());
  Start(std::move(local), nullptr);
}

void LinkTest::Reset() {
  running_ = false;
  host_.KillTimer(kContinueTimer);
  probe_worker_.CancelProbe();
  CloseStore();
  complete_ = false;
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
}

void LinkTest::Complete(std::uint64_t job, const ProbeOutcome& outcome) {
  // A probe of a run that is over, or that a stop cut short, changes nothing.
  if (buffer_.Complete(job, outcome)) Advance();
}

const std::string& LinkTest::head_url() const {
  static const std::string kNone;
  return links_.urls.empty() ? kNone : links_.urls.front();
}

void LinkTest::Start(LocalLinkOptions local, std::unique_ptr<Crawler> crawler) {
  request_policy_.reset();
  const ProbeSettings probe = ProbeSettingsInForce();
  probe_worker_.Configure(probe);
  // Each run asks afresh, once for each URL.
  probe_worker_.ForgetReplies();
  local_options_ = local;
  buffer_.SetRelativeScheme(ProtocolRelativeScheme(local));
  // A crawl reads pages, not files: no link of it is checked on disk.
  crawl_ = crawler ? std::make_unique<CrawlSource>(std::move(crawler), results_, local) : nullptr;
  buffer_.SetPageKeys(crawl_ ? &crawl_->crawler().keys() : nullptr);
  local_checker_ = crawl_ ? nullptr : std::make_unique<LocalLinkChecker>(std::move(local));
  if (local_checker_) {
    for (const std::string& file : files_)
      local_checker_->NoteRunFile(file);
  }
  error_count_ = -1;
  unknown_error_seen_ = false;
  links_ = LinkLists();
  links_checked_ = 0;
  file_records_.clear();
  unreadable_.clear();
  pages_not_checked_ = 0;
  pages_opened_ = 0;
  hooks_.begin_run(total_files_);
  running_ = true;
  if (probe.parallel < settings_.probe.parallel) {
    host_.LogAppend("Links in flight lowered to " + std::to_string(probe.parallel) +
                    ": the limit on open files is " + std::to_string(file_limit_) + "\r\n");
  }
  complete_ = false;
  OpenStore();
  history_kept_ = history_ != nullptr;
  if (crawl_) crawl_->crawler().Start();
  Advance();
}

void LinkTest::Advance() {
  // Heads whose outcomes are already in, and files without links, are
  // passed over here in one loop. A message box can let worker messages in
  // while it is open; they only record their outcomes, and this loop takes
  // them when it gets there.
  if (advancing_) return;
  advancing_ = true;
  // Pages whose links are all checked on disk need no reply to wait for:
  // the loop gets a turn every so often, so Stop and the window answer.
  const auto yield_at = std::chrono::steady_clock::now() + std::chrono::milliseconds(25);
  while (running_) {
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
    const ReorderBuffer::EntryRef head = buffer_.head();
    if (!head->done) break;
    OnThreadURLDone(head->outcome);
  }
  advancing_ = false;
}

bool LinkTest::OpenNextFile() {
  if (crawl_) TakeCrawledPages();
  if (FilesLeft() == 0) {
    // A crawl's next page may still be on its way.
    if (crawl_ && !crawl_->crawler().Finished()) return false;
    End();
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
    End(false);
    return false;
  }
  file_records_.push_back({current_file_});
  if (crawl_) {
    if (std::vector<CheckedLink> left_out = crawl_->TakeNotRequested(current_file_);
        !left_out.empty())
      file_records_.back().more().not_requested = std::move(left_out);
  }
  if (history_) history_->AddPage(HistoryPage());
  host_.LogAppend("Testing: " + current_file_);
  progress_.SetLinks(links_.urls.size());
  return true;
}

void LinkTest::Dispatch() {
  if (crawl_) TakeCrawledPages();
  buffer_.Fill(links_, files_, settings_.probe.parallel,
               [this](const std::string& path, LinkLists& lists, std::size_t& count) {
                 return ExtractRunLinks(path, lists, count);
               });
}

ProbeSettings LinkTest::ProbeSettingsInForce() const {
  ProbeSettings probe = settings_.probe;
  probe.parallel = ParallelWithinFileLimit(probe.parallel, file_limit_);
  probe.per_host = std::min(probe.per_host, probe.parallel);
  probe.policy = request_policy_;
  return probe;
}

void LinkTest::OnThreadURLDone(const ProbeOutcome& outcome) {
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
  if (settings_.keep_outcomes && !crawl_) hooks_.keep(outcome);
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

void LinkTest::ClassifyReply(const ProbeOutcome& outcome) {
  const auto verdict = Judge(outcome);
  if (!verdict) return;
  AddRow(verdict->reason, verdict->code);
  if (IsMoveCode(verdict->code))
    results_.SetResultColumn(ResultColumn::kAlternateUrl, verdict->alternate);
  if (!verdict->redirects.empty()) results_.SetRedirects(*head_row_, verdict->redirects);
}

void LinkTest::AddRow(const std::string& reason, OutcomeCode code) {
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
  NoteHistoryRow(row);
  ++error_count_;
}

void LinkTest::PopHeads() {
  if (settings_.record_links && !links_.urls.empty() && !file_records_.empty()) {
    // A row took the head's text over.
    file_records_.back().more().links.push_back(
        {std::string(head_row_ ? results_.row(*head_row_).url()
                               : std::string_view(links_.urls.front())),
         links_.lines.empty() ? 0 : links_.lines.front(), head_row_});
  }
  head_row_.reset();
  if (!links_.urls.empty()) ++links_checked_;
  PopFrontLink(links_);
  buffer_.PopHead();
}

void LinkTest::RecordSocketError(OutcomeCode code) {
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

void LinkTest::End(bool whole) {
  running_ = false;
  // A run with pages unread is no record to tell the next one what is new.
  complete_ = whole && pages_not_checked_ == 0;
  progress_.StopWatchdog();
  hooks_.reset_run();
  LogFileResults();
  if (crawl_ && crawl_->not_requested_count() > 0) {
    host_.LogAppend("Links not requested, as robots.txt asks: " +
                    std::to_string(crawl_->not_requested_count()) + "\r\n");
  }
  if (!history_line_.empty()) host_.LogAppend(history_line_);
  hooks_.ended();
}

bool LinkTest::ExtractRunLinks(const std::string& path, LinkLists& lists, std::size_t& url_count) {
  if (crawl_) {
    if (!crawl_->ExtractLinks(path, settings_.rules, lists)) return false;
    url_count = lists.urls.size();
    return true;
  }
  if (!local_checker_) return ExtractUrls(path, lists, url_count);
  if (!ReadPageLinks(path, *local_checker_, lists)) return false;
  url_count = lists.urls.size();
  // The style sheets the page links to are read in turn, after the run's
  // files.
  for (std::string& sheet : local_checker_->TakeStyleSheets()) {
    // Spelled as the page is: relative to the current folder when it is.
    if (!path.empty() && path.front() != '/') {
      std::error_code error;
      const auto relative =
          std::filesystem::path(sheet).lexically_relative(std::filesystem::current_path(error));
      if (!error && !relative.empty() && *relative.begin() != "..") sheet = relative.string();
    }
    files_.push_back(std::move(sheet));
    ++total_files_;
    progress_.SetFiles(total_files_);
  }
  return true;
}

bool LinkTest::ReadPageLinks(const std::string& path, LocalLinkChecker& checker, LinkLists& lists) {
  Status why;
  const auto file = MappedFile::Open(path, &why);
  if (!file) {
    unreadable_.insert_or_assign(path, why.message());
    return false;
  }
  // What the page was when it was read: a repair, and a watch, go by it.
  results_.SetPageIdentity(path, file->identity());
  checker.AddPageLinks(path, *file, lists);
  LeaveOutSkipped(settings_.rules, lists);
  return true;
}

void LinkTest::LogFileResults() {
  if (error_count_ == -1) return;  // no page open, or one that could not be read
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

void LinkTest::ShowFileProgress() {
  // A crawl's pages are counted as they come; files are all known at the start.
  const int number = crawl_ ? pages_opened_ : total_files_ - static_cast<int>(FilesLeft()) + 1;
  progress_.ShowFile(current_file_, number, total_files_, crawler(), links_checked_);
}

}  // namespace quimbel
