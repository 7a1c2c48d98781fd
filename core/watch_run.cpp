#include "core/watch_run.h"

#include <algorithm>
#include <climits>
#include <deque>
#include <set>

#include "core/run_controller.h"

namespace quimbel {
namespace {

// Long enough that an editor's write and rename are one change, short
// enough that a page's local links are checked well within 100 ms of it.
constexpr std::chrono::milliseconds kWatchSettle{30};

// The row a test makes of a link and its verdict.
ResultRow RowOf(const LinkLists& lists, std::size_t at, const Verdict& verdict,
                const std::shared_ptr<const std::string>& file) {
  ResultRow row;
  row.texts.SetUrl(lists.urls[at]);
  row.texts.SetSiteName(lists.anchors[at]);
  row.file_name = file;
  row.line = static_cast<std::uint32_t>(
      std::min<std::size_t>(lists.lines.empty() ? 0 : lists.lines[at], UINT32_MAX));
  row.resource = !lists.resources.empty() && lists.resources[at];
  row.kind = lists.kinds.empty() ? LinkKind::kAnchor : lists.kinds[at];
  row.code = verdict.code;
  row.SetText(ResultColumn::kReason, verdict.reason);
  if (IsMoveCode(verdict.code)) row.SetAlternateUrl(verdict.alternate);
  row.SetRedirects(verdict.redirects);
  return row;
}

}  // namespace

void Watch::Start(FileWatch& watch, const TestedFiles& test, Recheck::Kick kick,
                  const std::string& cache_file, std::chrono::seconds cache_max_age) {
  Stop();
  local_ = test.local;
  kick_ = std::move(kick);
  page_watch_ = std::make_unique<PageWatch>(watch, test.files, test.path, test.scope, test.local);
  if (!cache_file.empty()) {
    // A cache that cannot be opened was named in the test's log already.
    Result<std::unique_ptr<Store>> opened = Store::Open(CachePlaceOf(cache_file).store);
    if (opened) {
      store_ = std::move(opened).value();
      cache_ =
          std::make_unique<ResultCache>(*store_, cache_max_age, std::chrono::system_clock::now());
    }
  }
}

void Watch::Stop() {
  if (!page_watch_) return;
  parts_.host.KillTimer(kWatchSettleTimer);
  page_watch_.reset();
  cache_.reset();
  store_.reset();
  checks_.clear();
  // Their replies, when they come, are no one's.
  jobs_.clear();
}

void Watch::OnPathChanged(const std::string& path) {
  if (!page_watch_) return;
  page_watch_->Note(path);
  // Each change puts the check off again: a save is one check, not one
  // per write.
  parts_.host.KillTimer(kWatchSettleTimer);
  parts_.host.StartTimer(kWatchSettleTimer, kWatchSettle);
}

void Watch::OnSettled() {
  // A run or a recheck owns the rows while it lasts: the timer keeps
  // going, and the changes wait for it.
  if (!page_watch_ || !parts_.idle()) return;
  parts_.host.KillTimer(kWatchSettleTimer);
  const PageChanges changes = page_watch_->TakeChanges(parts_.results);
  // One reading of the disk for the whole batch: pages that link to a
  // changed page see it as it is now.
  LocalLinkChecker checker(local_);
  std::set<std::string> done;
  std::deque<std::string> moved_ids;
  const auto check = [&](const std::string& page) {
    if (done.insert(page).second && CheckPageAgain(page, checker)) moved_ids.push_back(page);
  };
  for (const std::string& page : changes.removed)
    check(page);
  for (const std::string& page : changes.changed)
    check(page);
  // Links into a page whose ids came or went may have broken or healed.
  for (; !moved_ids.empty(); moved_ids.pop_front()) {
    for (const std::string& other : page_watch_->PagesLinkingTo(moved_ids.front()))
      check(other);
  }
  FinishPageChecks();
}

bool Watch::CheckPageAgain(const std::string& page, LocalLinkChecker& checker) {
  // A newer reading of a page replaces one still waiting for its probes.
  std::erase_if(checks_, [&page](const PageCheck& check) { return check.page == page; });
  PageCheck check{page, {}};
  if (!parts_.read_links(page, checker, check.links)) {
    parts_.results.ForgetPageIdentity(page);
    ReplacePageRows(page, {});
    parts_.host.LogAppend("Checked again: " + page + ": the page is gone.");
    return page_watch_->IdsChanged(page, std::nullopt);
  }
  page_watch_->Rearm(page);
  std::unordered_set<std::string> asked;
  for (std::size_t i = 0; i < check.links.urls.size(); ++i) {
    if (check.links.local[i] != 0) continue;
    std::string request = RequestOf(check.links.urls[i]);
    if (kept_.contains(request)) continue;
    if (cache_) {
      if (auto kept = cache_->Find(request)) {
        kept_.emplace(request, std::move(*kept));
        continue;
      }
    }
    const bool out = std::any_of(jobs_.begin(), jobs_.end(),
                                 [&request](const auto& job) { return job.second == request; });
    if (out || !asked.insert(request).second) continue;
    const std::uint64_t job = kick_(request, BodyWanted::kNone);
    jobs_.emplace(job, std::move(request));
  }
  checks_.push_back(std::move(check));
  return page_watch_->IdsChanged(page, PageIds(page));
}

bool Watch::OnProbeDone(std::uint64_t job, const ProbeOutcome& outcome) {
  const auto found = jobs_.find(job);
  if (found == jobs_.end()) return false;
  ProbeOutcome kept = outcome;
  kept.body.clear();
  kept_.insert_or_assign(found->second, std::move(kept));
  jobs_.erase(found);
  FinishPageChecks();
  return true;
}

void Watch::FinishPageChecks() {
  if (!parts_.idle()) {
    // A recheck owns the rows for now: the settle timer tries again.
    parts_.host.StartTimer(kWatchSettleTimer, kWatchSettle);
    return;
  }
  const auto known = [this](const PageCheck& check) {
    for (std::size_t i = 0; i < check.links.urls.size(); ++i) {
      if (check.links.local[i] == 0 && !kept_.contains(RequestOf(check.links.urls[i])))
        return false;
    }
    return true;
  };
  for (auto check = checks_.begin(); check != checks_.end();) {
    if (!known(*check)) {
      ++check;
      continue;
    }
    const LinkLists& links = check->links;
    const auto file = std::make_shared<const std::string>(check->page);
    std::vector<ResultRow> rows;
    for (std::size_t i = 0; i < links.urls.size(); ++i) {
      ProbeOutcome local;
      local.url = links.urls[i];
      local.local = true;
      local.code = links.local[i];
      // The same classification as the test's, so the rows are those a
      // test would list.
      const auto verdict =
          parts_.judge(links.local[i] != 0 ? local : kept_.at(RequestOf(links.urls[i])));
      if (verdict) rows.push_back(RowOf(links, i, *verdict, file));
    }
    std::string line = "Checked again: " + check->page +
                       ": URLs tested: " + std::to_string(links.urls.size()) +
                       ". URL errors: " + std::to_string(rows.size()) + ".";
    if (links.skipped > 0) line += " URLs skipped: " + std::to_string(links.skipped) + ".";
    parts_.host.LogAppend(line);
    ReplacePageRows(check->page, std::move(rows));
    check = checks_.erase(check);
  }
}

std::string Watch::RequestOf(const std::string& url) const {
  return ProbeRequestUrl(url, ProtocolRelativeScheme(local_));
}

std::pair<std::size_t, std::size_t> Watch::PageRows(const std::string& page) const {
  const auto& rows = parts_.results.rows();
  const auto is_page = [&page](const ResultRow& row) {
    return row.file_name && *row.file_name == page;
  };
  const auto first = std::find_if(rows.begin(), rows.end(), is_page);
  if (first != rows.end()) {
    const auto end = std::find_if_not(first, rows.end(), is_page);
    return {static_cast<std::size_t>(first - rows.begin()), static_cast<std::size_t>(end - first)};
  }
  // None yet: they go before the rows of the first page after it in the
  // run's order.
  const std::size_t order = page_watch_->OrderOf(page);
  const auto after = std::find_if(rows.begin(), rows.end(), [&](const ResultRow& row) {
    return row.file_name && page_watch_->OrderOf(*row.file_name) > order;
  });
  return {static_cast<std::size_t>(after - rows.begin()), 0};
}

void Watch::ReplacePageRows(const std::string& page, std::vector<ResultRow> rows) {
  const auto [first, count] = PageRows(page);
  const std::size_t now = rows.size();
  parts_.results.ReplaceRows(first, count, std::move(rows));
  parts_.host.PageCheckedAgain(page, first, now);
}

// The controller's side: the last test handed to the watch, and the probe
// worker configured as for a run.

bool RunController::StartWatch(FileWatch& watch) {
  if (state_ != RunState::kIdle || !CanWatch()) return false;
  TestedFiles test = last_test_;
  test.local = test_.local_options();
  watch_.Start(
      watch, test,
      [this](const std::string& url, BodyWanted body) {
        return probe_worker_.Kick({url, settings_.timeout, settings_.user_agent, body});
      },
      settings_.cache_file, settings_.cache_max_age);
  probe_worker_.Configure(test_.ProbeSettingsInForce());
  return true;
}

}  // namespace quimbel
