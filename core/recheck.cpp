#include "core/recheck.h"

#include <algorithm>

#include "core/run_controller.h"
#include "crawl/crawler.h"
#include "links/url_resolver.h"

namespace quimbel {

void Recheck::Start(const std::vector<std::size_t>& rows, const LocalLinkOptions& options,
                    const Kick& kick) {
  jobs_.clear();
  verdicts_.clear();
  // A section of its own, set off from the run's last line.
  host_.LogAppend("\r\nRecheck of " + std::to_string(rows.size()) +
                  (rows.size() == 1 ? " link " : " links ") + host_.LongDateTime() + "\r\n");
  LocalLinkChecker local(options);
  std::unordered_map<std::string, std::uint64_t> jobs;  // one probe per request
  for (const std::size_t index : rows) {
    if (index >= results_.size()) continue;
    const ResultRow& row = results_.row(index);
    const std::string url(row.url());
    if (row.code == kLocalFileNotFound || row.code == kLocalAnchorNotFound) {
      ProbeOutcome outcome;
      outcome.url = url;
      outcome.local = true;
      outcome.code = local.Recheck(url, std::string(row.text(ResultColumn::kFileName)));
      verdicts_.emplace_back(index, judge_(outcome));
      continue;
    }
    // A crawled page's link is asked for where it leads; one with a
    // fragment fetches its page to look for the place.
    const std::string& target = row.target();
    const bool anchored = !target.empty() && FragmentOf(target).has_value();
    const std::string request = target.empty()
                                    ? ProbeRequestUrl(url, ProtocolRelativeScheme(options))
                                    : target.substr(0, target.find('#'));
    auto [found, added] = jobs.try_emplace(request + (anchored ? "#" : ""), 0);
    if (added) found->second = kick(request, anchored ? BodyWanted::kHtml : BodyWanted::kNone);
    jobs_[found->second].push_back(index);
  }
  if (jobs_.empty()) Finish();
}

void Recheck::Cancel() {
  jobs_.clear();
  verdicts_.clear();
}

void Recheck::OnDone(std::uint64_t job, const ProbeOutcome& outcome) {
  const auto found = jobs_.find(job);
  if (found == jobs_.end()) return;
  std::optional<std::unordered_set<std::string>> fragments;
  if (!outcome.body.empty()) fragments = FragmentsOfPage(outcome.body, outcome.content_type);
  for (const std::size_t index : found->second) {
    std::optional<Verdict> verdict = judge_(outcome);
    const auto fragment = FragmentOf(results_.row(index).target());
    if (!verdict && fragments && fragment && !NamesFragment(*fragments, *fragment)) {
      ProbeOutcome missing;
      missing.local = true;
      missing.code = kLocalAnchorNotFound;
      verdict = judge_(missing);
    }
    verdicts_.emplace_back(index, std::move(verdict));
  }
  jobs_.erase(found);
  if (jobs_.empty()) Finish();
}

void Recheck::Finish() {
  // Highest rows first, so removing one leaves the others' places alone.
  std::sort(verdicts_.begin(), verdicts_.end(),
            [](const auto& a, const auto& b) { return a.first > b.first; });
  std::size_t good = 0;
  std::vector<std::string> lines;
  for (const auto& [index, verdict] : verdicts_) {
    const std::string url(results_.row(index).url());
    if (!verdict) {
      results_.RemoveRow(index);
      ++good;
      lines.push_back(url + ": now good");
    } else {
      results_.UpdateRow(index, verdict->reason, verdict->code, verdict->alternate);
      results_.SetRedirects(index, verdict->redirects);
      lines.push_back(url + ": " + verdict->reason);
    }
  }
  // The log reads in list order.
  for (auto line = lines.rbegin(); line != lines.rend(); ++line)
    host_.LogAppend(*line);
  host_.LogAppend("Recheck done: " + std::to_string(good) + " now good, " +
                  std::to_string(verdicts_.size() - good) + " still listed.\r\n");
  verdicts_.clear();
}

// The controller's side: the run state, and the probe worker configured
// as for a run.
bool RunController::StartRecheck(const std::vector<std::size_t>& rows) {
  if (state_ != RunState::kIdle || rows.empty()) return false;
  probe_worker_.Configure(test_.ProbeSettingsInForce());
  probe_worker_.ForgetReplies();
  state_ = RunState::kRechecking;
  recheck_.Start(rows, test_.local_options(), [this](const std::string& url, BodyWanted body) {
    return probe_worker_.Kick({url, settings_.timeout, settings_.user_agent, body});
  });
  if (recheck_.done()) state_ = RunState::kIdle;
  return true;
}

}  // namespace quimbel
