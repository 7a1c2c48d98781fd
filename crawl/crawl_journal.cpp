// The crawl's journal: each page read is kept in the store, so that the
// links of pages waiting for their turn need not stay in memory, and a
// crawl that was stopped resumes without fetching what it read.
#include <algorithm>
#include <nlohmann/json.hpp>

#include "crawl/crawler.h"
#include "crawl/crawler_page.h"
#include "crawl/packed_links.h"
#include "links/url_split.h"

namespace quimbel {
namespace {

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

}  // namespace quimbel
