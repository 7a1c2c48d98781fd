#include "app/result_proxy.h"

#include "app/result_model.h"

namespace quimbel {

ResultProxyModel::ResultProxyModel(const ResultList& rows, QObject* parent)
    : QAbstractProxyModel(parent), rows_(rows), view_(rows) {
  flush_timer_.setSingleShot(true);
  connect(&flush_timer_, &QTimer::timeout, this, &ResultProxyModel::Flush);
  idle_timer_.setSingleShot(true);
  connect(&idle_timer_, &QTimer::timeout, this, &ResultProxyModel::RankAhead);
}

ResultProxyModel::~ResultProxyModel() {
  StopJobs();
}

void ResultProxyModel::SetSearchText(const QString& text) {
  wanted_.needle = SearchNeedle(text.toStdString());
  Settle();
}

void ResultProxyModel::SetReasonFilter(std::optional<std::string> reason) {
  wanted_.reason = std::move(reason);
  Settle();
}

void ResultProxyModel::SetNewOnly(bool only_new) {
  wanted_.only_new = only_new;
  Settle();
}

std::optional<std::size_t> ResultProxyModel::ListRow(const QModelIndex& index) const {
  if (!index.isValid() || index.model() != this ||
      static_cast<std::size_t>(index.row()) >= view_.size())
    return std::nullopt;
  return view_.ListRow(static_cast<std::size_t>(index.row()));
}

QModelIndex ResultProxyModel::IndexOfListRow(std::size_t row, int column) const {
  const std::optional<std::size_t> shown = view_.ShownRow(row);
  return shown ? index(static_cast<int>(*shown), column) : QModelIndex();
}

void ResultProxyModel::sort(int column, Qt::SortOrder order) {
  wanted_column_ = column < 0 || column > kResultColumnCount ? RowView::kFileOrder : column;
  wanted_descending_ = order == Qt::DescendingOrder;
  Settle();
}

void ResultProxyModel::setSourceModel(QAbstractItemModel* source) {
  beginResetModel();
  StopJobs();
  if (sourceModel()) sourceModel()->disconnect(this);
  QAbstractProxyModel::setSourceModel(source);
  view_.Reset();
  endResetModel();
  if (auto* table = dynamic_cast<ResultTableModel*>(source)) Connect(table);
}

void ResultProxyModel::Connect(ResultTableModel* source) {
  // A run sets the texts of each row it adds: rows no job has in its
  // snapshot, which must not stop the jobs again and again.
  source->before_change = [this](std::size_t first) {
    if (first < view_.known()) StopJobs();
  };
  connect(source, &QAbstractItemModel::rowsInserted, this,
          [this](const QModelIndex&, int first, int last) { OnSourceRowsInserted(first, last); });
  connect(source, &QAbstractItemModel::rowsAboutToBeRemoved, this,
          [this](const QModelIndex&, int first, int last) {
            OnSourceRowsAboutToBeRemoved(first, last);
          });
  connect(source, &QAbstractItemModel::rowsRemoved, this,
          [this](const QModelIndex&, int first, int last) { OnSourceRowsRemoved(first, last); });
  connect(source, &QAbstractItemModel::dataChanged, this,
          [this](const QModelIndex& first, const QModelIndex& last) {
            OnSourceDataChanged(first.row(), last.row());
          });
  connect(source, &QAbstractItemModel::modelAboutToBeReset, this, [this] {
    StopJobs();
    beginResetModel();
  });
  connect(source, &QAbstractItemModel::modelReset, this, [this] {
    view_.Reset();
    endResetModel();
    Settle();
  });
}

bool ResultProxyModel::busy() const {
  return view_.known() < rows_.size() || out_of_order_ || !(wanted_ == view_.filter()) ||
         wanted_column_ != view_.sort_column() ||
         (wanted_column_ != RowView::kFileOrder && wanted_descending_ != view_.descending());
}

bool ResultProxyModel::ShowsUnmatchedRows() const {
  // A wider text shows fewer rows than wanted, never a wrong one.
  return !(wanted_ == view_.filter()) && !view_.filter().Narrows(wanted_);
}

void ResultProxyModel::Settle() {
  const bool quick = rows_.size() < kQuickRows;
  if (!(wanted_ == view_.filter()) && filtering_ != wanted_) {
    if (quick) {
      const std::atomic<bool> never{false};
      auto matches = MatchRows(SnapshotRows(rows_, view_.known()), wanted_, {}, never);
      ChangeLayout([&] { view_.SetFilter(wanted_, std::move(*matches)); });
    } else {
      // Typing more letters tests only the rows the shorter text showed.
      const RowFilter wanted = wanted_;
      std::vector<std::uint8_t> only;
      if (!view_.filter().empty() && wanted.Narrows(view_.filter())) only = view_.matches();
      filtering_ = wanted;
      StartJob([this, wanted, snapshot = Snapshot(),
                only = std::move(only)](const std::atomic<bool>& cancel) -> std::function<void()> {
        auto matches = std::make_shared<std::optional<std::vector<std::uint8_t>>>(
            MatchRows(*snapshot, wanted, only, cancel));
        if (!*matches) return {};
        return [this, wanted, matches] {
          filtering_.reset();
          if (wanted == wanted_)
            ChangeLayout([&] { view_.SetFilter(wanted, std::move(**matches)); });
        };
      });
    }
  }
  const int column = wanted_column_;
  if (column != RowView::kFileOrder && !view_.HasRanks(column) && ranking_ != column) {
    if (quick) {
      const std::atomic<bool> never{false};
      view_.SetRanks(column, *RankRows(SnapshotRows(rows_, view_.known()), column, never));
    } else {
      StartRanking(column);
    }
  }
  const bool order_wanted =
      column != view_.sort_column() ||
      (column != RowView::kFileOrder && wanted_descending_ != view_.descending());
  if (order_wanted && (column == RowView::kFileOrder || view_.HasRanks(column)))
    ChangeLayout([&] { view_.SetOrder(column, wanted_descending_); });
  if (busy()) return;
  // Once the rows have been still for a moment, the columns are ranked
  // on the side, so that a first click on a header shows at once.
  if (!ranking_ && rows_.size() >= kQuickRows) idle_timer_.start(1000);
  if (on_settled) on_settled();
}

void ResultProxyModel::StartRanking(int column) {
  ranking_ = column;
  StartJob([this, column, snapshot = Snapshot()](const std::atomic<bool>& cancel) {
    auto ranks = std::make_shared<std::optional<std::vector<std::uint32_t>>>(
        RankRows(*snapshot, column, cancel));
    if (!*ranks) return std::function<void()>();
    return std::function<void()>([this, column, ranks] {
      ranking_.reset();
      if (column == view_.sort_column()) {
        ChangeLayout([&] { view_.SetRanks(column, std::move(**ranks)); });
      } else {
        view_.SetRanks(column, std::move(**ranks));
      }
      Settle();
    });
  });
}

void ResultProxyModel::RankAhead() {
  if (busy() || ranking_ || filtering_ || rows_.size() < kQuickRows) return;
  // The columns most often sorted by first.
  for (const int column : {0, 1, 3, 2, kLineSortColumn, 4}) {
    if (!view_.HasRanks(column)) {
      StartRanking(column);
      return;
    }
  }
}

void ResultProxyModel::ChangeLayout(const std::function<void()>& change,
                                    const std::function<std::size_t(std::size_t)>& moved) {
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  const QModelIndexList before = persistentIndexList();
  std::vector<std::optional<std::size_t>> list_rows;
  list_rows.reserve(before.size());
  for (const QModelIndex& index : before)
    list_rows.push_back(ListRow(index));
  change();
  out_of_order_ = false;
  QModelIndexList after;
  after.reserve(before.size());
  for (qsizetype i = 0; i < before.size(); ++i) {
    const auto& row = list_rows[static_cast<std::size_t>(i)];
    after.push_back(row ? IndexOfListRow(moved ? moved(*row) : *row, before[i].column())
                        : QModelIndex());
  }
  changePersistentIndexList(before, after);
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void ResultProxyModel::StartJob(
    std::function<std::function<void()>(const std::atomic<bool>&)> work) {
  // Finished jobs are joined here; cancelled ones that still run end on
  // their own within a moment, and are joined later.
  std::erase_if(jobs_, [](Job& job) {
    if (!job.finished->load()) return false;
    job.thread.join();
    return true;
  });
  const std::uint64_t generation = ++generation_;
  auto cancel = std::make_shared<std::atomic<bool>>(false);
  auto finished = std::make_shared<std::atomic<bool>>(false);
  std::thread thread([this, generation, cancel, finished, work = std::move(work)] {
    std::function<void()> done = work(*cancel);
    if (done && !cancel->load())
      QMetaObject::invokeMethod(
          this,
          [this, generation, done = std::move(done)] {
            // A change of the rows since stopped the job: its result is stale.
            if (generation <= stale_before_) return;
            done();
          },
          Qt::QueuedConnection);
    finished->store(true);
  });
  jobs_.push_back({std::move(thread), std::move(cancel), std::move(finished)});
}

std::shared_ptr<const RowSnapshot> ResultProxyModel::Snapshot() {
  // The jobs of quick keystrokes, cancelled ones still ending among them,
  // share one snapshot of a million rows rather than take one each; it
  // goes with the last job that holds it.
  std::shared_ptr<const RowSnapshot> snapshot = snapshot_.lock();
  if (!snapshot || snapshot->size() != view_.known()) {
    snapshot = std::make_shared<const RowSnapshot>(SnapshotRows(rows_, view_.known()));
    snapshot_ = snapshot;
  }
  return snapshot;
}

void ResultProxyModel::StopJobs() {
  for (Job& job : jobs_) {
    job.cancel->store(true);
    if (job.thread.joinable()) job.thread.join();
  }
  jobs_.clear();
  // The rows are about to change: no later job may read them as they were.
  snapshot_.reset();
  stale_before_ = generation_;
  filtering_.reset();
  ranking_.reset();
}

void ResultProxyModel::ScheduleFlush() {
  if (rows_.size() < kQuickRows) {
    Flush();
    return;
  }
  // A batch every quarter second: on a million rows a layout of the view
  // costs some milliseconds, which must not come with every row.
  if (!flush_timer_.isActive()) flush_timer_.start(250);
}

void ResultProxyModel::Flush() {
  flush_timer_.stop();
  idle_timer_.stop();
  if (view_.known() < rows_.size()) {
    if (view_.sort_column() == RowView::kFileOrder && view_.filter().empty()) {
      beginInsertRows({}, static_cast<int>(view_.known()), static_cast<int>(rows_.size() - 1));
      view_.TakeNewRows();
      endInsertRows();
    } else {
      ChangeLayout([&] { view_.TakeNewRows(); });
    }
  }
  if (out_of_order_) ChangeLayout([&] { view_.Rebuild(); });
  Settle();
}

void ResultProxyModel::OnSourceRowsInserted(int first, int last) {
  if (static_cast<std::size_t>(first) >= view_.known()) {
    ScheduleFlush();
    return;
  }
  // Rows put in among the known ones: these first, as they moved the
  // rows after them, and the batch still to show stays beyond them. The
  // current row and the selection move with their rows.
  const auto from = static_cast<std::size_t>(first);
  const std::size_t count = static_cast<std::size_t>(last) - from + 1;
  ChangeLayout([&] { view_.RowsInserted(from, static_cast<std::size_t>(last)); },
               [&](std::size_t row) { return row >= from ? row + count : row; });
  Flush();
}

void ResultProxyModel::OnSourceRowsAboutToBeRemoved(int first, int last) {
  StopJobs();
  removal_ = Removal::kNone;
  if (static_cast<std::size_t>(first) >= view_.known()) return;
  const auto to = std::min(static_cast<std::size_t>(last), view_.known() - 1);
  if (view_.sort_column() == RowView::kFileOrder && view_.filter().empty()) {
    beginRemoveRows({}, first, static_cast<int>(to));
    removal_ = Removal::kRows;
  } else if (static_cast<std::size_t>(first) == to) {
    if (const auto shown = view_.ShownRow(to)) {
      beginRemoveRows({}, static_cast<int>(*shown), static_cast<int>(*shown));
      removal_ = Removal::kRows;
    }
  } else {
    beginResetModel();
    removal_ = Removal::kReset;
  }
}

void ResultProxyModel::OnSourceRowsRemoved(int first, int last) {
  view_.RowsRemoved(static_cast<std::size_t>(first), static_cast<std::size_t>(last));
  if (removal_ == Removal::kRows) endRemoveRows();
  if (removal_ == Removal::kReset) endResetModel();
  removal_ = Removal::kNone;
  Settle();
}

void ResultProxyModel::OnSourceDataChanged(int first, int last) {
  for (int row = first; row <= last; ++row) {
    const auto list_row = static_cast<std::size_t>(row);
    if (list_row >= view_.known()) continue;
    if (view_.RowChanged(list_row)) {
      const QModelIndex shown = IndexOfListRow(list_row);
      if (shown.isValid()) emit dataChanged(shown, index(shown.row(), columnCount() - 1));
    } else {
      out_of_order_ = true;
    }
  }
  if (out_of_order_) ScheduleFlush();
  Settle();
}

QModelIndex ResultProxyModel::index(int row, int column, const QModelIndex& parent) const {
  if (parent.isValid() || row < 0 || column < 0 || static_cast<std::size_t>(row) >= view_.size() ||
      column >= columnCount())
    return {};
  return createIndex(row, column);
}

QModelIndex ResultProxyModel::parent(const QModelIndex&) const {
  return {};
}

int ResultProxyModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(view_.size());
}

int ResultProxyModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() || !sourceModel() ? 0 : sourceModel()->columnCount();
}

bool ResultProxyModel::hasChildren(const QModelIndex& parent) const {
  return !parent.isValid() && view_.size() > 0;
}

QModelIndex ResultProxyModel::mapToSource(const QModelIndex& proxy) const {
  const std::optional<std::size_t> row = ListRow(proxy);
  if (!row || !sourceModel()) return {};
  return sourceModel()->index(static_cast<int>(*row), proxy.column());
}

QModelIndex ResultProxyModel::mapFromSource(const QModelIndex& source) const {
  if (!source.isValid()) return {};
  return IndexOfListRow(static_cast<std::size_t>(source.row()), source.column());
}

}  // namespace quimbel
