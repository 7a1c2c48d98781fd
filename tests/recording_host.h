// RecordingHost: a RunHost for tests. It keeps the log as text, the two
// status panes, every message and question (answering from a queue), the
// beeps and the progress window's state, and runs timers either on a
// MessageLoop or only when the test fires them.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "core/message_loop.h"
#include "core/run_host.h"
#include "tests/recording_prompter.h"

namespace quimbel::testing {

class RecordingHost : public RunHost {
 public:
  explicit RecordingHost(MessageLoop& loop) : loop_(loop) {}

  // Where timer callbacks go; set before the first timer starts.
  std::function<void(int)> on_timer;
  // Timers that only FireTimer() runs (the rest run on the loop).
  std::vector<int> manual_timers;

  void ShowMessage(const std::string& text, MessageIcon) override { messages.push_back(text); }
  bool AskYesNo(const std::string& text, MessageIcon icon) override {
    return prompter.AskYesNo(text, icon);
  }
  void Beep(BeepKind kind) override {
    (kind == BeepKind::kExclamation ? exclamation_beeps : default_beeps)++;
  }
  void LogAppend(std::string_view text) override { log += LogLineText(text); }
  void LogClear() override { log.clear(); }
  void SetStatusText(StatusPane pane, std::string_view text) override {
    (pane == StatusPane::kConnection ? connection_status : method_status) = text;
    statuses.push_back((pane == StatusPane::kConnection ? "C " : "M ") + std::string(text));
  }
  void ScrollToRow(std::size_t row) override { scrolled_to.push_back(row); }
  void StartTimer(int id, std::chrono::milliseconds interval) override;
  void KillTimer(int id) override;
  std::string LongDateTime() override { return "<date>"; }

  void CreateProgress(bool file_only) override {
    progress_open = true;
    progress_file_only = file_only;
    progress_created++;
  }
  void TransferProgress(const ProgressTexts& texts) override { transfers.push_back(texts); }
  void SetFileBarRange(int count) override {
    file_bar_range = count;
    file_bar = 0;
  }
  void StepFileBar() override { file_bar++; }
  void SetUrlBarRange(int count) override {
    url_bar_range = count;
    url_bar = 0;
  }
  void StepUrlBar() override { url_bar++; }
  void SetUrlBarPosition(int position) override { url_bar = position; }
  void DestroyProgress() override { progress_open = false; }

  bool TimerActive(int id) const { return active_timers.count(id) > 0; }
  void FireTimer(int id) {
    if (TimerActive(id) && on_timer) on_timer(id);
  }

  std::string log;
  std::string connection_status = std::string(kConnectionStatusIdle);
  std::string method_status = std::string(kMethodStatusIdle);
  std::vector<std::string> statuses;  // every status text, "C " or "M " and the text
  std::vector<std::string> messages;
  RecordingPrompter prompter;
  int exclamation_beeps = 0;
  int default_beeps = 0;
  std::vector<std::size_t> scrolled_to;
  std::map<int, std::chrono::milliseconds> active_timers;

  bool progress_open = false;
  bool progress_file_only = false;
  int progress_created = 0;
  std::vector<ProgressTexts> transfers;
  int file_bar_range = 0, file_bar = 0, url_bar_range = 0, url_bar = 0;

 private:
  MessageLoop& loop_;
};

inline void RecordingHost::StartTimer(int id, std::chrono::milliseconds interval) {
  active_timers[id] = interval;
  for (int manual : manual_timers) {
    if (manual == id) return;
  }
  loop_.StartTimer(id, interval, [this, id] {
    if (on_timer) on_timer(id);
  });
}

inline void RecordingHost::KillTimer(int id) {
  active_timers.erase(id);
  loop_.KillTimer(id);
}

}  // namespace quimbel::testing
