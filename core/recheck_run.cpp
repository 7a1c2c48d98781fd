// "Recheck Selected": the links of some rows probed again, each distinct
// URL once, the rows updated or removed when all are back.
#include <algorithm>

#include "core/run_controller.h"

namespace quimbel {

bool RunController::StartRecheck(const std::vector<std::size_t>& rows) {
  if (state_ != RunState::kIdle || rows.empty()) return false;
  probe_worker_.Configure(ProbeSettingsInForce());
  probe_worker_.ForgetReplies();
  recheck_jobs_.clear();
  recheck_results_.clear();
  state_ = RunState::kRechecking;
  // A section of its own, set off from the run's last line.
  LogWithDate(
      "\r\nRecheck of " + std::to_string(rows.size()) + (rows.size() == 1 ? " link " : " links "),
      "\r\n");
  LocalLinkChecker local(run_local_options_);
  std::unordered_map<std::string, std::uint64_t> jobs;  // one probe per URL
  for (const std::size_t index : rows) {
    if (index >= results_.size()) continue;
    const ResultRow& row = results_.row(index);
    const std::string url(row.url());
    if (row.code == kLocalFileNotFound || row.code == kLocalAnchorNotFound) {
      ProbeOutcome outcome;
      outcome.url = url;
      outcome.local = true;
      outcome.code = local.Recheck(url, std::string(row.text(ResultColumn::kFileName)));
      recheck_results_.emplace_back(index, VerdictOf(outcome));
      continue;
    }
    // A crawled page's link is asked for where it leads; one with a
    // fragment fetches its page to look for the place.
    const std::string& target = row.target();
    const bool anchored = !target.empty() && FragmentOf(target).has_value();
    const std::string request =
        target.empty() ? ProbeRequestUrl(url, ProtocolRelativeScheme(run_local_options_))
                       : target.substr(0, target.find('#'));
    auto [found, added] = jobs.try_emplace(request + (anchored ? "#" : ""), 0);
    if (added) {
      found->second = probe_worker_.Kick(
          {request, timeout_, user_agent_, anchored ? BodyWanted::kHtml : BodyWanted::kNone});
    }
    recheck_jobs_[found->second].push_back(index);
  }
  if (recheck_jobs_.empty()) FinishRecheck();
  return true;
}

void RunController::OnRecheckDone(std::uint64_t job, const ProbeOutcome& outcome) {
  const auto found = recheck_jobs_.find(job);
  if (found == recheck_jobs_.end()) return;
  // A watch takes the newest outcome of a link.
  if (keep_outcomes_ && !crawler_) kept_outcomes_.insert_or_assign(outcome.url, outcome);
  std::optional<std::unordered_set<std::string>> fragments;
  if (!outcome.body.empty()) fragments = FragmentsOfPage(outcome.body, outcome.content_type);
  for (const std::size_t index : found->second) {
    std::optional<Verdict> verdict = VerdictOf(outcome);
    const auto fragment = FragmentOf(results_.row(index).target());
    if (!verdict && fragments && fragment && !NamesFragment(*fragments, *fragment)) {
      ProbeOutcome missing;
      missing.local = true;
      missing.code = kLocalAnchorNotFound;
      verdict = VerdictOf(missing);
    }
    recheck_results_.emplace_back(index, std::move(verdict));
  }
  recheck_jobs_.erase(found);
  if (recheck_jobs_.empty()) FinishRecheck();
}

void RunController::FinishRecheck() {
  // Highest rows first, so removing one leaves the others' places alone.
  std::sort(recheck_results_.begin(), recheck_results_.end(),
            [](const auto& a, const auto& b) { return a.first > b.first; });
  std::size_t good = 0;
  std::vector<std::string> lines;
  for (const auto& [index, verdict] : recheck_results_) {
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
                  std::to_string(recheck_results_.size() - good) + " still listed.\r\n");
  recheck_results_.clear();
  state_ = RunState::kIdle;
}

}  // namespace quimbel
