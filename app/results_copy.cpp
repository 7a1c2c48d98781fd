// The list's selected rows as text for the clipboard.
#include <QClipboard>
#include <QGuiApplication>
#include <QHeaderView>
#include <QStringList>
#include <algorithm>
#include <vector>

#include "app/results_view.h"

namespace quimbel {

QString ResultsView::SelectedRowsText() const {
  // Rows in the order shown, columns in the order on screen, under a
  // header line, as a spreadsheet takes them.
  QModelIndexList selected = selectionModel()->selectedRows();
  if (selected.isEmpty()) return {};
  std::sort(selected.begin(), selected.end(),
            [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
  std::vector<int> columns;
  for (int visual = 0; visual < header()->count(); ++visual) {
    const int logical = header()->logicalIndex(visual);
    if (!header()->isSectionHidden(logical)) columns.push_back(logical);
  }
  const auto field = [](QString value) {
    // A tab or line break inside a text would shift the columns.
    return value.replace('\t', ' ').replace('\r', ' ').replace('\n', ' ');
  };
  const auto line = [&](const auto& cell) {
    QStringList cells;
    for (const int column : columns)
      cells << field(cell(column));
    return cells.join('\t') + '\n';
  };
  QString text = line([this](int column) {
    return model()->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
  });
  for (const QModelIndex& index : selected) {
    text += line([&](int column) {
      return model()->index(index.row(), column).data(Qt::DisplayRole).toString();
    });
  }
  return text;
}

void ResultsView::CopySelectedRows() const {
  const QString text = SelectedRowsText();
  if (!text.isEmpty()) QGuiApplication::clipboard()->setText(text);
}

}  // namespace quimbel
