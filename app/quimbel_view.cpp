#include "app/quimbel_view.h"

#include <QApplication>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>

#include "app/log_view.h"
#include "app/result_model.h"
#include "dialogs/file_select_dialog.h"
#include "dialogs/message_boxes.h"
#include "dialogs/preferences_dialog.h"
#include "dialogs/progress_dialog.h"

namespace quimbel {

void QueuedPoster::Post(WorkerMessage message) {
  QMetaObject::invokeMethod(
      receiver_, [handler = handler_, message = std::move(message)] { handler(message); },
      Qt::QueuedConnection);
}

CQuimbelView::CQuimbelView(SettingsStore& settings, CMyEditView* log, QLabel* connection_pane,
                           QLabel* method_pane, QWidget* parent)
    : QTreeView(parent),
      settings_(settings),
      log_(log),
      connection_pane_(connection_pane),
      method_pane_(method_pane),
      poster_(this, [this](const WorkerMessage& message) {
        controller_->HandleMessage(message);
        StateChanged();
      }) {
  controller_ = std::make_unique<TestRunController>(*this, poster_);
  model_ = new ResultTableModel(controller_->results(), this);
  setModel(model_);
  setRootIsDecorated(false);
  setUniformRowHeights(true);  // no widget per row: 100,000 rows stay quick
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setAllColumnsShowFocus(true);
  header()->setStretchLastSection(false);
  header()->setSectionsMovable(false);
  header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  setSortingEnabled(false);

  // The preferences in force from the start.
  WidgetPrompter prompter(this);
  filter_ = LoadReportFilter(settings_, prompter);
  timeout_seconds_ = settings_.Get(settings::kTimeout);
  visible_ = settings_.Get(settings::kVisible) != 0;
  controller_->SetFilter(filter_);
  controller_->SetTimeout(std::chrono::seconds(timeout_seconds_));
  controller_->SetVisible(visible_);

  ask_file_selection = [this](const FileSelection& values,
                              const std::string& starter) -> std::optional<FileSelection> {
    CFileSelectDlg dialog(this, values, starter);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.values();
  };
}

// The controller goes before the widgets: it stops and joins both workers
// while everything their last messages would touch still exists.
CQuimbelView::~CQuimbelView() {
  for (auto& [id, timer] : timers_)
    timer->stop();
  // The model follows the controller's rows: it goes before them.
  setModel(nullptr);
  delete model_;
  controller_.reset();
}

void CQuimbelView::showEvent(QShowEvent* event) {
  QTreeView::showEvent(event);
  if (set_up_) return;
  const std::array<int, 5> widths = LoadColumnWidths(settings_, viewport()->width());
  for (int i = 0; i < 5; ++i)
    header()->resizeSection(i, widths[static_cast<std::size_t>(i)]);
  if (log_) {
    log_->setFont(font());
    log_->SetFocusTarget(this);
  }
  controller_->SetUp();
  set_up_ = true;
}

std::array<int, 5> CQuimbelView::ColumnWidths() const {
  std::array<int, 5> widths{};
  for (int i = 0; i < 5; ++i)
    widths[static_cast<std::size_t>(i)] = header()->sectionSize(i);
  return widths;
}

void CQuimbelView::StateChanged() {
  if (on_state_changed) on_state_changed();
}

void CQuimbelView::SelectFiles() {
  WidgetPrompter prompter(this);
  if (!ConfirmDiscardResults(results(), DiscardReason::kContinue, prompter)) return;
  const FileSelection stored = LoadFileSelection(settings_, QDir::currentPath().toStdString());
  const std::optional<FileSelection> chosen =
      ask_file_selection(stored, settings_.Get(settings::kFileSelStarter));
  if (!chosen) return;
  controller_->SetFunctionMode(static_cast<FunctionMode>(chosen->function));
  if (!AcceptFileSelection(settings_, *chosen, prompter)) return;
  const RunScope scope{chosen->recurse, chosen->all_files,
                       chosen->filter ? ExtensionFilter::kHtmlOnly : ExtensionFilter::kOff};
  if (chosen->function == static_cast<int>(FunctionMode::kTestUrls)) {
    controller_->StartTest(chosen->path, scope);
  } else if (chosen->function == static_cast<int>(FunctionMode::kRemoveComments)) {
    controller_->StartPurge(chosen->path, scope);
  }
  StateChanged();
}

void CQuimbelView::Preferences() {
  CPreferencesDlg dialog(this, filter_, timeout_seconds_, visible_);
  const bool ok = dialog.exec() == QDialog::Accepted;
  // A preset stays in force even after Cancel; only OK stores.
  controller_->SetFilter(filter_);
  if (!ok) return;
  timeout_seconds_ = dialog.timeout();
  visible_ = dialog.visible();
  settings_.Set(settings::kTimeout, timeout_seconds_);
  settings_.Set(settings::kVisible, visible_ ? 1 : 0);
  settings_.Set(settings::kFilter, filter_.text());
  controller_->SetTimeout(std::chrono::seconds(timeout_seconds_));
  controller_->SetVisible(visible_);
}

void CQuimbelView::StopTest() {
  if (!running()) return;
  controller_->StopTest();
  StateChanged();
}

void CQuimbelView::ShowMessage(const std::string& text, MessageIcon icon) {
  MessageBoxes::Show(this, text, icon);
}

bool CQuimbelView::AskYesNo(const std::string& text, MessageIcon icon) {
  return MessageBoxes::Ask(this, text, icon);
}

void CQuimbelView::Beep(BeepKind) {
  QApplication::beep();
}

void CQuimbelView::LogAppend(std::string_view text) {
  if (log_) log_->Append(text);
}

void CQuimbelView::LogClear() {
  if (log_) log_->Clear();
}

void CQuimbelView::SetStatusText(StatusPane pane, std::string_view text) {
  QLabel* label = pane == StatusPane::kConnection ? connection_pane_ : method_pane_;
  if (label) label->setText(QString::fromUtf8(text.data(), static_cast<int>(text.size())));
}

void CQuimbelView::ScrollToRow(std::size_t row) {
  scrollTo(model_->index(static_cast<int>(row), 0), QAbstractItemView::EnsureVisible);
}

void CQuimbelView::StartTimer(int id, std::chrono::milliseconds interval) {
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

void CQuimbelView::KillTimer(int id) {
  if (auto found = timers_.find(id); found != timers_.end()) found->second->stop();
}

void CQuimbelView::CreateProgress(bool file_only) {
  progress_ = std::make_unique<CProgressDlg>(this, file_only);
  progress_->show();
}

void CQuimbelView::TransferProgress(const ProgressTexts& texts) {
  if (progress_) progress_->Transfer(texts);
}

void CQuimbelView::SetFileBarRange(int count) {
  if (progress_) progress_->file_bar()->setRange(0, count);
  if (progress_) progress_->file_bar()->setValue(0);
}

void CQuimbelView::StepFileBar() {
  if (!progress_) return;
  QProgressBar* bar = progress_->file_bar();
  bar->setValue(std::min(bar->value() + 1, bar->maximum()));
}

void CQuimbelView::SetUrlBarRange(int count) {
  if (!progress_) return;
  progress_->url_bar()->setRange(0, count);
  progress_->url_bar()->setValue(0);
}

void CQuimbelView::StepUrlBar() {
  if (!progress_) return;
  QProgressBar* bar = progress_->url_bar();
  bar->setValue(std::min(bar->value() + 1, bar->maximum()));
}

void CQuimbelView::SetUrlBarPosition(int position) {
  if (progress_) progress_->url_bar()->setValue(position);
}

void CQuimbelView::DestroyProgress() {
  progress_.reset();
}

}  // namespace quimbel
