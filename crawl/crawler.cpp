#include "crawl/crawler.h"

#include <algorithm>

#include "crawl/crawler_page.h"
#include "crawl/packed_links.h"
#include "crawl/page_text.h"
#include "crawl/sitemap.h"
#include "links/html_links.h"
#include "links/url_resolver.h"
#include "links/url_split.h"
#include "probe/reply_parsing.h"

namespace quimbel {
namespace {

// What a fetch that gave no page came back with, for the run's message.
std::string WhyNoPage(const ProbeOutcome& outcome) {
  if (outcome.code != kReplyRead) return "no reply (" + std::to_string(outcome.code) + ")";
  const std::string_view reply = ReplyText(outcome.reply);
  const std::string_view status = reply.substr(0, reply.find_first_of("\r\n"));
  if (ParseStatusCode(reply).value_or(0) / 100 == 2) return std::string(status) + ", no HTML";
  return std::string(status);
}

// Whether a fetch gave a page to read: a good reply, and for anything but
// a sitemap, HTML. An empty page is a page without links.
bool IsPage(const ProbeOutcome& outcome, bool sitemap) {
  if (outcome.code != kReplyRead) return false;
  const std::uint32_t status = ParseStatusCode(ReplyText(outcome.reply)).value_or(0);
  const bool good =
      status / 100 == 2 || (IsFollowedMove(status) && outcome.chain_end == ChainEnd::kGood);
  return good &&
         (sitemap || IsHtmlType(outcome.content_type) || IsStyleSheetType(outcome.content_type));
}

// An absolute URL's path without its query and fragment.
std::string_view StylePathOf(std::string_view url) {
  return url.substr(0, std::min(url.find('?'), url.find('#')));
}

// The robots.txt rules of the start origins, read by any thread.
class RobotsPolicy final : public RequestPolicy {
 public:
  explicit RobotsPolicy(std::unordered_map<std::string, RobotsRules> rules)
      : rules_(std::move(rules)) {}
  bool Allows(std::string_view url) const override {
    const std::optional<std::string> key = PageKey(url);
    if (!key) return true;
    const std::string origin = OriginOf(*key);
    const auto robots = rules_.find(origin);
    return robots == rules_.end() ||
           robots->second.Allows(std::string_view(*key).substr(origin.size()));
  }

 private:
  const std::unordered_map<std::string, RobotsRules> rules_;
};

}  // namespace

// Where a fetch ended: the last address of its moves, when they ended well.
std::string FinalAddress(std::string_view key, const ProbeOutcome& outcome) {
  if (outcome.redirects.empty() || outcome.chain_end != ChainEnd::kGood) return std::string(key);
  return outcome.redirects.back();
}

Crawler::Crawler(CrawlOptions options, std::string robot_token, Fetch fetch, Skips skips)
    : options_(std::move(options)),
      robot_token_(std::move(robot_token)),
      fetch_(std::move(fetch)),
      skips_(std::move(skips)) {
  std::vector<std::string> starts;
  for (const std::string& url : options_.start_urls) {
    const std::optional<std::string> normal = NormalizeUrl(url);
    if (!normal) continue;
    if (const auto key = PageKey(*normal)) starts.push_back(*key);
  }
  options_.start_urls = starts;
  scope_ = CrawlScope(starts, options_.scope);
  fragment_sets_.Add("");  // number 0: no names
}

std::string_view Crawler::KeyOf(const Page& page) const {
  return page.sitemap ? std::string_view(sitemap_urls_[page.key]) : keys_.key(page.key);
}

Crawler::~Crawler() = default;

void Crawler::Start() {
  for (const std::string& origin : scope_.origins()) {
    robots_jobs_.emplace(fetch_(origin + "/robots.txt", BodyWanted::kAny, {}), origin);
  }
  if (robots_jobs_.empty()) StartPages();
}

void Crawler::StartPages() {
  started_pages_ = true;
  if (options_.obey_robots && !robots_.empty()) policy_ = std::make_shared<RobotsPolicy>(robots_);
  for (const std::string& start : options_.start_urls) {
    if (!keys_.Contains(start)) AddDocument(start, 0, false);
  }
  for (const std::string& sitemap : options_.sitemaps)
    AddDocument(sitemap, -1, true);
  FollowInOrder();
}

void Crawler::AddDocument(const std::string& url, int depth, bool sitemap) {
  if (sitemap) {
    // Indexes may name themselves or each other: each sitemap is read once,
    // and no more of them than the protocol allows, counted as pages.
    if (!sitemaps_seen_.insert(NormalizeUrl(url).value_or(url)).second) return;
    if (sitemaps_seen_.size() > kMostSitemaps) {
      Note("Sitemaps past the " + std::to_string(kMostSitemaps) + " a run reads are left out");
      return;
    }
    if (PagesCounted() > options_.max_pages) {
      Note("Pages past the limit of " + std::to_string(options_.max_pages) +
           " are left out (--max-pages)");
      return;
    }
  }
  const std::size_t index = pages_.size();
  Page& page = pages_.emplace_back();
  page.depth = depth;
  page.sitemap = sitemap;
  page.document = true;
  if (sitemap) {
    page.key = static_cast<KeyTable::Id>(sitemap_urls_.size());
    sitemap_urls_.push_back(url);
  } else {
    page.key = Name(url, index);
    ++page_count_;
  }
  Kick(index);
}

void Crawler::Kick(std::size_t index) {
  Page& page = pages_[index];
  if (page.kicked) return;
  page.kicked = true;
  ++kicked_;
  if (Resume(index)) return;
  const std::string key(KeyOf(page));
  by_job_.emplace(
      fetch_(key, page.sitemap ? BodyWanted::kAny : BodyWanted::kHtml, page.sitemap ? "" : key),
      index);
}

void Crawler::KickMore() {
  // The next page to follow is always under way, or the crawl would stop;
  // beyond it, pages are read only so far ahead of the run (those a link
  // of the run waits for aside, which Want() starts at once).
  if (followed_ < pages_.size()) Kick(followed_);
  next_kick_ = std::max(next_kick_, followed_);
  while (next_kick_ < pages_.size() && kicked_ - handed_ < kPagesAhead)
    Kick(next_kick_++);
}

bool Crawler::Want(const std::string& key) {
  const std::optional<std::size_t> index = IndexOf(key);
  if (!index) return false;
  Kick(*index);
  return true;
}

std::optional<std::size_t> Crawler::IndexOf(std::string_view key) const {
  const std::optional<KeyTable::Id> id = keys_.Find(key);
  if (!id) return std::nullopt;
  return page_at_[*id];
}

KeyTable::Id Crawler::Name(std::string_view key, std::size_t index) {
  const auto [id, added] = keys_.Add(key);
  if (added) page_at_.push_back(static_cast<std::uint32_t>(index));
  return id;
}

bool Crawler::Reach(const std::string& key, int depth) {
  if (keys_.Contains(key) || !scope_.Contains(key)) return false;
  if (options_.depth && depth > *options_.depth) return false;
  if (PagesCounted() >= options_.max_pages) {
    Note("Pages past the limit of " + std::to_string(options_.max_pages) +
         " are left out (--max-pages)");
    return false;
  }
  if (!Allows(key)) return false;
  if (skips_ && skips_(key)) return false;
  const std::size_t index = pages_.size();
  Page& page = pages_.emplace_back();
  page.key = Name(key, index);
  page.depth = depth;
  ++page_count_;
  return true;
}

bool Crawler::OnFetched(std::uint64_t job, ProbeOutcome& outcome) {
  if (const auto robots = robots_jobs_.find(job); robots != robots_jobs_.end()) {
    // A robots.txt that is missing or cannot be read forbids nothing.
    if (!outcome.body.empty()) {
      // Only so much of it is read (RFC 9309 asks at least 500 KiB be
      // read), ending at the last whole line.
      constexpr std::size_t kMostRobotsBytes = std::size_t{500} * 1024;
      std::string_view rules = outcome.body;
      if (rules.size() > kMostRobotsBytes) {
        rules = rules.substr(0, kMostRobotsBytes);
        rules = rules.substr(0, rules.rfind('\n') + 1);
      }
      robots_[robots->second] = RobotsRules::Parse(rules, robot_token_);
    }
    robots_jobs_.erase(robots);
    if (robots_jobs_.empty()) StartPages();
    return true;
  }
  const auto found = by_job_.find(job);
  if (found == by_job_.end()) return false;
  Page& page = pages_[found->second];
  by_job_.erase(found);
  // A move that ended here was this page's read: its own reply, the same
  // page again, is not read twice.
  if (page.done) {
    FollowInOrder();
    return true;
  }
  page.done = true;
  if (!page.sitemap) ++fetched_;
  if (!IsPage(outcome, page.sitemap)) {
    page.more().why = WhyNoPage(outcome);
  } else if (page.sitemap) {
    ReadSitemap(page, outcome);
  } else {
    ReadPage(page, outcome);
  }
  if (!page.sitemap) Keep(page, outcome, true);
  outcome.body.clear();
  outcome.body.shrink_to_fit();
  FollowInOrder();
  return true;
}

void Crawler::Note(std::string text) {
  if (noted_.insert(text).second) notes_.push_back(std::move(text));
}

void Crawler::FollowInOrder() {
  while (followed_ < pages_.size() && pages_[followed_].done) {
    Page& page = pages_[followed_];
    ++followed_;
    if (!page.read) continue;
    // A page read long before its turn has its links in the journal.
    std::optional<CrawlPageRecord> kept;
    if (page.links_kept)
      kept = journal_.store->FindCrawlPage(journal_.target, std::string(KeyOf(page)));
    PackedTargets targets(kept ? std::string_view(kept->links) : page.links());
    std::string_view target;
    bool resource = false;
    while (targets.Next(target, resource)) {
      // What a page loads is checked, not followed; its style sheets are
      // read too.
      if (resource && !IsStyleSheetPath(StylePathOf(std::string(target)))) continue;
      if (const auto key = PageKey(target)) Reach(*key, page.depth + 1);
    }
    if (!page.rare) continue;
    for (const std::string& sitemap : page.rare->nested)
      AddDocument(sitemap, page.depth, true);
  }
  KickMore();
}

bool Crawler::TakePage(CrawledPage& taken) {
  while (handed_ < followed_) {
    Page& page = pages_[handed_];
    ++handed_;
    KickMore();
    // A page handed on needs its text no more.
    std::string text = page.rare ? std::exchange(page.rare->text, {}) : std::string();
    if (page.read && IsIndexTwinHanded(page)) {
      (void)TakeLinks(page);
      continue;
    }
    const std::string key(KeyOf(page));
    if (page.read) {
      std::optional<LinkLists> links = TakeLinks(page);
      taken = links ? CrawledPage{key, std::move(*links), std::move(text), true, {}}
                    : CrawledPage{key, {}, {}, false, "its links could not be read back"};
      return true;
    }
    // A followed page that gave no HTML is no file: the links to it say
    // what came back.
    if (page.document) {
      taken = CrawledPage{key, {}, {}, false, page.why()};
      return true;
    }
  }
  return false;
}

namespace {

// The other name of a folder's index page: "d/" for "d/index.html" and
// back; nothing for any other page.
std::optional<std::string> IndexTwin(std::string_view key) {
  constexpr std::string_view kIndex = "index.html";
  if (key.find('?') != std::string::npos) return std::nullopt;
  if (key.ends_with('/')) return std::string(key) + std::string(kIndex);
  if (key.ends_with("/" + std::string(kIndex)))
    return std::string(key.substr(0, key.size() - kIndex.size()));
  return std::nullopt;
}

}  // namespace

bool Crawler::IsIndexTwinHanded(const Page& page) {
  // "d/" and "d/index.html" are mostly one page under two names: served
  // with the same bytes, it is listed once, under the name reached first.
  const std::optional<std::string> twin = IndexTwin(KeyOf(page));
  if (!twin) return false;
  const auto handed = index_hashes_.find(*twin);
  if (handed != index_hashes_.end() && handed->second == page.body_hash) {
    Note("Listed once, as the same page as " + *twin + ": " + std::string(KeyOf(page)));
    return true;
  }
  index_hashes_.emplace(std::string(KeyOf(page)), page.body_hash);
  return false;
}

bool Crawler::Finished() const {
  // A page a move let the crawl read may still have its own fetch under way.
  return started_pages_ && robots_jobs_.empty() && by_job_.empty() && followed_ == pages_.size() &&
         handed_ == pages_.size();
}

namespace {

// Whether names `contains` hold the place `fragment` names: "" and "top"
// are always there; percent-escapes are read as the browser reads them.
template <typename Contains>
bool NamesFragmentIn(const Contains& contains, std::string_view fragment) {
  // An empty fragment and "#top" always lead somewhere: the top of the page.
  if (fragment.empty() || fragment == "top") return true;
  return contains(fragment) || contains(PercentDecode(fragment));
}

}  // namespace

std::optional<bool> Crawler::HasFragment(const std::string& key, std::string_view fragment) const {
  const std::optional<std::size_t> index = IndexOf(key);
  if (!index || !pages_[*index].read) return std::nullopt;
  const std::string_view names = fragment_sets_.key(pages_[*index].fragments);
  return NamesFragmentIn([&](std::string_view name) { return PackedTextsContain(names, name); },
                         fragment);
}

bool NamesFragment(const std::unordered_set<std::string>& names, std::string_view fragment) {
  return NamesFragmentIn([&](std::string_view name) { return names.contains(std::string(name)); },
                         fragment);
}

std::unordered_set<std::string> FragmentsOfPage(std::string body, std::string_view content_type) {
  const std::string text = PageTextUtf8(std::move(body), content_type);
  return ScanPage(text, PageScanMode::kFragmentsOnly).fragments;
}

bool Crawler::Allows(std::string_view url) const {
  return !policy_ || policy_->Allows(url);
}

CrawlCounts Crawler::counts() const {
  return {page_count_, fetched_};
}

std::vector<std::string> Crawler::PageKeys() const {
  std::vector<std::string> keys;
  for (const Page& page : pages_) {
    if (!page.sitemap) keys.emplace_back(KeyOf(page));
  }
  return keys;
}

}  // namespace quimbel
