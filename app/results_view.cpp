#include "app/results_view.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLocale>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QStyledItemDelegate>

#include "app/filter_veil.h"
#include "app/log_view.h"
#include "app/result_model.h"
#include "app/result_proxy.h"
#include "dialogs/message_boxes.h"
#include "repair/line_rewrite.h"

namespace quimbel {
namespace {

// A cell of the list. No cell draws the focus: the view draws it once,
// around the whole current row. A reason ends in its detail ("HTTP Code 404
// Not Found"): its cells are cut at their end, so the code stays in view.
class ListCellDelegate : public QStyledItemDelegate {
 public:
  explicit ListCellDelegate(QObject* parent, bool elide_right = false)
      : QStyledItemDelegate(parent), elide_right_(elide_right) {}

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    option->state &= ~QStyle::State_HasFocus;
    if (elide_right_) option->textElideMode = Qt::ElideRight;
  }

 private:
  bool elide_right_;
};

// Digits grouped as the user's locale does; in the C locale, by thousands
// with commas.
QString CountText(std::size_t value) {
  QLocale locale;
  if (locale.language() == QLocale::C) locale = QLocale(QLocale::English, QLocale::UnitedStates);
  locale.setNumberOptions(QLocale::DefaultNumberOptions);
  return locale.toString(static_cast<qulonglong>(value));
}

}  // namespace

ResultsView::ResultsView(SettingsStore& settings, LogView* log, QLabel* connection_pane,
                         QLabel* method_pane, QWidget* parent)
    : QTableView(parent),
      settings_(settings),
      log_(log),
      run_host_(std::make_unique<WindowRunHost>(this, log, connection_pane, method_pane)),
      poster_(this,
              [this](const WorkerMessage& message) {
                controller_->HandleMessage(message);
                StateChanged();
              }),
      file_watch_(poster_),
      controller_(std::make_unique<RunController>(*run_host_, poster_)),
      repair_host_(this) {
  run_host_->on_timer = [this](int id) {
    controller_->OnTimer(id);
    StateChanged();
  };
  // A row the list does not show yet (rows come in batches) is scrolled
  // to once its batch is shown.
  run_host_->scroll_to_row = [this](std::size_t row) {
    scroll_to_ = row;
    const QModelIndex shown = proxy_->IndexOfListRow(row);
    if (!shown.isValid()) return;
    scrollTo(shown, QAbstractItemView::EnsureVisible);
    scroll_to_.reset();
  };
  run_host_->on_stop = [this] { commands_->StopTest(); };
  repair_host_.warn = [this](const std::string& text) { run_host_->LogAppend(text); };
  repair_host_.report_folder = [this] { return controller_->checked_folder(); };
  repair_host_.report_written = [this](const std::string& path) {
    run_host_->SetStatusText(StatusPane::kConnection, "Report written to " + path);
  };
  model_ = new ResultTableModel(controller_->results(), this);
  proxy_ = new ResultProxyModel(controller_->results(), this);
  proxy_->setSourceModel(model_);
  proxy_->on_settled = [this] {
    if (scroll_to_) run_host_->scroll_to_row(*scroll_to_);
  };
  filter_veil_ = new FilterVeil(viewport(), [this] { return proxy_->ShowsUnmatchedRows(); });
  connect(proxy_, &QAbstractItemModel::layoutChanged, filter_veil_, &FilterVeil::Update);
  setModel(proxy_);
  // A list of rows, drawn as a table without grid or row headers: unlike a
  // tree view, a table keeps nothing per row but a section size and makes
  // no pass over every row after a sort, so a million rows stay quick.
  verticalHeader()->hide();
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  FitRowHeight();
  setShowGrid(false);
  setWordWrap(false);
  setCornerButtonEnabled(false);
  setTabKeyNavigation(false);
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setItemDelegate(new ListCellDelegate(this));
  // A row is what is current, held in its first cell: that cell's check box
  // is what Space toggles, whichever cell was clicked.
  connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& current) {
            if (current.isValid() && current.column() != 0) {
              selectionModel()->setCurrentIndex(current.siblingAtColumn(0),
                                                QItemSelectionModel::NoUpdate);
            }
          });
  header()->setStretchLastSection(false);
  header()->setSectionsMovable(false);
  header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  // Sorting is ours: a third click returns to file order.
  setSortingEnabled(false);
  header()->setSectionsClickable(true);
  header()->setSortIndicatorShown(false);
  connect(header(), &QHeaderView::sectionClicked, this, &ResultsView::SortByColumn);
  // A column the user sized stays as it is.
  connect(header(), &QHeaderView::sectionResized, this, [this] {
    if (!sizing_columns_) fit_columns_ = false;
  });
  // URLs on one host and files in one folder differ at their ends: cut
  // the middle, so the end stays readable.
  setTextElideMode(Qt::ElideMiddle);
  setItemDelegateForColumn(static_cast<int>(ResultColumn::kReason),
                           new ListCellDelegate(this, true));
  model_->handled_note = [this](const ResultRow& row) {
    return HandledRowNote(row, LoadRepairOptions(settings_));
  };
  model_->marks_new = [this] { return controller_->test().history_compared(); };
  show_menu = [](QMenu* menu, const QPoint& point) { menu->exec(point); };
  commands_ = std::make_unique<WindowCommands>(*this, *controller_, settings_, repair_host_);
}

// The controller goes before the widgets: it stops and joins both workers
// while everything their last messages would touch still exists.
ResultsView::~ResultsView() {
  run_host_->StopTimers();
  // The model follows the controller's rows: it goes before them.
  setModel(nullptr);
  delete proxy_;
  delete model_;
  controller_.reset();
}

void ResultsView::keyPressEvent(QKeyEvent* event) {
  // Copy acts on the pane the user last chose; a click into the log leaves
  // the focus here.
  if (event->matches(QKeySequence::Copy) && log_ && log_->active()) {
    log_->copy();
    return;
  }
  if (event->matches(QKeySequence::Copy)) {
    CopySelectedRows();
    return;
  }
  QTableView::keyPressEvent(event);
}

void ResultsView::FitRowHeight() {
  // The tallest of a line of text, a check box and the handled mark, and a
  // pixel above and below: a table's own row height is a button's.
  const int content = std::max(
      {fontMetrics().height(), style()->pixelMetric(QStyle::PM_IndicatorHeight, nullptr, this),
       iconSize().isValid() ? iconSize().height()
                            : style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, this)});
  verticalHeader()->setMinimumSectionSize(1);
  verticalHeader()->setDefaultSectionSize(content + 2);
}

void ResultsView::changeEvent(QEvent* event) {
  QTableView::changeEvent(event);
  if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) FitRowHeight();
}

QModelIndex ResultsView::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) {
  switch (action) {
    case MoveHome:
    case MoveEnd:  // the first and the last row, as in any list
      if (model()->rowCount() == 0) return currentIndex();
      return model()->index(action == MoveHome ? 0 : model()->rowCount() - 1, 0);
    case MoveLeft:
    case MoveRight: {
      // Sideways the list scrolls; the row stays current.
      QScrollBar* bar = horizontalScrollBar();
      bar->setValue(bar->value() + (action == MoveLeft ? -1 : 1) * bar->singleStep());
      return currentIndex();
    }
    default:
      return QTableView::moveCursor(action, modifiers);
  }
}

void ResultsView::scrollTo(const QModelIndex& index, ScrollHint hint) {
  // Up and down to a row only: the user's sideways place is kept.
  const int sideways = horizontalScrollBar()->value();
  QTableView::scrollTo(index, hint);
  horizontalScrollBar()->setValue(sideways);
}

void ResultsView::mousePressEvent(QMouseEvent* event) {
  if (log_) log_->SetActive(false);
  QTableView::mousePressEvent(event);
}

void ResultsView::showEvent(QShowEvent* event) {
  QTableView::showEvent(event);
  if (set_up_) return;
  // Until the user has closed the window with widths of their own, the
  // columns are fitted to the first rows a run lists.
  fit_columns_ = !HasStoredColumnWidths(settings_, viewport()->width());
  // Room for six digits and the header.
  const int line_width =
      LoadLineColumnWidth(settings_, viewport()->width(),
                          fontMetrics().horizontalAdvance(QStringLiteral("Line 000000")));
  // The default widths share what the Line column and a scroll bar leave,
  // so the Line column is in view from the first start.
  const int shared =
      std::max(1, viewport()->width() - line_width - verticalScrollBar()->sizeHint().width());
  SetColumnWidths(fit_columns_ ? LoadColumnWidths(settings_, shared)
                               : LoadColumnWidths(settings_, viewport()->width()));
  const QScopedValueRollback sizing(sizing_columns_, true);
  header()->resizeSection(ResultTableModel::kLineColumn, line_width);
  if (log_) {
    log_->setFont(font());
    log_->SetFocusTarget(this);
  }
  controller_->SetUp();
  set_up_ = true;
}

void ResultsView::SetColumnWidths(const std::array<int, 5>& widths) {
  // Not a user's resize: the columns may still be fitted later.
  const QScopedValueRollback sizing(sizing_columns_, true);
  for (int i = 0; i < 5; ++i)
    header()->resizeSection(i, widths[static_cast<std::size_t>(i)]);
}

void ResultsView::FitColumnsToContent() {
  std::array<int, 5> wanted{};
  for (int i = 0; i < 5; ++i) {
    // The rows in view and the header: a long list is not measured whole.
    wanted[static_cast<std::size_t>(i)] =
        std::max(sizeHintForColumn(i), header()->sectionSizeHint(i));
  }
  // A scroll bar that comes with more rows must not push the Line column out.
  const int scroll_bar =
      verticalScrollBar()->isVisible() ? 0 : verticalScrollBar()->sizeHint().width();
  const int room =
      viewport()->width() - header()->sectionSize(ResultTableModel::kLineColumn) - scroll_bar;
  SetColumnWidths(FitColumnWidths(wanted, room));
  fit_columns_ = false;
}

std::array<int, 5> ResultsView::ColumnWidths() const {
  std::array<int, 5> widths{};
  for (int i = 0; i < 5; ++i)
    widths[static_cast<std::size_t>(i)] = header()->sectionSize(i);
  return widths;
}

int ResultsView::LineColumnWidth() const {
  return header()->sectionSize(ResultTableModel::kLineColumn);
}

void ResultsView::StateChanged() {
  if (fit_columns_ && set_up_ && !running() && !results().empty()) FitColumnsToContent();
  if (on_state_changed) on_state_changed();
}

void ResultsView::SortByColumn(int column) {
  if (column != sort_column_) {
    sort_column_ = column;
    sort_order_ = Qt::AscendingOrder;
  } else if (sort_order_ == Qt::AscendingOrder) {
    sort_order_ = Qt::DescendingOrder;
  } else {
    ShowFileOrder();
    return;
  }
  header()->setSortIndicatorShown(true);
  header()->setSortIndicator(sort_column_, sort_order_);
  proxy_->sort(sort_column_, sort_order_);
}

void ResultsView::ShowFileOrder() {
  sort_column_ = -1;
  header()->setSortIndicatorShown(false);
  proxy_->sort(-1);
}

void ResultsView::SetSearchText(const QString& text) {
  proxy_->SetSearchText(text);
  filter_veil_->Update();
}

QString ResultsView::SummaryText() const {
  const std::size_t rows = controller_->results().size();
  const std::size_t redirects = controller_->results().moves();
  QString text =
      QString("%1 links checked \u00b7 %2 broken \u00b7 %3 %4")
          .arg(CountText(controller_->test().links_checked()), CountText(rows - redirects),
               CountText(redirects), redirects == 1 ? "redirect" : "redirects");
  if (controller_->stopped() && !running()) text += " \u00b7 stopped";
  return text;
}

bool ResultsView::HasTestSummary() const {
  return (running() && controller_->function_mode() == Function::kTestUrls) ||
         controller_->tested();
}

void ResultsView::paintEvent(QPaintEvent* event) {
  QTableView::paintEvent(event);
  if (model()->rowCount() > 0) {
    PaintCurrentRowFocus();
    filter_veil_->Paint();
    return;
  }
  if (running()) return;
  // An empty list says what to do.
  QPainter painter(viewport());
  painter.setPen(palette().color(QPalette::Disabled, QPalette::Text));
  const QString text = EmptyListText();
  painter.drawText(viewport()->rect().adjusted(8, 8, -8, -8), Qt::AlignCenter | Qt::TextWordWrap,
                   text);
}

void ResultsView::PaintCurrentRowFocus() {
  const QModelIndex current = currentIndex();
  if (!hasFocus() || !current.isValid()) return;
  QStyleOptionFocusRect option;
  option.initFrom(this);
  option.rect = QRect(-horizontalOffset(), rowViewportPosition(current.row()), header()->length(),
                      rowHeight(current.row()));
  option.backgroundColor = palette().color(
      selectionModel()->isRowSelected(current.row()) ? QPalette::Highlight : QPalette::Base);
  QPainter painter(viewport());
  style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
}

QString ResultsView::EmptyListText() const {
  if (!controller_->results().empty()) return "No row matches the filter";
  // A test ended with nothing to report: say so, rather than invite a run.
  if (controller_->tested() && !running()) {
    // A stopped run says how far it got, never that all is well.
    if (controller_->stopped()) {
      return QString("Stopped after %1 links checked: none of them broken")
          .arg(CountText(controller_->test().links_checked()));
    }
    return QString("No broken links in %1 links checked")
        .arg(CountText(controller_->test().links_checked()));
  }
  return "Select File(s) from the File menu, or drop a folder here";
}

std::optional<std::size_t> ResultsView::FirstSelectedRow() const {
  // The first as shown; the list row behind it.
  std::optional<int> first_shown;
  std::optional<std::size_t> first;
  for (const QModelIndex& index : selectionModel()->selectedRows()) {
    if (first_shown && index.row() >= *first_shown) continue;
    if (const auto row = proxy_->ListRow(index)) {
      first_shown = index.row();
      first = row;
    }
  }
  if (first && *first >= controller_->results().size()) return std::nullopt;
  return first;
}

std::vector<std::size_t> ResultsView::SelectedListRows() const {
  std::vector<std::size_t> rows;
  for (const QModelIndex& index : selectionModel()->selectedRows()) {
    if (const auto row = proxy_->ListRow(index)) rows.push_back(*row);
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}

void ResultsView::ShowResultMenu(const QPoint& screen_point, bool alternate_enabled) {
  QMenu menu(this);
  WindowCommands* commands = commands_.get();
  const auto add = [&](const char* text, void (WindowCommands::*command)()) {
    QAction* action = menu.addAction(text);
    connect(action, &QAction::triggered, this, [commands, command] { (commands->*command)(); });
    return action;
  };
  add("Properties...", &WindowCommands::ShowProperties);
  add("Go To URL", &WindowCommands::GoToUrl);
  add("Go To Alternate URL", &WindowCommands::GoToAlternateUrl)->setEnabled(alternate_enabled);
  menu.addSeparator();
  add("Open Page at Line\tCtrl+E", &WindowCommands::OpenPageAtLine);
  add("Recheck Selected\tCtrl+R", &WindowCommands::RecheckSelected)
      ->setEnabled(commands_->CanRecheck());
  show_menu(&menu, screen_point);
}

void ResultsView::contextMenuEvent(QContextMenuEvent* event) {
  const auto row = FirstSelectedRow();
  if (!row) return;
  const QRect cell = visualRect(proxy_->IndexOfListRow(*row));
  // A click opens the menu at the row's top edge, 25 left of the pointer;
  // the menu key at the row's top-left corner.
  QPoint point = cell.topLeft();
  if (event->reason() == QContextMenuEvent::Mouse) point.rx() += event->pos().x() - 25;
  ShowResultMenu(viewport()->mapToGlobal(point),
                 !results().row(*row).text(ResultColumn::kAlternateUrl).empty());
}

void ResultsView::mouseDoubleClickEvent(QMouseEvent* event) {
  QTableView::mouseDoubleClickEvent(event);
  commands_->GoToUrl();
}

}  // namespace quimbel
