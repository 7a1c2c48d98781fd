// CliRepairHost: the repair and export dialogs of quimbel-cli. Questions
// are answered Yes only when --yes was given; the options are the stored
// ones with the type from --repair; the export goes to the --text or
// --html file. Everything shown goes to standard error.
#pragma once

#include <ostream>
#include <set>
#include <string>

#include "repair/repair_engine.h"

namespace quimbel {

class CliRepairHost : public RepairHost {
 public:
  CliRepairHost(std::ostream& err, bool yes, int type, std::string text_file, std::string html_file)
      : err_(err),
        yes_(yes),
        type_(type),
        text_file_(std::move(text_file)),
        html_file_(std::move(html_file)) {}

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
  bool ShowRepairFailure(const std::string& file, const std::string& url) override {
    err_ << "quimbel: The URL Repair failed in file: " << file << "\nPossibly near URL: " << url
         << "\nPlease examine/correct the file and try to re-run the Repair.\n";
    return false;
  }
  std::optional<ExportChoice> AskExportChoice(const ExportChoice&) override {
    if (!text_file_.empty()) return Exported({text_file_, 0});
    if (!html_file_.empty()) return Exported({html_file_, 1});
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
  int type_;
  std::string text_file_;
  std::string html_file_;
  std::set<std::string> exported_;
};

}  // namespace quimbel
