#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "core/result_list.h"
#include "export/report_writers.h"

namespace quimbel {
namespace {

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

}  // namespace
}  // namespace quimbel
