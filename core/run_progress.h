// RunProgress: what a run shows while it goes: the progress window's
// bars and texts, the two status panes, and the watchdog that marks a
// slow probe in the log. Every call is a no-op while no progress window
// is open, so a run that was stopped shows nothing more. User-interface
// thread only.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

#include "core/run_host.h"
#include "crawl/crawler.h"
#include "links/url_extractor.h"
#include "platform/clock.h"
#include "probe/probe_worker.h"

namespace quimbel {

class RunProgress {
 public:
  explicit RunProgress(RunHost& host) : host_(host) {}

  // Opens the window for a run of `files` files (a purge's has no link bar).
  void Open(bool purging, int files);
  void Close();
  bool open() const { return open_; }

  void SetFiles(int total) {
    if (open_) host_.SetFileBarRange(total);
  }
  // The next file's turn: the file bar steps, the link bar starts over.
  void NextFile() {
    if (!open_) return;
    host_.StepFileBar();
    host_.SetUrlBarPosition(0);
  }
  void LastFileDone() {
    if (open_) host_.StepFileBar();
  }
  void SetLinks(std::size_t count) {
    if (open_ && count > 0) host_.SetUrlBarRange(static_cast<int>(count));
  }
  void LinkDone() {
    if (open_) host_.StepUrlBar();
  }
  void Show() {
    if (open_) host_.TransferProgress(texts_);
  }

  // The file under way, `number` of `total`; a crawl's counts and pace,
  // and the links checked so far, with it.
  void ShowFile(const std::string& file, int number, int total, const Crawler* crawl,
                std::size_t links_checked);
  // The head of the list is under way: its texts, its host in the status
  // pane, and the watchdog armed for a second past `timeout`.
  void ShowHead(const LinkLists& links, std::size_t url_count, std::chrono::milliseconds timeout);
  // What the head's probe came to, in the status panes.
  void ShowProbeStatus(const ProbeOutcome& outcome);
  // The watchdog's timer: the slow probe of `url` is marked in the log.
  void OnWatchdog(const std::string& url);
  void StopWatchdog();

  const ProgressTexts& texts() const { return texts_; }

 private:
  RunHost& host_;
  ProgressTexts texts_;
  bool open_ = false;
  bool watchdog_armed_ = false;
  SteadyTime started_;
};

}  // namespace quimbel
