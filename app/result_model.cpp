#include "app/result_model.h"

#include <QFont>

#include "app/icons.h"

namespace quimbel {

ResultTableModel::ResultTableModel(ResultList& rows, QObject* parent)
    : QAbstractTableModel(parent), rows_(rows), handled_icon_(MakeIcon(IconKind::kHandled)) {
  rows_.SetObserver(this);
}

ResultTableModel::~ResultTableModel() {
  rows_.SetObserver(nullptr);
}

QModelIndex ResultTableModel::index(int row, int column, const QModelIndex& parent) const {
  if (parent.isValid() || row < 0 || column < 0 || static_cast<std::size_t>(row) >= rows_.size() ||
      column > kResultColumnCount)
    return {};
  return createIndex(row, column);
}

int ResultTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int ResultTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kResultColumnCount + 1;
}

namespace {

QString Utf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

QVariant ResultTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || static_cast<std::size_t>(index.row()) >= rows_.size()) return {};
  const ResultRow& row = rows_.row(static_cast<std::size_t>(index.row()));
  if (index.column() == kLineColumn) {
    if (role == Qt::TextAlignmentRole) return int(Qt::AlignRight | Qt::AlignVCenter);
    if (role == Qt::DisplayRole && row.line > 0) return static_cast<qulonglong>(row.line);
    return {};
  }
  // A row the repair handled is marked, and says what was done (an
  // unticked row it passed says that it was left as it is).
  if (index.column() == 0 && row.RowDone() != 0) {
    if (role == Qt::DecorationRole && row.checked && row.RowDone() == kRowRepaired) {
      return handled_icon_;
    }
    if (role == Qt::ToolTipRole && handled_note) {
      return Utf8(row.url()) + "\n" + QString::fromStdString(handled_note(row));
    }
  }
  if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
    return Utf8(row.text(static_cast<ResultColumn>(index.column())));
  }
  if (role == Qt::FontRole && row.new_since_last && marks_new && marks_new()) {
    QFont bold;
    bold.setBold(true);
    return bold;
  }
  if (role == Qt::CheckStateRole && index.column() == 0) {
    return row.checked ? Qt::Checked : Qt::Unchecked;
  }
  return {};
}

bool ResultTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role != Qt::CheckStateRole || index.column() != 0 || !index.isValid()) return false;
  rows_.SetChecked(static_cast<std::size_t>(index.row()),
                   value.value<Qt::CheckState>() == Qt::Checked);
  return true;
}

QVariant ResultTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
      section > kLineColumn) {
    return {};
  }
  return section == kLineColumn ? QString("Line") : QString(kResultColumnHeaders[section]);
}

Qt::ItemFlags ResultTableModel::flags(const QModelIndex& index) const {
  // The root is no item: views and proxies ask it for drops only.
  if (!index.isValid()) return Qt::NoItemFlags;
  Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
  if (index.column() == 0) flags |= Qt::ItemIsUserCheckable;
  return flags;
}

void ResultTableModel::RowsAboutToBeInserted(std::size_t first, std::size_t last) {
  // Rows put in among others move rows on either side (a deque moves the
  // shorter part).
  if (first < rows_.size() && before_change) before_change(0);
  beginInsertRows({}, static_cast<int>(first), static_cast<int>(last));
}

void ResultTableModel::RowsInserted() {
  endInsertRows();
}

void ResultTableModel::RowAboutToChange(std::size_t row) {
  if (before_change) before_change(row);
}

void ResultTableModel::RowChanged(std::size_t row) {
  const int r = static_cast<int>(row);
  emit dataChanged(index(r, 0), index(r, kLineColumn));
}

void ResultTableModel::RowsAboutToBeRemoved(std::size_t first, std::size_t last) {
  // As with an insertion, rows before `first` may move too.
  if (before_change) before_change(0);
  beginRemoveRows({}, static_cast<int>(first), static_cast<int>(last));
}

void ResultTableModel::RowsRemoved() {
  endRemoveRows();
}

}  // namespace quimbel
