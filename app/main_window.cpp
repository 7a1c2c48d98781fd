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
#include <QStyle>
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
#include "platform/product.h"

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
  setWindowTitle(QString::fromUtf8(kProductName.data(), kProductName.size()));
  setWindowIcon(MakeIcon(IconKind::kProgram));

  const QRect work = WorkArea(this);
  const Placement placement = LoadPlacement(settings_, work.width(), work.height());
  move(work.x() + placement.x, work.y() + placement.y);
  resize(placement.cx, placement.cy);

  BuildStatusBar();
  BuildPanes(placement.cy);
  BuildMenus();
  BuildToolbar();
  ConnectCommands();
  BuildSummary();
  connect(view_->model(), &QAbstractItemModel::rowsInserted, this, [this] { UpdateCommands(); });
  connect(view_->model(), &QAbstractItemModel::rowsRemoved, this, [this] { UpdateCommands(); });
  UpdateCommands();
  view_->setFocus();
}

void MainWindow::BuildStatusBar() {
  // Status bar: the message pane, then the two panes of a probe's state.
  connection_pane_ = StatusPaneLabel(this, "Connection Status", kConnectionPaneCharacters);
  method_pane_ = StatusPaneLabel(this, "HTTP Method Status", kMethodPaneCharacters);
  // How the last test went, live while it runs.
  summary_pane_ = StatusPaneLabel(this, "", kSummaryPaneCharacters);
  statusBar()->addPermanentWidget(summary_pane_);
  watch_pane_ = StatusPaneLabel(this, "Watching the pages for changes", 0);
  statusBar()->addPermanentWidget(watch_pane_);
  watch_pane_->hide();
  // Hidden until the first run: until then the prompt has the room.
  summary_pane_->hide();
  statusBar()->addPermanentWidget(connection_pane_);
  statusBar()->addPermanentWidget(method_pane_);
  // The idle prompt comes back whenever a menu prompt or tip has gone.
  statusBar()->showMessage(QString(kIdlePrompt));
  connect(statusBar(), &QStatusBar::messageChanged, this, [this](const QString& message) {
    if (message.isEmpty()) statusBar()->showMessage(QString(kIdlePrompt));
  });
}

void MainWindow::BuildPanes(int height) {
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
  // Shown once a test had an earlier whole run of the same folder or site.
  new_only_ = new QToolButton(upper_pane);
  new_only_->setText("New only");
  new_only_->setCheckable(true);
  new_only_->setToolTip(
      "Show only the rows no earlier whole test of this folder, file or site listed (in bold)");
  new_only_->hide();
  auto* filter_row = new QHBoxLayout;
  filter_row->setSpacing(4);
  filter_row->addWidget(search_, 1);
  filter_row->addWidget(new_only_);
  filter_row->addWidget(reason_filter_);
  upper_layout->addLayout(filter_row);
  upper_layout->addWidget(view_, 1);
  splitter_->insertWidget(0, upper_pane);
  connect(search_, &QLineEdit::textChanged, view_, &ResultsView::SetSearchText);
  connect(new_only_, &QToolButton::toggled, this, [this](bool on) {
    view_->proxy()->SetNewOnly(on);
    view_->viewport()->update();
  });
  // Esc in the filter box clears it and goes back to the list. (During a
  // run Esc stops the test: that shortcut comes first.)
  search_->installEventFilter(this);
  setAcceptDrops(true);
  splitter_->setChildrenCollapsible(false);
  setCentralWidget(splitter_);
  const int client_height = std::max(2, height - 100);
  const int upper = UpperPaneHeight(settings_, client_height);
  splitter_->setSizes({upper, client_height - upper});
  connect(splitter_, &QSplitter::splitterMoved, this, [this] { StorePaneHeight(); });
}

void MainWindow::BuildSummary() {
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
  const bool compared = view_->controller().test().history_compared();
  if (!compared) new_only_->setChecked(false);
  new_only_->setVisible(compared);
  recent_menu_->setEnabled(view_->commands().CanSelectFiles());
  QAction* keep_checking = actions_[Command::kKeepChecking];
  const bool crawled = view_->controller().test().crawler() != nullptr;
  keep_checking->setEnabled(view_->controller().CanWatch());
  keep_checking->setToolTip(crawled ? "Keep Checking follows files and folders on disk: a web "
                                      "address is crawled, not watched"
                                    : "Keep Checking");
  UpdateWatch();
}

void MainWindow::UpdateWatch() {
  RunController& controller = view_->controller();
  const bool wanted = actions_[Command::kKeepChecking]->isChecked();
  // The outcomes of the next test are kept only when a watch will use them.
  controller.settings().keep_outcomes = wanted;
  if (!wanted) {
    controller.StopWatch();
  } else if (!controller.watch().active() && !view_->running() && controller.CanWatch()) {
    controller.StartWatch(view_->file_watch());
  }
  watch_pane_->setVisible(controller.watch().active());
  FitStatusPanes();
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
  const QString text = view_->SummaryText();
  // Only a link test has a summary; a purge's list is empty by design.
  const bool shown = view_->HasTestSummary();
  if (text == summary_pane_->text() && shown != summary_pane_->isHidden()) return;
  summary_pane_->setText(text);
  summary_pane_->setVisible(shown);
  // The counts grow as a run goes on: the panes are fitted again.
  FitStatusPanes();
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
  // The counts pane is as wide as its text: "12,345 links checked" and
  // the rest, with a margin for the frame.
  const int summary_characters =
      std::max(kSummaryPaneCharacters,
               metrics.horizontalAdvance(summary_pane_->text()) / std::max(average, 1) + 3);
  const int watch_characters =
      metrics.horizontalAdvance(watch_pane_->text()) / std::max(average, 1) + 3;
  const Pane panes[] = {{connection_pane_, kConnectionPaneCharacters},
                        {method_pane_, kMethodPaneCharacters},
                        {summary_pane_, summary_characters},
                        {watch_pane_, watch_characters}};
  int wanted = 0;
  int shown = 0;
  for (const Pane& pane : panes) {
    wanted += pane.label->isHidden() ? 0 : pane.characters * average;
    shown += pane.label->isHidden() ? 0 : 1;
  }
  // The status bar puts space between its panes and keeps a size grip.
  const int between =
      2 * average * shown + statusBar()->style()->pixelMetric(QStyle::PM_SizeGripSize);
  const int room = std::max(0, width() - prompt - between);
  const bool narrow = wanted > room;
  for (const Pane& pane : panes) {
    const int full = pane.characters * average;
    const int fitted = narrow ? full * room / std::max(wanted, 1) : full;
    // Never wider than fitted: a pane's long text would push into the
    // prompt's room and clip it.
    pane.label->setMinimumWidth(fitted);
    pane.label->setMaximumWidth(fitted);
  }
}

}  // namespace quimbel
