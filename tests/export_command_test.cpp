#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "export/export_command.h"
#include "platform/memory_config_store.h"
#include "tests/injected_fault.h"
#include "tests/recording_repair_host.h"
#include "tests/temp_folder.h"

namespace quimbel {
namespace {

TEST(SwitchExportExtension, FormatButtons) {
  struct Case {
    const char* path;
    ExportFormat format;
    const char* after;
  };
  const Case cases[] = {
      {"results.txt", ExportFormat::kHtml, "results.html"},
      {"results.html", ExportFormat::kText, "results.txt"},
      {"results.txt", ExportFormat::kText, "results.txt"},
      {"results.html", ExportFormat::kHtml, "results.html"},
      {"a.txt.bak", ExportFormat::kHtml, "a.txt.html"},
      {".txt", ExportFormat::kHtml, ".txt"},
      {".html", ExportFormat::kText, ".html"},
      {"report", ExportFormat::kHtml, "report"},
      {"/tmp/é.txt", ExportFormat::kHtml, "/tmp/é.html"},
      {"/tmp/x.txt.é", ExportFormat::kHtml, "/tmp/x.t.html"},
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
  host_.export_answer = ExportChoice{text, ExportFormat::kText};
  ExportResults(rows_, settings_, host_);
  EXPECT_EQ(host_.export_shown_with,
            (std::vector<ExportChoice>{{"results.txt", ExportFormat::kText}}));
  EXPECT_EQ(testing::ReadFile(text),
            "/w/a.htm\n   U1\n      R1\n      S1\n   U2\n      R2\n      S2\n");

  const std::string html = (folder_.path() / "r.html").string();
  host_.export_answer = ExportChoice{html, ExportFormat::kHtml};
  ExportResults(rows_, settings_, host_);
  EXPECT_EQ(host_.export_shown_with.back(), (ExportChoice{text, ExportFormat::kText}));
  const std::string report = testing::ReadFile(html);
  const std::string tail =
      "<b>Start of report: </b>&lt;date&gt;\n\n<hr>\n<b>FILE: /w/a.htm</b>\n<ul>\n<li><a "
      "href=\"U1\">S1</a> R1\n<li><a href=\"U2\">S2</a> R2\n</ul>\n<hr>\n\n</BODY>\n</HTML>\n";
  ASSERT_GE(report.size(), tail.size());
  EXPECT_EQ(report.substr(report.size() - tail.size()), tail);
  EXPECT_NE(report.find("results for Tester</H3>"), std::string::npos);
  EXPECT_EQ(settings_.Get(settings::kExportStarter), html);
  EXPECT_EQ(settings_.Get(settings::kExportText), 1);
}

TEST_F(ExportTest, NoToReplaceChangesNothingAndFailuresAreSaid) {
  const std::string existing = folder_.Write("old.txt", "keep me");
  host_.export_answer = ExportChoice{existing, ExportFormat::kHtml};
  host_.prompter.answers = {false};
  ExportResults(rows_, settings_, host_);
  EXPECT_EQ(host_.prompter.questions,
            (std::vector<std::string>{existing +
                                      "\nThis file already exists\n\nReplace existing file?"}));
  EXPECT_EQ(testing::ReadFile(existing), "keep me");
  EXPECT_TRUE(store_.values.empty());

  const std::string missing = (folder_.path() / "no/such/folder/r.txt").string();
  host_.export_answer = ExportChoice{missing, ExportFormat::kText};
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
  ASSERT_TRUE(WriteReportFile(link.string(), ExportFormat::kText, rows_, "", "").ok());
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(testing::ReadFile(report),
            "/w/a.htm\n   U1\n      R1\n      S1\n   U2\n      R2\n      S2\n");
  // Written to as a stream, never replaced by a file (which, for the
  // superuser, renaming over it would do).
  ASSERT_TRUE(WriteReportFile("/dev/null", ExportFormat::kHtml, rows_, "u", "d").ok());
  struct stat status {};
  ASSERT_EQ(::stat("/dev/null", &status), 0);
  EXPECT_TRUE(S_ISCHR(status.st_mode));
  EXPECT_EQ(testing::FolderEntries(folder_.path()),
            (std::vector<std::string>{"link.txt", "real.txt"}));
}

TEST_F(ExportTest, AFailedWriteLeavesTheOldReportWhole) {
  const std::string existing = folder_.Write("old.html", "the good old report");
  host_.export_answer = ExportChoice{existing, ExportFormat::kHtml};
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

}  // namespace
}  // namespace quimbel
