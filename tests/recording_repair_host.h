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
  bool ShowRepairFailure(const std::string& file, const std::string& url) override {
    failures.push_back(file + " | " + url);
    return ignore_failed_row;
  }
  std::string UserName() override { return "Tester"; }
  std::string LongDateTime() override { return "<date>"; }

  RecordingPrompter prompter;
  std::vector<std::string> messages;
  std::optional<RepairOptions> options_answer = RepairOptions{};
  std::vector<RepairOptions> options_shown_with;
  std::optional<ExportChoice> export_answer;
  std::vector<ExportChoice> export_shown_with;
  bool ignore_failed_row = false;
  std::vector<std::string> failures;
};

}  // namespace quimbel::testing
