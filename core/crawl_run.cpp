#include "core/crawl_run.h"

#include <algorithm>
#include <any>
#include <filesystem>
#include <optional>
#include <string_view>

#include "core/link_test.h"
#include "platform/product.h"
#include "probe/reply_parsing.h"

namespace quimbel {
namespace {

// What a page's entry keeps of its fetch: every link to the page is judged
// by it, and a crawl may hold a hundred thousand of them. A good page's
// header block says nothing more than its status line.
void KeepStatusLineOnly(ProbeOutcome& outcome) {
  if (outcome.code != kReplyRead || ParseStatusCode(outcome.reply).value_or(0) / 100 != 2) return;
  const std::size_t end = outcome.reply.find('\n');
  if (end != std::string::npos) outcome.reply.resize(end + 1);
  outcome.reply += "\r\n";
  outcome.reply.shrink_to_fit();
}

}  // namespace

void CrawlSource::TakePages(std::deque<std::string>& files) {
  // Pages are taken as the run gets near them: the crawl reads only so
  // far ahead of what it has handed on.
  constexpr std::size_t kPagesQueued = 16;
  CrawledPage page;
  while (files.size() < kPagesQueued && crawler_->TakePage(page)) {
    files.push_back(page.url);
    std::string url = page.url;
    queued_.insert_or_assign(std::move(url), std::move(page));
  }
}

bool CrawlSource::ExtractLinks(const std::string& url, const LinkRules& rules, LinkLists& lists) {
  const auto found = queued_.find(url);
  if (found == queued_.end()) return false;
  CrawledPage page = std::move(found->second);
  queued_.erase(found);
  if (!page.opened) {
    failure_ = page.why;
    return false;
  }
  lists = std::move(page.links);
  LeaveOutSkipped(rules, lists);
  LeaveOutDisallowed(url, lists);
  sources_.insert_or_assign(url, MapPageSource(url, std::move(page.text)));
  return true;
}

void CrawlSource::LeaveOutDisallowed(const std::string& page, LinkLists& lists) {
  if (lists.targets.empty()) return;
  LinkLists kept;
  kept.skipped = lists.skipped;
  std::vector<CheckedLink> left_out;
  while (!lists.urls.empty()) {
    if (crawler_->Allows(lists.targets.front())) {
      MoveFrontLink(lists, kept);
      continue;
    }
    left_out.push_back({lists.urls.front(), lists.lines.front(), std::nullopt});
    PopFrontLink(lists);
  }
  lists = std::move(kept);
  if (left_out.empty()) return;
  not_requested_count_ += left_out.size();
  auto& noted = not_requested_[page];
  noted.insert(noted.end(), std::make_move_iterator(left_out.begin()),
               std::make_move_iterator(left_out.end()));
}

std::vector<CheckedLink> CrawlSource::TakeNotRequested(const std::string& page) {
  const auto noted = not_requested_.find(page);
  if (noted == not_requested_.end()) return {};
  std::vector<CheckedLink> links = std::move(noted->second);
  not_requested_.erase(noted);
  return links;
}

void CrawlSource::Clear() {
  queued_.clear();
  sources_.clear();
}

CrawlSource::PageSource CrawlSource::MapPageSource(const std::string& url, std::string page_text) {
  const LocalLinkOptions& local = local_;
  PageSource source;
  if (local.site_root.empty() || local.site_url.empty()) {
    source.note = "it was fetched from the web; a site root and site URL tie pages to their files";
    return source;
  }
  const std::string root_page = local.site_root + "/index.html";
  const auto path = LocalLinkOpenPath(url, root_page, local);
  if (!path) {
    source.note = "the page is not under the site URL " + local.site_url;
    return source;
  }
  // A link inside the root may lead out of it: a repair there would
  // rewrite, and back up, a file the site does not hold.
  std::error_code error;
  const std::filesystem::path root = std::filesystem::canonical(local.site_root, error);
  const std::filesystem::path real = std::filesystem::weakly_canonical(*path, error);
  const auto [root_end, ignored] =
      std::mismatch(root.begin(), root.end(), real.begin(), real.end());
  if (root.empty() || error || root_end != root.end()) {
    source.note = "its file " + *path + " leads out of the site root " + local.site_root;
    return source;
  }
  if (const auto [first, added] = mapped_files_.try_emplace(*path, url); !added) {
    source.note = "its file " + *path + " is repaired through " + first->second;
    return source;
  }
  const auto file = MappedFile::Open(*path);
  if (!file) {
    source.note = "no file " + *path + " under the site root";
    return source;
  }
  results_.SetPageIdentity(*path, file->identity());
  results_.SetSourceRoot(local.site_root);
  source.file = *path;
  source.file_text = std::string(file->text());
  source.page_text = std::move(page_text);
  return source;
}

namespace {

// Line `line` (1 is the first) of a text, without its line end; nothing
// past the last line.
std::optional<std::string_view> LineOf(std::string_view text, std::size_t line) {
  std::size_t start = 0;
  for (std::size_t n = 1; n < line; ++n) {
    const std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) return std::nullopt;
    start = end + 1;
  }
  if (start > text.size() || (start == text.size() && line > 1)) return std::nullopt;
  std::string_view found = text.substr(start, text.find('\n', start) - start);
  if (found.ends_with('\r')) found.remove_suffix(1);
  return found;
}

}  // namespace

void CrawlSource::NoteRowSource(const std::string& page, std::size_t row, std::size_t line) {
  const auto found = sources_.find(page);
  if (found == sources_.end()) return;
  const PageSource& source = found->second;
  if (source.file.empty()) {
    results_.SetSource(row, {}, source.note);
    return;
  }
  const auto in_page = LineOf(source.page_text, line);
  if (in_page && *in_page == LineOf(source.file_text, line)) {
    results_.SetSource(row, source.file, {});
  } else {
    results_.SetSource(row, {},
                       "line " + std::to_string(line) + " of " + source.file +
                           " is not the line the server sent (the page is generated)");
  }
}

bool CrawlSource::MissingAnchor(const std::string& target) const {
  const auto fragment = FragmentOf(target);
  if (!fragment) return false;
  const auto key = PageKey(target);
  if (!key) return false;
  return crawler_->HasFragment(*key, *fragment) == false;
}

// The link test's side: its pages from the crawl.

void LinkTest::StartCrawl(const CrawlOptions& options) {
  // A new run supersedes whatever a stopped one left behind.
  files_.clear();
  total_files_ = 0;
  // The history knows a crawl by its start addresses, as they were given.
  target_.clear();
  for (const std::string& start : options.start_urls)
    target_ += (target_.empty() ? "" : " ") + start;
  CrawlOptions crawl = options;
  crawl.resources = settings_.local.resources;
  // Pages can be tied to their source files only with both.
  crawl.keep_text = !settings_.local.site_root.empty() && !settings_.local.site_url.empty();
  auto crawler = std::make_unique<Crawler>(
      std::move(crawl), std::string(kProductName),
      [this](const std::string& url, BodyWanted body, const std::string& page) {
        const std::uint64_t job =
            probe_worker_.Kick({url, settings_.timeout, settings_.user_agent, body, !page.empty()});
        if (!page.empty()) buffer_.AddPage(page, job);
        return job;
      },
      [this](std::string_view url) {
        return !settings_.rules.empty() && settings_.rules.Skips(url);
      });
  // A link to a page the crawl will read waits for that page's fetch,
  // started at once if it has not been.
  buffer_.SetPageLookup(
      [this](const std::string& key) { return crawl_ && crawl_->crawler().Want(key); });
  Start(settings_.local, std::move(crawler));
}

bool LinkTest::OnCrawlFetched(std::uint64_t job, const ProbeOutcome& outcome) {
  Crawler& crawler = crawl_->crawler();
  ProbeOutcome fetched = outcome;
  if (!crawler.OnFetched(job, fetched)) return false;
  if (!request_policy_ && crawler.request_policy()) {
    // robots.txt is read: the hops of moved links keep to it too.
    request_policy_ = crawler.request_policy();
    probe_worker_.Configure(ProbeSettingsInForce());
  }
  KeepStatusLineOnly(fetched);
  buffer_.Complete(job, fetched);
  for (const std::string& alias : crawler.TakeAliases())
    buffer_.AddPageAlias(alias);
  for (const std::string& note : crawler.TakeNotes())
    host_.LogAppend(note + "\r\n");
  TakeCrawledPages();
  if (progress_.open()) {
    progress_.SetFiles(total_files_);
    ShowFileProgress();
  }
  Advance();
  return true;
}

void LinkTest::TakeCrawledPages() {
  crawl_->TakePages(files_);
  total_files_ = static_cast<int>(crawl_->crawler().counts().found);
}

bool LinkTest::MissingAnchorOnPage() const {
  if (!local_options_.check_fragments || links_.urls.empty()) return false;
  const auto& places = buffer_.head()->fragments;
  if (!places) return false;
  const std::string written =
      links_.targets.empty() ? RequestUrl(links_.urls.front()) : links_.targets.front();
  const auto fragment = FragmentOf(written);
  return fragment && !NamesFragment(*places, *fragment);
}

}  // namespace quimbel
