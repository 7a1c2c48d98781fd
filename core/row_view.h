// RowView: which rows of a ResultList a window shows, and in what order. A
// permutation of row numbers, made from ranks cached per column and a
// match flag per row; the rows themselves never move.
//
// What takes long on a million rows (ranking a column, matching a filter
// text) is done elsewhere, off the event loop, by RankRows and MatchRows
// over a RowSnapshot; this class only puts their results together, in
// time linear in the rows. User-interface thread only.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/result_list.h"
#include "core/row_order.h"

namespace quimbel {

// The filter a view applies: a text (lower case, see SearchNeedle) and
// perhaps one reason.
struct RowFilter {
  std::string needle;
  std::optional<std::string> reason;
  bool only_new = false;  // only rows new since the last run
  bool empty() const { return needle.empty() && !reason && !only_new; }
  bool operator==(const RowFilter&) const = default;
  bool Matches(const ResultRow& row) const;
  // Whether every row this filter shows is shown by `wider` too: then
  // only `wider`'s rows need testing. Typing more letters narrows.
  bool Narrows(const RowFilter& wider) const;
};

// One flag a row: whether it passes `filter`. Rows whose flag in `only`
// is 0 are not tested (they fail); `only` empty: every row is tested.
// Nothing when `cancel` was set on the way.
std::optional<std::vector<std::uint8_t>> MatchRows(const RowSnapshot& rows, const RowFilter& filter,
                                                   const std::vector<std::uint8_t>& only,
                                                   const std::atomic<bool>& cancel);

class RowView {
 public:
  static constexpr std::uint32_t kUnranked = UINT32_MAX;
  static constexpr int kFileOrder = -1;

  explicit RowView(const ResultList& list) : list_(list) {}

  // The rows shown, and the list row behind each.
  std::size_t size() const { return identity() ? known_ : shown_.size(); }
  std::size_t ListRow(std::size_t shown) const { return identity() ? shown : shown_[shown]; }
  // Where a list row is shown; nothing when it is filtered out or not
  // known yet.
  std::optional<std::size_t> ShownRow(std::size_t list_row) const;
  // The rows of the list the view has taken in: [0, known()).
  std::size_t known() const { return known_; }

  int sort_column() const { return column_; }
  bool descending() const { return descending_; }
  const RowFilter& filter() const { return filter_; }
  const std::vector<std::uint8_t>& matches() const { return matches_; }

  // Whether the column's ranks are cached for nearly every known row; the
  // few that are not are placed by comparing their texts.
  bool HasRanks(int column) const;
  // Ranks of the rows [0, ranks.size()), as RankRows makes them.
  void SetRanks(int column, std::vector<std::uint32_t> ranks);
  // Shows the rows sorted by the column (kFileOrder: in file order); rows
  // that compare equal stay in file order either way.
  void SetOrder(int column, bool descending);
  // Shows the rows that pass `filter`: `matches` flags rows [0, n); rows
  // known beyond it are tested here.
  void SetFilter(RowFilter filter, std::vector<std::uint8_t> matches);

  // The list grew: rows [known(), list size) are taken in. Whether they
  // were simply added at the end of what is shown (else the order was
  // made again).
  bool TakeNewRows();
  // The list changed under the known rows (an insertion inside, a row
  // changed, rows removed): `first` to `last` of the list, as the list
  // numbers them after an insertion and before a removal.
  void RowsInserted(std::size_t first, std::size_t last);
  // True when the row stays where it is shown, only its texts changed;
  // else the view is out of order until Rebuild().
  bool RowChanged(std::size_t row);
  // Only the rows that go leave; the others keep their order.
  void RowsRemoved(std::size_t first, std::size_t last);
  // The list was emptied or made anew: every row is taken in again.
  void Reset();
  // Puts the rows in order again.
  void Rebuild();

 private:
  bool identity() const { return column_ == kFileOrder && filter_.empty(); }
  std::vector<std::uint32_t> SortedRows() const;
  // Whether list row a goes before list row b in the current order.
  bool Before(std::uint32_t a, std::uint32_t b) const;

  const ResultList& list_;
  std::size_t known_ = 0;
  int column_ = kFileOrder;
  bool descending_ = false;
  RowFilter filter_;
  // A flag a known row while a filter is set; empty otherwise.
  std::vector<std::uint8_t> matches_;
  // Per column (the five texts and the line), the rank of each row once
  // ranked; kUnranked for a row changed or added since.
  std::vector<std::vector<std::uint32_t>> ranks_ =
      std::vector<std::vector<std::uint32_t>>(kResultColumnCount + 1);
  // The list rows shown, in order; empty in file order without a filter.
  std::vector<std::uint32_t> shown_;
  // Where each list row is shown, made when first asked for.
  mutable std::vector<std::uint32_t> place_;
  mutable bool place_valid_ = false;
};

}  // namespace quimbel
