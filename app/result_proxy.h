// ResultProxyModel: the results list as the window shows it, sorted by a
// column or in file order, and narrowed by the filter box or a category.
// A proxy over a permutation of row numbers (RowView): a sort orders the
// rows by ranks cached per column, a filter flags the rows that pass.
//
// On a big list, ranking a column and matching a filter text run on a
// thread of their own over a snapshot of the rows, and the next keystroke
// or click cancels what is no longer wanted: the event loop never waits
// for them. Rows added during a run are shown in batches, a few times a
// second, so the view lays itself out once a batch rather than once a
// row. User-interface thread only.
#pragma once

#include <QAbstractProxyModel>
#include <QTimer>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/row_view.h"

namespace quimbel {

class ResultTableModel;

class ResultProxyModel : public QAbstractProxyModel {
 public:
  ResultProxyModel(const ResultList& rows, QObject* parent = nullptr);
  ~ResultProxyModel() override;

  // Shows only the rows whose URL, reason, link text or file holds `text`.
  void SetSearchText(const QString& text);
  // Shows only the rows of this reason; nothing: every reason.
  void SetReasonFilter(std::optional<std::string> reason);
  void SetNewOnly(bool only_new);
  const std::optional<std::string>& reason_filter() const { return wanted_.reason; }

  // The list row behind a row of this model, and back.
  std::optional<std::size_t> ListRow(const QModelIndex& index) const;
  QModelIndex IndexOfListRow(std::size_t row, int column = 0) const;

  // Sorts by the column; -1: file order. On a big list the result shows
  // when the column's ranks are ready.
  void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;
  void setSourceModel(QAbstractItemModel* source) override;

  // Shows at once the rows added or changed since the last batch.
  void Flush();
  // Whether a sort, a filter or a batch of rows is still to show.
  bool busy() const;
  // Whether some rows shown may not pass the filter asked for: a longer
  // or another text is still being matched on a big list.
  bool ShowsUnmatchedRows() const;
  // Called whenever what was asked for is shown.
  std::function<void()> on_settled;

  QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  bool hasChildren(const QModelIndex& parent = {}) const override;
  QModelIndex mapToSource(const QModelIndex& proxy) const override;
  QModelIndex mapFromSource(const QModelIndex& source) const override;

 private:
  // Lists below this size are sorted and filtered at once, in the call.
  static constexpr std::size_t kQuickRows = 20000;

  void Connect(ResultTableModel* source);
  // Starts or finishes whatever the wanted order and filter still need.
  void Settle();
  // Changes the rows shown through `change`, keeping the selection and the
  // current row on the same rows: `moved` gives where a list row that was
  // there before the change is after it (none: where it was).
  void ChangeLayout(const std::function<void()>& change,
                    const std::function<std::size_t(std::size_t)>& moved = {});
  // Ranks the column on a thread of its own.
  void StartRanking(int column);
  // Ranks the next column not ranked yet, while nothing else is asked for.
  void RankAhead();
  // Runs `work` on a thread of its own; `done` runs here afterwards,
  // unless a later job or a change of the rows made it stale.
  void StartJob(std::function<std::function<void()>(const std::atomic<bool>&)> work);
  // Cancels every job and waits for them: the rows are about to change.
  void StopJobs();
  std::shared_ptr<const RowSnapshot> Snapshot();
  void OnSourceRowsInserted(int first, int last);
  void OnSourceRowsAboutToBeRemoved(int first, int last);
  void OnSourceRowsRemoved(int first, int last);
  void OnSourceDataChanged(int first, int last);
  void ScheduleFlush();

  const ResultList& rows_;
  RowView view_;
  RowFilter wanted_;
  int wanted_column_ = RowView::kFileOrder;
  bool wanted_descending_ = false;
  // The filter or column a running job works out; nothing when none does.
  std::optional<RowFilter> filtering_;
  std::optional<int> ranking_;
  bool out_of_order_ = false;  // rows changed since they were put in order
  // What a removal of rows began: nothing (none of them shown), the
  // removal of shown rows, or a reset (shown rows scattered by the order).
  enum class Removal { kNone, kRows, kReset } removal_ = Removal::kNone;
  struct Job {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> cancel;
    std::shared_ptr<std::atomic<bool>> finished;
  };
  std::vector<Job> jobs_;
  std::weak_ptr<const RowSnapshot> snapshot_;  // the one the running jobs read, if any
  std::uint64_t generation_ = 0;
  // Results of jobs up to this one arrive stale: the rows changed since.
  std::uint64_t stale_before_ = 0;
  QTimer flush_timer_;
  QTimer idle_timer_;
};

}  // namespace quimbel
