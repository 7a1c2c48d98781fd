// MainWindow: the main window. Menus, toolbar and status bar, a splitter
// with the results view above the log view, the remembered placement,
// pane height and column widths, and the enabling of every command from
// the results view's flags. User-interface thread only.
#pragma once

#include <QMainWindow>
#include <map>
#include <string>

#include "core/settings_store.h"

class QAction;
class QLabel;
class QSplitter;

class QLineEdit;
class QToolButton;
class QMimeData;
class QDragEnterEvent;
class QDropEvent;

namespace quimbel {

class SummaryDock;

class LogView;
class ResultsView;

// Whether the About box's links were followed during this run.
struct VisitedLinks {
  bool mail = false;
  bool home = false;
};

enum class Command {
  kSelectFiles,
  kExport,
  kRepair,
  kPrint,
  kPrintPreview,
  kPrintSetup,
  kExit,
  kToolbar,
  kStatusBar,
  kPreferences,
  kStop,
  kHelpTopics,
  kAbout,
  kFileOrder,
  kFind,
  kOpenAtLine,
  kRecheck,
  kSummary,
  kThemeSystem,
  kThemeLight,
  kThemeDark,
  kKeepChecking,
};

class MainWindow : public QMainWindow {
 public:
  // `visited` holds the About box's link flags for the whole run of the
  // program (the application's); without it the frame keeps its own.
  explicit MainWindow(SettingsStore& settings, VisitedLinks* visited = nullptr,
                      QWidget* parent = nullptr);

  ResultsView* results_view() const { return view_; }
  LogView* log_view() const { return log_; }
  // Whether the window was maximised when it was last left.
  bool StartsMaximized();
  QLabel* connection_pane() const { return connection_pane_; }
  QLabel* method_pane() const { return method_pane_; }
  QLabel* summary_pane() const { return summary_pane_; }
  // "Watching ...", shown while Keep Checking follows the pages.
  QLabel* watch_pane() const { return watch_pane_; }
  QLineEdit* search_field() const { return search_; }
  QToolButton* reason_filter() const { return reason_filter_; }
  QToolButton* new_only() const { return new_only_; }
  QMenu* recent_menu() const { return recent_menu_; }
  SummaryDock* summary_dock() const { return summary_dock_; }
  // Redraws the summary chart when it is shown.
  void UpdateSummaryPane();
  void RefreshSummary();
  // What a drop onto the window would check; empty for nothing to check.
  static std::string DroppedPath(const QMimeData* data);
  // What a drop does: checks the path once the drop is over; false when
  // there is nothing to check or a run is under way.
  bool Drop(const QMimeData* data);
  QSplitter* splitter() const { return splitter_; }
  QAction* action(Command command) const { return actions_.at(command); }

  // Sets every command's enabled state from the results view's flags.
  void UpdateCommands();
  // Starts or ends the watch of the pages as Keep Checking and the run say.
  void UpdateWatch();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  // Narrows the status panes so the prompt always shows whole.
  void FitStatusPanes();
  void showEvent(QShowEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void FillRecentMenu();
  QAction* AddAction(QMenu* menu, Command command, const QString& text, const QString& prompt,
                     const QString& tip, const QKeySequence& shortcut = {});
  void BuildStatusBar();
  // The list with its filter box above the log; `height` the window's.
  void BuildPanes(int height);
  void BuildSummary();
  void BuildMenus();
  void BuildToolbar();
  // View > Theme: three choices, the stored one checked and applied.
  void BuildThemeMenu(QMenu* view_menu);
  // Wires the menu items, toolbar buttons and shortcuts to what they do.
  void ConnectCommands();
  void StorePlacementNow();
  void StorePaneHeight();

  SettingsStore& settings_;
  VisitedLinks own_visited_;
  VisitedLinks* visited_;
  std::map<Command, QAction*> actions_;
  QSplitter* splitter_;
  ResultsView* view_;
  LogView* log_;
  QLabel* connection_pane_;
  QLabel* method_pane_;
  QLabel* summary_pane_;
  QLabel* watch_pane_;
  QLineEdit* search_;
  QToolButton* reason_filter_;  // the reason chosen in the summary, when one is
  QToolButton* new_only_;       // only the rows new since the last run, when there was one
  QMenu* recent_menu_;
  SummaryDock* summary_dock_;
  bool shown_ = false;
};

}  // namespace quimbel
