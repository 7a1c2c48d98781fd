// ResultTableModel: the results list as a Qt table model. It follows the
// engine's ResultList through its observer, so appending a row inserts one
// row in the view (no reset), and a click on a check box changes the row's
// check state in the list. After the five texts comes the link's line in
// its file. User-interface thread only.
#pragma once

#include <QAbstractTableModel>
#include <QIcon>
#include <functional>

#include "core/result_list.h"

namespace quimbel {

class ResultTableModel : public QAbstractTableModel, public ResultListObserver {
 public:
  static constexpr int kLineColumn = kResultColumnCount;

  explicit ResultTableModel(ResultList& rows, QObject* parent = nullptr);
  ~ResultTableModel() override;

  // Without QAbstractTableModel's checks through two virtual calls: a
  // sort of a million rows asks for tens of millions of indexes.
  QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  // Called before a row's texts change or rows move or go, with the first
  // row touched (0 when any may move): a view that reads them off this
  // thread stops doing so.
  std::function<void(std::size_t first)> before_change;

  void RowsAboutToBeInserted(std::size_t first, std::size_t last) override;
  void RowAboutToChange(std::size_t row) override;
  void RowsInserted() override;
  void RowChanged(std::size_t row) override;
  void RowsAboutToBeRemoved(std::size_t first, std::size_t last) override;
  void RowsRemoved() override;

  // What the repair did with a row it handled, for the first column's
  // tooltip beside the handled mark.
  std::function<std::string(const ResultRow&)> handled_note;
  // Whether rows new since the last run are marked: only when the test had
  // an earlier one to compare with.
  std::function<bool()> marks_new;

 private:
  ResultList& rows_;
  QIcon handled_icon_;
};

}  // namespace quimbel
