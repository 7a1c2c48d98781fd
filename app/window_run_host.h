// WindowRunHost: what a run shows in the window. The run controller talks
// to it through RunHost: the log pane, the two status panes, message boxes,
// beeps, the progress window and the timers. The workers' messages reach
// the user-interface thread through QueuedPoster. User-interface thread only.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>

#include "core/run_host.h"
#include "platform/worker_message.h"

class QLabel;
class QObject;
class QTimer;
class QWidget;

namespace quimbel {

class LogView;
class ProgressWindow;

// Posts worker messages to the receiver's thread as queued calls.
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

class WindowRunHost : public RunHost {
 public:
  // The owner parents the message boxes, the progress window and the timers.
  WindowRunHost(QWidget* owner, LogView* log, QLabel* connection_pane, QLabel* method_pane);
  ~WindowRunHost() override;
  WindowRunHost(const WindowRunHost&) = delete;
  WindowRunHost& operator=(const WindowRunHost&) = delete;

  // A timer the controller started went off.
  std::function<void(int id)> on_timer;
  // The controller wants a row in view.
  std::function<void(std::size_t row)> scroll_to_row;
  // Esc in the progress window.
  std::function<void()> on_stop;

  ProgressWindow* progress_dialog() const { return progress_.get(); }
  // Stops every timer; the owner calls it before the controller goes.
  void StopTimers();

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

 private:
  QWidget* owner_;
  LogView* log_;
  QLabel* connection_pane_;
  QLabel* method_pane_;
  // The progress window shows the latest values a few times a second: a
  // bar repaints at once when it moves, and a run of local links moves it
  // tens of thousands of times a second.
  void ShowProgressSoon();
  void ShowProgressNow();

  std::map<int, QTimer*> timers_;
  std::unique_ptr<ProgressWindow> progress_;
  QTimer* progress_timer_;
  std::optional<ProgressTexts> texts_;
  int file_range_ = 0;
  int file_value_ = 0;
  int url_range_ = 0;
  int url_value_ = 0;
};

}  // namespace quimbel
