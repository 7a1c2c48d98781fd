#include "app/window_run_host.h"

#include <QApplication>
#include <QDateTime>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QTimer>

#include "app/log_view.h"
#include "dialogs/message_boxes.h"
#include "dialogs/progress_window.h"

namespace quimbel {

std::string LocaleLongDateTime() {
  return QLocale().toString(QDateTime::currentDateTime(), QLocale::LongFormat).toStdString();
}

void QueuedPoster::Post(WorkerMessage message) {
  QMetaObject::invokeMethod(
      receiver_, [handler = handler_, message = std::move(message)] { handler(message); },
      Qt::QueuedConnection);
}

WindowRunHost::WindowRunHost(QWidget* owner, LogView* log, QLabel* connection_pane,
                             QLabel* method_pane)
    : owner_(owner),
      log_(log),
      connection_pane_(connection_pane),
      method_pane_(method_pane),
      progress_timer_(new QTimer(owner)) {
  progress_timer_->setSingleShot(true);
  progress_timer_->setInterval(40);
  QObject::connect(progress_timer_, &QTimer::timeout, owner, [this] { ShowProgressNow(); });
}

WindowRunHost::~WindowRunHost() = default;

void WindowRunHost::StopTimers() {
  for (auto& [id, timer] : timers_)
    timer->stop();
}

void WindowRunHost::ShowMessage(const std::string& text, MessageIcon icon) {
  MessageBoxes::Show(owner_, text, icon);
}

bool WindowRunHost::AskYesNo(const std::string& text, MessageIcon icon) {
  return MessageBoxes::Ask(owner_, text, icon);
}

bool WindowRunHost::AskYesNoDefaultNo(const std::string& text, MessageIcon icon) {
  return MessageBoxes::Ask(owner_, text, icon, true);
}

void WindowRunHost::Beep(BeepKind) {
  QApplication::beep();
}

void WindowRunHost::LogAppend(std::string_view text) {
  if (log_) log_->Append(text);
}

void WindowRunHost::LogClear() {
  if (log_) log_->Clear();
}

void WindowRunHost::SetStatusText(StatusPane pane, std::string_view text) {
  QLabel* label = pane == StatusPane::kConnection ? connection_pane_ : method_pane_;
  if (label) label->setText(QString::fromUtf8(text.data(), static_cast<int>(text.size())));
}

void WindowRunHost::ScrollToRow(std::size_t row) {
  if (scroll_to_row) scroll_to_row(row);
}

void WindowRunHost::StartTimer(int id, std::chrono::milliseconds interval) {
  QTimer*& timer = timers_[id];
  if (!timer) {
    timer = new QTimer(owner_);
    QObject::connect(timer, &QTimer::timeout, owner_, [this, id] {
      if (on_timer) on_timer(id);
    });
  }
  timer->start(static_cast<int>(interval.count()));
}

void WindowRunHost::KillTimer(int id) {
  if (auto found = timers_.find(id); found != timers_.end()) found->second->stop();
}

void WindowRunHost::CreateProgress(bool file_only) {
  progress_ = std::make_unique<ProgressWindow>(owner_, file_only);
  // Esc in the progress window stops the run, as it does in the main
  // window. The stop destroys the window, so it runs after the key event.
  progress_->on_stop = [this] {
    QTimer::singleShot(0, owner_, [this] {
      if (on_stop) on_stop();
    });
  };
  file_range_ = file_value_ = url_range_ = url_value_ = 0;
  texts_.reset();
  progress_->show();
}

void WindowRunHost::TransferProgress(const ProgressTexts& texts) {
  texts_ = texts;
  ShowProgressSoon();
}

void WindowRunHost::SetFileBarRange(int count) {
  file_range_ = count;
  file_value_ = 0;
  ShowProgressSoon();
}

void WindowRunHost::StepFileBar() {
  file_value_ = std::min(file_value_ + 1, file_range_);
  ShowProgressSoon();
}

void WindowRunHost::SetUrlBarRange(int count) {
  url_range_ = count;
  url_value_ = 0;
  ShowProgressSoon();
}

void WindowRunHost::StepUrlBar() {
  url_value_ = std::min(url_value_ + 1, url_range_);
  ShowProgressSoon();
}

void WindowRunHost::SetUrlBarPosition(int position) {
  url_value_ = position;
  ShowProgressSoon();
}

void WindowRunHost::ShowProgressSoon() {
  if (progress_ && !progress_timer_->isActive()) progress_timer_->start();
}

void WindowRunHost::ShowProgressNow() {
  if (!progress_) return;
  const auto show = [](QProgressBar* bar, int range, int value) {
    if (bar->maximum() != range) bar->setRange(0, range);
    if (bar->value() != value) bar->setValue(value);
  };
  show(progress_->file_bar(), file_range_, file_value_);
  show(progress_->url_bar(), url_range_, url_value_);
  if (texts_) progress_->Transfer(*texts_);
  texts_.reset();
}

void WindowRunHost::DestroyProgress() {
  if (!progress_) return;
  progress_timer_->stop();
  progress_.reset();
  // The run is over: the keys go to its rows, whatever had them before.
  owner_->activateWindow();
  owner_->setFocus(Qt::OtherFocusReason);
}

std::string WindowRunHost::LongDateTime() {
  return LocaleLongDateTime();
}

}  // namespace quimbel
