// What a link test shows while it runs: the progress window's texts, the
// two status panes, and the watchdog that marks a slow probe in the log.
#include <chrono>
#include <cmath>
#include <string_view>

#include "core/run_controller.h"
#include "core/status_code_table.h"

namespace quimbel {
namespace {

std::string Format(std::string_view pattern, const std::string& text) {
  std::string result(pattern);
  result.replace(result.find("%s"), 2, text);
  return result;
}

}  // namespace

void RunController::ShowFileProgress() {
  progress_.current_file = current_file_;
  // A crawl's pages are counted as they come; files are all known at the start.
  progress_.file_number = std::to_string(file_number_);
  progress_.file_total = std::to_string(total_files_);
  if (crawl_) {
    const CrawlCounts counts = crawl_->crawler().counts();
    progress_.pages = std::to_string(counts.found) + " found, " + std::to_string(counts.fetched) +
                      " fetched, " + std::to_string(counts.queued()) + " queued";
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - run_started_).count();
    progress_.links_checked = std::to_string(links_checked_) + " links checked";
    if (seconds >= 0.5) {
      progress_.links_checked +=
          ", " + std::to_string(std::lround(static_cast<double>(links_checked_) / seconds)) +
          " a second";
    }
  }
  if (progress_open_) host_.TransferProgress(progress_);
}

void RunController::OnProbeBegun() {
  // The head of the list is the URL under way; the progress window shows
  // at most a screenful of it, however long it is.
  constexpr std::size_t kShownLength = 4096;
  progress_.current_url =
      links_.urls.empty() ? std::string() : links_.urls.front().substr(0, kShownLength);
  progress_.url_link_text =
      links_.anchors.empty() ? std::string() : links_.anchors.front().substr(0, kShownLength);
  progress_.url_number = std::to_string(url_count_ - links_.urls.size() + 1);
  progress_.url_total = std::to_string(url_count_);
  if (progress_open_) host_.TransferProgress(progress_);
  host_.StartTimer(kWatchdogTimer, settings_.timeout + std::chrono::seconds(1));
  watchdog_armed_ = true;
  head_begun_ = true;
  if (!links_.local.empty() && links_.local.front() != 0) return;  // no connection for it
  // A crawled page's link names its host in its absolute target.
  const std::string& url = links_.targets.empty() ? links_.urls.front() : links_.targets.front();
  host_.SetStatusText(StatusPane::kConnection,
                      Format("Connecting to %s", UrlHost(url, ProtocolOf(url))));
  host_.SetStatusText(StatusPane::kMethod, "");
}

void RunController::ShowProbeStatus(const ProbeOutcome& outcome) {
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

void RunController::LogFileResults() {
  if (error_count_ == -1) return;  // no page open, or one that could not be read
  std::string line = "Results for " + current_file_ +
                     ": URLs tested: " + std::to_string(url_count_) +
                     ". URL errors: " + std::to_string(error_count_) + ".";
  // Only a run with rules that left links out says so.
  if (links_.skipped > 0) line += " URLs skipped: " + std::to_string(links_.skipped) + ".";
  host_.LogAppend(line + "\r\n");
  if (!file_records_.empty()) {
    FileRecord& record = file_records_.back();
    record.urls_tested = url_count_;
    record.url_errors = static_cast<std::size_t>(error_count_);
    record.skipped = links_.skipped;
  }
}

void RunController::OnTimer(int id) {
  if (id == kWatchdogTimer) {
    if (!watchdog_armed_) return;
    // The watchdog only marks a slow probe; the worker's own limits end it.
    static const std::string kNone;
    const std::string& url = links_.urls.empty() ? kNone : links_.urls.front();
    host_.LogAppend("Timeout occured while testing " + url + ".\r\n");
    StopWatchdog();
  } else if (id == kPurgeSettleTimer) {
    purge_.OnSettled();
  } else if (id == kWatchSettleTimer) {
    watch_.OnSettled();
  } else if (id == kContinueTimer) {
    host_.KillTimer(kContinueTimer);
    TestURLsStateMachine();
  }
}

void RunController::StopWatchdog() {
  if (!watchdog_armed_) return;
  host_.KillTimer(kWatchdogTimer);
  watchdog_armed_ = false;
}

}  // namespace quimbel
