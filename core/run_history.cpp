#include "core/run_history.h"

namespace quimbel {
namespace {

// Rows and pages written at a time: few transactions, little lost to a kill.
constexpr std::size_t kBatch = 512;

}  // namespace

Result<std::unique_ptr<RunHistory>> RunHistory::Begin(Store& store, const std::string& target,
                                                      std::int64_t now) {
  Result<std::int64_t> run = store.BeginRun(target, now);
  if (!run) return run.status();
  const std::optional<std::int64_t> previous = store.LastCompleteRun(target, *run);
  return std::unique_ptr<RunHistory>(new RunHistory(store, *run, previous));
}

bool RunHistory::IsNew(std::string_view page, std::string_view url) {
  return !previous_ || !store_.RunHadRow(*previous_, page, url);
}

void RunHistory::AddRow(HistoryRow row) {
  rows_.push_back(std::move(row));
  if (rows_.size() >= kBatch) (void)Write();
}

void RunHistory::AddPage(std::string page) {
  pages_.push_back(std::move(page));
  if (pages_.size() >= kBatch) (void)Write();
}

Status RunHistory::Write() {
  if (Status written = store_.AddRunRows(run_, rows_, pages_); !written && failure_.ok()) {
    failure_ = written;
  }
  rows_.clear();
  pages_.clear();
  return failure_;
}

Result<std::int64_t> RunHistory::End(bool complete) {
  // A run with rows missing is no record to compare the next one with.
  if (Status written = Write(); !written) complete = false;
  std::int64_t fixed = 0;
  if (previous_) {
    Result<std::int64_t> counted = store_.FixedSince(*previous_, run_);
    if (counted) fixed = *counted;
    if (!counted && failure_.ok()) failure_ = counted.status();
  }
  if (Status ended = store_.EndRun(run_, complete, fixed, kHistoryRuns); !ended && failure_.ok()) {
    failure_ = ended;
  }
  if (!failure_.ok()) return failure_;
  return fixed;
}

}  // namespace quimbel
