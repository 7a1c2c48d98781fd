#include "crawl/crawler.h"

#include <algorithm>
#include <nlohmann/json.hpp>

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

// Where a fetch ended: the last address of its moves, when they ended well.
std::string FinalAddress(std::string_view key, const ProbeOutcome& outcome) {
  if (outcome.redirects.empty() || outcome.chain_end != ChainEnd::kGood) return std::string(key);
  return outcome.redirects.back();
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

// A kept page's state: its fetch's outcome (no body) and what reading it
// found.
std::string PackState(const ProbeOutcome& outcome, bool read, const std::string& why,
                      std::size_t body_hash) {
  const nlohmann::json state = {{"url", outcome.url},
                                {"protocol", static_cast<int>(outcome.protocol)},
                                {"host", outcome.host},
                                {"reply", outcome.reply},
                                {"unreadable_reply", outcome.unreadable_reply},
                                {"code", outcome.code},
                                {"redirects", outcome.redirects},
                                {"chain_end", static_cast<int>(outcome.chain_end)},
                                {"chain_code", outcome.chain_code},
                                {"content_type", outcome.content_type},
                                {"body_withheld", outcome.body_withheld},
                                {"read", read},
                                {"why", why},
                                {"hash", body_hash}};
  // Replies are bytes from the network: invalid UTF-8 is replaced, not fatal.
  return state.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace

struct Crawler::Page {
  // What a page holds only for a while, or few pages have, apart: a crawl
  // of a million pages holds a million of these.
  struct Rare {
    std::string why;
    std::string text;
    std::vector<std::string> nested;  // the sitemaps a sitemap index names
    // Only while the page waits to be handed on, packed: a crawl of a
    // hundred thousand pages has most of them waiting at once.
    std::string links;
  };
  // Its key's number in keys_; a sitemap's, in sitemap_urls_.
  KeyTable::Id key = 0;
  KeyTable::Id fragments = 0;  // its names, packed, in fragment_sets_
  int depth = 0;
  bool kicked = false;  // its fetch has been started
  bool sitemap = false;
  bool document = false;      // a start address or sitemap: a failure stops the run
  bool done = false;          // the fetch has ended
  bool read = false;          // links and fragment names are known
  bool links_kept = false;    // in the journal only
  std::size_t body_hash = 0;  // to know a folder's index served twice
  std::unique_ptr<Rare> rare;

  Rare& more() {
    if (!rare) rare = std::make_unique<Rare>();
    return *rare;
  }
  std::string why() const { return rare ? rare->why : std::string(); }
  std::string_view links() const { return rare ? std::string_view(rare->links) : ""; }
  // Lets the rare part go once nothing is in it.
  void Tidy() {
    if (rare && rare->why.empty() && rare->text.empty() && rare->nested.empty() &&
        rare->links.empty())
      rare.reset();
  }
};

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

void Crawler::ReadPage(Page& page, ProbeOutcome& outcome) {
  const std::string final_address = FinalAddress(KeyOf(page), outcome);
  if (const auto final_key = PageKey(final_address); final_key && *final_key != KeyOf(page)) {
    // A page moved elsewhere is read where it ended, once: not when that
    // page is another one of the crawl's, nor when it left the scope, nor
    // when the run asked for it before (its body is not fetched twice).
    const std::optional<std::size_t> known = IndexOf(*final_key);
    if (known && !outcome.body_withheld) {
      // The crawl has yet to read the page the move ended at: this was its
      // fetch, and the links waiting for it take this reply. Its own fetch,
      // if under way, is answered from the run's replies and then passed
      // over.
      Page& target = pages_[*known];
      if (!target.done && !target.sitemap) {
        if (!target.kicked) ++kicked_;
        target.kicked = true;
        target.done = true;
        ++fetched_;
        aliases_.emplace_back(KeyOf(target));
        ReadPage(target, outcome);
        Keep(target, outcome, false);
      }
    }
    if (known || !scope_.Contains(*final_key) || outcome.body_withheld) {
      page.more().why = "moved to " + final_address;
      return;
    }
    Name(*final_key, page_at_[page.key]);
    aliases_.push_back(*final_key);
  }
  page.body_hash = std::hash<std::string_view>{}(outcome.body);
  // A query's letters are sent in the page's own charset, as browsers do.
  const std::string charset = DeclaredCharset(outcome.content_type, outcome.body);
  std::string text = PageTextUtf8(std::move(outcome.body), outcome.content_type);
  // A style sheet of the site is read for its url() and @import, against
  // its own address.
  PageScan scan =
      IsStyleSheetType(outcome.content_type) ? ScanStyleSheet(text, {}, {}) : ScanPage(text);
  std::string base = final_address;
  if (!scan.base.empty()) {
    if (auto declared = ResolveUrl(final_address, RequestUrl(scan.base), charset))
      base = std::move(*declared);
  }
  LinkLists links;
  for (PageLink& link : scan.links) {
    if (link.resource && !options_.resources) continue;
    std::optional<std::string> target = ResolveUrl(base, RequestUrl(link.raw), charset);
    if (!target || !IsProbedUrl(*target)) continue;
    AppendLink(links, std::move(link), 0);
    links.targets.push_back(std::move(*target));
  }
  page.more().links = PackLinks(links);
  page.fragments = fragment_sets_.Add(PackTexts(scan.fragments)).first;
  if (options_.keep_text) page.more().text = std::move(text);
  page.read = true;
}

void Crawler::ReadSitemap(Page& page, ProbeOutcome& outcome) {
  Sitemap sitemap = ParseSitemap(outcome.body);
  if (!sitemap.readable && sitemap.pages.empty() && sitemap.sitemaps.empty()) {
    page.more().why = "no sitemap";
    return;
  }
  if (sitemap.pages.size() + sitemap.sitemaps.size() > kMostSitemapEntries) {
    Note("Sitemap entries past the " + std::to_string(kMostSitemapEntries) +
         " of one file are left out: " + std::string(KeyOf(page)));
    sitemap.pages.resize(std::min(sitemap.pages.size(), kMostSitemapEntries));
    sitemap.sitemaps.resize(
        std::min(sitemap.sitemaps.size(), kMostSitemapEntries - sitemap.pages.size()));
  }
  LinkLists links;
  for (SitemapEntry& entry : sitemap.pages) {
    std::optional<std::string> target = ResolveUrl(KeyOf(page), entry.url);
    if (!target) continue;
    PageLink link;
    link.raw = entry.url;
    link.text = std::string(kPlaceholderLinkName);
    link.line = entry.line;
    link.tag = "loc";
    AppendLink(links, std::move(link), 0);
    links.targets.push_back(std::move(*target));
  }
  page.more().links = PackLinks(links);
  for (SitemapEntry& entry : sitemap.sitemaps) {
    if (std::optional<std::string> nested = ResolveUrl(KeyOf(page), entry.url))
      page.more().nested.push_back(std::move(*nested));
  }
  page.read = true;
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

bool Crawler::Resume(std::size_t index) {
  Page& page = pages_[index];
  if (!journal_.resume || journal_.store == nullptr || page.sitemap) return false;
  std::optional<CrawlPageRecord> kept =
      journal_.store->FindCrawlPage(journal_.target, std::string(KeyOf(page)));
  if (!kept || !kept->own_fetch) return false;
  ProbeOutcome outcome;
  try {
    const auto state = nlohmann::json::parse(kept->state);
    outcome.url = state.at("url").get<std::string>();
    outcome.protocol = static_cast<Protocol>(state.at("protocol").get<int>());
    outcome.host = state.at("host").get<std::string>();
    outcome.reply = state.at("reply").get<std::string>();
    outcome.unreadable_reply = state.at("unreadable_reply").get<bool>();
    outcome.code = state.at("code").get<OutcomeCode>();
    outcome.redirects = state.at("redirects").get<std::vector<std::string>>();
    outcome.chain_end = static_cast<ChainEnd>(state.at("chain_end").get<int>());
    outcome.chain_code = state.at("chain_code").get<OutcomeCode>();
    outcome.content_type = state.at("content_type").get<std::string>();
    outcome.body_withheld = state.at("body_withheld").get<bool>();
    page.read = state.at("read").get<bool>();
    if (auto why = state.at("why").get<std::string>(); !why.empty())
      page.more().why = std::move(why);
    page.body_hash = state.at("hash").get<std::size_t>();
  } catch (const std::exception&) {
    page.read = false;
    return false;  // fetched again
  }
  // Its moves' end is this page, as when it was read.
  if (const auto final_key = PageKey(FinalAddress(KeyOf(page), outcome));
      page.read && final_key && *final_key != KeyOf(page) && !keys_.Contains(*final_key)) {
    Name(*final_key, index);
    aliases_.push_back(*final_key);
  }
  page.fragments = fragment_sets_.Add(kept->fragments).first;
  page.links_kept = true;
  page.done = true;
  ++fetched_;
  ++resumed_;
  // Its outcome comes as a fetch's would: OnFetched() finds the page done.
  by_job_.emplace(journal_.answer(std::move(outcome), std::string(KeyOf(page))), index);
  return true;
}

void Crawler::Keep(Page& page, const ProbeOutcome& outcome, bool own_fetch) {
  if (journal_.store == nullptr) return;
  const Status kept = journal_.store->PutCrawlPage(
      journal_.target,
      {std::string(KeyOf(page)), own_fetch,
       PackState(outcome, page.read, page.why(), page.body_hash), std::string(page.links()),
       std::string(fragment_sets_.key(page.fragments))});
  if (!kept.ok()) {
    // Nothing is lost but the room: the page stays in memory, and a resume
    // fetches it again.
    Note("The crawl's pages cannot be kept in " + journal_.store->path() + ": " + kept.message());
  } else if (waiting_bytes_ + page.links().size() > journal_.memory_budget) {
    if (page.rare) page.rare->links = std::string();
    page.Tidy();
    page.links_kept = true;
    return;
  }
  waiting_bytes_ += page.links().size();
  most_waiting_bytes_ = std::max(most_waiting_bytes_, waiting_bytes_);
}

std::optional<LinkLists> Crawler::TakeLinks(Page& page) {
  std::string packed = page.rare ? std::exchange(page.rare->links, {}) : std::string();
  page.Tidy();
  if (!page.links_kept) {
    waiting_bytes_ -= std::min(waiting_bytes_, packed.size());
    return UnpackLinks(packed);
  }
  page.links_kept = false;
  std::optional<CrawlPageRecord> kept =
      journal_.store->FindCrawlPage(journal_.target, std::string(KeyOf(page)));
  if (!kept) return std::nullopt;
  return UnpackLinks(kept->links);
}

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
