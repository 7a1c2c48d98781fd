// The Export command without its window: the stored choice, the overwrite
// question, the write, and the rule the dialog's format buttons follow.
// User-interface thread only.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "core/result_list.h"
#include "core/settings_store.h"
#include "export/report_formats.h"
#include "platform/prompter.h"
#include "platform/status.h"

namespace quimbel {

struct ExportChoice {
  std::string path;
  ReportFormat format = ReportFormat::kText;
  bool operator==(const ExportChoice&) const = default;
};

// What the export needs from its host: the export dialog, and a busy
// cursor while the file is written.
class ExportHost : public Prompter {
 public:
  // Shows the export dialog with `stored`; the choice, or nothing on Cancel.
  virtual std::optional<ExportChoice> AskExportChoice(const ExportChoice& stored) = 0;
  virtual void SetBusy(bool /*busy*/) {}
  // The folder a report is offered in when the stored name has none (the
  // folder checked); empty for the current folder.
  virtual std::string ReportFolder() { return {}; }
  // The report is complete at `path`: the host may say where it went.
  virtual void ReportWritten(const std::string& /*path*/) {}
  // The texts of the HTML report's heading.
  virtual std::string UserName();
  virtual std::string LongDateTime();
};

enum class ExportResult {
  kNotAsked,   // no export was wanted
  kWritten,    // the report file is complete
  kCancelled,  // the dialog was cancelled, or replacing the file refused
  kFailed,     // the file could not be written; an old file stays whole
};

// The whole Export command. Stores the choice only once the overwrite
// question (if any) was answered Yes; reports "file write error" when the
// file cannot be written (also part-way, a full disk for example). The
// report is written beside its target and takes its place only when
// complete, so a failure leaves the previous report as it was.
ExportResult ExportResults(const ResultList& rows, SettingsStore& settings, ExportHost& host);

// Writes a report of the rows alone (the text listing or the HTML report)
// to `path` by way of a temporary file; the old file stays whole on failure.
// A pipe or device is written as a stream: one that nobody reads is an
// error at once, and a write ends when `cancelled` says so.
Status WriteReportFile(const std::string& path, ReportFormat format, const ResultList& rows,
                       const std::string& user, const std::string& date,
                       const std::function<bool()>& cancelled = {});

// Writes any report's text to `path` the same way; a device or a pipe
// takes it as a stream.
Status WriteReportText(const std::string& path, std::string_view text,
                       const std::function<bool()>& cancelled = {});

// The path after a click on a format button: a path holding another
// offered format's extension (".txt", ".html") after its first character
// loses as many last characters and gains the chosen format's. Characters,
// not bytes, are counted.
std::string SwitchExportExtension(const std::string& path, ReportFormat format);

}  // namespace quimbel
