// ReorderBuffer: a link test's probes between the list and the probe
// worker. It hands out the URLs ahead of the head of the list (reading
// files ahead as needed), keeps one entry per link in list order, and
// takes the outcomes back in whatever order they come; the run reads them
// from the head on, so rows and log lines are in list order whatever the
// replies' order. A link that a run names twice is probed once.
// User-interface thread only.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "crawl/result_cache.h"
#include "links/url_extractor.h"
#include "platform/key_table.h"
#include "probe/probe_worker.h"

namespace quimbel {

class ReorderBuffer {
 public:
  // One distinct URL of the run: its probe, and its outcome once it is in.
  struct Entry {
    bool done = false;
    ProbeOutcome outcome;
    // The places (ids and anchor names) of the HTML page the probe read,
    // when it read one; null otherwise.
    std::shared_ptr<const std::unordered_set<std::string>> fragments;
  };
  using EntryRef = std::shared_ptr<Entry>;
  // A file read ahead of the one under way, so that its links can be in
  // flight before the list reaches them.
  struct ReadAhead {
    std::string path;
    bool opened = false;
    LinkLists links;
    std::size_t url_count = 0;
    std::deque<EntryRef> entries;  // one per URL of `links` handed out so far
  };
  // Starts a probe of a request URL; returns its job number.
  using Kick = std::function<std::uint64_t(std::string request)>;
  // Reads a file's links; false when it cannot be opened.
  using Extract = std::function<bool(const std::string& path, LinkLists&, std::size_t& count)>;

  explicit ReorderBuffer(Kick kick) : kick_(std::move(kick)) {}

  // Hands out the URLs ahead of the head, up to a window of
  // 4 x `parallel` + 16 in flight, first of `head` (the current file's
  // links), then of the files read ahead, then reading more of `files`.
  void Fill(const LinkLists& head, std::deque<std::string>& files, int parallel,
            const Extract& extract);
  // The head link's entry; Fill() made it.
  const EntryRef& head() const { return entries_.front(); }
  void PopHead() {
    if (!entries_.empty()) entries_.pop_front();
  }
  // The next file read ahead, if any; its entries become the head's.
  bool HasReadAhead() const { return !read_ahead_.empty(); }
  const std::string& NextReadAheadPath() const { return read_ahead_.front().path; }
  ReadAhead TakeReadAhead();
  std::size_t files_read_ahead() const { return read_ahead_.size(); }
  void DropReadAhead() { read_ahead_.clear(); }

  // A crawled page's fetch (`key` its page key) under way as `job`: links
  // whose targets are that page take its outcome rather than a probe.
  void AddPage(const std::string& key, std::uint64_t job);
  // Whether a page key is a page of the crawl (whose fetch, started now if
  // need be, will be the check of links to it); none for a run of files.
  void SetPageLookup(std::function<bool(const std::string& key)> lookup) {
    page_lookup_ = std::move(lookup);
  }
  // The crawl's own table of page keys, which names every page key this
  // buffer is given: entries go by its numbers, the keys held once. Null
  // for none.
  void SetPageKeys(const KeyTable* keys) { crawl_keys_ = keys; }

  // The scheme a file's "//host/path" link is asked for with.
  void SetRelativeScheme(std::string scheme) { relative_scheme_ = std::move(scheme); }

  // Outcomes kept from earlier runs answer links before any probe, and
  // the probes' final outcomes are kept there; null for none.
  void SetCache(ResultCache* cache) { cache_ = cache; }
  // Links the cache answered in this run.
  std::size_t cache_hits() const { return cache_hits_; }

  // `key` is where a crawled page's moves ended, a good HTML page: a link
  // to it is good without a probe of its own, and links already waiting
  // for its fetch have their answer.
  void AddPageAlias(const std::string& key);

  // Whether `job` is a probe (or page fetch) of this run still out.
  bool InFlight(std::uint64_t job) const {
    return in_flight_.contains(job) || page_jobs_.contains(job);
  }
  // Records a probe's outcome; false for one this run no longer waits for.
  bool Complete(std::uint64_t job, const ProbeOutcome& outcome);
  // Forgets everything: a stop, or the end of a run.
  void Clear();

 private:
  // The probe of `url`: this run's earlier one, or a new one; for a local
  // link (`local` its outcome) one that is done already.
  // A link of a fetched page is probed by its `target`, absolute.
  EntryRef EntryFor(const std::string& url, std::uint32_t local, const std::string* target);
  bool FillFile(const LinkLists& lists, std::deque<EntryRef>& entries, std::size_t window);

  Kick kick_;
  std::deque<EntryRef> entries_;  // one per URL of the head file handed out, from the head on
  std::deque<ReadAhead> read_ahead_;
  // This run's probes by URL, all of them: a URL is asked about once,
  // whether its links stand on one page or ten thousand pages apart.
  std::unordered_map<std::string, EntryRef> probed_;
  std::unordered_map<std::uint64_t, EntryRef> in_flight_;  // by job number
  // A crawl's pages by page key, never forgotten: each is fetched once.
  EntryRef& PageEntry(std::string_view key);
  EntryRef* FindPageEntry(std::string_view key);
  // Puts a page's done entry in its key's place as the one entry of all
  // pages that answered alike.
  void SharePageOutcome(const EntryRef& entry);
  const KeyTable* crawl_keys_ = nullptr;
  std::vector<EntryRef> pages_;  // by the crawl's key number
  KeyTable page_keys_;           // keys the crawl's table does not name
  std::vector<EntryRef> other_pages_;
  // The outcomes of pages that are done, each distinct one once: most
  // pages of a site answer alike, and a crawl may hold a million.
  std::unordered_map<std::string, EntryRef> page_outcomes_;
  std::function<bool(const std::string&)> page_lookup_;
  ResultCache* cache_ = nullptr;
  std::string relative_scheme_ = "https";
  std::size_t cache_hits_ = 0;
  std::unordered_map<std::uint64_t, EntryRef> page_jobs_;  // their fetches still out
};

}  // namespace quimbel
