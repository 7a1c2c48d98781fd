// ResultCache: the outcomes of links to other sites, kept across runs in
// a JSON file, so a re-run (and CI) asks other people's hosts again only
// about what it has not asked lately.
//
// Only final outcomes are kept: a reply with a status code (good answers,
// 4xx and 5xx, moves with where their chain ended). Time-outs, refused
// connections and other network failures say nothing lasting and are
// probed again. The file is written through a temporary file and a rename:
// it is the old one or the whole new one. A file that cannot be read as a
// cache is ignored, and the run says so. User-interface thread only.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/status.h"
#include "probe/probe_worker.h"

namespace quimbel {

inline constexpr std::chrono::seconds kDefaultCacheMaxAge{86400};

class ResultCache {
 public:
  using Clock = std::chrono::system_clock;

  // Entries older than `max_age` at `now` are not used (and not kept).
  ResultCache(std::chrono::seconds max_age, Clock::time_point now) : max_age_(max_age), now_(now) {}

  // Reads the file. A missing file is an empty cache; a damaged one gives
  // a failure whose message is the warning to show, and an empty cache. What is no regular file (a
  // fifo, a device), cannot be read or is too large to be a cache gives a
  // warning too, and the cache is then not usable: neither read nor
  // written.
  Status Load(const std::string& path);
  bool usable() const { return usable_; }
  // Writes every fresh entry to `path`.
  Status Save(const std::string& path) const;

  // Links into these origins ("https://h:8080") are neither answered nor
  // kept: the site being checked is always asked afresh.
  void LeaveOut(std::vector<std::string> origins) { left_out_ = std::move(origins); }

  // The outcome kept for a request URL, if one is fresh.
  std::optional<ProbeOutcome> Find(const std::string& url) const;
  // Keeps an outcome probed now, when it is a final one.
  void Store(const std::string& url, const ProbeOutcome& outcome);
  std::size_t size() const { return entries_.size(); }

  // Whether an outcome is final, and worth keeping.
  static bool IsFinal(const ProbeOutcome& outcome);

 private:
  struct Entry {
    std::int64_t time = 0;  // seconds since the epoch
    ProbeOutcome outcome;
  };
  bool Fresh(const Entry& entry) const;
  bool LeftOut(const std::string& url) const;

  std::chrono::seconds max_age_;
  Clock::time_point now_;
  std::unordered_map<std::string, Entry> entries_;
  std::vector<std::string> left_out_;
  bool usable_ = true;
};

// The cache file a run uses when the stored preference turns the cache
// on: "quimbel/links.json" in $XDG_CACHE_HOME (default ~/.cache).
std::string DefaultCacheFile();

}  // namespace quimbel
