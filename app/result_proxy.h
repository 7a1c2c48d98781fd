// ResultProxyModel: the results list as the window shows it, sorted by a
// column or in file order, and narrowed by the filter box or a category.
// A QSortFilterProxyModel over the table model whose comparisons and
// matches read the engine's rows directly. User-interface thread only.
#pragma once

#include <QSortFilterProxyModel>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/result_list.h"

namespace quimbel {

class ResultProxyModel : public QSortFilterProxyModel {
 public:
  ResultProxyModel(const ResultList& rows, QObject* parent = nullptr);

  // Shows only the rows whose URL, reason, link text or file holds `text`.
  void SetSearchText(const QString& text);
  // Shows only the rows of this reason; nothing: every reason.
  void SetReasonFilter(std::optional<std::string> reason);
  const std::optional<std::string>& reason_filter() const { return reason_; }

  // The list row behind a row of this model, and back.
  std::optional<std::size_t> ListRow(const QModelIndex& index) const;
  QModelIndex IndexOfListRow(std::size_t row, int column = 0) const;

  // Ranks the rows by the column first (see RankRows), then sorts.
  void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;
  void setSourceModel(QAbstractItemModel* source) override;

 protected:
  bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;
  bool filterAcceptsRow(int source_row, const QModelIndex& source_parent) const override;

 private:
  const ResultList& rows_;
  std::string needle_;
  std::optional<std::string> reason_;
  // Per column (the five texts and the line), the rank of each list row
  // once sorted by it; kUnranked for a row changed since, which is then
  // compared by its texts. Empty until the column is sorted by.
  static constexpr std::uint32_t kUnranked = UINT32_MAX;
  std::array<std::vector<std::uint32_t>, kResultColumnCount + 1> ranks_;
};

}  // namespace quimbel
