// How the results list is sorted and searched in the window. The rows
// themselves never move: a view shows them through these rules, and every
// command still acts on the rows in file order. Pure functions; any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/result_list.h"

namespace quimbel {

// The column after the five texts: the link's line, sorted as a number.
inline constexpr int kLineSortColumn = kResultColumnCount;

// Negative, zero or positive as `a` sorts before, with or after `b` by
// `column` (0 to 4: the texts byte by byte, ASCII letters without case;
// kLineSortColumn: the line as a number).
int CompareRows(const ResultRow& a, const ResultRow& b, int column);

// The place of each row when the list is sorted by `column`, as CompareRows
// orders it: rows that compare equal share a rank. Sorting a million rows
// by comparing their texts again and again is slow (every comparison
// reaches into two rows far apart); one ranking lets a view compare two
// numbers instead.
std::vector<std::uint32_t> RankRows(const ResultList& list, int column);

// The rows a background job reads: pointers into the list, which stay
// valid while rows are appended (the list is a deque). The owner of the
// job stops it before any of these rows is changed or removed.
using RowSnapshot = std::vector<const ResultRow*>;
RowSnapshot SnapshotRows(const ResultList& list, std::size_t count);

// RankRows over a snapshot, for a job off the event loop: nothing when
// `cancel` was set on the way.
std::optional<std::vector<std::uint32_t>> RankRows(const RowSnapshot& rows, int column,
                                                   const std::atomic<bool>& cancel);

// The needle as RowMatches takes it: ASCII letters in lower case.
std::string SearchNeedle(std::string_view typed);

// Whether the URL, reason, link text or file name of the row holds the
// needle, ASCII letters without case. An empty needle matches every row.
bool RowMatches(const ResultRow& row, std::string_view needle);

// The rows per reason, reasons in the order of their first row, and how
// many rows are moves (301, 302, 307, 308): what the summaries show.
struct ReasonCounts {
  std::vector<std::pair<std::string, std::size_t>> reasons;
  std::size_t redirects = 0;
};
ReasonCounts CountReasons(const ResultList& rows);

}  // namespace quimbel
