#include "app/results_view.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMouseEvent>
#include <QPageSetupDialog>
#include <QPainter>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QProcess>
#include <QProgressBar>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "app/log_view.h"
#include "app/result_model.h"
#include "app/result_proxy.h"
#include "app/results_printer.h"
#include "core/project_config.h"
#include "dialogs/export_dialog.h"
#include "dialogs/file_selection_dialog.h"
#include "dialogs/message_boxes.h"
#include "dialogs/preferences_dialog.h"
#include "dialogs/progress_window.h"
#include "dialogs/repair_dialogs.h"
#include "export/export_command.h"
#include "export/report_writers.h"

namespace quimbel {

std::string LocaleLongDateTime() {
  return QLocale().toString(QDateTime::currentDateTime(), QLocale::LongFormat).toStdString();
}

void QueuedPoster::Post(WorkerMessage message) {
  QMetaObject::invokeMethod(
      receiver_, [handler = handler_, message = std::move(message)] { handler(message); },
      Qt::QueuedConnection);
}

WindowRepairHost::WindowRepairHost(QWidget* parent) : parent_(parent) {
  ask_options = [this](const RepairOptions& stored) -> std::optional<RepairOptions> {
    RepairOptionsDialog dialog(parent_, stored);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.options();
  };
  show_failure = [this](const RepairFailure& failure) {
    RepairFailureDialog dialog(parent_, failure);
    dialog.exec();
    return dialog.IgnoreRow();
  };
  ask_export = [this](const ExportChoice& stored) -> std::optional<ExportChoice> {
    ExportDialog dialog(parent_, stored);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.choice();
  };
}

void WindowRepairHost::ShowMessage(const std::string& text, MessageIcon icon) {
  MessageBoxes::Show(parent_, text, icon);
}

bool WindowRepairHost::AskYesNo(const std::string& text, MessageIcon icon) {
  return MessageBoxes::Ask(parent_, text, icon);
}

std::string WindowRepairHost::LongDateTime() {
  return LocaleLongDateTime();
}

void WindowRepairHost::SetBusy(bool busy) {
  if (busy) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
  } else {
    QApplication::restoreOverrideCursor();
  }
}

ResultsView::ResultsView(SettingsStore& settings, LogView* log, QLabel* connection_pane,
                         QLabel* method_pane, QWidget* parent)
    : QTreeView(parent),
      settings_(settings),
      log_(log),
      connection_pane_(connection_pane),
      method_pane_(method_pane),
      poster_(this,
              [this](const WorkerMessage& message) {
                controller_->HandleMessage(message);
                StateChanged();
              }),
      repair_host_(this),
      printer_(std::make_unique<QPrinter>(QPrinter::HighResolution)) {
  controller_ = std::make_unique<RunController>(*this, poster_);
  repair_host_.warn = [this](const std::string& text) { LogAppend(text); };
  model_ = new ResultTableModel(controller_->results(), this);
  proxy_ = new ResultProxyModel(controller_->results(), this);
  proxy_->setSourceModel(model_);
  setModel(proxy_);
  setRootIsDecorated(false);
  setUniformRowHeights(true);  // no widget per row: 100,000 rows stay quick
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setAllColumnsShowFocus(true);
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

  // The preferences in force from the start.
  WidgetPrompter prompter(this);
  filter_ = LoadReportFilter(settings_, prompter);
  timeout_seconds_ = settings_.Get(settings::kTimeout);
  visible_ = settings_.Get(settings::kVisible) != 0;
  controller_->SetFilter(filter_);
  controller_->SetTimeout(std::chrono::seconds(timeout_seconds_));
  controller_->SetVisible(visible_);
  controller_->SetUserAgent(settings_.Get(settings::kUserAgent));
  ApplyProbeCounts(StoredProbeCount(settings_, settings::kParallelProbes),
                   StoredProbeCount(settings_, settings::kPerHost), StoredMaxRedirects(settings_));

  open_url = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
  start_program = [](const QString& program, const QStringList& arguments) {
    return QProcess::startDetached(program, arguments);
  };
  show_menu = [](QMenu* menu, const QPoint& point) { menu->exec(point); };
  ask_file_selection = [this](const FileSelection& values,
                              const std::string& starter) -> std::optional<FileSelection> {
    FileSelectionDialog dialog(this, values, starter);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.values();
  };
}

// The controller goes before the widgets: it stops and joins both workers
// while everything their last messages would touch still exists.
ResultsView::~ResultsView() {
  for (auto& [id, timer] : timers_)
    timer->stop();
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
  QTreeView::keyPressEvent(event);
}

void ResultsView::mousePressEvent(QMouseEvent* event) {
  if (log_) log_->SetActive(false);
  QTreeView::mousePressEvent(event);
}

std::string ResultsView::LongDateTime() {
  return LocaleLongDateTime();
}

void ResultsView::showEvent(QShowEvent* event) {
  QTreeView::showEvent(event);
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

void ResultsView::SelectFiles() {
  WidgetPrompter prompter(this);
  if (!ConfirmDiscardResults(results(), DiscardReason::kContinue, prompter)) return;
  const FileSelection stored = LoadFileSelection(settings_, QDir::currentPath().toStdString());
  const std::optional<FileSelection> chosen =
      ask_file_selection(stored, settings_.Get(settings::kFileSelStarter));
  if (!chosen) return;
  StartChosen(*chosen, prompter);
}

void ResultsView::CheckPath(const std::string& path) {
  if (running()) return;
  WidgetPrompter prompter(this);
  if (!ConfirmDiscardResults(results(), DiscardReason::kContinue, prompter)) return;
  FileSelection chosen = LoadFileSelection(settings_, path);
  chosen.path = path;
  chosen.function = Function::kTestUrls;
  std::error_code error;
  chosen.all_files = std::filesystem::is_directory(path, error);
  if (!chosen.all_files) chosen.recurse = false;
  StartChosen(chosen, prompter);
}

void ResultsView::StartChosen(const FileSelection& chosen, Prompter& prompter) {
  controller_->SetFunction(chosen.function);
  if (!AcceptFileSelection(settings_, chosen, prompter)) return;
  AddRecentPath(settings_, chosen.path);
  const RunScope scope{chosen.recurse, chosen.all_files,
                       chosen.filter ? ExtensionFilter::kHtmlOnly : ExtensionFilter::kOff};
  if (chosen.function == Function::kTestUrls) {
    if (!ApplyRunPreferences(chosen, prompter)) return;
    controller_->StartTest(chosen.path, scope);
  } else if (chosen.function == Function::kRemoveComments) {
    controller_->StartPurge(chosen.path, scope);
  }
  StateChanged();
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
  viewport()->update();
}

QString ResultsView::SummaryText() const {
  const std::size_t rows = controller_->results().size();
  const std::size_t redirects = controller_->results().moves();
  // Digits grouped as the user's locale does; in the C locale, by thousands
  // with commas.
  QLocale locale;
  if (locale.language() == QLocale::C) locale = QLocale(QLocale::English, QLocale::UnitedStates);
  locale.setNumberOptions(QLocale::DefaultNumberOptions);
  const auto number = [&locale](std::size_t value) {
    return locale.toString(static_cast<qulonglong>(value));
  };
  return QString("%1 links checked \u00b7 %2 broken \u00b7 %3 redirects")
      .arg(number(controller_->links_checked()), number(rows - redirects), number(redirects));
}

bool ResultsView::HasTestSummary() const {
  return (running() && controller_->function_mode() == Function::kTestUrls) ||
         controller_->tested();
}

QString ResultsView::SelectedRowsText() const {
  // Rows in the order shown, columns in the order on screen, under a
  // header line, as a spreadsheet takes them.
  QModelIndexList selected = selectionModel()->selectedRows();
  if (selected.isEmpty()) return {};
  std::sort(selected.begin(), selected.end(),
            [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
  std::vector<int> columns;
  for (int visual = 0; visual < header()->count(); ++visual) {
    const int logical = header()->logicalIndex(visual);
    if (!header()->isSectionHidden(logical)) columns.push_back(logical);
  }
  const auto field = [](QString value) {
    // A tab or line break inside a text would shift the columns.
    return value.replace('\t', ' ').replace('\r', ' ').replace('\n', ' ');
  };
  const auto line = [&](const auto& cell) {
    QStringList cells;
    for (const int column : columns)
      cells << field(cell(column));
    return cells.join('\t') + '\n';
  };
  QString text = line([this](int column) {
    return model()->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
  });
  for (const QModelIndex& index : selected) {
    text += line([&](int column) {
      return model()->index(index.row(), column).data(Qt::DisplayRole).toString();
    });
  }
  return text;
}

void ResultsView::CopySelectedRows() {
  const QString text = SelectedRowsText();
  if (!text.isEmpty()) QGuiApplication::clipboard()->setText(text);
}

void ResultsView::OpenPageAtLine() {
  const auto row = FirstSelectedRow();
  if (!row) return;
  const ResultRow& r = results().row(*row);
  const std::string file = QFileInfo(QString::fromStdString(r.text(ResultColumn::kFileName)))
                               .absoluteFilePath()
                               .toStdString();
  const std::vector<std::string> command =
      EditorCommand(settings_.Get(settings::kEditorCommand), file, r.line, std::getenv("VISUAL"),
                    std::getenv("EDITOR"));
  if (command.empty()) return;
  QStringList arguments;
  for (std::size_t i = 1; i < command.size(); ++i)
    arguments << QString::fromStdString(command[i]);
  // Started and left alone: the window never waits for the editor.
  if (!start_program(QString::fromStdString(command[0]), arguments)) {
    ShowMessage("Cannot start the editor " + command[0], MessageIcon::kExclamation);
  }
}

void ResultsView::paintEvent(QPaintEvent* event) {
  QTreeView::paintEvent(event);
  if (model()->rowCount() > 0 || running()) return;
  // An empty list says what to do.
  QPainter painter(viewport());
  painter.setPen(palette().color(QPalette::Disabled, QPalette::Text));
  const QString text = controller_->results().empty()
                           ? QString("Select File(s) from the File menu, or drop a folder here")
                           : QString("No row matches the filter");
  painter.drawText(viewport()->rect().adjusted(8, 8, -8, -8), Qt::AlignCenter | Qt::TextWordWrap,
                   text);
}

void ResultsView::Preferences() {
  const ProbeSettings& probe = controller_->probe_settings();
  PreferencesDialog dialog(
      this, filter_, timeout_seconds_, visible_,
      {settings_.Get(settings::kUserAgent), probe.parallel, probe.per_host, probe.max_redirects,
       settings_.Get(settings::kExclude), settings_.Get(settings::kInclude),
       settings_.Get(settings::kAccept), settings_.Get(settings::kEditorCommand)});
  const bool ok = dialog.exec() == QDialog::Accepted;
  // A preset stays in force even after Cancel; only OK stores.
  controller_->SetFilter(filter_);
  if (!ok) return;
  timeout_seconds_ = dialog.timeout();
  visible_ = dialog.visible();
  settings_.Set(settings::kTimeout, timeout_seconds_);
  settings_.Set(settings::kVisible, visible_ ? 1 : 0);
  settings_.Set(settings::kFilter, filter_.text());
  settings_.Set(settings::kUserAgent, dialog.user_agent());
  settings_.Set(settings::kParallelProbes, dialog.parallel());
  settings_.Set(settings::kPerHost, dialog.per_host());
  settings_.Set(settings::kMaxRedirects, dialog.max_redirects());
  settings_.Set(settings::kExclude, dialog.exclude());
  settings_.Set(settings::kInclude, dialog.include());
  settings_.Set(settings::kAccept, dialog.accepted_codes());
  settings_.Set(settings::kEditorCommand, dialog.editor_command());
  controller_->SetUserAgent(dialog.user_agent());
  controller_->SetTimeout(std::chrono::seconds(timeout_seconds_));
  controller_->SetVisible(visible_);
  ApplyProbeCounts(dialog.parallel(), dialog.per_host(), dialog.max_redirects());
}

bool ResultsView::ApplyRunPreferences(const FileSelection& chosen, Prompter& prompter) {
  RunPreferences run;
  run.filter = filter_;
  run.timeout_seconds = timeout_seconds_;
  // From the store, not the controller: a project's counts last one run.
  run.probe.parallel = StoredProbeCount(settings_, settings::kParallelProbes);
  run.probe.per_host = StoredProbeCount(settings_, settings::kPerHost);
  run.probe.max_redirects = StoredMaxRedirects(settings_);
  run.user_agent = settings_.Get(settings::kUserAgent);
  run.local = {chosen.site_root, chosen.site_url, chosen.resources};
  run.exclude = PatternLines(settings_.Get(settings::kExclude));
  run.include = PatternLines(settings_.Get(settings::kInclude));
  const std::string accept = settings_.Get(settings::kAccept);
  if (!accept.empty()) {
    auto codes = ParseCodeList(accept);
    // A stored list nobody could type is ignored, as an unset one.
    if (auto* ranges = std::get_if<std::vector<CodeRange>>(&codes)) run.accept = *ranges;
  }
  controller_->SetOptionsFile({});
  if (chosen.project_settings) {
    if (const auto file = FindProjectConfig(chosen.path)) {
      auto loaded = LoadProjectConfig(*file);
      std::optional<std::string> error;
      if (auto* message = std::get_if<std::string>(&loaded)) {
        error = *message;
      } else {
        error = ApplyProjectConfig(std::get<ProjectConfig>(loaded), run);
        controller_->SetOptionsFile(*file);
      }
      if (error) {
        prompter.ShowMessage(*error, MessageIcon::kExclamation);
        return false;
      }
    }
  }
  auto rules = LinkRules::Make(run.exclude, run.include);
  if (auto* message = std::get_if<std::string>(&rules)) {
    prompter.ShowMessage(*message, MessageIcon::kExclamation);
    return false;
  }
  run.filter.Accept(run.accept);
  controller_->SetFilter(run.filter);
  controller_->SetTimeout(std::chrono::seconds(run.timeout_seconds));
  controller_->SetProbeSettings(run.probe);
  controller_->SetUserAgent(run.user_agent);
  controller_->SetLocalLinkOptions(run.local);
  controller_->SetLinkRules(std::get<LinkRules>(std::move(rules)));
  return true;
}

void ResultsView::ApplyProbeCounts(int parallel, int per_host, int max_redirects) {
  ProbeSettings probe = controller_->probe_settings();
  probe.parallel = parallel;
  probe.per_host = per_host;
  probe.max_redirects = max_redirects;
  controller_->SetProbeSettings(probe);
}

void ResultsView::StopTest() {
  if (!running()) return;
  controller_->StopTest();
  StateChanged();
}

void ResultsView::Export() {
  if (!CanExport()) return;
  ExportResults(results(), settings_, repair_host_);
}

void ResultsView::Repair() {
  if (!CanRepair()) return;
  if (RunRepairCommand(results(), controller_->unknown_error_seen(), settings_, repair_host_)
          .completed) {
    controller_->SetRepairCompleted(true);
  }
  StateChanged();
}

void ResultsView::Print() {
  if (!CanPrint()) return;
  QPrintDialog dialog(printer_.get(), this);
  if (dialog.exec() == QDialog::Accepted) PrintListing(*printer_, BuildReportLines(results()));
}

void ResultsView::PrintPreview() {
  if (!CanPrint()) return;
  QPrintPreviewDialog preview(printer_.get(), this);
  connect(&preview, &QPrintPreviewDialog::paintRequested, this,
          [this](QPrinter* printer) { PrintListing(*printer, BuildReportLines(results())); });
  preview.exec();
}

void ResultsView::PrintSetup() {
  if (!CanPrint()) return;
  QPageSetupDialog dialog(printer_.get(), this);
  dialog.exec();
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

void ResultsView::RecheckSelected() {
  if (!CanRecheck()) return;
  controller_->StartRecheck(SelectedListRows());
  StateChanged();
}

void ResultsView::OpenResultUrl(const std::string& text) {
  const QString upper = QString::fromStdString(text).toUpper();
  if (!upper.startsWith("HTTP") && !upper.startsWith("FTP")) return;
  open_url(QUrl(QString::fromStdString(text)));
}

void ResultsView::GoToUrl() {
  const auto row = FirstSelectedRow();
  if (!row) return;
  const ResultRow& r = results().row(*row);
  // A local link opens its file, or the folder it should be in.
  if (r.text(ResultColumn::kReason).rfind("Local ", 0) == 0) {
    if (const auto path =
            LocalLinkOpenPath(r.text(ResultColumn::kUrl), r.text(ResultColumn::kFileName),
                              controller_->run_local_link_options())) {
      open_url(QUrl::fromLocalFile(QString::fromStdString(*path)));
    }
    return;
  }
  OpenResultUrl(r.text(ResultColumn::kUrl));
}

void ResultsView::GoToAlternateUrl() {
  if (const auto row = FirstSelectedRow()) {
    OpenResultUrl(results().row(*row).text(ResultColumn::kAlternateUrl));
  }
}

void ResultsView::ShowProperties() {
  const auto row = FirstSelectedRow();
  if (!row) return;
  // The five texts, each pair apart by an empty line, written as they
  // stand (a "%" in a URL is only a character here), then the line. In
  // the user's cache folder: never over a props.txt of the author's site.
  const ResultRow& r = results().row(*row);
  std::string text;
  for (int i = 0; i < kResultColumnCount; ++i) {
    if (i > 0) text += "\n\n";
    text += r.text(static_cast<ResultColumn>(i));
  }
  if (r.line > 0) text += "\n\nLine " + std::to_string(r.line);
  // Where a followed move led, one hop a line.
  if (const std::string& chain = r.redirects.get(); !chain.empty()) {
    text += "\n\nRedirects:\n" + chain;
  }
  const QString folder =
      QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + "/quimbel";
  QDir().mkpath(folder);
  const QString path = folder + "/props.txt";
  if (const Status written = WriteReportText(QFile::encodeName(path).toStdString(), text);
      !written) {
    ShowMessage(written.message(), MessageIcon::kExclamation);
    return;
  }
  open_url(QUrl::fromLocalFile(path));
}

void ResultsView::ShowResultMenu(const QPoint& screen_point, bool alternate_enabled) {
  QMenu menu(this);
  connect(menu.addAction("Properties..."), &QAction::triggered, this, &ResultsView::ShowProperties);
  connect(menu.addAction("Go To URL"), &QAction::triggered, this, &ResultsView::GoToUrl);
  QAction* alternate = menu.addAction("Go To Alternate URL");
  alternate->setEnabled(alternate_enabled);
  connect(alternate, &QAction::triggered, this, &ResultsView::GoToAlternateUrl);
  menu.addSeparator();
  connect(menu.addAction("Open Page at Line\tCtrl+E"), &QAction::triggered, this,
          &ResultsView::OpenPageAtLine);
  QAction* recheck = menu.addAction("Recheck Selected\tCtrl+R");
  recheck->setEnabled(CanRecheck());
  connect(recheck, &QAction::triggered, this, &ResultsView::RecheckSelected);
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
  QTreeView::mouseDoubleClickEvent(event);
  GoToUrl();
}

void ResultsView::ShowMessage(const std::string& text, MessageIcon icon) {
  MessageBoxes::Show(this, text, icon);
}

bool ResultsView::AskYesNo(const std::string& text, MessageIcon icon) {
  return MessageBoxes::Ask(this, text, icon);
}

bool ResultsView::AskYesNoDefaultNo(const std::string& text, MessageIcon icon) {
  return MessageBoxes::Ask(this, text, icon, true);
}

void ResultsView::Beep(BeepKind) {
  QApplication::beep();
}

void ResultsView::LogAppend(std::string_view text) {
  if (log_) log_->Append(text);
}

void ResultsView::LogClear() {
  if (log_) log_->Clear();
}

void ResultsView::SetStatusText(StatusPane pane, std::string_view text) {
  QLabel* label = pane == StatusPane::kConnection ? connection_pane_ : method_pane_;
  if (label) label->setText(QString::fromUtf8(text.data(), static_cast<int>(text.size())));
}

void ResultsView::ScrollToRow(std::size_t row) {
  const QModelIndex shown = proxy_->IndexOfListRow(row);
  if (shown.isValid()) scrollTo(shown, QAbstractItemView::EnsureVisible);
}

void ResultsView::StartTimer(int id, std::chrono::milliseconds interval) {
  QTimer*& timer = timers_[id];
  if (!timer) {
    timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, [this, id] {
      controller_->OnTimer(id);
      StateChanged();
    });
  }
  timer->start(static_cast<int>(interval.count()));
}

void ResultsView::KillTimer(int id) {
  if (auto found = timers_.find(id); found != timers_.end()) found->second->stop();
}

void ResultsView::CreateProgress(bool file_only) {
  progress_ = std::make_unique<ProgressWindow>(this, file_only);
  // Esc in the progress window stops the run, as it does in the main
  // window. The stop destroys the window, so it runs after the key event.
  progress_->on_stop = [this] {
    QTimer::singleShot(0, this, [this] {
      if (CanStop()) StopTest();
    });
  };
  progress_->show();
}

void ResultsView::TransferProgress(const ProgressTexts& texts) {
  if (progress_) progress_->Transfer(texts);
}

void ResultsView::SetFileBarRange(int count) {
  if (progress_) progress_->file_bar()->setRange(0, count);
  if (progress_) progress_->file_bar()->setValue(0);
}

void ResultsView::StepFileBar() {
  if (!progress_) return;
  QProgressBar* bar = progress_->file_bar();
  bar->setValue(std::min(bar->value() + 1, bar->maximum()));
}

void ResultsView::SetUrlBarRange(int count) {
  if (!progress_) return;
  progress_->url_bar()->setRange(0, count);
  progress_->url_bar()->setValue(0);
}

void ResultsView::StepUrlBar() {
  if (!progress_) return;
  QProgressBar* bar = progress_->url_bar();
  bar->setValue(std::min(bar->value() + 1, bar->maximum()));
}

void ResultsView::SetUrlBarPosition(int position) {
  if (progress_) progress_->url_bar()->setValue(position);
}

void ResultsView::DestroyProgress() {
  progress_.reset();
}

}  // namespace quimbel
