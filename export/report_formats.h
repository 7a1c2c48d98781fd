// The reports Quimbel writes, each listed once: the name a command line
// and quimbel.toml give it, its writer, whether it lists every checked link
// (so a run must keep them), and, for those the window's Export dialog
// offers, the choice's caption, the file filter and the extension. The
// help, the errors, the manual page, the completion and the Export dialog
// all read this list: a new format is its writer and one row here. A constant table; any thread.
#pragma once

#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>

namespace quimbel {

enum class ReportFormat { kText, kJson, kJunit, kGithub, kMarkdown, kCsv, kHtml };

struct RunReport;

struct ReportFormatRow {
  ReportFormat format;
  std::string_view name;  // "json"
  void (*write)(std::ostream& out, const RunReport& report);
  bool lists_every_link = false;
  // Offered by the Export dialog when it has a caption.
  std::string_view export_caption = {};
  std::string_view file_filter = {};
  std::string_view extension = {};  // without the dot
};

// Every format, in the order help and errors name them.
std::span<const ReportFormatRow> ReportFormats();
const ReportFormatRow& ReportFormatOf(ReportFormat format);
// Nothing for a name no format has.
std::optional<ReportFormat> ReportFormatNamed(std::string_view name);
std::string_view ReportFormatName(ReportFormat format);
// "text, json, ... or html", for help and errors.
std::string ReportFormatChoices();
bool NeedsCheckedLinks(ReportFormat format);

// The formats the Export dialog offers, in its order: a choice is stored
// as its place in this list, and a place that is not there means the
// first.
std::span<const ReportFormat> ExportFormats();
ReportFormat ExportFormatAt(int place);
int ExportFormatPlace(ReportFormat format);

}  // namespace quimbel
