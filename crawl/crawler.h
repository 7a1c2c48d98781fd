// Crawler: the pages of a live site, found from its start addresses (and
// sitemaps) breadth-first, fetched through the probe worker, and handed to
// the run one by one, in the order they were first reached, each with its
// links as a file's would be.
//
// Before any page, the robots.txt of each start origin is fetched; what it
// forbids is neither followed nor requested at all (Allows()). A page is
// followed when it lies in the scope, within the depth, under the page
// limit, and the run's rules do not skip it; it is fetched once, with its
// body, and that fetch is also the check of every link to it. Pages are
// read (links and fragment names) as their fetches end, in any order, but
// their links are followed in the order the pages were reached, so two
// crawls of an unchanged site reach the same pages in the same order.
//
// User-interface thread only; the fetches' outcomes come back through
// OnFetched().
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "crawl/crawl_scope.h"
#include "crawl/robots_rules.h"
#include "links/url_extractor.h"
#include "platform/key_table.h"
#include "probe/probe_worker.h"
#include "store/store.h"

namespace quimbel {

inline constexpr std::size_t kDefaultMaxPages = 100000;
// Pages fetched ahead of the one the run is at, at most.
inline constexpr std::size_t kPagesAhead = 256;
// The sitemaps protocol's own bounds: entries in one sitemap file, and
// sitemap files a run reads.
inline constexpr std::size_t kMostSitemapEntries = 50000;
inline constexpr std::size_t kMostSitemaps = 1000;

// Whether a page with these fragment names (ids, and names of <a>) has the
// place `fragment` names: "" and "top" are always there; percent-escapes
// are read as the browser reads them.
bool NamesFragment(const std::unordered_set<std::string>& names, std::string_view fragment);

// The fragment names of a fetched page's body, sent as `content_type`.
std::unordered_set<std::string> FragmentsOfPage(std::string body, std::string_view content_type);

struct CrawlOptions {
  std::vector<std::string> start_urls;  // absolute http or https addresses
  std::vector<std::string> sitemaps;    // sitemap addresses; their pages are reached first
  ScopeMode scope = ScopeMode::kPath;
  std::optional<int> depth;  // links followed from a start page; unlimited when unset
  std::size_t max_pages = kDefaultMaxPages;
  bool resources = true;   // check what pages load: images, scripts, style sheets, frames
  bool keep_text = false;  // hand each page's text on with its links
  // The robots.txt of each start origin governs every request to that
  // origin: pages followed, links checked and sitemaps. An author
  // checking their own site may set it aside.
  bool obey_robots = true;
};

// A page handed to the run: where a file would stand.
struct CrawledPage {
  std::string url;   // the address it was first reached by (a page key)
  LinkLists links;   // targets filled in
  std::string text;  // the page in UTF-8, when the crawl keeps it
  // False for a start address or sitemap that could not be fetched as a
  // page; `why` says what came back.
  bool opened = true;
  std::string why;
};

// The packed links of pages waiting for their turn that a crawl keeps in
// memory; past it they are read back from the store when their turn comes.
inline constexpr std::size_t kWaitingLinksBudget = std::size_t{16} << 20;

// Where a crawl keeps the pages it reads: the store, under the crawl's
// target (its start addresses).
struct CrawlJournal {
  Store* store = nullptr;
  std::string target;
  // Pages an earlier, stopped crawl of the target read are taken from the
  // store, not fetched.
  bool resume = false;
  std::size_t memory_budget = kWaitingLinksBudget;
  // Hands the run a kept page's outcome as its fetch's: the job number.
  std::function<std::uint64_t(ProbeOutcome outcome, const std::string& page)> answer;
};

// Counts for the progress display.
struct CrawlCounts {
  std::size_t found = 0;    // pages the crawl follows
  std::size_t fetched = 0;  // of those, fetches that have ended
  std::size_t queued() const { return found - fetched; }
};

class Crawler {
 public:
  // Starts a fetch; its job number. `page` is the page key when the
  // fetch is a followed page's (whose outcome is also the check of links
  // to it), empty for robots.txt and sitemaps.
  using Fetch = std::function<std::uint64_t(const std::string& url, BodyWanted body,
                                            const std::string& page)>;
  // Whether the run's rules skip a link (an absolute URL).
  using Skips = std::function<bool(std::string_view url)>;

  Crawler(CrawlOptions options, std::string robot_token, Fetch fetch, Skips skips);
  ~Crawler();
  Crawler(const Crawler&) = delete;
  Crawler& operator=(const Crawler&) = delete;

  // Keeps the pages read in `journal.store`, from the next Start() on.
  void UseJournal(CrawlJournal journal) { journal_ = std::move(journal); }
  // Fetches the robots.txt files, then the start pages and sitemaps.
  void Start();
  // Pages taken from an earlier crawl's store rather than fetched.
  std::size_t resumed_pages() const { return resumed_; }
  // The most bytes of waiting pages' links held in memory at once.
  std::size_t most_waiting_bytes() const { return most_waiting_bytes_; }
  // A fetch's outcome (its body taken); false when the job is not this
  // crawl's.
  bool OnFetched(std::uint64_t job, ProbeOutcome& outcome);
  // The next page for the run, once its links are known; false when none
  // is ready yet.
  bool TakePage(CrawledPage& taken);
  // A link of the run leads to `key`: when it is a page the crawl follows,
  // its fetch starts now if it has not (the link's check waits for it).
  bool Want(const std::string& key);
  // Nothing more will come: every page reached has been handed on.
  bool Finished() const;
  // Whether the fetched page `key` defines `fragment`; nothing when the
  // page was not read (not fetched yet, no HTML, or not followed).
  std::optional<bool> HasFragment(const std::string& key, std::string_view fragment) const;
  CrawlCounts counts() const;
  // Whether a request for `url` (absolute) is one the robots.txt of its
  // origin allows; any URL of an origin whose robots.txt was not read is.
  bool Allows(std::string_view url) const;
  // The same rules for the probe thread, once every robots.txt has been
  // read; null before, or when nothing is disallowed.
  std::shared_ptr<const RequestPolicy> request_policy() const { return policy_; }
  // The origins of the start addresses ("https://h:8080").
  const std::vector<std::string>& origins() const { return scope_.origins(); }
  // Addresses found to be other names of pages read since the last call:
  // where a page's moves ended. A link to one is a link to that page.
  std::vector<std::string> TakeAliases() { return std::exchange(aliases_, {}); }
  // Log lines about limits the crawl reached since the last call, each
  // said once a run.
  std::vector<std::string> TakeNotes() { return std::exchange(notes_, {}); }
  // Every page key, and other name of a page, the crawl has reached.
  const KeyTable& keys() const { return keys_; }
  // The page keys fetched, in the order they were reached (tests).
  std::vector<std::string> PageKeys() const;

 private:
  struct Page;
  void StartPages();
  // Starts the fetch of page `index`, once.
  void Kick(std::size_t index);
  // Takes page `index` as an earlier crawl read it; false when it did not.
  bool Resume(std::size_t index);
  // Keeps a page just read in the journal, its links out of memory when
  // the pages waiting hold more than the budget.
  void Keep(Page& page, const ProbeOutcome& outcome, bool own_fetch);
  // The links of a page whose turn has come.
  std::optional<LinkLists> TakeLinks(Page& page);
  // Starts the fetches of the next pages, as far as the run keeps up.
  void KickMore();
  // Adds a page reached at `depth` and starts its fetch; false when it is
  // not followed.
  bool Reach(const std::string& key, int depth);
  void AddDocument(const std::string& url, int depth, bool sitemap);
  void ReadPage(Page& page, ProbeOutcome& outcome);
  void ReadSitemap(Page& page, ProbeOutcome& outcome);
  // The pages toward --max-pages: those followed, and the sitemaps read.
  std::size_t PagesCounted() const { return page_count_ + sitemaps_seen_.size(); }
  // Adds a log line, once a run for each text.
  void Note(std::string text);
  // Follows the links of the pages read, in the order they were reached.
  void FollowInOrder();
  // Whether the page is a folder's index whose other name ("d/" or
  // "d/index.html") was handed on with the same bytes.
  bool IsIndexTwinHanded(const Page& page);
  std::optional<std::size_t> IndexOf(std::string_view key) const;
  // Names page `index` `key` (unless the key names one already): the
  // key's number.
  KeyTable::Id Name(std::string_view key, std::size_t index);
  std::string_view KeyOf(const Page& page) const;

  CrawlOptions options_;
  std::string robot_token_;
  Fetch fetch_;
  Skips skips_;
  CrawlScope scope_;
  std::unordered_map<std::string, RobotsRules> robots_;  // by origin
  std::shared_ptr<const RequestPolicy> policy_;
  std::unordered_map<std::uint64_t, std::string> robots_jobs_;
  std::deque<Page> pages_;  // in the order reached
  // Page keys, and other names of pages (where their moves ended): each
  // one's page, in page_at_. Sitemaps are no pages: their addresses are
  // kept apart.
  KeyTable keys_;
  std::vector<std::uint32_t> page_at_;
  std::deque<std::string> sitemap_urls_;
  // Pages' fragment names, packed, each distinct set once: most pages of a
  // site name few places, often the same ones.
  KeyTable fragment_sets_;
  std::unordered_map<std::uint64_t, std::size_t> by_job_;
  std::size_t followed_ = 0;  // pages whose links have been followed
  std::size_t handed_ = 0;    // pages handed to the run
  std::size_t kicked_ = 0;    // pages whose fetch has started
  std::size_t next_kick_ = 0;
  std::size_t page_count_ = 0;
  std::size_t fetched_ = 0;
  bool started_pages_ = false;
  std::vector<std::string> aliases_;
  std::unordered_set<std::string> sitemaps_seen_;
  std::vector<std::string> notes_;
  std::unordered_set<std::string> noted_;
  // The folders' index pages handed on, by page key: their bodies' hashes.
  std::unordered_map<std::string, std::size_t> index_hashes_;
  CrawlJournal journal_;
  std::size_t waiting_bytes_ = 0;  // packed links of pages waiting, in memory
  std::size_t most_waiting_bytes_ = 0;
  std::size_t resumed_ = 0;
};

}  // namespace quimbel
