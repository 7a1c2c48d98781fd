#include <gtest/gtest.h>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "platform/memory_config_store.h"
#include "purge/comment_purge.h"
#include "repair/line_rewrite.h"
#include "repair/repair_engine.h"
#include "tests/injected_fault.h"
#include "tests/recording_repair_host.h"
#include "tests/temp_folder.h"

namespace quimbel {
namespace {

namespace fs = std::filesystem;
using Marks = std::vector<std::uint32_t>;

struct Listed {
  std::string url;
  std::string reason = "HTTP Code 404 Not Found";
  std::string alternate = "";
  bool checked = true;
  std::string file = "";  // empty: the case's file
  bool resource = false;  // an image or the like
  LinkKind kind = LinkKind::kAnchor;
};

RepairOptions Type(int type, bool preserve = true, bool skip_errors = true, bool purge = false) {
  return {.type = static_cast<RepairType>(type),
          .skipNonHttp = skip_errors,
          .preserveAsComment = preserve,
          .removeComments = purge};
}

std::string Disabled(const std::string& text) {
  return "<!-- QUIMBEL COMMENT " + text + "-->";
}

// High half: the row's file was rewritten; low half: the row repaired (1) or passed over (2).
constexpr std::uint32_t kDone = 1, kDoneFirst = 0x00010001, kFileOnly = 0x00010000,
                        kLeftFirst = 0x00010002;

class RepairTest : public ::testing::Test {
 protected:
  RepairTest() : settings_(store_) {}

  // The list holds these rows alone; what the host recorded is forgotten.
  void ListRows(const std::vector<Listed>& listed, const std::string& file) {
    rows_.Clear();
    host_.ForgetShown();
    for (const Listed& row : listed) {
      rows_.AppendResultRow(row.url, 0, row.resource, row.kind);
      rows_.SetResultColumn(ResultColumn::kReason, row.reason);
      rows_.SetResultColumn(ResultColumn::kSiteName, "site", row.file.empty() ? file : row.file);
      rows_.SetResultColumn(ResultColumn::kAlternateUrl, row.alternate);
      rows_.SetChecked(rows_.size() - 1, row.checked);
    }
  }
  Marks RowMarks() const {
    Marks marks;
    for (const auto& row : rows_.rows())
      marks.push_back(row.data);
    return marks;
  }
  RepairOutcome Run(std::optional<RepairOptions> options, bool ask_unknown = false) {
    host_.options_answer = options;
    return RunRepairCommand(rows_, ask_unknown, settings_, host_);
  }
  bool Repair(const RepairOptions& options) { return Run(options).completed; }

  testing::TempFolder folder_;
  MemoryConfigStore store_;
  SettingsStore settings_;
  ResultList rows_;
  testing::RecordingRepairHost host_;
};

TEST_F(RepairTest, OneFileRewrites) {
  const std::string L = "<a href=\"U\">x</a>", l = L + "\n",
                    moved = "HTTP Code 301 Moved Permanently",
                    can_not = "Error: Can't Connect to Host", img = "<img src=\"i.png\">\n";
  const Listed image{"i.png", "Local File Not Found", "", true, "", true};
  struct Case {
    const char* name;
    std::string before;
    RepairOptions options;
    std::string after;
    std::vector<Listed> rows = {{"U"}};
    Marks marks = {kDoneFirst};
    bool success = true;
  };
  const Case cases[] = {
      Case("type 0", l, Type(0), Disabled(L) + "\n"),
      // 301 and 308 lead to their alternate; without one, to the file.
      Case("type 1, moves", l + "<a href=\"V\">\n<a href=\"W\">\n", Type(1, false),
           "<a href=\"http://a.test/\">x</a>\n"
           "<a href=\"https://a.test/\">\n<a href=\"links.htm\">\n",
           {{"U", moved, "http://a.test/"},
            {"V", "HTTP Code 308 Permanent Redirect", "https://a.test/"},
            {"W", moved, ""}},
           {kDoneFirst, kDone, kDone}),
      // A Location that is no http, https or ftp URL must never become the link.
      Case("type 1, hostile alternates leave their rows alone", l + "V\nF\nH\nA\nQ\n",
           Type(1, false), l + "V\nF\nH\nA\nQ\n",
           {{"U", "HTTP Code 302 Moved Temporarily", "http://a.test/\"><script>x()</script>"},
            {"V", moved, "javascript://x%0Aalert(document.cookie)"},
            {"F", moved, "file:///etc/passwd"},
            {"H", moved, "vbscript://x"},
            {"A", moved, "http://a b/"},
            {"Q", moved, "http://a.test/'onclick='x()"}},
           {kFileOnly, 0, 0, 0, 0, 0}),
      Case("type 2, the same URL twice", "a\n" + l + l + "b\n", Type(2), "a\nb\n", {{"U"}, {"U"}},
           {kDoneFirst, kDone}),
      // Nothing stands in for a missing image: never rewritten to point at the page.
      Case("type 1 leaves a resource's line", img, Type(1, true, false), img, {image},
           {kLeftFirst}),
      Case("type 0 disables a resource's line", img, Type(0, true, false),
           Disabled("<img src=\"i.png\">") + "\n", {image}),
      // A comment or a removed line would break a style sheet; escaped URLs are not looked for.
      Case("a style sheet's reference is left alone", "p { x: url(U) }\nq { y: url(a\\2e png) }\n",
           Type(2), "p { x: url(U) }\nq { y: url(a\\2e png) }\n",
           {{.url = "U", .resource = true, .kind = LinkKind::kCss},
            {.url = "a.png", .resource = true, .kind = LinkKind::kCss}},
           {kLeftFirst, 2}),
      // Passing over what is no HTTP code passes over local links too.
      Case("a local row is left alone with non-HTTP rows", img, Type(0), img, {image},
           {kLeftFirst}),
      // Untouched lines byte for byte; a last line without a line end gains one.
      Case("CR LF kept", "x\r\n" + L + "\r\ny \t\r\n" + L, Type(0),
           "x\r\n" + Disabled(L) + "\r\ny \t\r\n" + Disabled(L) + "\r\n", {{"U"}, {"U"}},
           {kDoneFirst, kDone}),
      Case("an unchecked row consumes no line", "<a href=\"V\">\n<a href=\"W\">\n", Type(2),
           "<a href=\"V\">\n", {{.url = "V", .checked = false}, {"W"}}, {kDoneFirst, kDone}),
      // A skipped last line keeps its missing line end.
      Case("non-HTTP rows are left alone", l + "top\r\n" + L, Type(0), l + "top\r\n" + L,
           {{"U", can_not}, {"U", can_not}}, {kLeftFirst, kRowLeftAlone}),
      Case("... or repaired when asked", l, Type(0, true, false), Disabled(L) + "\n",
           {{"U", "Error: UNKNOWN Error!"}}),
      Case("a prefix matches inside a longer URL", "<a href=\"http://a.test/x/y\">\n", Type(1),
           "<a href=\"links.htm/y\">" + Disabled("http://a.test/x") + "\n", {{"http://a.test/x"}}),
      // Comments before the close stay, one-line comments go, a URL only in a comment stays.
      Case("comments", "a --> b <!-- c --> U\n<!-- old --><a href=\"U\"><!--x-->\na<!-- U -->b\n",
           Type(1, false, true, true), "a --> b <!-- c --> links.htm\n<a href=\"links.htm\">\nab\n",
           {{"U"}, {"U"}, {"U"}}, {kDoneFirst, kDone, kDone}),
      Case("two URLs on one line: the second is not found", "<a href=\"P\"><a href=\"Q\">\nz\n",
           Type(2), "z\n", {{"P"}, {"Q"}}, {kDone, 0}, false),
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::TempFolder folder;
    const std::string file = folder.Write("links.htm", c.before);
    ListRows(c.rows, file);
    EXPECT_EQ(Repair(c.options), c.success);
    EXPECT_EQ(testing::ReadFile(file), c.after);
    EXPECT_EQ(testing::ReadFile(folder.path() / "links.rep"), c.before);
    EXPECT_EQ(RowMarks(), c.marks);
    EXPECT_EQ(testing::FolderEntries(folder.path()),
              (std::vector<std::string>{"links.htm", "links.rep"}));
    ASSERT_EQ(host_.messages.size(), 1u);
    const bool all = std::ranges::none_of(
        c.marks, [](std::uint32_t m) { return (m & 0xFFFF) == kRowLeftAlone || m == kFileOnly; });
    const std::string said = !c.success
                                 ? "We looked in file\n" + file + "\nbut could not file the URL\nQ"
                             : all ? "All URL repairs completed\n\nRows repaired: "
                                   : "URL repairs completed, not all\n\nRows repaired: ";
    EXPECT_EQ(host_.messages[0].substr(0, c.success ? said.size() : std::string::npos), said);
  }
}

TEST_F(RepairTest, SharedBackupStopAndResumeAfterAFailure) {
  const std::string htm = folder_.Write("a.htm", "<a href=\"U1\">\n");
  const std::string html = folder_.Write("a.html", "<a href=\"U2\">\nkeep\n");
  const std::string other = folder_.Write("b.htm", "<a href=\"U3\">\n");
  ListRows({{.url = "U1", .file = htm},
            {.url = "U2", .file = html},
            {.url = "U3", .file = other},
            {.url = "U4", .file = other}},
           "");
  // A stop ends the repair between files.
  host_.stop_after_files = 0;
  const RepairOutcome stopped = Run(Type(2));
  EXPECT_TRUE(stopped.stopped);
  EXPECT_FALSE(stopped.completed);
  EXPECT_EQ(testing::ReadFile(html), "<a href=\"U2\">\nkeep\n");
  EXPECT_EQ(RowMarks(), (Marks{kDoneFirst, 0, 0, 0}));
  EXPECT_TRUE(host_.failures.empty());

  host_.stop_after_files = 1 << 30;
  EXPECT_FALSE(Repair(Type(2)));
  // a.htm and a.html share a.rep, which holds a.htm as it was; a name's last dot counts.
  EXPECT_EQ(BackupPath("/w/page.v2.htm"), "/w/page.v2.rep");
  EXPECT_EQ(testing::ReadFile(folder_.path() / "a.rep"), "<a href=\"U1\">\n");
  EXPECT_EQ(testing::ReadFile(htm), "");
  EXPECT_EQ(testing::ReadFile(html), "keep\n");
  EXPECT_EQ(testing::ReadFile(other), "");  // what was repaired before the failure took effect
  EXPECT_EQ(RowMarks(), (Marks{kDoneFirst, kDoneFirst, kDone, 0}));
  EXPECT_EQ(host_.failures, (std::vector<std::string>{other + " | U4"}));

  // Mended, then a write that fails: U3's removal is already in the file and stays marked.
  std::ofstream(other) << "<a href=\"U4\">\nend\n";
  {
    testing::InjectedFault full(testing::FaultAt::kWrite, ENOSPC);
    EXPECT_FALSE(Repair(Type(2)));
  }
  EXPECT_EQ(RowMarks(), (Marks{kDoneFirst, kDoneFirst, kDone, 0}));
  // Repaired again: done rows and files are passed over, the backup kept.
  EXPECT_TRUE(Repair(Type(2)));
  EXPECT_EQ(testing::ReadFile(other), "end\n");
  EXPECT_EQ(testing::ReadFile(folder_.path() / "b.rep"), "<a href=\"U3\">\n");
  EXPECT_EQ(RowMarks(), (Marks{kDoneFirst, kDoneFirst, kDoneFirst, kDone}));
  // The resumed repair counts what it did itself.
  EXPECT_EQ(host_.messages.back(), "All URL repairs completed\n\nRows repaired: 1 in 1 page");
}

// A page held by another repair or changed since its check is left alone, the others repaired.
TEST_F(RepairTest, APageHeldOrChangedSinceItsCheckIsLeftAlone) {
  const std::string before = "<p>one</p>\n<a href=\"U\">bad</a>\n<p>three</p>\n";
  const std::string page = folder_.Write("big.htm", before);
  const PageIdentity checked = MappedFile::Open(page)->identity();
  RepairSession first, second;
  second.SetLockWait(std::chrono::milliseconds(100));  // then gives up on a locked page
  ASSERT_TRUE(first.BeginFileRepair(page, nullptr, &checked).ok());
  const Status locked = second.BeginFileRepair(page, nullptr, &checked);
  EXPECT_EQ(locked.error(), EBUSY);
  EXPECT_EQ(locked.message(), page + " is locked by another program; repair it again later");
  ASSERT_EQ(first.RepairLine({"U", "HTTP Code 404 Not Found", ""}, page, Type(0)),
            LineRepair::kDone);
  ASSERT_TRUE(first.FinishFileRepair().ok());
  // No longer what the second checked (the message: below, as the command shows it).
  EXPECT_EQ(second.BeginFileRepair(page, nullptr, &checked).error(), ESTALE);
  EXPECT_EQ(testing::ReadFile(page),
            "<p>one</p>\n" + Disabled("<a href=\"U\">bad</a>") + "\n<p>three</p>\n");
  EXPECT_EQ(testing::ReadFile(folder_.path() / "big.rep"), before);
  EXPECT_EQ(testing::FolderEntries(folder_.path()),
            (std::vector<std::string>{"big.htm", "big.rep"}));

  const std::string edited = folder_.Write("edited.htm", "<a href=\"U\">x</a>\n");
  const std::string kept = folder_.Write("kept.htm", "<a href=\"U\">x</a>\n");
  ListRows({{.url = "U", .file = edited}, {.url = "U", .file = kept}}, "");
  for (const std::string& file : {edited, kept})
    rows_.SetPageIdentity(file, MappedFile::Open(file)->identity());
  folder_.Write("edited.htm", "<a href=\"U\">x</a>\n<p>The author's new line</p>\n");
  EXPECT_FALSE(Repair(Type(0)));
  EXPECT_EQ(testing::ReadFile(edited), "<a href=\"U\">x</a>\n<p>The author's new line</p>\n");
  EXPECT_EQ(testing::ReadFile(kept), Disabled("<a href=\"U\">x</a>") + "\n");
  EXPECT_EQ(RowMarks(), (Marks{0, kDoneFirst}));
  ASSERT_EQ(host_.messages.size(), 2u);
  EXPECT_EQ(host_.messages[0], edited + " changed since it was checked; check it again");
  EXPECT_EQ(host_.messages[1],
            "URL repairs completed, not all\n\nRows repaired: 1 in 1 page\nPages left alone: 1");

  // A listed backup is never rewritten: it is the only copy of the page as it was.
  const std::string backup = folder_.Write("kept.rep", "<a href=\"U\">x</a>\n");
  ListRows({{"U"}}, backup);
  EXPECT_TRUE(Repair(Type(0)));
  EXPECT_EQ(testing::ReadFile(backup), "<a href=\"U\">x</a>\n");
  EXPECT_EQ(RowMarks(), (Marks{0}));
  EXPECT_EQ(host_.left_alone,
            std::vector<std::string>{backup + " is a backup of a page; it is left as it is"});
}

TEST_F(RepairTest, FilesThatCannotBeRepairedStayAsTheyWere) {
  const std::string page = "<a href=\"U\">\n";
  const std::string full = folder_.Write("full.htm", page);
  const std::string read_only = folder_.Write("ro.htm", page);
  ::chmod(read_only.c_str(), 0444);
  const std::string gone = (folder_.path() / "gone.htm").string();
  host_.ignore_failed_row = true;
  const std::tuple<std::string, std::optional<testing::FaultAt>, std::string> cases[] = {
      {full, testing::FaultAt::kCreate, "No space left on device"},
      {full, testing::FaultAt::kWrite, "Cannot replace " + full + ": No space left on device"},
      {full, testing::FaultAt::kInstall, "No space left on device"},
      {read_only, std::nullopt, "the file is read-only"},
      {gone, std::nullopt, "not a readable regular file"}};
  for (const auto& [file, fault, reason] : cases) {
    SCOPED_TRACE(file + " " + reason);
    std::optional<testing::InjectedFault> injected;
    if (fault) injected.emplace(*fault, ENOSPC);
    ListRows({{"U"}, {"V"}}, file);
    EXPECT_FALSE(Repair(Type(0)));
    ASSERT_EQ(host_.failures.size(), 1u);
    EXPECT_EQ(host_.failures[0].rfind(file + " | ", 0), 0u);
    EXPECT_NE(host_.reasons[0].find(reason), std::string::npos) << host_.reasons[0];
    // No row counts as handled, and the user chose to drop one of them.
    ASSERT_EQ(rows_.size(), 1u);
    EXPECT_EQ(RowMarks(), (Marks{0}));
  }
  EXPECT_EQ(testing::ReadFile(full), page);
  EXPECT_EQ(testing::ReadFile(read_only), page);
  // The pages alone remain: no backup, no temporary copy.
  EXPECT_EQ(testing::FolderEntries(folder_.path()),
            (std::vector<std::string>{"full.htm", "ro.htm"}));
  EXPECT_FALSE(host_.backup_failures.empty());
}

// A crawled page's file is written only if it lies inside the site's folder.
TEST_F(RepairTest, ACrawledPagesFileStaysInsideTheSiteRoot) {
  const std::string page = "<a href=\"U\">\n";
  testing::TempFolder outside;
  const fs::path root = folder_.path() / "site";
  const std::string beyond = outside.Write("page.htm", page);
  const std::string inner = folder_.Write("site/real/page.htm", page);
  fs::create_symlink(outside.path(), root / "out");
  fs::create_symlink(beyond, root / "link.htm");
  fs::create_symlink(root / "real", root / "alias");
  const std::pair<fs::path, bool> cases[] = {
      {root / "out/page.htm", false}, {root / "link.htm", false}, {root / "alias/page.htm", true}};
  for (const auto& [path, repaired] : cases) {
    const std::string file = path.string();
    SCOPED_TRACE(file);
    ListRows({{"U"}}, "http://site.test/page.htm");
    rows_.SetTarget(0, "http://site.test/page.htm");
    rows_.SetSource(0, file, {});
    rows_.SetSourceRoot(root.string());
    EXPECT_EQ(Repair(Type(0)), repaired);
    EXPECT_EQ(RowMarks(), (Marks{repaired ? kDoneFirst : 0}));
    if (!repaired) {
      ASSERT_EQ(host_.messages.size(), 2u);
      EXPECT_NE(host_.messages[0].find(file + " leads out of " + root.string()), std::string::npos)
          << host_.messages[0];
    }
  }
  EXPECT_EQ(testing::ReadFile(beyond), page);
  EXPECT_EQ(testing::FolderEntries(outside.path()), (std::vector<std::string>{"page.htm"}));
  EXPECT_EQ(testing::ReadFile(inner), Disabled("<a href=\"U\">") + "\n");
  EXPECT_TRUE(fs::exists(root / "real/page.rep"));
}

// The repair's and the purge's rewrites keep owner and group, each ours or not.
TEST_F(RepairTest, OwnerAndGroupSurviveEveryRewrite) {
  // A group other than ours: any, for the superuser; else one we are in.
  gid_t groups[64];
  gid_t* end = groups + std::max(0, ::getgroups(64, groups));
  const gid_t* other = std::find_if(groups, end, [](gid_t g) { return g != ::getegid(); });
  const gid_t other_group = ::geteuid() == 0 ? 4322 : other != end ? *other : ::getegid();
  if (other_group == ::getegid()) GTEST_SKIP() << "no second group to give a file";
  const std::pair<uid_t, gid_t> owners[] = {
      {::geteuid(), other_group}, {4321, ::getegid()}, {4321, other_group}};
  for (const auto& [uid, gid] : owners) {
    if (uid != ::geteuid() && ::geteuid() != 0) continue;  // only the superuser gives a file away
    SCOPED_TRACE(std::to_string(uid) + ":" + std::to_string(gid));
    const std::string repaired = folder_.Write("r.htm", "<a href=\"U\"><!-- c -->\n");
    const std::string purged = folder_.Write("p.htm", "<a href=\"U\"><!-- c -->\n");
    for (const std::string& file : {repaired, purged})
      ASSERT_EQ(::chown(file.c_str(), uid, gid), 0);
    ListRows({{"U"}}, repaired);
    ASSERT_TRUE(Repair(Type(0)));
    ASSERT_TRUE(PurgeFileComments(purged).rewritten);
    for (const std::string& file : {repaired, purged}) {
      struct stat status {};
      ::stat(file.c_str(), &status);
      EXPECT_EQ(std::pair(status.st_uid, status.st_gid), std::pair(uid, gid)) << file;
    }
    fs::remove(folder_.path() / "r.rep");
  }
}

TEST_F(RepairTest, QuestionsOptionsAndTheExportAfterRemoval) {
  const std::string file = folder_.Write("p.htm", "<a href=\"U\">\n");
  ListRows({{"U"}}, file);
  host_.prompter.answers = {false};
  EXPECT_FALSE(Run(RepairOptions{}, true).completed);
  EXPECT_EQ(host_.prompter.questions,
            (std::vector<std::string>{std::string(kUnknownErrorRepairQuestion)}));
  EXPECT_TRUE(host_.options_shown_with.empty());

  EXPECT_FALSE(Run(std::nullopt).completed);  // Cancel stores nothing, changes nothing
  EXPECT_TRUE(store_.values.empty());
  EXPECT_EQ(testing::ReadFile(file), "<a href=\"U\">\n");

  const RepairOptions remove = Type(2, true, true, true);
  const std::string report = (folder_.path() / "bad.txt").string();
  host_.export_answer = ExportChoice{report, ReportFormat::kText};
  EXPECT_EQ(Run(remove).export_result, ExportResult::kWritten);
  EXPECT_EQ(LoadRepairOptions(settings_), remove);
  EXPECT_EQ(testing::ReadFile(report),
            file + "\n   U\n      HTTP Code 404 Not Found\n      site\n");
  EXPECT_EQ(host_.messages.front(), "All URL repairs completed\n\nRows repaired: 1 in 1 page");
}

TEST(HandledRowNote, SaysWhatTheRepairDidWithTheRow) {
  const char* gone = "HTTP Code 404 Not Found";
  const char* moved = "HTTP Code 301 Moved Permanently";
  const char* error = "Error: Host Not Found";
  const char *own = "Repaired: the link now leads to its own page",
             *removed = "Repaired: its line was removed";
  RepairOptions replace_no_alternate = Type(1);
  replace_no_alternate.useAlternateUrl = false;
  const struct {
    const char* name;
    std::uint32_t marks;
    RepairOptions options;
    const char* note;
    const char* reason = "HTTP Code 404 Not Found";
    const char* alternate = "";
    bool resource = false;
    bool checked = true;
  } cases[] = {
      {"not handled", 0, Type(0), ""},
      {"only its file finished", kFileOnly, Type(0), ""},
      {"unticked", 1, Type(2), "Left as it is: not ticked for the repair", gone, "", false, false},
      {"disabled", 1, Type(0), "Repaired: its line was put inside a comment"},
      {"removed", kDoneFirst, Type(2), removed},
      {"moved, to its alternate", 1, Type(1), "Repaired: the link now leads to its Alternate URL",
       moved, "https://new.test/"},
      {"moved, alternate not asked for", 1, replace_no_alternate, own, moved, "https://new.test/"},
      {"moved, alternate no plain URL", 1, Type(1), own, moved, "https://new.test/<x>"},
      {"moved, a script alternate", 0, Type(1),
       "Left as it is by a repair: its Alternate URL is no http, https or ftp URL a repair may "
       "write",
       moved, "javascript://x%0Aalert(1)"},
      {"moved, a good alternate, not repaired yet", 0, Type(1), "", moved, "https://new.test/"},
      {"gone, replaced", 1, Type(1), own, gone, "https://new.test/"},
      {"error passed over", 1, Type(2),
       "Left as it is: the repair passes over errors that are not HTTP codes", error},
      {"error removed when asked", 1, Type(2, true, false), removed, error},
      {"an image is not replaced", 1, Type(1),
       "Left as it is: nothing stands in for what a page loads", gone, "", true},
      {"an image's line is removed", 1, Type(2), removed, gone, "", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ResultList rows;
    rows.AppendResultRow("https://old.test/", 3, c.resource);
    rows.SetResultColumn(ResultColumn::kReason, c.reason);
    rows.SetResultColumn(ResultColumn::kAlternateUrl, c.alternate);
    rows.SetChecked(0, c.checked);
    rows.SetData(0, c.marks);
    EXPECT_EQ(HandledRowNote(rows.row(0), c.options), c.note);
  }
}

TEST(RepairOptions, LoadingStoringAndEnabling) {
  MemoryConfigStore store;
  SettingsStore settings(store);
  EXPECT_EQ(LoadRepairOptions(settings), RepairOptions{});
  for (const char* stored : {"3", "-1", "x"}) {
    settings.SetString("Repair", "Type", stored);
    EXPECT_EQ(LoadRepairOptions(settings).type, RepairType::kDisableLine) << stored;
  }
  StoreRepairOptions(settings,
                     RepairOptions{RepairType::kReplaceUrl, false, false, false, false, true});
  EXPECT_EQ(store.values, (std::map<std::pair<std::string, std::string>, std::string>{
                              {{"Repair", "Type"}, "1"},
                              {{"Repair", "Save"}, "0"},
                              {{"Repair", "302"}, "0"},
                              {{"Repair", "Preserve"}, "0"},
                              {{"Repair", "Purge"}, "1"},
                              {{"Repair", "Ignore"}, "0"}}));
  const RepairControlsEnabled enabled[] = {
      {false, false, false, false}, {false, true, true, true}, {true, false, false, false}};
  for (int type = 0; type < 3; ++type)
    EXPECT_EQ(EnabledRepairControls(static_cast<RepairType>(type)), enabled[type]) << type;
}

}  // namespace
}  // namespace quimbel
