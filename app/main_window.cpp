#include "app/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeData>
#include <QScreen>
#include <QShortcut>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/icons.h"
#include "app/log_view.h"
#include "app/result_proxy.h"
#include "app/results_view.h"
#include "app/summary_dock.h"
#include "core/window_rules.h"
#include "dialogs/about_dialog.h"
#include "dialogs/help.h"
#include "dialogs/message_boxes.h"

namespace quimbel {
namespace {

constexpr const char* kIdlePrompt = "For Help, press F1";
// The status panes' widths, in average characters, when there is room.
constexpr int kConnectionPaneCharacters = 58;
constexpr int kMethodPaneCharacters = 35;
constexpr int kSummaryPaneCharacters = 30;

QRect WorkArea(const QWidget* widget) {
  const QScreen* screen = widget->screen() ? widget->screen() : QGuiApplication::primaryScreen();
  return screen ? screen->availableGeometry() : QRect(0, 0, 1024, 738);
}

QLabel* StatusPaneLabel(QWidget* parent, const QString& text, int characters) {
  auto* label = new QLabel(text, parent);
  label->setMinimumWidth(QFontMetrics(label->font()).averageCharWidth() * characters);
  label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  return label;
}

}  // namespace

MainWindow::MainWindow(SettingsStore& settings, VisitedLinks* visited, QWidget* parent)
    : QMainWindow(parent), settings_(settings), visited_(visited ? visited : &own_visited_) {
  setWindowTitle("Quimbel");
  setWindowIcon(MakeIcon(IconKind::kProgram));

  const QRect work = WorkArea(this);
  const Placement placement = LoadPlacement(settings_, work.width(), work.height());
  move(work.x() + placement.x, work.y() + placement.y);
  resize(placement.cx, placement.cy);

  // Status bar: the message pane, then the two panes of a probe's state.
  connection_pane_ = StatusPaneLabel(this, "Connection Status", kConnectionPaneCharacters);
  method_pane_ = StatusPaneLabel(this, "HTTP Method Status", kMethodPaneCharacters);
  // How the last test went, live while it runs.
  summary_pane_ = StatusPaneLabel(this, "", kSummaryPaneCharacters);
  statusBar()->addPermanentWidget(summary_pane_);
  // Hidden until the first run: until then the prompt has the room.
  summary_pane_->hide();
  statusBar()->addPermanentWidget(connection_pane_);
  statusBar()->addPermanentWidget(method_pane_);
  // The idle prompt comes back whenever a menu prompt or tip has gone.
  statusBar()->showMessage(QString(kIdlePrompt));
  connect(statusBar(), &QStatusBar::messageChanged, this, [this](const QString& message) {
    if (message.isEmpty()) statusBar()->showMessage(QString(kIdlePrompt));
  });

  splitter_ = new QSplitter(Qt::Vertical, this);
  log_ = new LogView(splitter_);
  // The list with its filter box above it.
  auto* upper_pane = new QWidget(splitter_);
  auto* upper_layout = new QVBoxLayout(upper_pane);
  upper_layout->setContentsMargins(0, 0, 0, 0);
  upper_layout->setSpacing(2);
  search_ = new QLineEdit(upper_pane);
  search_->setPlaceholderText("Filter the rows by URL, reason, link text or file (Ctrl+F)");
  search_->setClearButtonEnabled(true);
  view_ = new ResultsView(settings_, log_, connection_pane_, method_pane_, upper_pane);
  // A reason chosen in the summary is a filter too: it says so beside the
  // filter box, and one click clears it.
  reason_filter_ = new QToolButton(upper_pane);
  reason_filter_->setToolButtonStyle(Qt::ToolButtonTextOnly);
  reason_filter_->setToolTip("Show every reason again");
  reason_filter_->hide();
  auto* filter_row = new QHBoxLayout;
  filter_row->setSpacing(4);
  filter_row->addWidget(search_, 1);
  filter_row->addWidget(reason_filter_);
  upper_layout->addLayout(filter_row);
  upper_layout->addWidget(view_, 1);
  splitter_->insertWidget(0, upper_pane);
  connect(search_, &QLineEdit::textChanged, view_, &ResultsView::SetSearchText);
  // Esc in the filter box clears it and goes back to the list. (During a
  // run Esc stops the test: that shortcut comes first.)
  search_->installEventFilter(this);
  setAcceptDrops(true);
  splitter_->setChildrenCollapsible(false);
  setCentralWidget(splitter_);
  const int client_height = std::max(2, placement.cy - 100);
  const int upper = UpperPaneHeight(settings_, client_height);
  splitter_->setSizes({upper, client_height - upper});
  connect(splitter_, &QSplitter::splitterMoved, this, [this] { StorePaneHeight(); });

  BuildMenusAndToolbar();
  summary_dock_ = new SummaryDock(this);
  addDockWidget(Qt::RightDockWidgetArea, summary_dock_);
  summary_dock_->hide();
  summary_dock_->on_reason_chosen = [this](std::optional<std::string> reason) {
    reason_filter_->setVisible(reason.has_value());
    if (reason) {
      reason_filter_->setText(
          QString("Only \u201c%1\u201d  \u2715").arg(QString::fromStdString(*reason)));
    }
    view_->proxy()->SetReasonFilter(std::move(reason));
    view_->viewport()->update();
  };
  connect(reason_filter_, &QToolButton::clicked, this, [this] { summary_dock_->ClearChoice(); });
  view_->on_state_changed = [this] {
    UpdateCommands();
    UpdateSummaryPane();
    RefreshSummary();
  };
  // The summary follows a run as links are checked.
  auto* summary_timer = new QTimer(this);
  connect(summary_timer, &QTimer::timeout, this, [this] {
    if (!view_->running()) return;
    UpdateSummaryPane();
    RefreshSummary();
  });
  summary_timer->start(250);
  connect(view_->model(), &QAbstractItemModel::rowsInserted, this, [this] { UpdateCommands(); });
  connect(view_->model(), &QAbstractItemModel::rowsRemoved, this, [this] { UpdateCommands(); });
  UpdateCommands();
  view_->setFocus();
}

QAction* MainWindow::AddAction(QMenu* menu, Command command, const QString& text,
                               const QString& prompt, const QString& tip,
                               const QKeySequence& shortcut) {
  // F1 is Help's key without standing in its menu text.
  const bool shown = !shortcut.isEmpty() && command != Command::kHelpTopics;
  auto* action = new QAction(shown ? text + "\t" + shortcut.toString() : text, this);
  action->setStatusTip(prompt);
  action->setToolTip(tip);
  if (!shortcut.isEmpty()) action->setShortcut(shortcut);
  menu->addAction(action);
  actions_[command] = action;
  return action;
}

void MainWindow::BuildMenusAndToolbar() {
  QMenu* file = menuBar()->addMenu("&File");
  AddAction(file, Command::kSelectFiles, "&Select File(s)...", "Select file(s) to test",
            "Test File(s)", QKeySequence("Ctrl+O"));
  AddAction(file, Command::kExport, "&Export Results...",
            "Export Test Results after choosing format", "Export", QKeySequence("Ctrl+S"));
  AddAction(file, Command::kRepair, "Repair Failed &Links...", "Repair bad links in source file",
            "Repair", QKeySequence("F5"));
  file->addSeparator();
  AddAction(file, Command::kPrint, "&Print...", "Print the active document", "Print",
            QKeySequence("Ctrl+P"));
  AddAction(file, Command::kPrintPreview, "Print Pre&view", "Display full pages", "Print Preview");
  AddAction(file, Command::kPrintSetup, "P&rint Setup...",
            "Change the printer and printing options", "Print Setup");
  file->addSeparator();
  AddAction(file, Command::kExit, "E&xit", "Quit the application; prompts to save documents",
            "Exit");

  recent_menu_ = file->addMenu("Re&cent");
  connect(recent_menu_, &QMenu::aboutToShow, this, &MainWindow::FillRecentMenu);
  FillRecentMenu();
  file->insertMenu(actions_[Command::kExport], recent_menu_);

  QMenu* view_menu = menuBar()->addMenu("&View");
  AddAction(view_menu, Command::kFileOrder, "&File Order",
            "Show the rows in the order of the files", "File Order");
  AddAction(view_menu, Command::kFind, "&Filter Rows", "Show only the rows that hold a text",
            "Filter", QKeySequence("Ctrl+F"));
  AddAction(view_menu, Command::kOpenAtLine, "&Open Page at Line",
            "Open the row's page in your editor at the link's line", "Open Page at Line",
            QKeySequence("Ctrl+E"));
  AddAction(view_menu, Command::kRecheck, "&Recheck Selected",
            "Check the selected rows' links again with the current settings", "Recheck",
            QKeySequence("Ctrl+R"));
  QAction* summary = AddAction(view_menu, Command::kSummary, "S&ummary",
                               "Show the rows per reason as a chart", "Summary");
  summary->setCheckable(true);
  connect(summary, &QAction::toggled, this, [this](bool shown) {
    summary_dock_->setVisible(shown);
    RefreshSummary();
  });
  view_menu->addSeparator();
  QAction* toolbar_toggle = AddAction(view_menu, Command::kToolbar, "&Toolbar",
                                      "Show or hide the toolbar", "Toggle ToolBar");
  QAction* status_toggle = AddAction(view_menu, Command::kStatusBar, "&Status Bar",
                                     "Show or hide the status bar", "Toggle StatusBar");

  QMenu* options = menuBar()->addMenu("&Options");
  AddAction(options, Command::kPreferences, "&Preferences...", "Quimbel Preferences", "Preferences",
            QKeySequence("F2"));
  AddAction(options, Command::kStop, "&Stop Test", "Stop", "Stop", QKeySequence("Esc"));

  QMenu* help = menuBar()->addMenu("&Help");
  AddAction(help, Command::kHelpTopics, "&Help Topics", "List Help topics", "Help Topics",
            QKeySequence("F1"));
  help->addSeparator();
  AddAction(help, Command::kAbout, "&About Quimbel...",
            "Display program information, version number and copyright", "About");

  QToolBar* toolbar = addToolBar("Standard");
  toolbar->setIconSize(QSize(16, 15));
  toolbar->setAllowedAreas(Qt::AllToolBarAreas);
  const std::pair<Command, IconKind> buttons[] = {{Command::kSelectFiles, IconKind::kSelect},
                                                  {Command::kExport, IconKind::kExport},
                                                  {Command::kRepair, IconKind::kRepair},
                                                  {Command::kPrint, IconKind::kPrint},
                                                  {Command::kPreferences, IconKind::kPreferences},
                                                  {Command::kStop, IconKind::kStop},
                                                  {Command::kAbout, IconKind::kAbout}};
  for (const auto& [command, icon] : buttons) {
    actions_[command]->setIcon(MakeIcon(icon));
    toolbar->addAction(actions_[command]);
    // Separators after Repair, after Print and after Stop.
    if (command == Command::kRepair || command == Command::kPrint || command == Command::kStop) {
      toolbar->addSeparator();
    }
  }

  toolbar_toggle->setCheckable(true);
  toolbar_toggle->setChecked(true);
  connect(toolbar_toggle, &QAction::toggled, toolbar, &QToolBar::setVisible);
  // Hidden from its own context menu too: the menu item follows.
  connect(toolbar, &QToolBar::visibilityChanged, toolbar_toggle, &QAction::setChecked);
  status_toggle->setCheckable(true);
  status_toggle->setChecked(true);
  connect(status_toggle, &QAction::toggled, statusBar(), &QStatusBar::setVisible);

  WindowCommands* commands = &view_->commands();
  const std::pair<Command, void (WindowCommands::*)()> run_commands[] = {
      {Command::kSelectFiles, &WindowCommands::SelectFiles},
      {Command::kPreferences, &WindowCommands::Preferences},
      {Command::kStop, &WindowCommands::StopTest},
      {Command::kExport, &WindowCommands::Export},
      {Command::kRepair, &WindowCommands::Repair},
      {Command::kPrint, &WindowCommands::Print},
      {Command::kPrintPreview, &WindowCommands::PrintPreview},
      {Command::kPrintSetup, &WindowCommands::PrintSetup},
      {Command::kOpenAtLine, &WindowCommands::OpenPageAtLine},
      {Command::kRecheck, &WindowCommands::RecheckSelected},
  };
  for (const auto& [command, member] : run_commands) {
    connect(actions_[command], &QAction::triggered, view_,
            [commands, member = member] { (commands->*member)(); });
  }
  connect(actions_[Command::kAbout], &QAction::triggered, this, [this] {
    AboutDialog about(this, visited_->mail, visited_->home);
    about.exec();
  });
  connect(actions_[Command::kExit], &QAction::triggered, this, &QWidget::close);
  connect(actions_[Command::kFileOrder], &QAction::triggered, view_, &ResultsView::ShowFileOrder);
  connect(actions_[Command::kFind], &QAction::triggered, this, [this] {
    search_->setFocus(Qt::ShortcutFocusReason);
    search_->selectAll();
  });
  // The row commands follow the selection.
  connect(view_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this] { UpdateCommands(); });
  // F6 and Shift+F6 move between the two panes.
  for (const char* key : {"F6", "Shift+F6"}) {
    auto* next_pane = new QShortcut(QKeySequence(key), this);
    connect(next_pane, &QShortcut::activated, this, [this] {
      if (log_->hasFocus()) {
        view_->setFocus(Qt::ShortcutFocusReason);
      } else {
        log_->setFocus(Qt::ShortcutFocusReason);
      }
    });
  }
  connect(actions_[Command::kHelpTopics], &QAction::triggered, this,
          [] { OpenHelp(kHelpContents); });
}

void MainWindow::UpdateCommands() {
  actions_[Command::kSelectFiles]->setEnabled(view_->commands().CanSelectFiles());
  actions_[Command::kExport]->setEnabled(view_->commands().CanExport());
  actions_[Command::kRepair]->setEnabled(view_->commands().CanRepair());
  actions_[Command::kPrint]->setEnabled(view_->commands().CanPrint());
  actions_[Command::kPrintPreview]->setEnabled(view_->commands().CanPrint());
  actions_[Command::kPrintSetup]->setEnabled(view_->commands().CanPrint());
  actions_[Command::kPreferences]->setEnabled(view_->commands().CanEditPreferences());
  actions_[Command::kStop]->setEnabled(view_->commands().CanStop());
  actions_[Command::kOpenAtLine]->setEnabled(view_->FirstSelectedRow().has_value());
  actions_[Command::kRecheck]->setEnabled(view_->commands().CanRecheck());
  recent_menu_->setEnabled(view_->commands().CanSelectFiles());
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == search_ && event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
    search_->clear();
    view_->setFocus(Qt::OtherFocusReason);
    return true;
  }
  return QMainWindow::eventFilter(watched, event);
}

void MainWindow::UpdateSummaryPane() {
  summary_pane_->setText(view_->SummaryText());
  // Only a link test has a summary; a purge's list is empty by design.
  const bool shown = view_->HasTestSummary();
  if (shown == summary_pane_->isHidden()) {
    summary_pane_->setVisible(shown);
    FitStatusPanes();
  }
}

void MainWindow::RefreshSummary() {
  if (!summary_dock_->isHidden()) summary_dock_->Show(CountReasons(view_->results()));
}

void MainWindow::FillRecentMenu() {
  recent_menu_->clear();
  for (const std::string& path : LoadRecentPaths(settings_)) {
    QAction* item = recent_menu_->addAction(QString::fromStdString(path));
    connect(item, &QAction::triggered, this, [this, path] { view_->commands().CheckPath(path); });
  }
  recent_menu_->setEnabled(!recent_menu_->isEmpty() && view_->commands().CanSelectFiles());
}

std::string MainWindow::DroppedPath(const QMimeData* data) {
  if (data == nullptr || !data->hasUrls()) return {};
  for (const QUrl& url : data->urls()) {
    if (url.isLocalFile()) return QFile::encodeName(url.toLocalFile()).toStdString();
  }
  return {};
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (view_->commands().CanSelectFiles() && !DroppedPath(event->mimeData()).empty()) {
    event->acceptProposedAction();
  }
}

void MainWindow::dropEvent(QDropEvent* event) {
  if (Drop(event->mimeData())) event->acceptProposedAction();
}

bool MainWindow::Drop(const QMimeData* data) {
  const std::string path = DroppedPath(data);
  if (path.empty() || !view_->commands().CanSelectFiles()) return false;
  // After the drop has ended: the check may ask questions first.
  QTimer::singleShot(0, this, [this, path] { view_->commands().CheckPath(path); });
  return true;
}

void MainWindow::closeEvent(QCloseEvent* event) {
  // Asked whichever pane has the focus: unrepaired rows are never lost
  // without a word.
  WidgetPrompter prompter(this);
  if (!ConfirmDiscardResults(view_->results(), DiscardReason::kQuit, prompter)) {
    event->ignore();
    return;
  }
  StoreColumnWidths(settings_, view_->ColumnWidths());
  settings_.Set(settings::kGridLineColumn, view_->LineColumnWidth());
  event->accept();
}

void MainWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  shown_ = true;
}

void MainWindow::StorePlacementNow() {
  // A maximised or full-screen window is not a placement to come back to:
  // the normal one stays stored.
  if (!shown_ || isMinimized() || isMaximized() || isFullScreen()) return;
  const QRect work = WorkArea(this);
  // Stored as it is restored: the frame's corner (what move() places) and
  // the client size (what resize() sets). Mixing the frame's size in would
  // grow the window by its decoration at every start.
  const QPoint corner = pos();
  StorePlacement(settings_, {corner.x() - work.x(), corner.y() - work.y(), width(), height()},
                 work.width(), work.height());
}

void MainWindow::StorePaneHeight() {
  if (view_->set_up())
    StorePaneHeights(settings_, splitter_->sizes().value(0), splitter_->sizes().value(1));
}

bool MainWindow::StartsMaximized() {
  return settings_.Get(settings::kScreenMaximized) != 0;
}

void MainWindow::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  // Remembered as it is left: a window closed maximised comes back so.
  if (event->type() == QEvent::WindowStateChange && shown_ && !isMinimized()) {
    settings_.Set(settings::kScreenMaximized, isMaximized() ? 1 : 0);
  }
}

void MainWindow::moveEvent(QMoveEvent* event) {
  QMainWindow::moveEvent(event);
  StorePlacementNow();
}

void MainWindow::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  StorePlacementNow();
  StorePaneHeight();
  FitStatusPanes();
}

void MainWindow::FitStatusPanes() {
  // The prompt on the left keeps room for its whole text; the panes on the
  // right give way, in their proportions, when the window is narrow (a
  // large scale factor, a small screen).
  const QFontMetrics metrics(statusBar()->font());
  const int average = metrics.averageCharWidth();
  const int prompt = metrics.horizontalAdvance(QString(kIdlePrompt)) + 6 * average;
  struct Pane {
    QLabel* label;
    int characters;
  };
  const Pane panes[] = {{connection_pane_, kConnectionPaneCharacters},
                        {method_pane_, kMethodPaneCharacters},
                        {summary_pane_, kSummaryPaneCharacters}};
  int wanted = 0;
  for (const Pane& pane : panes)
    wanted += pane.label->isHidden() ? 0 : pane.characters * average;
  const int room = std::max(0, width() - prompt);
  const bool narrow = wanted > room;
  for (const Pane& pane : panes) {
    const int full = pane.characters * average;
    const int fitted = narrow ? full * room / std::max(wanted, 1) : full;
    pane.label->setMinimumWidth(fitted);
    pane.label->setMaximumWidth(narrow ? fitted : QWIDGETSIZE_MAX);
  }
}

}  // namespace quimbel
