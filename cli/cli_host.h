// CliHost: the RunHost of quimbel-cli. Log lines go to standard error as
// the log pane would show them, messages to standard error behind
// "quimbel: ", and on a terminal a one-line progress display is redrawn
// there. Timers run on the headless message loop. Main thread only.
#pragma once

#include <chrono>
#include <functional>
#include <ostream>
#include <string>

#include "core/message_loop.h"
#include "core/run_host.h"

namespace quimbel {

// The figures of the progress display beside the engine's texts.
struct ProgressCounts {
  std::size_t links_done = 0;
  std::chrono::steady_clock::duration elapsed{};
};

// The progress display's line: file and link counts, links a second and,
// once there is a rate, the time left, then the URL (or file) under way;
// at most `width` bytes.
std::string ProgressLine(const ProgressTexts& texts, const ProgressCounts& counts, bool file_only,
                         std::size_t width);

class CliHost : public RunHost {
 public:
  CliHost(MessageLoop& loop, std::ostream& err, bool quiet, bool terminal);

  // Where timers are delivered; set before a run starts.
  std::function<void(int)> on_timer;
  // A watch checked a page again; its rows are the `count` from `first`.
  std::function<void(const std::string& page, std::size_t first, std::size_t count)>
      on_page_checked;

  // True once the engine reported something that stopped it from running
  // ("No files found", a file it could not read).
  bool failed() const { return failed_; }

  void ShowMessage(const std::string& text, MessageIcon icon) override;
  bool AskYesNo(const std::string& text, MessageIcon icon) override;
  void Beep(BeepKind) override {}
  void LogAppend(std::string_view text) override;
  void LogWarning(std::string_view text) override;
  void LogClear() override {}
  void SetStatusText(StatusPane, std::string_view) override {}
  void ScrollToRow(std::size_t) override {}
  void StartTimer(int id, std::chrono::milliseconds interval) override;
  void KillTimer(int id) override;

  void CreateProgress(bool file_only) override;
  void TransferProgress(const ProgressTexts& texts) override;
  void SetFileBarRange(int) override {}
  // The file count comes with the engine's texts.
  void StepFileBar() override {}
  void SetUrlBarRange(int) override {}
  void StepUrlBar() override { ++counts_.links_done; }
  void SetUrlBarPosition(int) override {}
  void DestroyProgress() override;
  void PageCheckedAgain(const std::string& page, std::size_t first, std::size_t count) override {
    if (on_page_checked) on_page_checked(page, first, count);
  }

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
  ProgressCounts counts_;
  std::chrono::steady_clock::time_point started_;
  std::chrono::steady_clock::time_point drawn_;
};

}  // namespace quimbel
