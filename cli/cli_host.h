// CliHost: the RunHost of quimbel-cli. Log lines go to standard error as
// the log pane would show them, messages to standard error behind
// "quimbel: ", and on a terminal a one-line progress display is redrawn
// there. Timers run on the headless message loop. Main thread only.
#pragma once

#include <functional>
#include <ostream>
#include <string>

#include "core/message_loop.h"
#include "core/run_host.h"

namespace quimbel {

class CliHost : public RunHost {
 public:
  CliHost(MessageLoop& loop, std::ostream& err, bool quiet, bool terminal);

  // Where timers are delivered; set before a run starts.
  std::function<void(int)> on_timer;

  // True once the engine reported something that stopped it from running
  // ("No files found", a file it could not read).
  bool failed() const { return failed_; }

  void ShowMessage(const std::string& text, MessageIcon icon) override;
  bool AskYesNo(const std::string& text, MessageIcon icon) override;
  void Beep(BeepKind) override {}
  void LogAppend(std::string_view text) override;
  void LogClear() override {}
  void SetStatusText(StatusPane, std::string_view) override {}
  void ScrollToRow(std::size_t) override {}
  void StartTimer(int id, std::chrono::milliseconds interval) override;
  void KillTimer(int id) override;

  void CreateProgress(bool file_only) override;
  void TransferProgress(const ProgressTexts& texts) override;
  void SetFileBarRange(int) override {}
  void StepFileBar() override {}
  void SetUrlBarRange(int) override {}
  void StepUrlBar() override {}
  void SetUrlBarPosition(int) override {}
  void DestroyProgress() override;

 private:
  void ClearProgressLine();
  void DrawProgressLine();

  MessageLoop& loop_;
  std::ostream& err_;
  bool quiet_;
  bool terminal_;
  bool failed_ = false;
  bool file_only_ = false;
  bool progress_shown_ = false;
  ProgressTexts progress_;
};

}  // namespace quimbel
