#include "app/result_proxy.h"

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

bool ResultProxyModel::lessThan(const QModelIndex& left, const QModelIndex& right) const {
  const ResultRow& a = rows_.rows()[static_cast<std::size_t>(left.row())];
  const ResultRow& b = rows_.rows()[static_cast<std::size_t>(right.row())];
  const int order = CompareRows(a, b, left.column());
  if (order != 0) return order < 0;
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
