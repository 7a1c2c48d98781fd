// WindowRepairHost: the repair's and the export's dialogs, each
// replaceable so tests can answer them. User-interface thread only.
#pragma once

#include <functional>
#include <optional>

#include "repair/repair_engine.h"

class QWidget;

namespace quimbel {

class WindowRepairHost : public RepairHost {
 public:
  explicit WindowRepairHost(QWidget* parent);

  std::function<std::optional<RepairOptions>(const RepairOptions&)> ask_options;
  std::function<bool(const RepairFailure&)> show_failure;
  // Where warnings that need no answer go (the log pane).
  std::function<void(const std::string&)> warn;
  std::function<std::optional<ExportChoice>(const ExportChoice&)> ask_export;
  std::function<std::string()> report_folder;
  std::function<void(const std::string&)> report_written;

  void ShowMessage(const std::string& text, MessageIcon icon) override;
  bool AskYesNo(const std::string& text, MessageIcon icon) override;
  std::optional<RepairOptions> AskRepairOptions(const RepairOptions& stored) override {
    return ask_options(stored);
  }
  bool ShowRepairFailure(const RepairFailure& failure) override { return show_failure(failure); }
  void BackupFailed(const Status& reason) override {
    if (warn) warn("Warning: no backup was made: " + reason.message());
  }
  void LeftAlone(const std::string& text) override {
    if (warn) warn("Warning: " + text);
  }
  std::optional<ExportChoice> AskExportChoice(const ExportChoice& stored) override {
    return ask_export(stored);
  }
  void SetBusy(bool busy) override;
  std::string ReportFolder() override { return report_folder ? report_folder() : std::string(); }
  void ReportWritten(const std::string& path) override {
    if (report_written) report_written(path);
  }
  std::string LongDateTime() override;

 private:
  QWidget* parent_;
};

}  // namespace quimbel
