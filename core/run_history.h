// RunHistory: a test's rows recorded in the store beside the earlier runs
// of the same target (a folder, a file or a start address), so that a row
// can say whether it is new since the last complete run, and the run how
// many links it found fixed. The store keeps the newest runs of each
// target. Rows are written a batch at a time, each batch a transaction: a
// killed run is recorded as incomplete and never compared against.
// User-interface thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"
#include "store/store.h"

namespace quimbel {

// The runs of a target the store keeps.
inline constexpr int kHistoryRuns = 30;

class RunHistory {
 public:
  // Begins a run of `target`; `store` must outlive the history.
  static Result<std::unique_ptr<RunHistory>> Begin(Store& store, const std::string& target,
                                                   std::int64_t now);

  // Whether a run before this one was complete, to compare with.
  bool has_previous() const { return previous_.has_value(); }
  // Whether a row for `url` on `page` is new: the last complete run had
  // none. With no run to compare with, every row is.
  bool IsNew(std::string_view page, std::string_view url);
  void AddRow(HistoryRow row);
  // A page this run read: its earlier rows now gone were fixed.
  void AddPage(std::string page);
  // Ends the run: the links fixed since the last complete run (0 with
  // none), or why the history could not be written.
  Result<std::int64_t> End(bool complete);

 private:
  RunHistory(Store& store, std::int64_t run, std::optional<std::int64_t> previous)
      : store_(store), run_(run), previous_(previous) {}
  Status Write();

  Store& store_;
  std::int64_t run_;
  std::optional<std::int64_t> previous_;
  std::vector<HistoryRow> rows_;
  std::vector<std::string> pages_;
  Status failure_;
};

}  // namespace quimbel
