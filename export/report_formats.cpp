#include "export/report_formats.h"

#include <array>
#include <vector>

#include "export/machine_reports.h"
#include "export/report_writers.h"

namespace quimbel {
namespace {

void WriteText(std::ostream& out, const RunReport& report) {
  WriteTextReport(out, report.rows);
}

void WriteHtml(std::ostream& out, const RunReport& report) {
  WriteHtmlReport(out, report.rows, report.user, report.date);
}

constexpr std::array kFormats = {
    ReportFormatRow{ReportFormat::kText, "text", WriteText, false, "Export as Text file",
                    "Text Files (*.txt);; All Files (*)", "txt"},
    ReportFormatRow{ReportFormat::kJson, "json", WriteJsonReport},
    ReportFormatRow{ReportFormat::kJunit, "junit", WriteJunitReport, true},
    ReportFormatRow{ReportFormat::kGithub, "github", WriteGithubReport},
    ReportFormatRow{ReportFormat::kMarkdown, "markdown", WriteMarkdownReport},
    ReportFormatRow{ReportFormat::kCsv, "csv", WriteCsvReport},
    ReportFormatRow{ReportFormat::kHtml, "html", WriteHtml, false, "Export as HTML file",
                    "HTML Files (*.html);; All Files (*)", "html"},
};

// The rows stand in the enum's order, so a format finds its row by value.
constexpr bool InEnumOrder() {
  for (std::size_t i = 0; i < kFormats.size(); ++i) {
    if (static_cast<std::size_t>(kFormats[i].format) != i) return false;
  }
  return true;
}
static_assert(InEnumOrder());

// The formats with a caption, in the list's order.
const std::vector<ReportFormat>& ExportList() {
  static const std::vector<ReportFormat> formats = [] {
    std::vector<ReportFormat> offered;
    for (const ReportFormatRow& row : kFormats) {
      if (!row.export_caption.empty()) offered.push_back(row.format);
    }
    return offered;
  }();
  return formats;
}

}  // namespace

std::span<const ReportFormatRow> ReportFormats() {
  return kFormats;
}

const ReportFormatRow& ReportFormatOf(ReportFormat format) {
  return kFormats.at(static_cast<std::size_t>(format));
}

std::optional<ReportFormat> ReportFormatNamed(std::string_view name) {
  for (const ReportFormatRow& row : kFormats) {
    if (row.name == name) return row.format;
  }
  return std::nullopt;
}

std::string_view ReportFormatName(ReportFormat format) {
  return ReportFormatOf(format).name;
}

std::string ReportFormatChoices() {
  std::string text;
  for (std::size_t i = 0; i < kFormats.size(); ++i) {
    if (i > 0) text += i + 1 == kFormats.size() ? " or " : ", ";
    text += kFormats[i].name;
  }
  return text;
}

bool NeedsCheckedLinks(ReportFormat format) {
  return ReportFormatOf(format).lists_every_link;
}

std::span<const ReportFormat> ExportFormats() {
  return ExportList();
}

ReportFormat ExportFormatAt(int place) {
  const std::vector<ReportFormat>& offered = ExportList();
  if (place < 0 || static_cast<std::size_t>(place) >= offered.size()) return offered.front();
  return offered[static_cast<std::size_t>(place)];
}

int ExportFormatPlace(ReportFormat format) {
  const std::vector<ReportFormat>& offered = ExportList();
  for (std::size_t i = 0; i < offered.size(); ++i) {
    if (offered[i] == format) return static_cast<int>(i);
  }
  return 0;
}

}  // namespace quimbel
