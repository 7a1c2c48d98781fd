// A link test of a live site: its pages come from a crawl instead of the
// disk, as their fetches end, and each stands where a file stands.
#include <any>

#include "core/run_controller.h"
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

void RunController::StartCrawl(const CrawlOptions& options) {
  // A new run supersedes whatever a stopped one left behind.
  host_.KillTimer(kPurgeSettleTimer);
  purge_job_ = 0;
  files_.clear();
  total_files_ = 0;
  crawl_failure_.clear();
  CrawlOptions crawl = options;
  crawl.resources = local_options_.resources;
  auto crawler = std::make_unique<Crawler>(
      std::move(crawl), std::string(kProductName),
      [this](const std::string& url, BodyWanted body, const std::string& page) {
        const std::uint64_t job = probe_worker_.Kick({url, timeout_, user_agent_, body});
        if (!page.empty()) buffer_.AddPage(page, job);
        return job;
      },
      [this](std::string_view url) { return !rules_.empty() && rules_.Skips(url); });
  BeginTest(local_options_, std::move(crawler));
}

bool RunController::OnCrawlFetched(std::uint64_t job, const ProbeOutcome& outcome) {
  ProbeOutcome fetched = outcome;
  if (!crawler_->OnFetched(job, fetched)) return false;
  KeepStatusLineOnly(fetched);
  buffer_.Complete(job, fetched);
  TakeCrawledPages();
  if (progress_open_) ShowFileProgress();
  TestURLsStateMachine();
  return true;
}

void RunController::TakeCrawledPages() {
  CrawledPage page;
  while (crawler_->TakePage(page)) {
    files_.push_back(page.url);
    crawled_.insert_or_assign(page.url, std::move(page));
  }
  total_files_ = static_cast<int>(crawler_->counts().found);
}

bool RunController::ExtractCrawledLinks(const std::string& url, LinkLists& lists) {
  const auto found = crawled_.find(url);
  if (found == crawled_.end()) return false;
  CrawledPage page = std::move(found->second);
  crawled_.erase(found);
  if (!page.opened) {
    crawl_failure_ = page.why;
    return false;
  }
  lists = std::move(page.links);
  if (!rules_.empty()) LeaveOutSkipped(lists);
  return true;
}

bool RunController::MissingCrawledAnchor() const {
  if (!crawler_ || links_.targets.empty()) return false;
  const std::string& target = links_.targets.front();
  const auto fragment = FragmentOf(target);
  if (!fragment) return false;
  const auto key = PageKey(target);
  if (!key) return false;
  return crawler_->HasFragment(*key, *fragment) == false;
}

}  // namespace quimbel
