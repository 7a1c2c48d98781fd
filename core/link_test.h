// LinkTest: one link test, files on disk or a crawled site, from its first
// page to its last row. Its pages come from the files named or from its
// CrawlSource; their links go out through the reorder buffer, many in
// flight on the probe worker, and come back in list order: each head's
// outcome becomes a row (or none), a log line closes each page, and the
// link cache answers what it knows before any probe.
//
// Its owner starts it, passes on the probe outcomes and the continue
// timer, and hears through the hooks when the run begins and ends.
// User-interface thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/crawl_run.h"
#include "core/file_record.h"
#include "core/local_links.h"
#include "core/outcome_verdict.h"
#include "core/reorder_buffer.h"
#include "core/result_list.h"
#include "core/run_history.h"
#include "core/run_host.h"
#include "core/run_progress.h"
#include "core/run_settings.h"
#include "crawl/crawler.h"
#include "crawl/result_cache.h"
#include "links/url_extractor.h"
#include "probe/probe_worker.h"

namespace quimbel {

class LinkTest {
 public:
  struct Hooks {
    std::function<void(int files)> begin_run;  // the run's window, log and list, afresh
    std::function<void()> reset_run;           // a run's end or stop, before the last log lines
    std::function<void()> ended;               // after the last log line
    // A probe's final outcome, for a watch to reuse.
    std::function<void(const ProbeOutcome& outcome)> keep;
  };
  LinkTest(RunHost& host, ResultList& results, ProbeWorker& probe, RunProgress& progress,
           const RunSettings& settings, Hooks hooks);

  // The open files the process may have; links in flight are kept within.
  void SetFileLimit(int limit) { file_limit_ = limit; }
  // Tests `files`, local links against `local` (its site root filled in);
  // `target`, the folder or file named, is what the history knows it by.
  void StartFiles(const std::vector<std::string>& files, LocalLinkOptions local,
                  std::string target);
  // Tests a live site from its addresses: its pages, crawled, stand where
  // files stand; rows are named by page address.
  void StartCrawl(const CrawlOptions& options);
  // Takes the heads whose outcomes are in, as far as it can this turn.
  void Advance();
  void Stop() { running_ = false; }
  // What a stop or the end leaves: nothing in flight, nothing queued.
  void Reset();

  // Whether `job` is a probe of this test still wanted; then Complete()
  // takes its outcome.
  bool InFlight(std::uint64_t job) const { return running_ && buffer_.InFlight(job); }
  void Complete(std::uint64_t job, const ProbeOutcome& outcome);
  // A fetch of the crawl (a page, robots.txt or a sitemap); false when the
  // job is none of the crawl's.
  bool OnCrawlFetched(std::uint64_t job, const ProbeOutcome& outcome);

  // A page on disk: its identity recorded, its links as a test reads them.
  bool ReadPageLinks(const std::string& path, LocalLinkChecker& checker, LinkLists& lists);
  // The row verdict of an outcome, by the run's filter.
  std::optional<Verdict> Judge(const ProbeOutcome& outcome) {
    return OutcomeVerdict(outcome, settings_.filter, unknown_error_seen_, host_);
  }
  // The probe settings with no more links in flight than open files allow.
  ProbeSettings ProbeSettingsInForce() const;

  bool running() const { return running_; }
  const Crawler* crawler() const { return crawl_ ? &crawl_->crawler() : nullptr; }
  const LocalLinkOptions& local_options() const { return local_options_; }
  const FileRecords& file_records() const { return file_records_; }
  std::size_t links_checked() const { return links_checked_; }
  std::size_t pages_not_checked() const { return pages_not_checked_; }
  bool unknown_error_seen() const { return unknown_error_seen_; }
  const std::string& current_file() const { return current_file_; }
  // The links found fixed since the last complete run of the same target,
  // once this one has ended complete; none without a run to compare with.
  std::optional<std::int64_t> fixed_since_last() const { return fixed_; }
  // Whether the rows of the last test say if they are new.
  bool history_kept() const { return history_kept_; }
  // Whether the history had a whole run before this one to compare with.
  bool history_compared() const { return compared_; }
  // The link under way, for the watchdog's line; empty for none.
  const std::string& head_url() const;

 private:
  void Start(LocalLinkOptions local, std::unique_ptr<Crawler> crawler);
  bool OpenNextFile();
  void Dispatch();
  bool ExtractRunLinks(const std::string& path, LinkLists& lists, std::size_t& url_count);
  std::size_t FilesLeft() const { return files_.size() + buffer_.files_read_ahead(); }
  void TakeCrawledPages();
  void OnThreadURLDone(const ProbeOutcome& outcome);
  void ClassifyReply(const ProbeOutcome& outcome);
  void RecordSocketError(OutcomeCode code);
  // Appends a row for the head URL of the current file and counts it.
  void AddRow(const std::string& reason, OutcomeCode code);
  void PopHeads();
  // Whether the head link names a place its page, read for it, lacks.
  bool MissingAnchorOnPage() const;
  // `whole`: every page the test was to read was read.
  void End(bool whole = true);
  void LogFileResults();
  void ShowFileProgress();
  // Opens the store for a test: its cache and its history; closes it
  // with what the test learnt when the test ends.
  void OpenStore();
  void CloseStore();
  // An older Quimbel's JSON cache, read into the store once.
  void ImportOlderCache(const CachePlace& place);
  // A crawl keeps the pages it reads in the store (or a temporary one).
  void OpenJournal();
  // Tells the new row whether it is new since the last run, and records it.
  void NoteHistoryRow(std::size_t row);
  // The current page as the history names it.
  std::string HistoryPage() const;

  RunHost& host_;
  ResultList& results_;
  ProbeWorker& probe_worker_;
  RunProgress& progress_;
  const RunSettings& settings_;
  Hooks hooks_;
  int file_limit_ = 1 << 20;
  bool running_ = false;
  LocalLinkOptions local_options_;                   // the settings' own, its site root filled in
  std::unique_ptr<LocalLinkChecker> local_checker_;  // a test of files'
  std::unique_ptr<CrawlSource> crawl_;               // the last test's, when it crawled
  // The crawled site's robots.txt, for the probe thread once it is read.
  std::shared_ptr<const RequestPolicy> request_policy_;
  std::unique_ptr<Store> store_;
  std::unique_ptr<ResultCache> cache_;
  std::unique_ptr<RunHistory> history_;
  std::string target_;
  bool complete_ = false;  // the test reached its end
  bool history_kept_ = false;
  bool compared_ = false;
  std::size_t new_rows_ = 0;
  std::optional<std::int64_t> fixed_;
  std::string history_line_;  // what the comparison found, for the log's end
  ReorderBuffer buffer_;
  std::deque<std::string> files_;
  int total_files_ = 0;
  int pages_opened_ = 0;  // a crawl's pages opened so far, the current one too
  // Why pages read ahead could not be read, until their turn.
  std::unordered_map<std::string, std::string> unreadable_;
  std::size_t pages_not_checked_ = 0;
  std::string current_file_;
  LinkLists links_;  // the current file's still to take, the head first
  std::size_t url_count_ = 0;
  int error_count_ = -1;                 // -1: no page open, or one that could not be read
  std::optional<std::size_t> head_row_;  // the row the head got, until it is popped
  bool head_begun_ = false;              // the head's progress texts and watchdog are up
  bool advancing_ = false;               // Advance() is on the stack
  std::size_t links_checked_ = 0;
  bool unknown_error_seen_ = false;
  FileRecords file_records_;
};

}  // namespace quimbel
