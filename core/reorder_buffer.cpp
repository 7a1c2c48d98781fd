#include "core/reorder_buffer.h"

#include <algorithm>
#include <chrono>

#include "crawl/crawl_scope.h"
#include "crawl/crawler.h"
#include "links/url_resolver.h"
#include "probe/reply_parsing.h"
#include "probe/request_ledger.h"

namespace quimbel {

void ReorderBuffer::Fill(const LinkLists& head, std::deque<std::string>& files, int parallel,
                         const Extract& extract) {
  // Enough URLs in flight or queued at the worker that a free slot never
  // waits for this thread, and that a host at its cap can be passed over.
  const std::size_t window = static_cast<std::size_t>(parallel) * 4 + 16;
  // Refilled in batches, each waking the probe thread once. Whenever a
  // probe is in flight, every URL before it has its entry, the head too.
  if (in_flight_.size() > window / 2) return;
  if (!FillFile(head, entries_, window)) return;
  for (ReadAhead& ahead : read_ahead_) {
    if (!ahead.opened || !FillFile(ahead.links, ahead.entries, window)) return;
  }
  // Everything read so far is under way: read the next files ahead, so
  // many that a run of pages with few network links still keeps the
  // probes busy, but not the whole site at once (pages whose links are
  // all local would all be read before the first is listed).
  // Nor too long at a time: a page of a thousand links on disk takes
  // milliseconds to read and check, and the window waits meanwhile.
  constexpr std::size_t kMostFilesAhead = 64;
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(10);
  while (!files.empty() && in_flight_.size() < window && read_ahead_.size() < kMostFilesAhead &&
         std::chrono::steady_clock::now() < until) {
    ReadAhead& ahead = read_ahead_.emplace_back();
    ahead.path = std::move(files.front());
    files.pop_front();
    ahead.opened = extract(ahead.path, ahead.links, ahead.url_count);
    if (!ahead.opened || !FillFile(ahead.links, ahead.entries, window)) return;
  }
}

bool ReorderBuffer::FillFile(const LinkLists& lists, std::deque<EntryRef>& entries,
                             std::size_t window) {
  while (entries.size() < lists.urls.size()) {
    if (in_flight_.size() >= window) return false;
    const std::size_t at = entries.size();
    entries.push_back(EntryFor(lists.urls[at], lists.local[at],
                               lists.targets.empty() ? nullptr : &lists.targets[at]));
  }
  return true;
}

ReorderBuffer::ReadAhead ReorderBuffer::TakeReadAhead() {
  ReadAhead next = std::move(read_ahead_.front());
  read_ahead_.pop_front();
  entries_ = std::move(next.entries);
  return next;
}

ReorderBuffer::EntryRef& ReorderBuffer::PageEntry(std::string_view key) {
  if (crawl_keys_ != nullptr) {
    if (const std::optional<KeyTable::Id> id = crawl_keys_->Find(key)) {
      if (*id >= pages_.size()) pages_.resize(*id + 1);
      return pages_[*id];
    }
  }
  const auto [id, added] = page_keys_.Add(key);
  if (added) other_pages_.emplace_back();
  return other_pages_[id];
}

ReorderBuffer::EntryRef* ReorderBuffer::FindPageEntry(std::string_view key) {
  if (crawl_keys_ != nullptr) {
    const std::optional<KeyTable::Id> id = crawl_keys_->Find(key);
    if (id && *id < pages_.size()) return &pages_[*id];
  }
  const std::optional<KeyTable::Id> id = page_keys_.Find(key);
  return id ? &other_pages_[*id] : nullptr;
}

void ReorderBuffer::AddPage(const std::string& key, std::uint64_t job) {
  // A link may have asked for the page before its fetch began.
  EntryRef& entry = PageEntry(key);
  if (!entry || entry->done) entry = std::make_shared<Entry>();
  page_jobs_.emplace(job, entry);
}

void ReorderBuffer::AddPageAlias(const std::string& key) {
  // Links may wait for a page whose fetch a move made: they take it now.
  EntryRef& entry = PageEntry(key);
  if (entry && entry->done) return;
  if (!entry) entry = std::make_shared<Entry>();
  entry->done = true;
  entry->outcome.url = key;
  entry->outcome.protocol = ProtocolOf(key);
  entry->outcome.host = UrlHost(key, entry->outcome.protocol);
  // The page was read there: its last reply was a good one.
  entry->outcome.reply = "HTTP/1.1 200 OK\r\n\r\n";
}

ReorderBuffer::EntryRef ReorderBuffer::EntryFor(const std::string& url, std::uint32_t local,
                                                const std::string* target) {
  if (local != 0) {
    auto entry = std::make_shared<Entry>();
    entry->done = true;
    entry->outcome.url = url;
    entry->outcome.local = true;
    entry->outcome.code = local;
    return entry;
  }
  if (target != nullptr) {
    if (const auto key = PageKey(*target)) {
      if (page_lookup_ && page_lookup_(*key)) {
        // The entry waits for the page's fetch, which takes it over.
        EntryRef& entry = PageEntry(*key);
        if (!entry) entry = std::make_shared<Entry>();
        return entry;
      }
    }
  }
  // The request is the URL the page names as a browser reads it: the same
  // link written two ways is one probe, and a URL is asked about once a
  // run however far apart its links stand.
  std::string request = target != nullptr ? std::string(RequestKeyOf(*target))
                                          : ProbeRequestUrl(url, relative_scheme_);
  if (const auto found = probed_.find(request); found != probed_.end()) return found->second;
  auto entry = std::make_shared<Entry>();
  if (cache_ != nullptr) {
    if (auto kept = cache_->Find(request)) {
      ++cache_hits_;
      entry->done = true;
      entry->outcome = std::move(*kept);
      probed_.emplace(std::move(request), entry);
      return entry;
    }
  }
  in_flight_.emplace(kick_(request), entry);
  probed_.emplace(std::move(request), entry);
  return entry;
}

bool ReorderBuffer::Complete(std::uint64_t job, const ProbeOutcome& outcome) {
  auto* jobs = &in_flight_;
  auto found = in_flight_.find(job);
  if (found == in_flight_.end()) {
    jobs = &page_jobs_;
    found = page_jobs_.find(job);
    if (found == page_jobs_.end()) return false;
  }
  const EntryRef entry = found->second;
  const bool probe = jobs == &in_flight_;
  jobs->erase(found);
  if (cache_ != nullptr && probe) cache_->Keep(outcome.url, outcome);
  entry->outcome = outcome;
  // A probe that read its page keeps only the page's places, for the
  // links that name one; the page itself goes.
  if (probe && !outcome.body.empty()) {
    entry->fragments = std::make_shared<const std::unordered_set<std::string>>(
        FragmentsOfPage(outcome.body, outcome.content_type));
    entry->outcome.body.clear();
    entry->outcome.body.shrink_to_fit();
  }
  // Every outcome of the run is kept for the links still to come: only
  // what judging it reads.
  entry->outcome.reply = JudgedPartOfReply(outcome.reply);
  entry->outcome.reply.shrink_to_fit();
  entry->done = true;
  if (!probe) SharePageOutcome(entry);
  return true;
}

void ReorderBuffer::SharePageOutcome(const EntryRef& entry) {
  // A page's address matters to its outcome only through a move's Location;
  // without one, the page stands for every page that answered alike.
  const ProbeOutcome& outcome = entry->outcome;
  if (!outcome.redirects.empty() || IsMoveCode(ParseStatusCode(outcome.reply).value_or(0)) ||
      entry->fragments)
    return;
  EntryRef* const slot = FindPageEntry(PageKey(outcome.url).value_or(""));
  if (slot == nullptr || *slot != entry) return;
  std::string text = std::to_string(static_cast<int>(outcome.protocol)) + ' ' +
                     std::to_string(outcome.code) + ' ' + std::to_string(outcome.chain_code) + ' ' +
                     std::to_string(static_cast<int>(outcome.chain_end)) + ' ' +
                     char('0' + outcome.unreadable_reply) + char('0' + outcome.local) +
                     char('0' + outcome.out_of_descriptors) + char('0' + outcome.body_withheld) +
                     outcome.host + '\n' + outcome.content_type + '\n' + outcome.reply;
  auto [shared, added] = page_outcomes_.try_emplace(std::move(text));
  if (added) {
    shared->second = std::make_shared<Entry>(*entry);
    shared->second->outcome.url.clear();
    shared->second->outcome.job = 0;
  }
  *slot = shared->second;
}

void ReorderBuffer::Clear() {
  page_lookup_ = nullptr;
  in_flight_.clear();
  crawl_keys_ = nullptr;
  pages_.clear();
  pages_.shrink_to_fit();
  page_keys_.Clear();
  other_pages_.clear();
  other_pages_.shrink_to_fit();
  page_outcomes_.clear();
  page_jobs_.clear();
  probed_.clear();
  cache_hits_ = 0;
  entries_.clear();
  read_ahead_.clear();
}

}  // namespace quimbel
