// RecordingRepairHost: answers the repair and export dialogs as the test
// says and records what they were shown.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "repair/repair_engine.h"
#include "tests/recording_prompter.h"

namespace quimbel::testing {

class RecordingRepairHost : public RepairHost {
 public:
  void ShowMessage(const std::string& text, MessageIcon) override { messages.push_back(text); }
  bool AskYesNo(const std::string& text, MessageIcon icon) override {
    return prompter.AskYesNo(text, icon);
  }
  std::optional<ExportChoice> AskExportChoice(const ExportChoice& stored) override {
    export_shown_with.push_back(stored);
    return export_answer;
  }
  std::optional<RepairOptions> AskRepairOptions(const RepairOptions& stored) override {
    options_shown_with.push_back(stored);
    return options_answer;
  }
  bool ShowRepairFailure(const RepairFailure& failure) override {
    failures.push_back(failure.file + " | " + failure.url);
    reasons.push_back(failure.reason);
    return ignore_failed_row;
  }
  void BackupFailed(const Status& reason) override { backup_failures.push_back(reason.message()); }
  void LeftAlone(const std::string& text) override { left_alone.push_back(text); }
  bool StopRequested() override { return ++files_begun > stop_after_files; }
  std::string UserName() override { return "Tester"; }
  std::string LongDateTime() override { return "<date>"; }
  // Forgets what was shown and failed, keeping the answers.
  void ForgetShown() {
    messages.clear();
    failures.clear();
    reasons.clear();
  }

  RecordingPrompter prompter;
  std::vector<std::string> messages;
  std::optional<RepairOptions> options_answer = RepairOptions{};
  std::vector<RepairOptions> options_shown_with;
  std::optional<ExportChoice> export_answer;
  std::vector<ExportChoice> export_shown_with;
  std::string report_folder;
  std::vector<std::string> reports_written;
  std::string ReportFolder() override { return report_folder; }
  void ReportWritten(const std::string& path) override { reports_written.push_back(path); }
  bool ignore_failed_row = false;
  std::vector<std::string> failures;
  std::vector<std::string> reasons;
  std::vector<std::string> backup_failures;
  std::vector<std::string> left_alone;
  int files_begun = 0;
  int stop_after_files = 1 << 30;
};

}  // namespace quimbel::testing
