#include "app/result_proxy.h"

#include <QTimer>

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
  if (column >= 0 && (column != ranked_column_ || ranks_.size() != rows_.size())) {
    ranks_ = RankRows(rows_, column);
    ranked_column_ = column;
  }
  QSortFilterProxyModel::sort(column, order);
}

void ResultProxyModel::setSourceModel(QAbstractItemModel* source) {
  ranks_.clear();
  // Connected before the base class connects its own handlers, so a row is
  // known as changed before the proxy places it again.
  connect(source, &QAbstractItemModel::dataChanged, this,
          [this](const QModelIndex& first, const QModelIndex& last) {
            for (int row = first.row(); row <= last.row(); ++row) {
              if (static_cast<std::size_t>(row) < ranks_.size())
                ranks_[static_cast<std::size_t>(row)] = kUnranked;
            }
            if (rerank_pending_ || ranks_.empty()) return;
            // Ranked afresh once the changes are over (a recheck changes
            // rows one by one).
            rerank_pending_ = true;
            QTimer::singleShot(0, this, [this] {
              rerank_pending_ = false;
              if (ranked_column_ >= 0 && ranks_.size() == rows_.size())
                ranks_ = RankRows(rows_, ranked_column_);
            });
          });
  connect(source, &QAbstractItemModel::rowsAboutToBeRemoved, this,
          [this](const QModelIndex&, int first, int last) {
            if (static_cast<std::size_t>(last) < ranks_.size())
              ranks_.erase(ranks_.begin() + first, ranks_.begin() + last + 1);
            else
              ranks_.clear();
          });
  connect(source, &QAbstractItemModel::modelReset, this, [this] { ranks_.clear(); });
  QSortFilterProxyModel::setSourceModel(source);
}

bool ResultProxyModel::lessThan(const QModelIndex& left, const QModelIndex& right) const {
  const auto a = static_cast<std::size_t>(left.row());
  const auto b = static_cast<std::size_t>(right.row());
  // Rows added during a run are beyond the ranks: compared by their texts,
  // which orders them exactly as the ranks would.
  if (left.column() == ranked_column_ && a < ranks_.size() && b < ranks_.size() &&
      ranks_[a] != kUnranked && ranks_[b] != kUnranked) {
    if (ranks_[a] != ranks_[b]) return ranks_[a] < ranks_[b];
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
