#include "app/result_proxy.h"

#include <algorithm>

#include "core/row_order.h"

namespace quimbel {

ResultProxyModel::ResultProxyModel(const ResultList& rows, QObject* parent)
    : QSortFilterProxyModel(parent), rows_(rows) {
  // Rows that arrive during a run take their places at once.
  setDynamicSortFilter(true);
}

void ResultProxyModel::SetSearchText(const QString& text) {
  const std::string needle = SearchNeedle(text.toStdString());
  if (needle == needle_) return;
  needle_ = needle;
  invalidateRowsFilter();
}

void ResultProxyModel::SetReasonFilter(std::optional<std::string> reason) {
  if (reason == reason_) return;
  reason_ = std::move(reason);
  invalidateRowsFilter();
}

std::optional<std::size_t> ResultProxyModel::ListRow(const QModelIndex& index) const {
  const QModelIndex source = mapToSource(index);
  if (!source.isValid() || static_cast<std::size_t>(source.row()) >= rows_.size()) {
    return std::nullopt;
  }
  return static_cast<std::size_t>(source.row());
}

QModelIndex ResultProxyModel::IndexOfListRow(std::size_t row, int column) const {
  return mapFromSource(sourceModel()->index(static_cast<int>(row), column));
}

void ResultProxyModel::sort(int column, Qt::SortOrder order) {
  // Each column's ranks are kept while the rows stay: going back to a
  // column, or reversing it, costs no ranking.
  if (column >= 0 && column < static_cast<int>(ranks_.size())) {
    std::vector<std::uint32_t>& ranks = ranks_[static_cast<std::size_t>(column)];
    // Rows changed since (a recheck, check boxes) are ranked again here,
    // when the user asks for a sort, never behind a click.
    if (ranks.size() != rows_.size() ||
        std::find(ranks.begin(), ranks.end(), kUnranked) != ranks.end())
      ranks = RankRows(rows_, column);
  }
  QSortFilterProxyModel::sort(column, order);
}

void ResultProxyModel::setSourceModel(QAbstractItemModel* source) {
  for (auto& ranks : ranks_)
    ranks.clear();
  // Connected before the base class connects its own handlers, so a row is
  // known as changed before the proxy places it again.
  connect(source, &QAbstractItemModel::dataChanged, this,
          [this](const QModelIndex& first, const QModelIndex& last) {
            for (auto& ranks : ranks_) {
              for (int row = first.row(); row <= last.row(); ++row) {
                if (static_cast<std::size_t>(row) < ranks.size())
                  ranks[static_cast<std::size_t>(row)] = kUnranked;
              }
            }
          });
  connect(source, &QAbstractItemModel::rowsAboutToBeRemoved, this,
          [this](const QModelIndex&, int first, int last) {
            for (auto& ranks : ranks_) {
              if (static_cast<std::size_t>(last) < ranks.size())
                ranks.erase(ranks.begin() + first, ranks.begin() + last + 1);
              else
                ranks.clear();
            }
          });
  connect(source, &QAbstractItemModel::modelReset, this, [this] {
    for (auto& ranks : ranks_)
      ranks.clear();
  });
  QSortFilterProxyModel::setSourceModel(source);
}

bool ResultProxyModel::lessThan(const QModelIndex& left, const QModelIndex& right) const {
  const auto a = static_cast<std::size_t>(left.row());
  const auto b = static_cast<std::size_t>(right.row());
  const auto column = static_cast<std::size_t>(left.column());
  // Rows added during a run are beyond the ranks, and changed ones are
  // unranked: compared by their texts, which orders them exactly as the
  // ranks would.
  const std::vector<std::uint32_t>* ranks = column < ranks_.size() ? &ranks_[column] : nullptr;
  if (ranks != nullptr && a < ranks->size() && b < ranks->size() && (*ranks)[a] != kUnranked &&
      (*ranks)[b] != kUnranked) {
    if ((*ranks)[a] != (*ranks)[b]) return (*ranks)[a] < (*ranks)[b];
  } else {
    const int order = CompareRows(rows_.rows()[a], rows_.rows()[b], left.column());
    if (order != 0) return order < 0;
  }
  // Equal rows keep their file order either way: a descending sort asks
  // with the two swapped.
  return sortOrder() == Qt::AscendingOrder ? left.row() < right.row() : left.row() > right.row();
}

bool ResultProxyModel::filterAcceptsRow(int source_row, const QModelIndex&) const {
  if (static_cast<std::size_t>(source_row) >= rows_.size()) return false;
  const ResultRow& row = rows_.row(static_cast<std::size_t>(source_row));
  if (reason_ && row.text(ResultColumn::kReason) != *reason_) return false;
  return RowMatches(row, needle_);
}

}  // namespace quimbel
