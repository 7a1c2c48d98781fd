// ResultProxyModel: the results list as the window shows it, sorted by a
// column or in file order, and narrowed by the filter box or a category.
// A QSortFilterProxyModel over the table model whose comparisons and
// matches read the engine's rows directly. User-interface thread only.
#pragma once

#include <QSortFilterProxyModel>
#include <optional>
#include <string>

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

 protected:
  bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;
  bool filterAcceptsRow(int source_row, const QModelIndex& source_parent) const override;

 private:
  const ResultList& rows_;
  std::string needle_;
  std::optional<std::string> reason_;
};

}  // namespace quimbel
