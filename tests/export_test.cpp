#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "core/result_list.h"
#include "export/export_command.h"
#include "export/machine_reports.h"
#include "export/report_fields.h"
#include "export/report_writers.h"
#include "platform/memory_config_store.h"
#include "tests/injected_fault.h"
#include "tests/recording_repair_host.h"
#include "tests/temp_folder.h"

namespace quimbel {
namespace {

using ::testing::IsNotSubstring;
using ::testing::IsSubstring;

TEST(SwitchExportExtension, FormatButtons) {
  using enum ReportFormat;
  const std::tuple<const char*, ReportFormat, const char*> cases[] = {
      {"results.txt", kHtml, "results.html"},
      {"results.html", kText, "results.txt"},
      {"results.txt", kText, "results.txt"},
      {"results.html", kHtml, "results.html"},
      {"a.txt.bak", kHtml, "a.txt.html"},
      {".txt", kHtml, ".txt"},
      {".html", kText, ".html"},
      {"report", kHtml, "report"},
      {"/tmp/é.txt", kHtml, "/tmp/é.html"},
      {"/tmp/x.txt.é", kHtml, "/tmp/x.t.html"}};
  for (const auto& [path, format, after] : cases)
    EXPECT_EQ(SwitchExportExtension(path, format), after) << path;
}

void Add(ResultList& list, const std::string& url, const std::string& reason,
         const std::string& site, const std::string& file, const std::string& alternate = "") {
  list.AppendResultRow(url);
  list.SetResultColumn(ResultColumn::kReason, reason);
  list.SetResultColumn(ResultColumn::kSiteName, site, file);
  if (!alternate.empty()) list.SetResultColumn(ResultColumn::kAlternateUrl, alternate);
}

const std::string kListing = "/w/a.htm\n   U1\n      R1\n      S1\n   U2\n      R2\n      S2\n";

class ExportTest : public ::testing::Test {
 protected:
  ExportTest() : settings_(store_) {
    Add(rows_, "U1", "R1", "S1", "/w/a.htm");
    Add(rows_, "U2", "R2", "S2", "/w/a.htm");
  }
  testing::TempFolder folder_;
  MemoryConfigStore store_;
  SettingsStore settings_;
  ResultList rows_;
  testing::RecordingRepairHost host_;
};

TEST_F(ExportTest, WritesTheChosenFormatAndStoresTheChoice) {
  const std::string text = (folder_.path() / "r.txt").string();
  host_.export_answer = ExportChoice{text, ReportFormat::kText};
  ExportResults(rows_, settings_, host_);
  EXPECT_EQ(host_.export_shown_with,
            (std::vector<ExportChoice>{{"results.txt", ReportFormat::kText}}));
  EXPECT_EQ(testing::ReadFile(text), kListing);

  const std::string html = (folder_.path() / "r.html").string();
  host_.export_answer = ExportChoice{html, ReportFormat::kHtml};
  ExportResults(rows_, settings_, host_);
  EXPECT_EQ(host_.export_shown_with.back(), (ExportChoice{text, ReportFormat::kText}));
  // The layout is ReportWriters' part; here the tester's name and the rows reach it.
  const std::string report = testing::ReadFile(html);
  EXPECT_PRED_FORMAT2(IsSubstring, "results for Tester</H3>\n<b>Start of report: </b>&lt;date&gt;",
                      report);
  EXPECT_PRED_FORMAT2(IsSubstring, "<li><a href=\"U1\">S1</a> R1\n<li><a href=\"U2\">S2</a> R2",
                      report);
  EXPECT_EQ(settings_.Get(settings::kExportStarter), html);
  EXPECT_EQ(settings_.Get(settings::kExportText), 1);
  EXPECT_EQ(host_.reports_written, (std::vector<std::string>{text, html}));

  // A bare name is offered in the folder checked; a name with its folder stays.
  host_.report_folder = "/site";
  host_.export_answer.reset();
  settings_.Set(settings::kExportStarter, "results.txt");
  ExportResults(rows_, settings_, host_);
  EXPECT_EQ(host_.export_shown_with.back().path, "/site/results.txt");
  settings_.Set(settings::kExportStarter, html);
  ExportResults(rows_, settings_, host_);
  EXPECT_EQ(host_.export_shown_with.back().path, html);
}

// No to Replace, a failed write and Cancel all leave the old file whole.
TEST_F(ExportTest, NoToReplaceAndFailuresChangeNothingAndAreSaid) {
  const std::string existing = folder_.Write("old.txt", "keep me");
  host_.export_answer = ExportChoice{existing, ReportFormat::kHtml};
  host_.prompter.answers = {false};
  ExportResults(rows_, settings_, host_);
  ASSERT_EQ(host_.prompter.questions.size(), 1u);
  EXPECT_EQ(host_.prompter.questions[0],
            existing + "\nThis file already exists\n\nReplace existing file?");
  EXPECT_EQ(testing::ReadFile(existing), "keep me");
  EXPECT_TRUE(store_.values.empty());
  using enum testing::FaultAt;
  // A disk full part-way, a rename refused, no temporary file.
  for (const testing::FaultAt fault : {kWrite, kInstall, kCreate}) {
    SCOPED_TRACE(static_cast<int>(fault));
    testing::InjectedFault injected(fault, ENOSPC);
    host_.messages.clear();
    host_.prompter.answers = {true};
    EXPECT_EQ(ExportResults(rows_, settings_, host_), ExportResult::kFailed);
    EXPECT_EQ(testing::ReadFile(existing), "keep me");
    ASSERT_EQ(host_.messages.size(), 1u);
    EXPECT_TRUE(host_.messages[0].starts_with("file write error\n\n")) << host_.messages[0];
    EXPECT_PRED_FORMAT2(IsSubstring, "No space left on device", host_.messages[0]);
    EXPECT_EQ(testing::FolderEntries(folder_.path()), (std::vector<std::string>{"old.txt"}));
    // The choice was stored before the write was tried.
    EXPECT_EQ(settings_.Get(settings::kExportStarter), existing);
  }
  host_.export_answer = std::nullopt;  // Cancel
  EXPECT_EQ(ExportResults(rows_, settings_, host_), ExportResult::kCancelled);
  EXPECT_EQ(host_.messages.size(), 1u);
}

TEST_F(ExportTest, LinksStayLinksAndDevicesStayDevices) {
  const std::string report = folder_.Write("real.txt", "old");
  const auto link = folder_.path() / "link.txt";
  std::filesystem::create_symlink(report, link);
  ASSERT_TRUE(WriteReportFile(link.string(), ReportFormat::kText, rows_, "", "").ok());
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(testing::ReadFile(report), kListing);
  // Written as a stream, never replaced by a file (as a rename would, for root).
  ASSERT_TRUE(WriteReportFile("/dev/null", ReportFormat::kHtml, rows_, "u", "d").ok());
  EXPECT_TRUE(std::filesystem::is_character_file("/dev/null"));
  EXPECT_EQ(testing::FolderEntries(folder_.path()),
            (std::vector<std::string>{"link.txt", "real.txt"}));
}

// The text listing groups rows by file; the HTML report sums up, escapes and has sections.
TEST(ReportWriters, TextListingHtmlReportAndProperties) {
  ResultList list;
  Add(list, "U1", "R1", "S1", "/w/a.htm");
  Add(list, "U2", "R2", "S2", "/w/a.htm", "A2");
  Add(list, "U3", "R3", "S3", "/w/b.htm");
  list.SetChecked(0, false);  // unchecked and repaired rows are listed alike
  list.SetData(1, 0x00010001);
  std::ostringstream out;
  WriteTextReport(out, list);
  EXPECT_EQ(out.str(),
            "/w/a.htm\n   U1\n      R1\n      S1\n   U2\n      R2\n      S2\n      A2\n"
            "/w/b.htm\n   U3\n      R3\n      S3\n");

  std::ostringstream html;
  ResultList rows;
  Add(rows, "U0", "R0", "S0", "");  // no section for an empty first file name
  Add(rows, "U1", "R1", "S1", "/w/a.htm");
  Add(rows, "http://x.test/?a=1&b=\"2\"", "R<2>", "<script>alert(1)</script>", "/w/a.htm", "A2");
  rows.SetCode(2, 301);
  WriteHtmlReport(html, rows, "Ann <Admin>", "Sunday, December 06, 2026 10:00:00");
  // The summary and its chart come first; the report as it always was below.
  const std::string text = html.str();
  const std::size_t body = text.find("<BODY>\n") + 7;
  const std::size_t heading = text.find("<H3>");
  const std::string summary = text.substr(body, heading - body);
  EXPECT_TRUE(summary.starts_with(
      "<DIV class=\"summary\">\n<P>3 rows \xC2\xB7 2 broken \xC2\xB7 1 redirects</P>\n<svg"))
      << summary;
  EXPECT_PRED_FORMAT2(IsSubstring, ">R0</text>", summary);
  EXPECT_PRED_FORMAT2(IsSubstring, ">R&lt;2&gt;</text>", summary);
  EXPECT_PRED_FORMAT2(IsNotSubstring, "<script", summary);
  EXPECT_EQ(
      text.substr(0, body) + text.substr(heading),
      "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 3.2//EN\">\n<HTML>\n<HEAD>\n"
      "<TITLE>Quimbel Results</TITLE>\n</HEAD>\n<BODY>\n<H3><A HREF=\""
      "http://www.marrowfen.example/quimbel/\">Quimbel</A> results for Ann &lt;Admin&gt;"
      "</H3>\n<b>Start of report: </b>Sunday, December 06, 2026 10:00:00\n"
      "\n<li><a href=\"U0\">S0</a> R0\n</ul>\n\n<hr>\n<b>FILE: /w/a.htm</b>\n<ul>"
      "\n<li><a href=\"U1\">S1</a> R1\n<li><a href=\"http://x.test/?a=1&amp;b=&quot;2&quot;\">"
      "&lt;script&gt;alert(1)&lt;/script&gt;</a> R&lt;2&gt;\n</ul>\n<hr>\n\n</BODY>\n</HTML>\n");

  // Properties names a crawled row's source as where a repair goes, then where it went.
  ResultList crawled;
  Add(crawled, "gone.html", "HTTP Code 404 Not Found", "Gone", "https://site.test/");
  crawled.SetTarget(0, "https://site.test/gone.html");
  crawled.SetSource(0, "/src/index.html", {});
  const auto properties = [&] { return PropertiesText(crawled.row(0)); };
  EXPECT_PRED_FORMAT2(IsSubstring, "\n\nA repair rewrites: /src/index.html", properties());
  EXPECT_PRED_FORMAT2(IsNotSubstring, "Repaired in", properties());
  crawled.SetData(0, kRowRepaired);  // the row's own mark, the low half
  EXPECT_PRED_FORMAT2(IsSubstring, "\n\nRepaired in: /src/index.html", properties());
  // "Error: Select Failed" is a server that never answered, in today's words.
  crawled.SetCode(0, kReplyTimedOut);
  EXPECT_PRED_FORMAT2(IsSubstring, "sent no answer within the time limit", properties());
}

struct Recorder : ResultListObserver {
  void RowsAboutToBeInserted(std::size_t a, std::size_t b) override { Say("insert", a, b); }
  void RowsInserted() override { events.push_back("inserted"); }
  void RowChanged(std::size_t row) override { events.push_back("changed " + std::to_string(row)); }
  void RowsAboutToBeRemoved(std::size_t a, std::size_t b) override { Say("remove", a, b); }
  void RowsRemoved() override { events.push_back("removed"); }
  void Say(const std::string& what, std::size_t first, std::size_t last) {
    events.push_back(what + " " + std::to_string(first) + "-" + std::to_string(last));
  }
  std::vector<std::string> events;
};

// The moves (301, 302, 307, 308; not 303) are counted as rows come, change and go.
// The JSON report is written a field and an item at a time: it must be
// byte for byte what a dump of the whole tree writes, empty arrays, nested
// lists and a name's bytes that are not UTF-8 included.
TEST(ReportWriters, JsonWrittenPieceByPieceIsTheWholeTreesDump) {
  ResultList some;
  Add(some, "U1", "R1", "S1", "/w/a.htm");
  Add(some, "U2\xff", "R2", "S2", "/w/b.htm", "A2");
  const ResultList none;
  const FileRecords no_files;
  FileRecords files;
  files.push_back({"/w/a.htm", 2, 1, 0});
  files.push_back({"/w/b\xfe.htm", 3, 1, 1});
  files.back().more().not_requested = {{"/private/x", 4, {}}, {"/private/y", 9, {}}};
  for (const bool full : {true, false}) {
    RunFacts facts;
    facts.version = "1.0";
    facts.path = full ? "/w\xff" : "";
    facts.history = full;
    facts.exclude = {"a*"};
    const RunReport report{facts, full ? some : none, *(full ? &files : &no_files)};
    std::ostringstream out;
    WriteJsonReport(out, report);
    const auto tree = nlohmann::ordered_json::parse(out.str());
    EXPECT_EQ(out.str(), tree.dump(2) + "\n") << full;
    EXPECT_EQ(tree.at("files").size(), full ? 2U : 0U);
    EXPECT_EQ(tree.at("rows").size(), full ? 2U : 0U);
  }
}

TEST(ResultList, RowsNotificationsMovesAndABigClear) {
  ResultList list;
  Recorder recorder;
  list.SetObserver(&recorder);
  Add(list, "U1", "R1", "S1", "F");
  Add(list, "U2", "R2", "S2", "F");
  list.RemoveRow(0);
  list.Clear();
  list.Clear();  // nothing to say about an empty list
  EXPECT_EQ(recorder.events,
            (std::vector<std::string>{"insert 0-0", "inserted", "changed 0", "changed 0",
                                      "insert 1-1", "inserted", "changed 1", "changed 1",
                                      "remove 0-0", "removed", "remove 0-0", "removed"}));

  for (const std::uint32_t code : {301u, 404u, 302u, 307u})
    list.SetCode(list.AppendResultRow("u"), code);
  EXPECT_EQ(list.moves(), 3u);
  const std::tuple<std::size_t, std::uint32_t, std::size_t> rechecks[] = {
      {0, 302, 3}, {0, 404, 2}, {1, 308, 3}, {1, 303, 2}, {2, 0, 1}, {2, 307, 2}};
  for (const auto& [row, code, moves] : rechecks) {
    list.UpdateRow(row, "R", code, "");
    EXPECT_EQ(list.moves(), moves) << row << " " << code;
  }
  list.RemoveRow(3);  // a 307
  list.RemoveRow(0);  // a 404
  EXPECT_EQ(list.moves(), 1u);
  list.Clear();
  EXPECT_EQ(list.moves(), 0u);

  // A big list is freed aside; cleared again while that goes on, it stays whole.
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < 60000; ++i) {
      list.AppendResultRow("http://a.test/" + std::to_string(i));
      list.SetResultColumn(ResultColumn::kSiteName, "Link", "/site/p" + std::to_string(i / 100));
    }
    list.Clear();
    EXPECT_TRUE(list.empty());
    list.AppendResultRow("u");
    EXPECT_EQ(list.row(0).text(ResultColumn::kUrl), "u");
  }
}

}  // namespace
}  // namespace quimbel
