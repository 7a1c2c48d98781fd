// ResultsView: the results list (upper pane) and the owner of all run
// state. It shows the engine's ResultList through a table model, sorts and
// searches what is shown, and owns the run controller with its window host
// (WindowRunHost) and the commands that act on a run (WindowCommands).
// User-interface thread only.
#pragma once

#include <QHeaderView>
#include <QTableView>
#include <array>
#include <functional>
#include <memory>
#include <optional>

#include "app/qt_file_watch.h"
#include "app/window_commands.h"
#include "app/window_repair_host.h"
#include "app/window_run_host.h"
#include "core/run_controller.h"
#include "core/settings_store.h"

class QLabel;
class QMenu;

namespace quimbel {

class FilterVeil;

class LogView;
class ProgressWindow;
class ResultProxyModel;
class ResultTableModel;

class ResultsView : public QTableView {
 public:
  ResultsView(SettingsStore& settings, LogView* log, QLabel* connection_pane, QLabel* method_pane,
              QWidget* parent = nullptr);
  ~ResultsView() override;

  // The column headers (the rows have none).
  QHeaderView* header() const { return horizontalHeader(); }
  void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;

  RunController& controller() { return *controller_; }
  FilterVeil* filter_veil() const { return filter_veil_; }
  ResultList& results() { return controller_->results(); }
  WindowCommands& commands() { return *commands_; }
  WindowRunHost& run_host() { return *run_host_; }
  WindowRepairHost& repair_host() { return repair_host_; }
  // What Keep Checking watches the pages with.
  FileWatch& file_watch() { return file_watch_; }

  // Ctrl+C on rows: URL, reason, link text, file, line and alternate URL,
  // apart by tabs, a line a row, in the order shown.
  void CopySelectedRows() const;
  QString SelectedRowsText() const;

  // Sorting and searching what is shown; the rows never move.
  // A click on a header: ascending, descending, then file order again.
  void SortByColumn(int column);
  void ShowFileOrder();
  void SetSearchText(const QString& text);
  ResultProxyModel* proxy() const { return proxy_; }
  // "N links checked · B broken · R redirects".
  QString SummaryText() const;
  // Whether the status pane has a test to sum up: one running or done.
  bool HasTestSummary() const;
  // What an empty list says: how to start, that a test found nothing
  // broken, or that the filter hides every row.
  QString EmptyListText() const;

  // The popup menu of a row at a screen point.
  void ShowResultMenu(const QPoint& screen_point, bool alternate_enabled);
  std::optional<std::size_t> FirstSelectedRow() const;
  // The list rows of the selection, in file order.
  std::vector<std::size_t> SelectedListRows() const;
  // Seam for the popup menu.
  std::function<void(QMenu*, const QPoint&)> show_menu;

  // A test, a purge or a recheck is under way.
  bool running() const { return controller_->running() || controller_->rechecking(); }
  // Tells the window that something deciding the enabling may have changed.
  void StateChanged();
  // Called whenever something that decides the enabling may have changed.
  std::function<void()> on_state_changed;

  std::array<int, 5> ColumnWidths() const;
  int LineColumnWidth() const;
  bool set_up() const { return set_up_; }
  ProgressWindow* progress_dialog() const { return run_host_->progress_dialog(); }

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void changeEvent(QEvent* event) override;
  QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
  void showEvent(QShowEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  void FitRowHeight();
  void PaintCurrentRowFocus();
  void SetColumnWidths(const std::array<int, 5>& widths);
  void FitColumnsToContent();

  SettingsStore& settings_;
  LogView* log_;
  std::unique_ptr<WindowRunHost> run_host_;
  QueuedPoster poster_;
  // Before the controller: its watch ends while the watch still stands.
  QtFileWatch file_watch_;
  std::unique_ptr<RunController> controller_;
  WindowRepairHost repair_host_;
  std::unique_ptr<WindowCommands> commands_;
  ResultTableModel* model_;
  ResultProxyModel* proxy_;
  int sort_column_ = -1;  // -1: file order
  Qt::SortOrder sort_order_ = Qt::AscendingOrder;
  bool set_up_ = false;
  bool fit_columns_ = false;  // no widths of the user's yet
  bool sizing_columns_ = false;
  std::optional<std::size_t> scroll_to_;  // a row to show once it is listed
  FilterVeil* filter_veil_;
};

}  // namespace quimbel
