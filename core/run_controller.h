// RunController: the run state of the results view and the two kinds
// of run it drives: a link test (many URLs in flight on the probe worker,
// their outcomes taken in list order) and a comment purge (one file at a
// time on the purge worker).
//
// A link test hands the probe worker the URLs ahead of the head of the
// list, reading files ahead as needed, and takes the outcomes back through
// a reorder buffer: rows, log lines, progress and status texts come in
// list order exactly as when one link at a time is probed.
//
// It never calls a user-interface library: what a run shows goes through
// the RunHost, and the workers' messages come back through the poster the
// host gives it. Every member is called on the user-interface thread; the
// host delivers worker messages with HandleMessage() and timers with
// OnTimer() on that thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/crawl_run.h"
#include "core/file_collection.h"
#include "core/file_record.h"
#include "core/link_rules.h"
#include "core/local_links.h"
#include "core/outcome_verdict.h"
#include "core/purge_run.h"
#include "core/recheck.h"
#include "core/reorder_buffer.h"
#include "core/report_filter.h"
#include "core/result_list.h"
#include "core/run_host.h"
#include "core/run_progress.h"
#include "core/run_settings.h"
#include "core/watch_run.h"
#include "core/window_rules.h"
#include "crawl/crawler.h"
#include "links/url_extractor.h"
#include "platform/worker_message.h"
#include "probe/probe_worker.h"

namespace quimbel {

// What the controller is doing: nothing, a link test, a comment purge, or
// a recheck of some rows.
enum class RunState { kIdle, kTesting, kPurging, kRechecking };

class RunController {
 public:
  // `poster` must deliver to HandleMessage() on the user-interface thread.
  RunController(RunHost& host, MessagePoster& poster);
  ~RunController();
  RunController(const RunController&) = delete;
  RunController& operator=(const RunController&) = delete;

  // Starts both workers; once, when the results view is first shown.
  void SetUp();

  // What the next run is set to do.
  RunSettings& settings() { return settings_; }
  const RunSettings& settings() const { return settings_; }
  // The local link options the last test ran with, its site root filled in.
  const LocalLinkOptions& run_local_link_options() const { return run_local_options_; }
  // The files of the last test, in the order they were tested.
  const std::vector<FileRecord>& file_records() const { return file_records_; }

  void StartTest(const std::string& path, const RunScope& scope);
  // Checks a live site from its addresses: its pages, crawled, stand where
  // files stand; rows are named by page address, with the line in the
  // fetched page.
  void StartCrawl(const CrawlOptions& options);
  // The crawl of the last test, if it was one.
  const Crawler* crawler() const { return crawl_ ? &crawl_->crawler() : nullptr; }
  void StartPurge(const std::string& path, const RunScope& scope,
                  PurgeConfirmation confirmation = PurgeConfirmation::kAsk);
  void StopTest();

  // Probes the links of these rows again with the current settings: a row
  // that is now good leaves the list, one still bad gets its new reason;
  // the log gets a short section. Never during a run; false when it cannot
  // start (a run, or no row).
  bool StartRecheck(const std::vector<std::size_t>& rows);
  bool rechecking() const { return state_ == RunState::kRechecking; }

  // Keeps checking the pages of the last test while they are edited. A
  // page saved is read again a moment later: its local links and anchors
  // are checked on disk at once, its network links take the test's
  // outcomes (or the link cache's) and are probed only when neither knows
  // them, and its rows are replaced where they stand; the log gets one
  // line a page. A page whose ids change has the pages that link to it
  // checked again too. False when the last run was no test of files (a
  // crawl, a purge, none) or a run is under way. `watch` must outlive the
  // watch, which a new run or StopWatch() ends.
  bool StartWatch(FileWatch& watch);
  void StopWatch() { watch_.Stop(); }
  bool watching() const { return watch_.active(); }
  // Whether the list holds a test of files that a watch could follow.
  bool CanWatch() const { return tested_ && !crawl_ && !last_test_.files.empty(); }
  // Pages a watch is reading, or whose probes are out.
  std::size_t pages_checking() const { return watch_.pages_checking(); }

  void HandleMessage(const WorkerMessage& message);
  void OnTimer(int id);

  ResultList& results() { return results_; }
  const ResultList& results() const { return results_; }

  // A test or a purge is under way (a recheck is not a run).
  bool running() const { return state_ == RunState::kTesting || state_ == RunState::kPurging; }
  RunState state() const { return state_; }
  // Whether the list holds the outcome of a link test (not a purge's).
  bool tested() const { return tested_; }
  // The folder of the last run's files (the folder named, or a file's
  // own); empty for a crawl or before any run.
  std::string checked_folder() const;
  // Whether the last test was stopped before its end.
  bool stopped() const { return stopped_; }
  // The last test's links checked so far.
  std::size_t links_checked() const { return links_checked_; }
  bool results_ready() const { return results_ready_; }
  bool unknown_error_seen() const { return unknown_error_seen_; }
  // Pages of the last test that could not be read (each has a log line):
  // the test was incomplete.
  std::size_t pages_not_checked() const { return pages_not_checked_; }
  // Files the last purge could not rewrite (each has an error line in the log).
  int purge_failures() const { return purge_.failures(); }
  bool repair_completed() const { return repair_completed_; }
  void SetRepairCompleted(bool completed) { repair_completed_ = completed; }
  Function function_mode() const { return function_mode_; }
  void SetFunction(Function mode) { function_mode_ = mode; }

  // Read-only views for the progress window and tests.
  const ProgressTexts& progress() const { return progress_.texts(); }
  const std::string& current_file() const { return current_file_; }

 private:
  using EntryRef = ReorderBuffer::EntryRef;

  void TestURLsStateMachine();
  // Opens the next file (read ahead or now); false when the run ended.
  bool OpenNextFile();
  // Hands the probe worker the URLs ahead of the head, up to the window.
  void Dispatch();
  // The links of a file: the network ones and the local ones, in file order.
  bool ExtractRunLinks(const std::string& path, LinkLists& lists, std::size_t& url_count);
  // A page on disk: its identity recorded, its links as a test reads them.
  bool ReadPageLinks(const std::string& path, LocalLinkChecker& checker, LinkLists& lists);
  std::size_t FilesLeft() const { return files_.size() + buffer_.files_read_ahead(); }
  void OnProbeDone(const WorkerMessage& message);
  // The probe settings with no more links in flight than open files allow.
  ProbeSettings ProbeSettingsInForce() const;
  void OnThreadURLDone(const ProbeOutcome& outcome);
  void ClassifyReply(const ProbeOutcome& outcome);
  std::optional<Verdict> VerdictOf(const ProbeOutcome& outcome) {
    return OutcomeVerdict(outcome, settings_.filter, unknown_error_seen_, host_);
  }
  void RecordSocketError(OutcomeCode code);
  // Appends a row for the head URL of the current file and counts it.
  void AddRow(const std::string& reason, OutcomeCode code);
  void PopHeads();
  void EndTest();
  void ResetRun();
  void LogFileResults();
  void LogWithDate(const std::string& prefix, const std::string& suffix);

  void EndPurge();

  bool CollectRunFiles(const std::string& path, const RunScope& scope);
  // What every test does once its files or start addresses are known.
  void BeginTest(LocalLinkOptions local, std::unique_ptr<Crawler> crawler);
  // Moves the crawl's pages whose links are known to the files to test.
  void TakeCrawledPages();
  // A fetch of the crawl: a page, robots.txt or a sitemap. False when the
  // job is none of the crawl's.
  bool OnCrawlFetched(std::uint64_t job, const ProbeOutcome& outcome);
  // Whether the head link names a place its page, read for it, lacks.
  bool MissingAnchorOnPage() const;
  // What every run does first: the progress window, an empty log and list,
  // the start line.
  void BeginRun(RunState state);
  void ShowFileProgress();

  RunHost& host_;
  ResultList results_;
  ProbeWorker probe_worker_;
  Purge purge_;
  RunProgress progress_;

  RunSettings settings_;
  LocalLinkOptions run_local_options_;
  int file_limit_ = 1 << 20;  // open files the process may have, once SetUp() raised it
  std::vector<FileRecord> file_records_;
  std::optional<std::size_t> head_row_;  // the row the head got, until it is popped
  std::size_t links_checked_ = 0;
  Recheck recheck_;
  std::unique_ptr<LocalLinkChecker> local_checker_;  // the running test's
  std::unique_ptr<CrawlSource> crawl_;               // the last test's, when it crawled
  // The crawled site's robots.txt, for the probe thread once it is read.
  std::shared_ptr<const RequestPolicy> request_policy_;
  // Why pages read ahead could not be read, until their turn; and how many
  // pages of the run were not checked.
  std::unordered_map<std::string, std::string> unreadable_;
  std::size_t pages_not_checked_ = 0;
  int pages_opened_ = 0;                // a crawl's pages opened so far, the current one too
  std::unique_ptr<ResultCache> cache_;  // the running test's
  // Opens the cache for a test; keeps what it learnt when the test ends.
  void OpenCache();
  void CloseCache();  // why the page that could not be opened was none
  Function function_mode_ = Function::kTestUrls;

  TestedFiles last_test_;  // as it was asked for, for a watch to follow
  Watch watch_;

  std::deque<std::string> files_;
  LinkLists links_;
  std::string current_file_;
  int total_files_ = 0;
  std::size_t url_count_ = 0;
  int error_count_ = -1;  // -1: no file opened yet in this run

  RunState state_ = RunState::kIdle;
  bool tested_ = false;
  bool stopped_ = false;
  bool results_ready_ = false;
  bool repair_completed_ = false;
  bool unknown_error_seen_ = false;

  ReorderBuffer buffer_;
  bool head_begun_ = false;  // the head's progress texts and watchdog are up
  bool advancing_ = false;   // TestURLsStateMachine is on the stack
};

}  // namespace quimbel
