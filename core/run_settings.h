// RunSettings: what the next run is set to do, as the preferences, a
// project's config file and the command line left it. The controller
// reads it when a run starts; a run under way keeps what it started with
// where that matters (the local link options, the probe settings in
// force). A plain value; user-interface thread, as its controller.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "core/link_rules.h"
#include "core/local_links.h"
#include "core/report_filter.h"
#include "crawl/result_cache.h"
#include "probe/probe_worker.h"

namespace quimbel {

// Whether `agent` can stand in a User-Agent header: not empty, no control
// byte.
bool IsUsableUserAgent(std::string_view agent);

// The agent a run sends for `wanted`: that one when a header can carry it
// (a line break would end the header), else Quimbel's own.
std::string RunUserAgent(const std::string& wanted);

struct RunSettings {
  ReportFilter filter;
  // The time limit for a connection and for a reply; the watchdog allows
  // one second more.
  std::chrono::milliseconds timeout{15000};
  bool visible = false;  // each new row is scrolled into view
  std::string user_agent = RunUserAgent({});
  // Links in flight, per-host cap and certificate trust.
  ProbeSettings probe;
  // How local links are checked. An empty site root means the folder the
  // run starts in (a single file's own folder).
  LocalLinkOptions local;
  // Links that are neither probed nor checked on disk.
  LinkRules rules;
  // Whether a test keeps every checked link in its file records.
  bool record_links = false;
  // The project config file the options came from, named in the log;
  // empty for none.
  std::string options_file;
  // The file that keeps links' outcomes across runs, and how long an
  // outcome there is trusted; an empty name for none.
  std::string cache_file;
  std::chrono::seconds cache_max_age{kDefaultCacheMaxAge};
  // Whether a test records its rows in the store's history of runs, to
  // tell which are new since the last run of the same folder or site.
  bool history = false;
  // Whether a crawl goes on from the pages a stopped crawl of the same
  // start addresses read, kept in the store.
  bool resume = false;
  // Whether a test keeps its links' outcomes for a watch to reuse;
  // without them a watch probes what the link cache does not know.
  bool keep_outcomes = false;
};

}  // namespace quimbel
