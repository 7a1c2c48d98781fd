// RunController: the coordinator of the results view's runs. It starts a
// link test (LinkTest), a comment purge (Purge), a recheck of some rows
// (Recheck) or a watch of the last test's pages (Watch), never two at once,
// and hands each the worker messages and timers that are its own.
//
// It never calls a user-interface library: what a run shows goes through
// the RunHost, and the workers' messages come back through the poster the
// host gives it. User-interface thread only: the host delivers worker
// messages with HandleMessage() and timers with OnTimer() on that thread.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "core/link_test.h"
#include "core/purge_run.h"
#include "core/recheck.h"
#include "core/result_list.h"
#include "core/run_host.h"
#include "core/run_progress.h"
#include "core/run_settings.h"
#include "core/watch_run.h"
#include "core/window_rules.h"
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

  void StartTest(const std::string& path, const RunScope& scope);
  // Checks a live site from its addresses: its pages, crawled, stand where
  // files stand; rows are named by page address, with the line in the
  // fetched page.
  void StartCrawl(const CrawlOptions& options);
  void StartPurge(const std::string& path, const RunScope& scope,
                  PurgeConfirmation confirmation = PurgeConfirmation::kAsk);
  // Stops the run or the recheck under way.
  void StopTest();
  // Probes the links of these rows again with the current settings (see
  // Recheck). Never during a run; false when it cannot start (a run, or no
  // row).
  bool StartRecheck(const std::vector<std::size_t>& rows);
  // Keeps checking the pages of the last test while they are edited (see
  // Watch). False when the last run was no test of files (a crawl, a
  // purge, none) or a run is under way. `watch` must outlive the watch,
  // which a new run or StopWatch() ends.
  bool StartWatch(FileWatch& watch);
  void StopWatch() { watch_.Stop(); }
  // Whether the list holds a test of files that a watch could follow.
  bool CanWatch() const { return tested_ && !test_.crawler() && !last_test_.files.empty(); }

  void HandleMessage(const WorkerMessage& message);
  void OnTimer(int id);

  ResultList& results() { return results_; }
  const ResultList& results() const { return results_; }
  // The last link test: its files' records, counts and crawl.
  const LinkTest& test() const { return test_; }
  const Purge& purge() const { return purge_; }
  const Watch& watch() const { return watch_; }
  const ProgressTexts& progress() const { return progress_.texts(); }

  RunState state() const { return state_; }
  // A test or a purge is under way (a recheck is not a run).
  bool running() const { return state_ == RunState::kTesting || state_ == RunState::kPurging; }
  bool rechecking() const { return state_ == RunState::kRechecking; }
  // Whether the list holds the outcome of a link test (not a purge's).
  bool tested() const { return tested_; }
  // Whether the last test was stopped before its end.
  bool stopped() const { return stopped_; }
  bool results_ready() const { return results_ready_; }
  // The folder of the last run's files (the folder named, or a file's
  // own); empty for a crawl or before any run.
  std::string checked_folder() const;
  bool repair_completed() const { return repair_completed_; }
  void SetRepairCompleted(bool completed) { repair_completed_ = completed; }
  Function function_mode() const { return function_mode_; }
  void SetFunction(Function mode) { function_mode_ = mode; }

 private:
  bool CollectRunFiles(const std::string& path, const RunScope& scope);
  // What every run does first: the progress window, an empty log and list,
  // the start line.
  void BeginRun(RunState state, int files);
  void OnProbeDone(const WorkerMessage& message);
  // What a run's end or stop leaves: nothing in flight, the window idle.
  void ResetRun();
  void EndTest();
  void EndPurge();
  void LogWithDate(const std::string& prefix, const std::string& suffix);
  std::optional<Verdict> VerdictOf(const ProbeOutcome& outcome) { return test_.Judge(outcome); }

  RunHost& host_;
  RunSettings settings_;
  ResultList results_;
  ProbeWorker probe_worker_;
  RunProgress progress_;
  Purge purge_;
  Recheck recheck_;
  Watch watch_;
  LinkTest test_;
  TestedFiles last_test_;           // as it was asked for, for a watch to follow
  std::vector<std::string> files_;  // a new run's, once collected
  int file_limit_ = 1 << 20;        // open files the process may have, once SetUp() raised it

  RunState state_ = RunState::kIdle;
  bool tested_ = false;
  bool stopped_ = false;
  bool results_ready_ = false;
  bool repair_completed_ = false;
  Function function_mode_ = Function::kTestUrls;
};

}  // namespace quimbel
