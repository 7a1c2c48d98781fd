// ResultCache: the outcomes of links to other sites, kept across runs in
// the store, so a re-run (and CI) asks other people's hosts again only
// about what it has not asked lately.
//
// Only final outcomes are kept: a reply with a status code (good answers,
// 4xx and 5xx, moves with where their chain ended). Time-outs, refused
// connections and other network failures say nothing lasting and are
// probed again. Entries are read as links ask for them and written a
// batch at a time, each batch one transaction of the store, so a million
// kept links cost nothing to open and a killed run loses at most its last
// batch. User-interface thread only.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/status.h"
#include "probe/probe_worker.h"
#include "store/store.h"

namespace quimbel {

inline constexpr std::chrono::seconds kDefaultCacheMaxAge{86400};

class ResultCache {
 public:
  using Clock = std::chrono::system_clock;

  // Entries older than `max_age` at `now` are not used (and dropped when
  // the cache is flushed). `store` must outlive the cache.
  ResultCache(Store& store, std::chrono::seconds max_age, Clock::time_point now)
      : store_(store), max_age_(max_age), now_(now) {}

  // Links into these origins ("https://h:8080") are neither answered nor
  // kept: the site being checked is always asked afresh.
  void LeaveOut(std::vector<std::string> origins) { left_out_ = std::move(origins); }

  // The outcome kept for a request URL, if one is fresh.
  std::optional<ProbeOutcome> Find(const std::string& url);
  // Keeps an outcome probed now, when it is a final one.
  void Keep(const std::string& url, const ProbeOutcome& outcome);
  // Writes what was kept since the last flush, and drops stale entries.
  Status Flush();

  // Whether an outcome is final, and worth keeping.
  static bool IsFinal(const ProbeOutcome& outcome);

 private:
  bool Fresh(std::int64_t time) const;
  bool LeftOut(const std::string& url) const;
  Status WriteKept();

  Store& store_;
  std::chrono::seconds max_age_;
  Clock::time_point now_;
  // Kept since the last write, by URL; written a batch at a time.
  std::unordered_map<std::string, StoredLink> kept_;
  std::vector<std::string> left_out_;
  Status write_failure_;
};

// A link cache file of an older Quimbel: a JSON file. Its entries are read
// into `store` once (`store` marks it), and the file is left as it was.
// A missing file is nothing to read; a damaged one gives the warning to
// show.
Status ImportJsonCache(const std::string& json_file, Store& store);

// Where the link cache named `named` is kept: the store itself, or beside
// a JSON cache of an older Quimbel, which is then `json` and read once.
struct CachePlace {
  std::string store;
  std::string json;  // empty: none to read
};
CachePlace CachePlaceOf(const std::string& named);

}  // namespace quimbel
