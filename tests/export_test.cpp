#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "core/result_list.h"
#include "export/export_command.h"
#include "export/report_fields.h"
#include "export/report_writers.h"
#include "platform/memory_config_store.h"
#include "tests/injected_fault.h"
#include "tests/recording_repair_host.h"
#include "tests/temp_folder.h"

namespace quimbel {
namespace {

TEST(SwitchExportExtension, FormatButtons) {
  struct Case {
    const char* path;
    ReportFormat format;
    const char* after;
  };
  const Case cases[] = {
      {"results.txt", ReportFormat::kHtml, "results.html"},
      {"results.html", ReportFormat::kText, "results.txt"},
      {"results.txt", ReportFormat::kText, "results.txt"},
      {"results.html", ReportFormat::kHtml, "results.html"},
      {"a.txt.bak", ReportFormat::kHtml, "a.txt.html"},
      {".txt", ReportFormat::kHtml, ".txt"},
      {".html", ReportFormat::kText, ".html"},
      {"report", ReportFormat::kHtml, "report"},
      {"/tmp/é.txt", ReportFormat::kHtml, "/tmp/é.html"},
      {"/tmp/x.txt.é", ReportFormat::kHtml, "/tmp/x.t.html"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SwitchExportExtension(c.path, c.format), c.after) << c.path;
  }
}

class ExportTest : public ::testing::Test {
 protected:
  ExportTest() : settings_(store_) {
    rows_.AppendResultRow("U1");
    rows_.SetResultColumn(ResultColumn::kReason, "R1");
    rows_.SetResultColumn(ResultColumn::kSiteName, "S1", "/w/a.htm");
    rows_.AppendResultRow("U2");
    rows_.SetResultColumn(ResultColumn::kReason, "R2");
    rows_.SetResultColumn(ResultColumn::kSiteName, "S2", "/w/a.htm");
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
  EXPECT_EQ(testing::ReadFile(text),
            "/w/a.htm\n   U1\n      R1\n      S1\n   U2\n      R2\n      S2\n");

  const std::string html = (folder_.path() / "r.html").string();
  host_.export_answer = ExportChoice{html, ReportFormat::kHtml};
  ExportResults(rows_, settings_, host_);
  EXPECT_EQ(host_.export_shown_with.back(), (ExportChoice{text, ReportFormat::kText}));
  const std::string report = testing::ReadFile(html);
  const std::string tail =
      "<b>Start of report: </b>&lt;date&gt;\n\n<hr>\n<b>FILE: /w/a.htm</b>\n<ul>\n<li><a "
      "href=\"U1\">S1</a> R1\n<li><a href=\"U2\">S2</a> R2\n</ul>\n<hr>\n\n</BODY>\n</HTML>\n";
  ASSERT_GE(report.size(), tail.size());
  EXPECT_EQ(report.substr(report.size() - tail.size()), tail);
  EXPECT_NE(report.find("results for Tester</H3>"), std::string::npos);
  EXPECT_EQ(settings_.Get(settings::kExportStarter), html);
  EXPECT_EQ(settings_.Get(settings::kExportText), 1);
  EXPECT_EQ(host_.reports_written, (std::vector<std::string>{text, html}));

  // A bare name is offered in the folder checked, not wherever the
  // program started; a name with its folder stays as it was.
  host_.report_folder = "/site";
  host_.export_answer.reset();
  settings_.Set(settings::kExportStarter, "results.txt");
  ExportResults(rows_, settings_, host_);
  EXPECT_EQ(host_.export_shown_with.back().path, "/site/results.txt");
  settings_.Set(settings::kExportStarter, html);
  ExportResults(rows_, settings_, host_);
  EXPECT_EQ(host_.export_shown_with.back().path, html);
}

TEST_F(ExportTest, NoToReplaceChangesNothingAndFailuresAreSaid) {
  const std::string existing = folder_.Write("old.txt", "keep me");
  host_.export_answer = ExportChoice{existing, ReportFormat::kHtml};
  host_.prompter.answers = {false};
  ExportResults(rows_, settings_, host_);
  EXPECT_EQ(host_.prompter.questions,
            (std::vector<std::string>{existing +
                                      "\nThis file already exists\n\nReplace existing file?"}));
  EXPECT_EQ(testing::ReadFile(existing), "keep me");
  EXPECT_TRUE(store_.values.empty());

  const std::string missing = (folder_.path() / "no/such/folder/r.txt").string();
  host_.export_answer = ExportChoice{missing, ReportFormat::kText};
  EXPECT_EQ(ExportResults(rows_, settings_, host_), ExportResult::kFailed);
  ASSERT_EQ(host_.messages.size(), 1u);
  EXPECT_EQ(host_.messages[0].rfind("file write error\n\n", 0), 0u) << host_.messages[0];
  // The choice was stored before the write was tried.
  EXPECT_EQ(settings_.Get(settings::kExportStarter), host_.export_answer->path);

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
  EXPECT_EQ(testing::ReadFile(report),
            "/w/a.htm\n   U1\n      R1\n      S1\n   U2\n      R2\n      S2\n");
  // Written to as a stream, never replaced by a file (which, for the
  // superuser, renaming over it would do).
  ASSERT_TRUE(WriteReportFile("/dev/null", ReportFormat::kHtml, rows_, "u", "d").ok());
  struct stat status {};
  ASSERT_EQ(::stat("/dev/null", &status), 0);
  EXPECT_TRUE(S_ISCHR(status.st_mode));
  EXPECT_EQ(testing::FolderEntries(folder_.path()),
            (std::vector<std::string>{"link.txt", "real.txt"}));
}

TEST_F(ExportTest, AFailedWriteLeavesTheOldReportWhole) {
  const std::string existing = folder_.Write("old.html", "the good old report");
  host_.export_answer = ExportChoice{existing, ReportFormat::kHtml};
  host_.prompter.answers = {true};
  for (const auto& [name, fault] : std::vector<std::pair<const char*, testing::FaultAt>>{
           {"disk full part-way", testing::FaultAt::kWrite},
           {"rename refused", testing::FaultAt::kInstall},
           {"no temporary file", testing::FaultAt::kCreate}}) {
    SCOPED_TRACE(name);
    testing::InjectedFault injected(fault, ENOSPC);
    host_.messages.clear();
    EXPECT_EQ(ExportResults(rows_, settings_, host_), ExportResult::kFailed);
    EXPECT_EQ(testing::ReadFile(existing), "the good old report");
    ASSERT_EQ(host_.messages.size(), 1u);
    EXPECT_NE(host_.messages[0].find("No space left on device"), std::string::npos);
    EXPECT_EQ(testing::FolderEntries(folder_.path()), (std::vector<std::string>{"old.html"}));
    host_.prompter.answers = {true};
  }
}

void Add(ResultList& list, const std::string& url, const std::string& reason,
         const std::string& site, const std::string& file, const std::string& alternate = "") {
  list.AppendResultRow(url);
  list.SetResultColumn(ResultColumn::kReason, reason);
  list.SetResultColumn(ResultColumn::kSiteName, site, file);
  if (!alternate.empty()) list.SetResultColumn(ResultColumn::kAlternateUrl, alternate);
}

TEST(ReportWriters, TextListingGroupsByFile) {
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
}

TEST(ReportWriters, HtmlReportSectionsAndEscaping) {
  ResultList list;
  Add(list, "U0", "R0", "S0", "");  // no section for an empty first file name
  Add(list, "U1", "R1", "S1", "/w/a.htm");
  Add(list, "http://x.test/?a=1&b=\"2\"", "R<2>", "<script>alert(1)</script>", "/w/a.htm", "A2");
  list.SetCode(2, 301);
  std::ostringstream out;
  WriteHtmlReport(out, list, "Ann <Admin>", "Sunday, December 06, 2026 10:00:00");
  // The summary and its chart come first; the report as it always was below.
  const std::string text = out.str();
  const std::size_t body = text.find("<BODY>\n") + 7;
  const std::size_t heading = text.find("<H3>");
  const std::string summary = text.substr(body, heading - body);
  const std::string top =
      "<DIV class=\"summary\">\n<P>3 rows \xC2\xB7 2 broken \xC2\xB7 1 redirects</P>\n<svg";
  EXPECT_EQ(summary.substr(0, top.size()), top);
  EXPECT_NE(summary.find(">R0</text>"), std::string::npos);
  EXPECT_NE(summary.find(">R&lt;2&gt;</text>"), std::string::npos);
  EXPECT_EQ(summary.find("<script"), std::string::npos);
  EXPECT_EQ(text.substr(0, body) + text.substr(heading),
            "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 3.2//EN\">\n<HTML>\n<HEAD>\n"
            "<TITLE>Quimbel Results</TITLE>\n</HEAD>\n<BODY>\n<H3><A HREF=\""
            "http://www.marrowfen.example/quimbel/\">Quimbel</A> results for Ann &lt;Admin&gt;"
            "</H3>\n<b>Start of report: </b>Sunday, December 06, 2026 10:00:00\n"
            "\n<li><a href=\"U0\">S0</a> R0"
            "\n</ul>\n"
            "\n<hr>\n<b>FILE: /w/a.htm</b>\n<ul>"
            "\n<li><a href=\"U1\">S1</a> R1"
            "\n<li><a href=\"http://x.test/?a=1&amp;b=&quot;2&quot;\">"
            "&lt;script&gt;alert(1)&lt;/script&gt;</a> R&lt;2&gt;"
            "\n</ul>\n<hr>\n\n</BODY>\n</HTML>\n");
}

struct Recorder : ResultListObserver {
  void RowsAboutToBeInserted(std::size_t first, std::size_t last) override {
    events.push_back("insert " + std::to_string(first) + "-" + std::to_string(last));
  }
  void RowsInserted() override { events.push_back("inserted"); }
  void RowChanged(std::size_t row) override { events.push_back("changed " + std::to_string(row)); }
  void RowsAboutToBeRemoved(std::size_t first, std::size_t last) override {
    events.push_back("remove " + std::to_string(first) + "-" + std::to_string(last));
  }
  void RowsRemoved() override { events.push_back("removed"); }
  std::vector<std::string> events;
};

// Properties names a crawled row's source file as the file a repair would
// rewrite, and as "Repaired in" only once the repair has done so.
TEST(ReportWriters, PropertiesSayWhereARepairGoes) {
  ResultList rows;
  rows.AppendResultRow("gone.html", 3);
  rows.SetResultColumn(ResultColumn::kReason, "HTTP Code 404 Not Found");
  rows.SetResultColumn(ResultColumn::kSiteName, "Gone", "https://site.test/");
  rows.SetTarget(0, "https://site.test/gone.html");
  rows.SetSource(0, "/src/index.html", {});
  const std::string before = PropertiesText(rows.row(0));
  EXPECT_NE(before.find("\n\nA repair rewrites: /src/index.html"), std::string::npos) << before;
  EXPECT_EQ(before.find("Repaired in"), std::string::npos) << before;
  ResultRow repaired = rows.row(0);
  repaired.SetRowDone(kRowRepaired);
  rows.SetData(0, repaired.data);
  EXPECT_NE(PropertiesText(rows.row(0)).find("\n\nRepaired in: /src/index.html"),
            std::string::npos);
  // "Error: Select Failed" is a server that never answered: Properties
  // says so in today's words.
  rows.SetCode(0, kReplyTimedOut);
  EXPECT_NE(PropertiesText(rows.row(0)).find("sent no answer within the time limit"),
            std::string::npos);
}

TEST(ResultList, RowsAndTheirNotifications) {
  ResultList list;
  Recorder recorder;
  list.SetObserver(&recorder);
  Add(list, "U1", "R1", "S1", "F");
  EXPECT_TRUE(list.row(0).checked);
  EXPECT_EQ(list.row(0).data, 0u);
  EXPECT_EQ(list.row(0).text(ResultColumn::kFileName), "F");
  ResultRow marks;
  marks.SetRowDone(7);
  marks.SetFileDone(0xFFFF);
  EXPECT_EQ(marks.data, 0xFFFF0007u);
  EXPECT_EQ(marks.RowDone(), 7);
  EXPECT_EQ(marks.FileDone(), 0xFFFF);
  Add(list, "U2", "R2", "S2", "F");
  list.RemoveRow(0);
  list.Clear();
  list.Clear();  // nothing to say about an empty list
  EXPECT_EQ(recorder.events,
            (std::vector<std::string>{"insert 0-0", "inserted", "changed 0", "changed 0",
                                      "insert 1-1", "inserted", "changed 1", "changed 1",
                                      "remove 0-0", "removed", "remove 0-0", "removed"}));
}

// A big list is let go of at once and freed aside; cleared again while
// the last one is still being freed, and filled meanwhile, it stays whole.
TEST(ResultList, ABigListIsClearedAtOnce) {
  ResultList list;
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

// The moves (301, 302, 307 and 308; not 303) are counted as rows come, a
// recheck changes them, and they go.
TEST(ResultList, MovesAreCountedAsRowsComeChangeAndGo) {
  ResultList list;
  for (const std::uint32_t code : {301u, 404u, 302u, 307u}) {
    list.SetCode(list.AppendResultRow("u"), code);
  }
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
  list.SetCode(list.AppendResultRow("u"), 308);
  EXPECT_EQ(list.moves(), 1u);
}

}  // namespace
}  // namespace quimbel
