// Watch: "Keep Checking" on its own. The pages of the last test are
// watched while they are edited; a page saved is read again a moment
// later: its local links and anchors are checked on disk at once, its
// network links take the test's outcomes (or the link cache's) and are
// probed only when neither knows them, and its rows are replaced where
// they stand, with one log line a page. A page whose ids change has the
// pages that link to it checked again too.
//
// Its owner passes on the file changes, the settle timer and the outcomes
// of its probes, and keeps it told of the test's outcomes. User-interface
// thread only.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/file_collection.h"
#include "core/local_links.h"
#include "core/outcome_verdict.h"
#include "core/page_watch.h"
#include "core/recheck.h"
#include "core/result_list.h"
#include "core/run_host.h"
#include "crawl/result_cache.h"
#include "links/url_extractor.h"
#include "platform/file_watch.h"
#include "probe/probe_worker.h"

namespace quimbel {

// A test of files as it was asked for: what a watch follows.
struct TestedFiles {
  std::vector<std::string> files;  // in the order they were tested
  std::string path;
  RunScope scope;
  LocalLinkOptions local;  // its site root filled in
};

class Watch {
 public:
  // Reads a page's links as a test does, local ones checked by `checker`;
  // false when the page cannot be read.
  using ReadLinks =
      std::function<bool(const std::string& page, LocalLinkChecker& checker, LinkLists& lists)>;
  struct Parts {
    ResultList& results;
    RunHost& host;
    Recheck::Judge judge;
    ReadLinks read_links;
    // Whether the rows are free to change: no run and no recheck.
    std::function<bool()> idle;
  };

  explicit Watch(Parts parts) : parts_(std::move(parts)) {}

  // Follows the pages of `test`; `kick` probes a network link. The link
  // cache, when named, answers before any probe. `watch` must outlive the
  // watch, which Stop() ends.
  void Start(FileWatch& watch, const TestedFiles& test, Recheck::Kick kick,
             const std::string& cache_file, std::chrono::seconds cache_max_age);
  void Stop();
  bool active() const { return page_watch_ != nullptr; }

  // A test's outcome of a link, for the pages a watch reads again.
  void Keep(const ProbeOutcome& outcome) { kept_.insert_or_assign(outcome.url, outcome); }
  void ForgetKept() { kept_.clear(); }

  void OnPathChanged(const std::string& path);
  // The settle timer: the changes so far are checked.
  void OnSettled();
  // False when `job` is none of the watch's probes.
  bool OnProbeDone(std::uint64_t job, const ProbeOutcome& outcome);
  // Pages being read, or whose probes are out.
  std::size_t pages_checking() const { return checks_.size(); }

 private:
  // A page read again, waiting for the probes of its links.
  struct PageCheck {
    std::string page;
    LinkLists links;
  };
  // Reads a page again and checks it, or drops its rows when it is gone;
  // whether its ids (or the page itself) came or went.
  bool CheckPageAgain(const std::string& page, LocalLinkChecker& checker);
  void FinishPageChecks();
  std::string RequestOf(const std::string& url) const;
  // A page's rows now: where they start and how many; where they would
  // stand when it has none.
  std::pair<std::size_t, std::size_t> PageRows(const std::string& page) const;
  void ReplacePageRows(const std::string& page, std::vector<ResultRow> rows);

  Parts parts_;
  LocalLinkOptions local_;
  Recheck::Kick kick_;
  // The final outcomes of the test's probes by request, and of the watch's.
  std::unordered_map<std::string, ProbeOutcome> kept_;
  std::unique_ptr<PageWatch> page_watch_;
  std::unique_ptr<Store> store_;
  std::unique_ptr<ResultCache> cache_;
  std::deque<PageCheck> checks_;
  std::unordered_map<std::uint64_t, std::string> jobs_;  // requests by probe job
};

}  // namespace quimbel
