// The reports CI systems and scripts read: JSON, JUnit XML, GitHub Actions
// workflow commands, a Markdown summary and CSV. Each is written from the
// rows of a finished test and the run's file records, rows in list order.
// Any thread, given data nobody changes meanwhile.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/local_links.h"
#include "core/result_list.h"
#include "core/run_controller.h"
#include "export/report_formats.h"

namespace quimbel {

// What a run was asked to do, for the reports that say so.
struct RunFacts {
  std::string version;
  std::chrono::system_clock::time_point started;
  std::chrono::system_clock::time_point ended;
  std::string path;
  bool recurse = false;
  bool all_files = false;
  bool html_only = false;
  int timeout_seconds = 0;
  int parallel = 0;
  int per_host = 0;
  int max_redirects = 0;
  std::string filter;
  std::string accept;  // the accepted codes as a list, "" for none
  std::vector<std::string> exclude;
  std::vector<std::string> include;
  LocalLinkOptions local;  // the site root in force
  bool stopped = false;
  // Whether the run was recorded in the history of runs: its rows then say
  // whether they are new, and `fixed` how many links of the last whole run
  // were fixed (none without a run to compare with).
  bool history = false;
  std::optional<std::int64_t> fixed;
};

struct RunReport {
  const RunFacts& facts;
  const ResultList& rows;
  const FileRecords& files;
  // Who made the HTML report, and when, in its heading.
  std::string user = {};
  std::string date = {};
};

// Writes the report in `format` (its writer in the list of formats).
void WriteReport(std::ostream& out, ReportFormat format, const RunReport& report);
void WriteJsonReport(std::ostream& out, const RunReport& report);
void WriteJunitReport(std::ostream& out, const RunReport& report);
void WriteGithubReport(std::ostream& out, const RunReport& report);
void WriteMarkdownReport(std::ostream& out, const RunReport& report);
void WriteCsvReport(std::ostream& out, const RunReport& report);

// A value for a GitHub workflow command: "%", CR and LF escaped, and in a
// property (`property` true) ":" and "," too.
std::string GithubEscape(std::string_view text, bool property);

// A CSV field as RFC 4180 quotes it: in double quotes, doubled inside,
// when it holds a comma, quote, CR or LF.
std::string CsvField(std::string_view text);

}  // namespace quimbel
