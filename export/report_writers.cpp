#include "export/report_writers.h"

#include "core/row_order.h"

#include <pwd.h>
#include <unistd.h>
#include <algorithm>
#include <cstdint>

#include <cstdlib>

namespace quimbel {

namespace {

// Hands each line of the listing to `line` as its indent and its text, so
// a writer need not copy a row's texts.
template <typename LineFunction>
void ForEachReportLine(const ResultList& rows, LineFunction line, std::size_t first = 0,
                       std::size_t count = SIZE_MAX) {
  const std::string* previous_file = nullptr;
  const std::size_t end = first + std::min(count, rows.size() - std::min(first, rows.size()));
  for (std::size_t at = first; at < end; ++at) {
    const ResultRow& row = rows.row(at);
    const std::string& file = row.file();
    if (previous_file == nullptr || file != *previous_file) {
      line("", file);
      previous_file = &file;
    }
    line("   ", row.text(ResultColumn::kUrl));
    line("      ", row.text(ResultColumn::kReason));
    line("      ", row.text(ResultColumn::kSiteName));
    if (!row.text(ResultColumn::kAlternateUrl).empty()) {
      line("      ", row.text(ResultColumn::kAlternateUrl));
    }
  }
}

}  // namespace

std::vector<std::string> BuildReportLines(const ResultList& rows) {
  std::vector<std::string> lines;
  ForEachReportLine(rows, [&](std::string_view indent, std::string_view text) {
    lines.push_back(std::string(indent) + std::string(text));
  });
  return lines;
}

void WriteTextReport(std::ostream& out, const ResultList& rows) {
  ForEachReportLine(
      rows, [&](std::string_view indent, std::string_view text) { out << indent << text << '\n'; });
}

void WriteTextReportRows(std::ostream& out, const ResultList& rows, std::size_t first,
                         std::size_t count) {
  ForEachReportLine(
      rows, [&](std::string_view indent, std::string_view text) { out << indent << text << '\n'; },
      first, count);
}

std::string HtmlEscape(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

void WriteHtmlSummary(std::ostream& out, const ResultList& rows) {
  const ReasonCounts counts = CountReasons(rows);
  const auto& reasons = counts.reasons;
  const std::size_t redirects = counts.redirects;
  out << "<DIV class=\"summary\">\n<P>" << rows.size() << " rows \xC2\xB7 "
      << rows.size() - redirects << " broken \xC2\xB7 " << redirects << " redirects</P>\n";
  if (!reasons.empty()) {
    std::size_t most = 1;
    for (const auto& [reason, count] : reasons)
      most = std::max(most, count);
    constexpr int kBar = 16;
    constexpr int kLabel = 260;
    constexpr int kWidth = 240;
    out << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << kLabel + kWidth + 60
        << "\" height=\"" << reasons.size() * (kBar + 4) << "\" font-family=\"sans-serif\" "
        << "font-size=\"12\" role=\"img\" aria-label=\"Rows per reason\">\n";
    int y = 0;
    for (const auto& [reason, count] : reasons) {
      const auto length = static_cast<int>(count * kWidth / most);
      out << "<text x=\"0\" y=\"" << y + 12 << "\">" << HtmlEscape(reason) << "</text>"
          << "<rect x=\"" << kLabel << "\" y=\"" << y << "\" width=\"" << std::max(length, 1)
          << "\" height=\"" << kBar << "\" fill=\"#b03a2e\"/>"
          << "<text x=\"" << kLabel + std::max(length, 1) + 4 << "\" y=\"" << y + 12 << "\">"
          << count << "</text>\n";
      y += kBar + 4;
    }
    out << "</svg>\n";
  }
  out << "</DIV>\n";
}

void WriteHtmlReport(std::ostream& out, const ResultList& rows, std::string_view user,
                     std::string_view date) {
  out << "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 3.2//EN\">\n"
      << "<HTML>\n<HEAD>\n<TITLE>Quimbel Results</TITLE>\n</HEAD>\n<BODY>\n";
  WriteHtmlSummary(out, rows);
  out << "<H3>"
      << "<A HREF=\"" << kHomePage << "\">Quimbel</A> results for " << HtmlEscape(user)
      << "</H3>\n<b>Start of report: </b>" << HtmlEscape(date) << '\n';
  std::string previous_file;
  bool first = true;
  for (const ResultRow& row : rows.rows()) {
    const std::string& file = row.file();
    if (file != previous_file) {
      // A row with an empty File Name first opens no section, but the list
      // that never opened is still closed at the next file.
      if (!first) out << "\n</ul>\n";
      out << "\n<hr>\n<b>FILE: " << HtmlEscape(file) << "</b>\n<ul>";
      previous_file = file;
    }
    first = false;
    out << "\n<li><a href=\"" << HtmlEscape(row.text(ResultColumn::kUrl)) << "\">"
        << HtmlEscape(row.text(ResultColumn::kSiteName)) << "</a> "
        << HtmlEscape(row.text(ResultColumn::kReason));
  }
  out << "\n</ul>\n<hr>\n\n</BODY>\n</HTML>\n";
}

std::string UserDisplayName() {
  const passwd* account = ::getpwuid(::getuid());
  if (account != nullptr) {
    std::string full_name = account->pw_gecos ? account->pw_gecos : "";
    full_name = full_name.substr(0, full_name.find(','));  // the rest is room and phones
    if (!full_name.empty()) return full_name;
    if (account->pw_name != nullptr) return account->pw_name;
  }
  const char* login = std::getenv("USER");
  return login ? login : "";
}

}  // namespace quimbel
