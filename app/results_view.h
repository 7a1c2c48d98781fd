// ResultsView: the results list (upper pane) and the owner of all run
// state. It shows the engine's ResultList through a table model and is the
// Qt host of the run controller: log and status panes, message boxes,
// beeps, the progress window and the timers. The workers' messages reach
// it through queued calls. Every run-related command is handled here.
// User-interface thread only.
#pragma once

#include <QTreeView>
#include <functional>
#include <map>
#include <memory>
#include <optional>

#include "core/run_controller.h"
#include "core/run_host.h"
#include "core/settings_store.h"
#include "core/window_rules.h"
#include "repair/repair_engine.h"

class QLabel;
class QMenu;
class QPrinter;
class QTimer;

namespace quimbel {

class LogView;
class ProgressWindow;
class ResultProxyModel;
class ResultTableModel;

// Posts worker messages to the view's thread as queued calls.
class QueuedPoster : public MessagePoster {
 public:
  QueuedPoster(QObject* receiver, std::function<void(const WorkerMessage&)> handler)
      : receiver_(receiver), handler_(std::move(handler)) {}
  void Post(WorkerMessage message) override;

 private:
  QObject* receiver_;
  std::function<void(const WorkerMessage&)> handler_;
};

// The date and time as the user's locale writes them in full.
std::string LocaleLongDateTime();

// The repair's and the export's dialogs, each replaceable so tests can
// answer them.
class WindowRepairHost : public RepairHost {
 public:
  explicit WindowRepairHost(QWidget* parent);

  std::function<std::optional<RepairOptions>(const RepairOptions&)> ask_options;
  std::function<bool(const RepairFailure&)> show_failure;
  // Where warnings that need no answer go (the log pane).
  std::function<void(const std::string&)> warn;
  std::function<std::optional<ExportChoice>(const ExportChoice&)> ask_export;

  void ShowMessage(const std::string& text, MessageIcon icon) override;
  bool AskYesNo(const std::string& text, MessageIcon icon) override;
  std::optional<RepairOptions> AskRepairOptions(const RepairOptions& stored) override {
    return ask_options(stored);
  }
  bool ShowRepairFailure(const RepairFailure& failure) override { return show_failure(failure); }
  void BackupFailed(const Status& reason) override {
    if (warn) warn("Warning: no backup was made: " + reason.message());
  }
  void LeftAlone(const std::string& text) override {
    if (warn) warn("Warning: " + text);
  }
  std::optional<ExportChoice> AskExportChoice(const ExportChoice& stored) override {
    return ask_export(stored);
  }
  void SetBusy(bool busy) override;
  std::string LongDateTime() override;

 private:
  QWidget* parent_;
};

class ResultsView : public QTreeView, public RunHost {
 public:
  ResultsView(SettingsStore& settings, LogView* log, QLabel* connection_pane, QLabel* method_pane,
              QWidget* parent = nullptr);
  ~ResultsView() override;

  RunController& controller() { return *controller_; }
  ResultList& results() { return controller_->results(); }

  // Commands.
  void SelectFiles();
  void Preferences();
  void StopTest();
  void Export();
  void Repair();
  void Print();
  void PrintPreview();
  void PrintSetup();

  // Checks a file or folder with the stored File Selection options, after
  // the usual question about the rows there are (a drop, File > Recent).
  void CheckPath(const std::string& path);
  // "Open Page at Line": the first selected row's page in the editor.
  void OpenPageAtLine();
  // Ctrl+C on rows: URL, reason, link text, file, line and alternate URL,
  // apart by tabs, a line a row, in the order shown.
  void CopySelectedRows();
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

  // Per-row commands, on the first selected row.
  void ShowProperties();
  void GoToUrl();
  void GoToAlternateUrl();
  // Opens a text that starts with "HTTP" or "FTP" (any case) in the browser.
  void OpenResultUrl(const std::string& text);
  // The popup menu of a row at a screen point.
  void ShowResultMenu(const QPoint& screen_point, bool alternate_enabled);
  std::optional<std::size_t> FirstSelectedRow() const;
  // The list rows of the selection, in file order.
  std::vector<std::size_t> SelectedListRows() const;
  // "Recheck Selected": the selected rows' links probed again.
  void RecheckSelected();

  WindowRepairHost& repair_host() { return repair_host_; }
  QPrinter& printer() { return *printer_; }
  // Seams for the desktop and the popup menu.
  std::function<bool(const QUrl&)> open_url;
  // Starts a program without waiting for it.
  std::function<bool(const QString&, const QStringList&)> start_program;
  std::function<void(QMenu*, const QPoint&)> show_menu;

  // Enabling rules.
  bool CanSelectFiles() const { return !running(); }
  bool CanExport() const { return !running() && !controller_->results().empty(); }
  bool CanRepair() const {
    return controller_->results_ready() && !controller_->results().empty() &&
           !controller_->repair_completed();
  }
  bool CanPrint() const { return !running(); }
  bool CanEditPreferences() const { return !running(); }
  bool CanStop() const { return running(); }
  // A test, a purge or a recheck is under way.
  bool running() const { return controller_->running() || controller_->rechecking(); }
  bool CanRecheck() const { return !running() && !SelectedListRows().empty(); }

  // Called whenever something that decides the enabling may have changed.
  std::function<void()> on_state_changed;
  // The file selection dialog; replaceable so tests can answer it.
  std::function<std::optional<FileSelection>(const FileSelection&, const std::string& starter)>
      ask_file_selection;

  std::array<int, 5> ColumnWidths() const;
  int LineColumnWidth() const;
  bool set_up() const { return set_up_; }
  ProgressWindow* progress_dialog() const { return progress_.get(); }

  // RunHost.
  void ShowMessage(const std::string& text, MessageIcon icon) override;
  bool AskYesNo(const std::string& text, MessageIcon icon) override;
  bool AskYesNoDefaultNo(const std::string& text, MessageIcon icon) override;
  void Beep(BeepKind kind) override;
  void LogAppend(std::string_view text) override;
  void LogClear() override;
  void SetStatusText(StatusPane pane, std::string_view text) override;
  void ScrollToRow(std::size_t row) override;
  void StartTimer(int id, std::chrono::milliseconds interval) override;
  void KillTimer(int id) override;
  void CreateProgress(bool file_only) override;
  void TransferProgress(const ProgressTexts& texts) override;
  void SetFileBarRange(int count) override;
  void StepFileBar() override;
  void SetUrlBarRange(int count) override;
  void StepUrlBar() override;
  void SetUrlBarPosition(int position) override;
  void DestroyProgress() override;
  std::string LongDateTime() override;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  void StateChanged();
  void SetColumnWidths(const std::array<int, 5>& widths);
  void FitColumnsToContent();
  // Starts what the file selection chose.
  void StartChosen(const FileSelection& chosen, Prompter& prompter);
  // Hands the controller what the next test runs with: the preferences,
  // the file selection's local link options and, when chosen, the project
  // config's options. False after telling the user why it cannot run.
  bool ApplyRunPreferences(const FileSelection& chosen, Prompter& prompter);
  // "Parallel probes" and "Per host" for the next runs.
  void ApplyProbeCounts(int parallel, int per_host, int max_redirects);

  SettingsStore& settings_;
  LogView* log_;
  QLabel* connection_pane_;
  QLabel* method_pane_;
  QueuedPoster poster_;
  std::unique_ptr<RunController> controller_;
  ResultTableModel* model_;
  ResultProxyModel* proxy_;
  int sort_column_ = -1;  // -1: file order
  Qt::SortOrder sort_order_ = Qt::AscendingOrder;
  ReportFilter filter_;  // edited in place by the Preferences dialog
  int timeout_seconds_;
  bool visible_;
  bool set_up_ = false;
  bool fit_columns_ = false;  // no widths of the user's yet
  bool sizing_columns_ = false;
  std::map<int, QTimer*> timers_;
  std::unique_ptr<ProgressWindow> progress_;
  WindowRepairHost repair_host_;
  std::unique_ptr<QPrinter> printer_;
};

}  // namespace quimbel
