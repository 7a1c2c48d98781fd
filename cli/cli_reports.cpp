#include "cli/cli_reports.h"

#include <iostream>
#include <set>
#include <sstream>

#include "cli/cli_repair_host.h"
#include "core/settings_store.h"
#include "export/export_command.h"
#include "export/report_writers.h"
#include "platform/read_only_config_store.h"
#include "repair/repair_engine.h"

namespace quimbel {
namespace {

// Writes the --text and --html files, but for those an export already
// wrote. Each takes the place of an old file only when complete.
bool WriteReports(const CliOptions& options, const ResultList& rows,
                  const std::set<std::string>& written, const std::function<bool()>& cancelled) {
  const auto write = [&](const std::string& path, ReportFormat format) {
    if (path.empty() || written.contains(path)) return true;
    const Status status =
        WriteReportFile(path, format, rows, UserDisplayName(),
                        FormatLongDateTime(std::chrono::system_clock::now()), cancelled);
    if (!status) std::cerr << "quimbel: file write error: " << status.message() << '\n';
    return status.ok();
  };
  const bool text = write(options.run.text_file, ReportFormat::kText);
  const bool html = write(options.run.html_file, ReportFormat::kHtml);
  return text && html;
}

// The repair the command line asked for; the files its export wrote.
std::set<std::string> Repair(const CliOptions& options, RunController& controller,
                             ConfigStore& config, ReportOutcome& outcome,
                             const std::function<bool()>& interrupted) {
  ResultList& rows = controller.results();
  // The stored repair options are used but never changed from here.
  ReadOnlyConfigStore read_only(config);
  SettingsStore repair_settings(read_only);
  CliRepairHost repair_host(std::cerr, options.run.yes, *options.repair_type, options.run.text_file,
                            options.run.html_file, interrupted);
  const RepairOutcome repaired =
      RunRepairCommand(rows, controller.test().unknown_error_seen(), repair_settings, repair_host);
  outcome.repaired = repaired.completed;
  // A remove-type repair with Save on must leave its export behind.
  if (repaired.export_result != ExportResult::kNotAsked &&
      repaired.export_result != ExportResult::kWritten) {
    outcome.written = false;
  }
  for (const ResultRow& row : rows.rows()) {
    if (row.RowDone() != 0) {
      const bool handled = row.checked && row.RowDone() == kRowRepaired;
      std::cerr << "quimbel: " << (handled ? "handled " : "left as it is ")
                << row.text(ResultColumn::kUrl) << " in " << row.text(ResultColumn::kFileName)
                << '\n';
    }
  }
  return repair_host.exported();
}

}  // namespace

ReportOutcome WriteTestReports(const CliOptions& options, const RunReport& report,
                               RunController& controller, ConfigStore& config, bool run_failed,
                               const std::function<bool()>& interrupted) {
  ReportOutcome outcome;
  WriteReport(std::cout, options.format, report);
  // A listing that did not reach its reader is a run that did not work.
  if (!std::cout.flush()) {
    std::cerr << "quimbel: cannot write the listing to standard output\n";
    outcome.written = false;
  }
  std::set<std::string> exported;
  if (options.repair_type && !run_failed && !controller.results().empty()) {
    // A Ctrl+C before the repair leaves it not made.
    if (interrupted()) {
      outcome.repaired = false;
    } else {
      exported = Repair(options, controller, config, outcome, interrupted);
    }
  }
  if (!WriteReports(options, controller.results(), exported, interrupted)) outcome.written = false;
  for (const auto& [format, file] : options.outputs) {
    std::ostringstream text;
    WriteReport(text, format, report);
    if (const Status status = WriteReportText(file, text.view(), interrupted); !status) {
      std::cerr << "quimbel: file write error: " << status.message() << '\n';
      outcome.written = false;
    }
  }
  return outcome;
}

}  // namespace quimbel
