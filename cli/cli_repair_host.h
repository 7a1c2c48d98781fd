// CliRepairHost: the repair and export dialogs of quimbel-cli. Questions
// are answered Yes only when --yes was given; the options are the stored
// ones with the type from --repair; the export goes to the --text or
// --html file. Everything shown goes to standard error.
// quimbel-cli's main thread, the one its loop runs on.
#pragma once

#include <functional>
#include <ostream>
#include <set>
#include <string>

#include "repair/repair_engine.h"

namespace quimbel {

class CliRepairHost : public RepairHost {
 public:
  CliRepairHost(std::ostream& err, bool yes, RepairType type, std::string text_file,
                std::string html_file, std::function<bool()> stop_requested)
      : err_(err),
        yes_(yes),
        type_(type),
        text_file_(std::move(text_file)),
        html_file_(std::move(html_file)),
        stop_requested_(std::move(stop_requested)) {}

  void ShowMessage(const std::string& text, MessageIcon) override {
    err_ << "quimbel: " << text << '\n';
  }
  bool AskYesNo(const std::string& text, MessageIcon) override {
    err_ << "quimbel: " << text << (yes_ ? " (Yes)\n" : " (No: give --yes to answer Yes)\n");
    return yes_;
  }
  std::optional<RepairOptions> AskRepairOptions(const RepairOptions& stored) override {
    RepairOptions options = stored;
    options.type = type_;
    return options;
  }
  bool ShowRepairFailure(const RepairFailure& failure) override {
    err_ << "quimbel: The URL Repair failed in file: " << failure.file
         << "\nPossibly near URL: " << failure.url << '\n';
    if (!failure.reason.empty()) err_ << failure.reason << '\n';
    err_ << "Please examine/correct the file and try to re-run the Repair.\n";
    return false;
  }
  void BackupFailed(const Status& reason) override {
    err_ << "quimbel: warning: no backup was made: " << reason.message() << '\n';
  }
  void LeftAlone(const std::string& text) override { err_ << "quimbel: warning: " << text << '\n'; }
  bool StopRequested() override { return stop_requested_ && stop_requested_(); }
  std::optional<ExportChoice> AskExportChoice(const ExportChoice&) override {
    if (!text_file_.empty()) return Exported({text_file_, ReportFormat::kText});
    if (!html_file_.empty()) return Exported({html_file_, ReportFormat::kHtml});
    err_ << "quimbel: no export file was named (--text or --html): the bad URLs were not "
            "saved\n";
    return std::nullopt;
  }

  // The report files the export has already written.
  const std::set<std::string>& exported() const { return exported_; }

 private:
  ExportChoice Exported(ExportChoice choice) {
    exported_.insert(choice.path);
    return choice;
  }

  std::ostream& err_;
  bool yes_;
  RepairType type_;
  std::string text_file_;
  std::string html_file_;
  std::function<bool()> stop_requested_;
  std::set<std::string> exported_;
};

}  // namespace quimbel
