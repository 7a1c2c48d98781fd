#include "core/row_view.h"

#include <algorithm>

namespace quimbel {

bool RowFilter::Matches(const ResultRow& row) const {
  if (reason && row.text(ResultColumn::kReason) != *reason) return false;
  if (only_new && !row.new_since_last) return false;
  return RowMatches(row, needle);
}

bool RowFilter::Narrows(const RowFilter& wider) const {
  if (wider.reason && reason != wider.reason) return false;
  if (wider.only_new && !only_new) return false;
  return needle.find(wider.needle) != std::string::npos;
}

std::optional<std::vector<std::uint8_t>> MatchRows(const RowSnapshot& rows, const RowFilter& filter,
                                                   const std::vector<std::uint8_t>& only,
                                                   const std::atomic<bool>& cancel) {
  std::vector<std::uint8_t> matches(rows.size(), 0);
  // A stop is noticed within a few thousand rows: well under a millisecond.
  constexpr std::size_t kBetweenLooks = 4096;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (i % kBetweenLooks == 0 && cancel.load(std::memory_order_relaxed)) return std::nullopt;
    if (!only.empty() && (i >= only.size() || only[i] == 0)) continue;
    matches[i] = filter.Matches(*rows[i]) ? 1 : 0;
  }
  return matches;
}

std::optional<std::size_t> RowView::ShownRow(std::size_t list_row) const {
  if (list_row >= known_) return std::nullopt;
  if (identity()) return list_row;
  if (!place_valid_) {
    place_.assign(known_, kUnranked);
    for (std::size_t i = 0; i < shown_.size(); ++i)
      place_[shown_[i]] = static_cast<std::uint32_t>(i);
    place_valid_ = true;
  }
  if (place_[list_row] == kUnranked) return std::nullopt;
  return place_[list_row];
}

bool RowView::HasRanks(int column) const {
  if (column < 0 || column > kResultColumnCount) return true;
  const std::vector<std::uint32_t>& ranks = ranks_[static_cast<std::size_t>(column)];
  // A few rows beyond the ranks are placed by their texts, which is quick
  // for a few; many are ranked again.
  const std::size_t unranked =
      known_ - std::min(known_, ranks.size()) +
      static_cast<std::size_t>(std::count(ranks.begin(), ranks.end(), kUnranked));
  return unranked <= std::max<std::size_t>(4096, known_ / 64);
}

void RowView::SetRanks(int column, std::vector<std::uint32_t> ranks) {
  if (column < 0 || column > kResultColumnCount) return;
  ranks.resize(std::min(ranks.size(), known_));
  ranks_[static_cast<std::size_t>(column)] = std::move(ranks);
  if (column == column_) Rebuild();
}

void RowView::SetOrder(int column, bool descending) {
  column_ = column < 0 || column > kResultColumnCount ? kFileOrder : column;
  descending_ = column_ != kFileOrder && descending;
  Rebuild();
}

void RowView::SetFilter(RowFilter filter, std::vector<std::uint8_t> matches) {
  filter_ = std::move(filter);
  if (filter_.empty()) {
    matches_.clear();
  } else {
    matches_ = std::move(matches);
    matches_.resize(std::min(matches_.size(), known_));
    for (std::size_t row = matches_.size(); row < known_; ++row)
      matches_.push_back(filter_.Matches(list_.row(row)) ? 1 : 0);
  }
  Rebuild();
}

bool RowView::TakeNewRows() {
  const std::size_t first = known_;
  known_ = list_.size();
  if (first == known_) return true;
  place_valid_ = false;
  if (!filter_.empty()) {
    for (std::size_t row = first; row < known_; ++row)
      matches_.push_back(filter_.Matches(list_.row(row)) ? 1 : 0);
  }
  if (identity()) return true;
  if (column_ == kFileOrder) {
    for (std::size_t row = first; row < known_; ++row) {
      if (matches_[row]) shown_.push_back(static_cast<std::uint32_t>(row));
    }
    return true;
  }
  Rebuild();
  return false;
}

void RowView::RowsInserted(std::size_t first, std::size_t last) {
  const std::size_t count = last - first + 1;
  for (std::vector<std::uint32_t>& ranks : ranks_) {
    if (ranks.size() > first)
      ranks.insert(ranks.begin() + static_cast<std::ptrdiff_t>(first), count, kUnranked);
  }
  if (!filter_.empty()) {
    std::vector<std::uint8_t> added(count);
    for (std::size_t i = 0; i < count; ++i)
      added[i] = filter_.Matches(list_.row(first + i)) ? 1 : 0;
    matches_.insert(matches_.begin() + static_cast<std::ptrdiff_t>(first), added.begin(),
                    added.end());
  }
  known_ += count;
  Rebuild();
}

bool RowView::RowChanged(std::size_t row) {
  if (row >= known_) return true;
  for (std::vector<std::uint32_t>& ranks : ranks_) {
    if (row < ranks.size()) ranks[row] = kUnranked;
  }
  const bool was_shown = filter_.empty() || matches_[row] != 0;
  const bool is_shown = filter_.empty() || filter_.Matches(list_.row(row));
  if (!filter_.empty()) matches_[row] = is_shown ? 1 : 0;
  if (was_shown != is_shown) return false;
  if (!is_shown || column_ == kFileOrder) return true;
  // Still in order beside its neighbours: it stays where it is.
  const std::size_t at = *ShownRow(row);
  const auto here = static_cast<std::uint32_t>(row);
  return (at == 0 || Before(shown_[at - 1], here)) &&
         (at + 1 == shown_.size() || Before(here, shown_[at + 1]));
}

void RowView::RowsRemoved(std::size_t first, std::size_t last) {
  if (first >= known_) return;
  last = std::min(last, known_ - 1);
  const std::size_t count = last - first + 1;
  const auto erase = [&](auto& values) {
    if (values.size() <= first) return;
    values.erase(values.begin() + static_cast<std::ptrdiff_t>(first),
                 values.begin() + static_cast<std::ptrdiff_t>(std::min(values.size(), last + 1)));
  };
  for (std::vector<std::uint32_t>& ranks : ranks_)
    erase(ranks);
  erase(matches_);
  known_ -= count;
  place_valid_ = false;
  // The order stays: the rows that go are left out, the later ones renumbered.
  std::size_t kept = 0;
  for (const std::uint32_t row : shown_) {
    if (row >= first && row <= last) continue;
    shown_[kept++] = row > last ? static_cast<std::uint32_t>(row - count) : row;
  }
  shown_.resize(kept);
}

void RowView::Reset() {
  known_ = 0;
  for (std::vector<std::uint32_t>& ranks : ranks_)
    ranks.clear();
  matches_.clear();
  shown_.clear();
  place_valid_ = false;
  TakeNewRows();
  Rebuild();
}

void RowView::Rebuild() {
  place_valid_ = false;
  shown_.clear();
  if (identity()) {
    shown_.shrink_to_fit();
    return;
  }
  if (column_ != kFileOrder) {
    shown_ = SortedRows();
    return;
  }
  for (std::size_t row = 0; row < known_; ++row) {
    if (matches_[row]) shown_.push_back(static_cast<std::uint32_t>(row));
  }
}

bool RowView::Before(std::uint32_t a, std::uint32_t b) const {
  const std::vector<std::uint32_t>& ranks = ranks_[static_cast<std::size_t>(column_)];
  int order = 0;
  if (a < ranks.size() && b < ranks.size() && ranks[a] != kUnranked && ranks[b] != kUnranked) {
    order = ranks[a] < ranks[b] ? -1 : ranks[a] > ranks[b] ? 1 : 0;
  } else {
    order = CompareRows(list_.row(a), list_.row(b), column_);
  }
  if (order != 0) return descending_ ? order > 0 : order < 0;
  // Equal rows keep their file order either way.
  return a < b;
}

std::vector<std::uint32_t> RowView::SortedRows() const {
  const std::vector<std::uint32_t>& ranks = ranks_[static_cast<std::size_t>(column_)];
  const auto shown = [&](std::size_t row) { return filter_.empty() || matches_[row] != 0; };
  // The ranked rows by counting, in buckets by rank (reversed when
  // descending); a bucket's rows in file order.
  std::uint32_t buckets = 0;
  for (const std::uint32_t rank : ranks) {
    if (rank != kUnranked) buckets = std::max(buckets, rank + 1);
  }
  const auto bucket = [&](std::uint32_t rank) { return descending_ ? buckets - 1 - rank : rank; };
  std::vector<std::uint32_t> start(std::size_t{buckets} + 1, 0);
  std::vector<std::uint32_t> unranked;
  for (std::size_t row = 0; row < known_; ++row) {
    if (!shown(row)) continue;
    if (row < ranks.size() && ranks[row] != kUnranked) {
      ++start[bucket(ranks[row]) + 1];
    } else {
      unranked.push_back(static_cast<std::uint32_t>(row));
    }
  }
  for (std::size_t i = 1; i < start.size(); ++i)
    start[i] += start[i - 1];
  std::vector<std::uint32_t> sorted(start.back());
  for (std::size_t row = 0; row < std::min(known_, ranks.size()); ++row) {
    if (!shown(row) || ranks[row] == kUnranked) continue;
    sorted[start[bucket(ranks[row])]++] = static_cast<std::uint32_t>(row);
  }
  if (unranked.empty()) return sorted;
  // The few others by their texts: each finds its place among the ranked.
  const auto before = [this](std::uint32_t a, std::uint32_t b) { return Before(a, b); };
  std::sort(unranked.begin(), unranked.end(), before);
  std::vector<std::uint32_t> merged;
  merged.reserve(sorted.size() + unranked.size());
  auto from = sorted.begin();
  for (const std::uint32_t row : unranked) {
    const auto place = std::lower_bound(from, sorted.end(), row, before);
    merged.insert(merged.end(), from, place);
    merged.push_back(row);
    from = place;
  }
  merged.insert(merged.end(), from, sorted.end());
  return merged;
}

}  // namespace quimbel
