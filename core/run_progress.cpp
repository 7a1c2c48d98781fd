#include "core/run_progress.h"

#include <chrono>
#include <cmath>
#include <string_view>

#include "core/status_code_table.h"

namespace quimbel {
namespace {

std::string Format(std::string_view pattern, const std::string& text) {
  std::string result(pattern);
  result.replace(result.find("%s"), 2, text);
  return result;
}

}  // namespace

void RunProgress::Open(bool purging, int files) {
  host_.CreateProgress(purging);
  open_ = true;
  texts_ = {};
  host_.SetFileBarRange(files);
  started_ = SteadyNow();
}

void RunProgress::Close() {
  StopWatchdog();
  if (!open_) return;
  host_.DestroyProgress();
  open_ = false;
}

void RunProgress::ShowFile(const std::string& file, int number, int total, const Crawler* crawl,
                           std::size_t links_checked) {
  texts_.current_file = file;
  texts_.file_number = std::to_string(number);
  texts_.file_total = std::to_string(total);
  if (crawl != nullptr) {
    const CrawlCounts counts = crawl->counts();
    texts_.pages = std::to_string(counts.found) + " found, " + std::to_string(counts.fetched) +
                   " fetched, " + std::to_string(counts.queued()) + " queued";
    const double seconds = std::chrono::duration<double>(SteadyNow() - started_).count();
    texts_.links_checked = std::to_string(links_checked) + " links checked";
    if (seconds >= 0.5) {
      texts_.links_checked +=
          ", " + std::to_string(std::lround(static_cast<double>(links_checked) / seconds)) +
          " a second";
    }
  }
  Show();
}

void RunProgress::ShowHead(const LinkLists& links, std::size_t url_count,
                           std::chrono::milliseconds timeout) {
  // The head of the list is the URL under way; the progress window shows
  // at most a screenful of it, however long it is.
  constexpr std::size_t kShownLength = 4096;
  texts_.current_url =
      links.urls.empty() ? std::string() : links.urls.front().substr(0, kShownLength);
  texts_.url_link_text =
      links.anchors.empty() ? std::string() : links.anchors.front().substr(0, kShownLength);
  texts_.url_number = std::to_string(url_count - links.urls.size() + 1);
  texts_.url_total = std::to_string(url_count);
  Show();
  host_.StartTimer(kWatchdogTimer, timeout + std::chrono::seconds(1));
  watchdog_armed_ = true;
  if (links.urls.empty() || (!links.local.empty() && links.local.front() != 0))
    return;  // no connection for it
  // A crawled page's link names its host in its absolute target.
  const std::string& url = links.targets.empty() ? links.urls.front() : links.targets.front();
  host_.SetStatusText(StatusPane::kConnection,
                      Format("Connecting to %s", UrlHost(url, ProtocolOf(url))));
  host_.SetStatusText(StatusPane::kMethod, "");
}

void RunProgress::ShowProbeStatus(const ProbeOutcome& outcome) {
  const bool connected = outcome.code == kReplyRead || outcome.code == kSendFailed ||
                         outcome.code == kReplyTimedOut || outcome.code == kTookTooLong;
  host_.SetStatusText(
      StatusPane::kConnection,
      Format(connected ? "Connected to %s" : "Connection to %s failed", outcome.host));
  if (outcome.protocol == Protocol::kFtp || !connected || outcome.code == kSendFailed) return;
  host_.SetStatusText(StatusPane::kMethod, "GET method sent to host");
  if (outcome.code != kReplyRead) return;
  host_.SetStatusText(StatusPane::kMethod,
                      outcome.reply.empty() ? "No Reply Received" : "Host Reply Received");
}

void RunProgress::OnWatchdog(const std::string& url) {
  if (!watchdog_armed_) return;
  // The watchdog only marks a slow probe; the worker's own limits end it.
  host_.LogAppend("Timeout occured while testing " + url + ".\r\n");
  StopWatchdog();
}

void RunProgress::StopWatchdog() {
  if (!watchdog_armed_) return;
  host_.KillTimer(kWatchdogTimer);
  watchdog_armed_ = false;
}

}  // namespace quimbel
