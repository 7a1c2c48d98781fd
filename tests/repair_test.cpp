#include <gtest/gtest.h>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

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
  RepairOptions options;
  options.type = static_cast<RepairType>(type);
  options.preserveAsComment = preserve;
  options.skipNonHttp = skip_errors;
  options.removeComments = purge;
  return options;
}

std::string Disabled(const std::string& text) {
  return "<!-- QUIMBEL COMMENT " + text + "-->";
}

// A row's file was rewritten (its high half), the row itself repaired (low).
constexpr std::uint32_t kDone = 1, kDoneFirst = 0x00010001, kFileOnly = 0x00010000;
// A row the repair looked at and passed over, as its options ask.
constexpr std::uint32_t kLeftFirst = 0x00010002;

class RepairTest : public ::testing::Test {
 protected:
  RepairTest() : settings_(store_) {}

  void AddRows(const std::vector<Listed>& listed, const std::string& file) {
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
  bool Repair(const RepairOptions& options) {
    host_.options_answer = options;
    return RunRepairCommand(rows_, false, settings_, host_).completed;
  }

  testing::TempFolder folder_;
  MemoryConfigStore store_;
  SettingsStore settings_;
  ResultList rows_;
  testing::RecordingRepairHost host_;
};

TEST_F(RepairTest, OneFileRewrites) {
  const std::string L = "<a href=\"U\">x</a>", moved = "HTTP Code 301 Moved Permanently";
  const std::string can_not = "Error: Can't Connect to Host";
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
      Case("type 0", L + "\n", Type(0), Disabled(L) + "\n"),
      Case("type 1 with the marker", L + "\n", Type(1),
           "<a href=\"links.htm\">x</a>" + Disabled("U") + "\n"),
      Case("type 1, 301 to its alternate", L + "\n", Type(1, false),
           "<a href=\"http://a.test/\">x</a>\n", {{"U", moved, "http://a.test/"}}),
      Case("type 1, 308 to its alternate", L + "\n", Type(1, false),
           "<a href=\"https://a.test/\">x</a>\n",
           {{"U", "HTTP Code 308 Permanent Redirect", "https://a.test/"}}),
      // A server's Location that is no http, https or ftp URL leaves the
      // row alone: a script or a local file must never become the link.
      Case("type 1, a hostile alternate leaves the row alone", L + "\n", Type(1, false), L + "\n",
           {{"U", "HTTP Code 302 Moved Temporarily", "http://a.test/\"><script>x()</script>"}},
           {kFileOnly}),
      Case("type 1, a script alternate leaves the row alone", L + "\n", Type(1, false), L + "\n",
           {{"U", moved, "javascript://x%0Aalert(document.cookie)"}}, {kFileOnly}),
      Case("type 1, vbscript and file alternates too", L + "\nV\nF\n", Type(1, false),
           L + "\nV\nF\n",
           {{"U", moved, "vbscript://x"},
            {"V", moved, "file:///etc/passwd"},
            {"F", moved, "http://a b/"}},
           {kFileOnly, 0, 0}),
      Case("type 1, 301 without an alternate takes the file name", L + "\n", Type(1, false),
           "<a href=\"links.htm\">x</a>\n", {{"U", moved, ""}}),
      Case("type 2", "a\n" + L + "\nb\n", Type(2), "a\nb\n"),
      // Nothing stands in for a missing image: its line is disabled or
      // removed, never rewritten to point at the page.
      Case("type 1 leaves a resource's line", "<img src=\"i.png\">\n", Type(1, true, false),
           "<img src=\"i.png\">\n", {image}, {kLeftFirst}),
      Case("type 0 disables a resource's line", "<img src=\"i.png\">\n", Type(0, true, false),
           Disabled("<img src=\"i.png\">") + "\n", {image}),
      // Nothing in style text is rewritten: a comment or a removed line
      // there would break the style sheet; a URL written escaped is not
      // even looked for.
      Case("a style sheet's reference is left alone", "p { x: url(U) }\nq { y: url(a\\2e png) }\n",
           Type(2), "p { x: url(U) }\nq { y: url(a\\2e png) }\n",
           {Listed{"U", "HTTP Code 404 Not Found", "", true, "", true, LinkKind::kCss},
            Listed{"a.png", "HTTP Code 404 Not Found", "", true, "", true, LinkKind::kCss}},
           {kLeftFirst, 2}),
      // Passing over what is no HTTP code passes over local links too.
      Case("a local row is left alone with non-HTTP rows", "<img src=\"i.png\">\n", Type(0),
           "<img src=\"i.png\">\n", {image}, {kLeftFirst}),
      Case("untouched lines byte for byte, CR LF kept", "x\r\n" + L + "\r\ny \t\r\n", Type(0),
           "x\r\n" + Disabled(L) + "\r\ny \t\r\n"),
      Case("a last line without a line end gains one", "a\r\n" + L, Type(0),
           "a\r\n" + Disabled(L) + "\r\n"),
      Case("the same URL twice", L + "\n" + L + "\n", Type(2), "", {{"U"}, {"U"}},
           {kDoneFirst, kDone}),
      Case("an unchecked row consumes no line", "<a href=\"V\">\n<a href=\"W\">\n", Type(2),
           "<a href=\"V\">\n", {{"V", "HTTP Code 404 Not Found", "", false}, {"W"}},
           {kDoneFirst, kDone}),
      Case("non-HTTP rows are left alone", L + "\n", Type(0), L + "\n", {{"U", can_not}},
           {kLeftFirst}),
      Case("... or repaired when asked", L + "\n", Type(0, true, false), Disabled(L) + "\n",
           {{"U", "Error: UNKNOWN Error!"}}),
      Case("a prefix matches inside a longer URL", "<a href=\"http://a.test/x/y\">\n", Type(1),
           "<a href=\"links.htm/y\">" + Disabled("http://a.test/x") + "\n", {{"http://a.test/x"}}),
      Case("comments before the close are kept", "a --> b <!-- c --> U\n",
           Type(1, false, true, true), "a --> b <!-- c --> links.htm\n"),
      Case("one-line comments go", "<!-- old --><a href=\"U\"><!--x-->\n",
           Type(1, false, true, true), "<a href=\"links.htm\">\n"),
      Case("a URL only inside a comment leaves the comment-free line", "a<!-- U -->b\n",
           Type(1, false, true, true), "ab\n"),
      Case("a skipped last line keeps its missing line end", "top\r\n" + L, Type(0), "top\r\n" + L,
           {{"U", can_not}}, {kLeftFirst}),
      Case("two URLs on one line: the second is not found", "<a href=\"P\"><a href=\"Q\">\nz\n",
           Type(2), "z\n", {{"P"}, {"Q"}}, {kDone, 0}, false),
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::TempFolder folder;
    const std::string file = folder.Write("links.htm", c.before);
    rows_.Clear();
    AddRows(c.rows, file);
    host_.messages.clear();
    EXPECT_EQ(Repair(c.options), c.success);
    EXPECT_EQ(testing::ReadFile(file), c.after);
    EXPECT_EQ(testing::ReadFile(folder.path() / "links.rep"), c.before);
    EXPECT_EQ(RowMarks(), c.marks);
    // Only the page and its backup remain: no temporary copy anywhere.
    EXPECT_EQ(testing::FolderEntries(folder.path()),
              (std::vector<std::string>{"links.htm", "links.rep"}));
    ASSERT_EQ(host_.messages.size(), 1u);
    if (c.success) {
      // Every row rewritten, or the count of those passed over.
      const bool all = std::none_of(c.marks.begin(), c.marks.end(), [](std::uint32_t mark) {
        return (mark & 0xFFFF) == kRowLeftAlone || mark == kFileOnly;
      });
      EXPECT_EQ(host_.messages[0].rfind(all ? "All URL repairs completed\n\nRows repaired: "
                                            : "URL repairs completed, not all\n\nRows repaired: ",
                                        0),
                0u)
          << host_.messages[0];
    } else {
      EXPECT_EQ(host_.messages[0],
                "We looked in file\n" + file + "\nbut could not file the URL\nQ");
    }
  }
}

TEST_F(RepairTest, SharedBackupAndResumeAfterAFailure) {
  const std::string htm = folder_.Write("a.htm", "<a href=\"U1\">\n");
  const std::string html = folder_.Write("a.html", "<a href=\"U2\">\nkeep\n");
  const std::string other = folder_.Write("b.htm", "<a href=\"U3\">\n");
  AddRows({{"U1", "HTTP Code 404 Not Found", "", true, htm},
           {"U2", "HTTP Code 404 Not Found", "", true, html},
           {"U3", "HTTP Code 404 Not Found", "", true, other},
           {"U4", "HTTP Code 404 Not Found", "", true, other}},
          "");
  EXPECT_FALSE(Repair(Type(2)));
  // a.htm and a.html share a.rep, which holds a.htm as it was.
  EXPECT_EQ(testing::ReadFile(folder_.path() / "a.rep"), "<a href=\"U1\">\n");
  EXPECT_EQ(testing::ReadFile(htm), "");
  EXPECT_EQ(testing::ReadFile(html), "keep\n");
  EXPECT_EQ(testing::ReadFile(other), "");  // what was repaired before the failure took effect
  EXPECT_EQ(RowMarks(), (Marks{kDoneFirst, kDoneFirst, kDone, 0}));
  EXPECT_EQ(host_.failures, (std::vector<std::string>{other + " | U4"}));

  // The user mends the file and repairs again: done rows and completed
  // files are passed over, and the backup is left as it was.
  std::ofstream(other) << "<a href=\"U4\">\nend\n";
  EXPECT_TRUE(Repair(Type(2)));
  EXPECT_EQ(testing::ReadFile(other), "end\n");
  EXPECT_EQ(testing::ReadFile(folder_.path() / "b.rep"), "<a href=\"U3\">\n");
  EXPECT_EQ(RowMarks(), (Marks{kDoneFirst, kDoneFirst, kDoneFirst, kDone}));
  // The resumed repair counts what it did itself.
  EXPECT_EQ(host_.messages.back(), "All URL repairs completed\n\nRows repaired: 1 in 1 page");
}

TEST_F(RepairTest, AStopEndsBetweenFilesAndAFailedWriteMarksNothing) {
  const std::string a = folder_.Write("a.htm", "<a href=\"U1\">\n");
  const std::string b = folder_.Write("b.htm", "<a href=\"U2\">\nkeep\n");
  AddRows({{"U1", "HTTP Code 404 Not Found", "", true, a},
           {"U2", "HTTP Code 404 Not Found", "", true, b}},
          "");
  host_.stop_after_files = 0;
  host_.options_answer = Type(2);
  const RepairOutcome stopped = RunRepairCommand(rows_, false, settings_, host_);
  EXPECT_TRUE(stopped.stopped);
  EXPECT_FALSE(stopped.completed);
  EXPECT_EQ(testing::ReadFile(a), "");
  EXPECT_EQ(testing::ReadFile(b), "<a href=\"U2\">\nkeep\n");
  EXPECT_EQ(RowMarks(), (Marks{kDoneFirst, 0}));
  EXPECT_TRUE(host_.failures.empty());

  // The disk fills while b.htm is written: its row is not handled.
  host_.stop_after_files = 1 << 30;
  testing::InjectedFault full(testing::FaultAt::kWrite, ENOSPC, 0);
  EXPECT_FALSE(Repair(Type(2)));
  EXPECT_EQ(testing::ReadFile(b), "<a href=\"U2\">\nkeep\n");
  EXPECT_EQ(RowMarks(), (Marks{kDoneFirst, 0}));
  ASSERT_EQ(host_.reasons.size(), 1u);
  EXPECT_EQ(host_.reasons[0], "Cannot replace " + b + ": No space left on device");
}

// A repair acts only on the page that was checked: while another repair
// holds it, and after another repair (or the author) changed it, the page
// is left alone with a message, and its backup stays the page as checked.
TEST_F(RepairTest, ARepairActsOnlyOnThePageThatWasChecked) {
  const std::string before = "<p>one</p>\n<a href=\"U\">bad</a>\n<p>three</p>\n";
  const std::string page = folder_.Write("big.htm", before);
  const PageIdentity checked = MappedFile::Open(page)->identity();
  const std::string repaired =
      "<p>one</p>\n" + Disabled("<a href=\"U\">bad</a>") + "\n<p>three</p>\n";
  const RepairRequest request{"U", "HTTP Code 404 Not Found", ""};

  RepairSession first, second;
  second.SetLockWait(std::chrono::milliseconds(100));
  ASSERT_TRUE(first.BeginFileRepair(page, nullptr, &checked).ok());
  // Locked by the first: the second waits, then gives up.
  const Status locked = second.BeginFileRepair(page, nullptr, &checked);
  EXPECT_EQ(locked.error(), EBUSY);
  EXPECT_EQ(locked.message(), page + " is locked by another program; repair it again later");
  ASSERT_EQ(first.RepairLine(request, page, Type(0)), LineRepair::kDone);
  ASSERT_TRUE(first.FinishFileRepair().ok());
  EXPECT_EQ(testing::ReadFile(page), repaired);
  // The page is no longer what the second run checked.
  const Status changed = second.BeginFileRepair(page, nullptr, &checked);
  EXPECT_EQ(changed.error(), ESTALE);
  EXPECT_EQ(changed.message(), page + " changed since it was checked; check it again");
  EXPECT_EQ(testing::ReadFile(page), repaired);
  EXPECT_EQ(testing::ReadFile(folder_.path() / "big.rep"), before);
  EXPECT_EQ(testing::FolderEntries(folder_.path()),
            (std::vector<std::string>{"big.htm", "big.rep"}));
}

// The repair command leaves a page edited since its check unrepaired, its
// rows unhandled, repairs the others, and does not call itself complete.
TEST_F(RepairTest, APageEditedSinceItsCheckIsLeftAlone) {
  const std::string edited = folder_.Write("edited.htm", "<a href=\"U\">x</a>\n");
  const std::string kept = folder_.Write("kept.htm", "<a href=\"U\">x</a>\n");
  for (const std::string& file : {edited, kept}) {
    AddRows({{"U"}}, file);
    rows_.SetPageIdentity(file, MappedFile::Open(file)->identity());
  }
  folder_.Write("edited.htm", "<a href=\"U\">x</a>\n<p>The author's new line</p>\n");
  EXPECT_FALSE(Repair(Type(0)));
  EXPECT_EQ(testing::ReadFile(edited), "<a href=\"U\">x</a>\n<p>The author's new line</p>\n");
  EXPECT_EQ(testing::ReadFile(kept), Disabled("<a href=\"U\">x</a>") + "\n");
  EXPECT_EQ(RowMarks(), (Marks{0, kDoneFirst}));
  ASSERT_EQ(host_.messages.size(), 2u);
  EXPECT_EQ(host_.messages[0], edited + " changed since it was checked; check it again");
  // Never "All URL repairs completed" for a page left alone.
  EXPECT_EQ(host_.messages[1],
            "URL repairs completed, not all\n\nRows repaired: 1 in 1 page\nPages left alone: 1");

  // A backup that a check of all files listed is never rewritten: it is
  // the only copy of the page as it was.
  const std::string backup = folder_.Write("kept.rep", "<a href=\"U\">x</a>\n");
  rows_.Clear();
  AddRows({{"U"}}, backup);
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
  struct Case {
    std::string file;
    std::optional<testing::FaultAt> fault;
    const char* reason;
  };
  for (const Case& c : {Case{full, testing::FaultAt::kCreate, "No space left on device"},
                        Case{full, testing::FaultAt::kWrite, "No space left on device"},
                        Case{full, testing::FaultAt::kInstall, "No space left on device"},
                        Case{read_only, std::nullopt, "the file is read-only"},
                        Case{gone, std::nullopt, "not a readable regular file"}}) {
    SCOPED_TRACE(c.file + " " + c.reason);
    std::optional<testing::InjectedFault> injected;
    if (c.fault) injected.emplace(*c.fault, ENOSPC);
    rows_.Clear();
    AddRows({{"U"}, {"V"}}, c.file);
    host_.failures.clear();
    host_.reasons.clear();
    host_.ignore_failed_row = true;
    EXPECT_FALSE(Repair(Type(0)));
    ASSERT_EQ(host_.failures.size(), 1u);
    EXPECT_EQ(host_.failures[0].rfind(c.file + " | ", 0), 0u);
    EXPECT_NE(host_.reasons[0].find(c.reason), std::string::npos) << host_.reasons[0];
    // No row counts as handled, and the user chose to drop one of them.
    ASSERT_EQ(rows_.size(), 1u);
    EXPECT_EQ(RowMarks(), (Marks{0}));
  }
  EXPECT_EQ(testing::ReadFile(full), page);
  EXPECT_EQ(testing::ReadFile(read_only), page);
  EXPECT_FALSE(fs::exists(gone));
  // Only the pages and the backup of the one that could be read remain.
  EXPECT_EQ(testing::FolderEntries(folder_.path()),
            (std::vector<std::string>{"full.htm", "ro.htm"}));
  EXPECT_FALSE(host_.backup_failures.empty());

  if (::geteuid() != 0) {  // the superuser writes into any folder
    const std::string locked = folder_.Write("locked/page.htm", "<a href=\"U\">\n");
    fs::permissions(folder_.path() / "locked", fs::perms::owner_read | fs::perms::owner_exec);
    rows_.Clear();
    AddRows({{"U"}}, locked);
    EXPECT_FALSE(Repair(Type(0)));
    EXPECT_EQ(testing::ReadFile(locked), "<a href=\"U\">\n");
  }
}

// A crawled page's file, named through the server, is written only inside
// the site's folder: a link there that leads out leaves the page alone,
// unwritten and without a backup, while a link to elsewhere inside works.
TEST_F(RepairTest, ACrawledPagesFileStaysInsideTheSiteRoot) {
  const std::string page = "<a href=\"U\">\n";
  testing::TempFolder outside;
  const fs::path root = folder_.path() / "site";
  const std::string beyond = outside.Write("page.htm", page);
  const std::string inner = folder_.Write("site/real/page.htm", page);
  fs::create_symlink(outside.path(), root / "out");
  fs::create_symlink(beyond, root / "link.htm");
  fs::create_symlink(root / "real", root / "alias");
  struct Case {
    std::string file;
    bool repaired;
  };
  for (const Case& c :
       {Case{(root / "out/page.htm").string(), false}, Case{(root / "link.htm").string(), false},
        Case{(root / "alias/page.htm").string(), true}}) {
    SCOPED_TRACE(c.file);
    rows_.Clear();
    AddRows({{"U"}}, "http://site.test/page.htm");
    rows_.SetTarget(0, "http://site.test/page.htm");
    rows_.SetSource(0, c.file, {});
    rows_.SetSourceRoot(root.string());
    host_.messages.clear();
    EXPECT_EQ(Repair(Type(0)), c.repaired);
    EXPECT_EQ(RowMarks(), (Marks{c.repaired ? kDoneFirst : 0}));
    if (!c.repaired) {
      ASSERT_EQ(host_.messages.size(), 2u);
      EXPECT_NE(host_.messages[0].find(c.file + " leads out of " + root.string()),
                std::string::npos)
          << host_.messages[0];
    }
  }
  EXPECT_EQ(testing::ReadFile(beyond), page);
  EXPECT_EQ(testing::FolderEntries(outside.path()), (std::vector<std::string>{"page.htm"}));
  EXPECT_EQ(testing::ReadFile(inner), Disabled("<a href=\"U\">") + "\n");
  EXPECT_TRUE(fs::exists(root / "real/page.rep"));
}

// Both rewrites of a page in place, the repair's and the purge's, keep its
// owner and its group, each whether or not the other is ours.
TEST_F(RepairTest, OwnerAndGroupSurviveEveryRewrite) {
  // A group other than ours: any, for the superuser; else one we are in.
  gid_t other_group = 4322;
  if (::geteuid() != 0) {
    gid_t groups[64];
    const int count = ::getgroups(64, groups);
    other_group = ::getegid();
    for (int i = 0; i < count; ++i)
      if (groups[i] != ::getegid()) other_group = groups[i];
    if (other_group == ::getegid()) GTEST_SKIP() << "no second group to give a file";
  }
  const std::pair<uid_t, gid_t> owners[] = {
      {::geteuid(), other_group}, {4321, ::getegid()}, {4321, other_group}};
  for (const auto& [uid, gid] : owners) {
    if (uid != ::geteuid() && ::geteuid() != 0) continue;  // only the superuser gives a file away
    SCOPED_TRACE(std::to_string(uid) + ":" + std::to_string(gid));
    const std::string repaired = folder_.Write("r.htm", "<a href=\"U\"><!-- c -->\n");
    const std::string purged = folder_.Write("p.htm", "<a href=\"U\"><!-- c -->\n");
    ASSERT_EQ(::chown(repaired.c_str(), uid, gid), 0);
    ASSERT_EQ(::chown(purged.c_str(), uid, gid), 0);
    rows_.Clear();
    AddRows({{"U"}}, repaired);
    ASSERT_TRUE(Repair(Type(0)));
    ASSERT_TRUE(PurgeFileComments(purged).rewritten);
    for (const std::string& file : {repaired, purged}) {
      struct stat status {};
      ::stat(file.c_str(), &status);
      EXPECT_EQ(status.st_uid, uid) << file;
      EXPECT_EQ(status.st_gid, gid) << file;
    }
    fs::remove(folder_.path() / "r.rep");
  }
}

TEST_F(RepairTest, QuestionsOptionsAndTheExportAfterRemoval) {
  const std::string file = folder_.Write("p.htm", "<a href=\"U\">\n");
  AddRows({{"U"}}, file);
  host_.prompter.answers = {false};
  EXPECT_FALSE(RunRepairCommand(rows_, true, settings_, host_).completed);
  EXPECT_EQ(host_.prompter.questions,
            (std::vector<std::string>{std::string(kUnknownErrorRepairQuestion)}));
  EXPECT_TRUE(host_.options_shown_with.empty());

  host_.options_answer = std::nullopt;  // Cancel stores nothing, changes nothing
  EXPECT_FALSE(RunRepairCommand(rows_, false, settings_, host_).completed);
  EXPECT_TRUE(store_.values.empty());
  EXPECT_EQ(testing::ReadFile(file), "<a href=\"U\">\n");

  const RepairOptions remove = Type(2, true, true, true);
  host_.options_answer = remove;
  const std::string report = (folder_.path() / "bad.txt").string();
  host_.export_answer = ExportChoice{report, ReportFormat::kText};
  EXPECT_EQ(RunRepairCommand(rows_, false, settings_, host_).export_result, ExportResult::kWritten);
  EXPECT_EQ(LoadRepairOptions(settings_), remove);
  EXPECT_EQ(testing::ReadFile(report),
            file + "\n   U\n      HTTP Code 404 Not Found\n      site\n");
  EXPECT_EQ(host_.messages.front(), "All URL repairs completed\n\nRows repaired: 1 in 1 page");
}

TEST(HandledRowNote, SaysWhatTheRepairDidWithTheRow) {
  struct Case {
    const char* name;
    std::uint32_t marks;
    bool checked;
    const char* reason;
    const char* alternate;
    bool resource;
    RepairOptions options;
    std::string note;
  };
  const RepairOptions disable{};
  const RepairOptions replace{RepairType::kReplaceUrl};
  const RepairOptions remove{RepairType::kRemoveLine};
  RepairOptions replace_no_alternate = replace;
  replace_no_alternate.useAlternateUrl = false;
  RepairOptions errors_too = remove;
  errors_too.skipNonHttp = false;
  const char* gone = "HTTP Code 404 Not Found";
  const char* moved = "HTTP Code 301 Moved Permanently";
  const char* error = "Error: Host Not Found";
  const Case cases[] = {
      {"not handled", 0, true, gone, "", false, disable, ""},
      {"only its file finished", 0x00010000, true, gone, "", false, disable, ""},
      {"unticked", 1, false, gone, "", false, remove, "Left as it is: not ticked for the repair"},
      {"disabled", 1, true, gone, "", false, disable,
       "Repaired: its line was put inside a comment"},
      {"removed", 0x00010001, true, gone, "", false, remove, "Repaired: its line was removed"},
      {"moved, to its alternate", 1, true, moved, "https://new.test/", false, replace,
       "Repaired: the link now leads to its Alternate URL"},
      {"moved, alternate not asked for", 1, true, moved, "https://new.test/", false,
       replace_no_alternate, "Repaired: the link now leads to its own page"},
      {"moved, alternate no plain URL", 1, true, moved, "https://new.test/<x>", false, replace,
       "Repaired: the link now leads to its own page"},
      {"moved, a script alternate", 0, true, moved, "javascript://x%0Aalert(1)", false, replace,
       "Left as it is by a repair: its Alternate URL is no http, https or ftp URL a repair may "
       "write"},
      {"moved, a good alternate, not repaired yet", 0, true, moved, "https://new.test/", false,
       replace, ""},
      {"gone, replaced", 1, true, gone, "https://new.test/", false, replace,
       "Repaired: the link now leads to its own page"},
      {"error passed over", 1, true, error, "", false, remove,
       "Left as it is: the repair passes over errors that are not HTTP codes"},
      {"error removed when asked", 1, true, error, "", false, errors_too,
       "Repaired: its line was removed"},
      {"an image is not replaced", 1, true, gone, "", true, replace,
       "Left as it is: nothing stands in for what a page loads"},
      {"an image's line is removed", 1, true, gone, "", true, remove,
       "Repaired: its line was removed"},
  };
  for (const Case& c : cases) {
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
  EXPECT_EQ(EnabledRepairControls(static_cast<RepairType>(0)),
            (RepairControlsEnabled{false, false, false, false}));
  EXPECT_EQ(EnabledRepairControls(static_cast<RepairType>(1)),
            (RepairControlsEnabled{false, true, true, true}));
  EXPECT_EQ(EnabledRepairControls(static_cast<RepairType>(2)),
            (RepairControlsEnabled{true, false, false, false}));
}

}  // namespace
}  // namespace quimbel
