// Keep Checking: pages of the last test checked again as they are saved.
// The rows after each change must be exactly those a fresh test lists.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/run_controller.h"
#include "platform/inotify_watch.h"
#include "platform/memory_config_store.h"
#include "repair/repair_engine.h"
#include "tests/controller_harness.h"
#include "tests/recording_repair_host.h"
#include "tests/scripted_server.h"
#include "tests/temp_folder.h"

namespace quimbel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct Row {
  std::string file, url, reason, site, alternate;
  std::uint32_t line = 0;
  bool operator==(const Row&) const = default;
};

void PrintTo(const Row& r, std::ostream* out) {
  *out << "{" << r.file << ":" << r.line << " " << r.url << " | " << r.reason << " | " << r.site
       << " | " << r.alternate << "}";
}

std::vector<Row> RowsOf(const ResultList& list) {
  std::vector<Row> rows;
  for (const ResultRow& r : list.rows()) {
    const auto text = [&](ResultColumn column) { return std::string(r.text(column)); };
    rows.push_back({text(ResultColumn::kFileName), text(ResultColumn::kUrl),
                    text(ResultColumn::kReason), text(ResultColumn::kSiteName),
                    text(ResultColumn::kAlternateUrl), r.line});
  }
  return rows;
}

// Follows the list as a view does, and fails on a notice that does not fit.
class CountingObserver : public ResultListObserver {
 public:
  void RowsAboutToBeInserted(std::size_t first, std::size_t last) override {
    EXPECT_LE(first, size);
    pending = static_cast<long>(last - first + 1);
    inserted_at.push_back(first);
  }
  void RowsInserted() override { size += static_cast<std::size_t>(pending); }
  void RowChanged(std::size_t row) override {
    EXPECT_LT(row, size);
    ++changed;
  }
  void RowsAboutToBeRemoved(std::size_t first, std::size_t last) override {
    EXPECT_LT(last, size);
    pending = static_cast<long>(last - first + 1);
    removed_at.push_back(first);
  }
  void RowsRemoved() override { size -= static_cast<std::size_t>(pending); }

  std::size_t size = 0;
  long pending = 0;
  int changed = 0;
  std::vector<std::size_t> inserted_at, removed_at;
};

// A watch that the test drives by posting changes itself.
class FakeWatch : public FileWatch {
 public:
  bool Add(const std::string& path) override {
    added.push_back(path);
    return true;
  }
  void Clear() override { ++clears; }
  std::vector<std::string> added;
  int clears = 0;
};

std::string Link(const std::string& url, const std::string& text = "t") {
  return "<a href=\"" + url + "\">" + text + "</a>\n";
}

class WatchTest : public testing::ControllerHarness {
 protected:
  WatchTest() {
    controller_->settings().timeout = 2s;
    controller_->settings().keep_outcomes = true;
  }
  // The watches are the test's, and go before the controller does.
  ~WatchTest() override { controller_->StopWatch(); }

  std::string Page(const std::string& name) const { return (site_.path() / name).string(); }
  std::string Server(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(server_.port()) + path;
  }

  static RunScope Tree() { return {true, true, ExtensionFilter::kHtmlOnly}; }

  void TestSite() {
    controller_->StartTest(site_.path().string(), Tree());
    ASSERT_TRUE(RunToEnd());
    observer_.size = controller_->results().size();
    controller_->results().SetObserver(&observer_);
  }

  // What a test of the site lists now, run beside the watched one.
  std::vector<Row> FreshRows() {
    testing::RecordingHost host(loop_);
    std::unique_ptr<RunController> fresh;
    LoopPoster poster(loop_, [&fresh](const WorkerMessage& m) { fresh->HandleMessage(m); });
    fresh = std::make_unique<RunController>(host, poster);
    host.on_timer = [&fresh](int id) { fresh->OnTimer(id); };
    fresh->SetUp();
    fresh->settings().timeout = 2s;
    fresh->StartTest(site_.path().string(), Tree());
    EXPECT_TRUE(RunUntil([&fresh] { return !fresh->running(); }));
    return RowsOf(fresh->results());
  }

  std::size_t ChecksLogged(const std::string& page = "") const {
    std::size_t count = 0;
    const std::string text = "Checked again: " + page;
    for (auto at = host_.log.find(text); at != std::string::npos; at = host_.log.find(text, at + 1))
      ++count;
    return count;
  }
  // Waits for `count` more check lines (of `page`, when named) and every
  // probe they wait for.
  bool WaitForChecks(std::size_t count, const std::string& page = "") {
    const std::size_t target = ChecksLogged(page) + count;
    return RunUntil(
        [&] { return ChecksLogged(page) >= target && controller_->watch().pages_checking() == 0; });
  }
  void Changed(const std::string& path) { poster_.Post({MessageId::kPathChanged, 0, 0, path, {}}); }

  testing::TempFolder site_;
  testing::ScriptedServer server_;
  CountingObserver observer_;
  FakeWatch watch_;
  InotifyWatch inotify_{poster_};
};

TEST(ResultListReplace, RowsChangeInPlaceAndTheDifferenceComesOrGoesAfterThem) {
  struct Case {
    std::size_t first, count, fresh;
    std::vector<std::string> after;
    int changed;
  };
  const Case cases[] = {
      {1, 2, 2, {"a", "x0", "x1", "d"}, 2},            // as many
      {1, 2, 3, {"a", "x0", "x1", "x2", "d"}, 2},      // one more
      {1, 2, 0, {"a", "d"}, 0},                        // all gone
      {4, 0, 2, {"a", "b", "c", "d", "x0", "x1"}, 0},  // none before, at the end
      {0, 3, 1, {"x0", "d"}, 1},                       // fewer, at the start
  };
  for (const Case& c : cases) {
    ResultList list;
    for (const char* url : {"a", "b", "c", "d"})
      list.AppendResultRow(url);
    CountingObserver observer;
    observer.size = list.size();
    list.SetObserver(&observer);
    std::vector<ResultRow> rows(c.fresh);
    for (std::size_t i = 0; i < rows.size(); ++i)
      rows[i].texts.SetUrl("x" + std::to_string(i));
    if (!rows.empty()) rows.front().code = 301;
    list.ReplaceRows(c.first, c.count, std::move(rows));
    std::vector<std::string> urls;
    for (const ResultRow& row : list.rows())
      urls.push_back(std::string(row.url()));
    EXPECT_EQ(urls, c.after) << c.first << "+" << c.count;
    EXPECT_EQ(observer.size, list.size());
    EXPECT_EQ(observer.changed, c.changed);
    EXPECT_EQ(list.moves(), c.fresh > 0 ? 1u : 0u);
  }
}

// A save that adds or removes a link above others inserts or removes just
// that row: the rows of the links still there stay theirs, so a view's
// selection follows its link (a view moves it with the inserted rows).
TEST(ResultListReplace, TheRowsOfLinksStillThereStayTheirs) {
  struct Case {
    std::vector<std::string> fresh;
    std::vector<std::size_t> inserted_at, removed_at;
    int changed;
  };
  const Case cases[] = {
      {{"a", "n", "b", "c", "d"}, {1}, {}, 4},  // one added near the top
      {{"a", "c", "d"}, {}, {1}, 3},            // one removed near the top
      {{"n", "a", "b", "c", "d"}, {0}, {}, 4},  // one added first
      {{"a", "b", "c", "d", "n"}, {4}, {}, 4},  // one added last
      {{"a", "x", "c", "d"}, {}, {}, 4},        // one edited where it stands
  };
  for (const Case& c : cases) {
    ResultList list;
    for (const char* url : {"a", "b", "c", "d"})
      list.AppendResultRow(url);
    CountingObserver observer;
    observer.size = list.size();
    list.SetObserver(&observer);
    std::vector<ResultRow> rows(c.fresh.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
      rows[i].texts.SetUrl(c.fresh[i]);
      rows[i].line = static_cast<std::uint32_t>(i + 10);  // lines move with the edit
    }
    list.ReplaceRows(0, 4, std::move(rows));
    std::vector<std::string> urls;
    for (const ResultRow& row : list.rows())
      urls.push_back(std::string(row.url()));
    EXPECT_EQ(urls, c.fresh);
    EXPECT_EQ(observer.inserted_at, c.inserted_at) << c.fresh.size();
    EXPECT_EQ(observer.removed_at, c.removed_at);
    EXPECT_EQ(observer.changed, c.changed);
    EXPECT_EQ(list.row(list.size() - 1).line, c.fresh.size() + 9);
  }
}

// Each edit, made after a test of the site, and the change the watch
// reports for it: the rows then are a fresh test's.
TEST_F(WatchTest, EachEditListsWhatAFreshTestWould) {
  struct Edit {
    const char* what;
    std::function<std::string(const testing::TempFolder&)> make;  // the path that changed
    std::size_t checks;                                           // pages checked again
  };
  const std::vector<Edit> edits = {
      {"a broken local link added",
       [](const testing::TempFolder& site) {
         return site.Write("a.html", Link("b.html#x") + Link("gone.html") + Link("nope.html"));
       },
       1},
      {"the page's rows all go",
       [](const testing::TempFolder& site) { return site.Write("a.html", Link("b.html#x")); }, 1},
      {"a page with no rows gets one, in its place",
       [](const testing::TempFolder& site) {
         return site.Write("b.html", "<p id=x>\n" + Link("missing.html"));
       },
       1},
      {"an id renamed breaks a link on another page",
       [](const testing::TempFolder& site) {
         return site.Write("b.html", "<p id=y>\n" + Link("missing.html"));
       },
       2},
      {"a new page in the folder",
       [](const testing::TempFolder& site) {
         site.Write("ab.html", Link("no-such.html"));
         return site.path().string();
       },
       1},
      {"a page removed: links to it break",
       [](const testing::TempFolder& site) {
         fs::remove(site.path() / "b.html");
         return site.path().string();
       },
       2},
  };
  site_.Write("a.html", Link("b.html#x") + Link("gone.html"));
  site_.Write("b.html", "<p id=x>\n");
  site_.Write("c.html", Link("a.html") + Link("lost.html"));
  TestSite();
  ASSERT_TRUE(controller_->StartWatch(watch_));
  for (const Edit& edit : edits) {
    SCOPED_TRACE(edit.what);
    Changed(edit.make(site_));
    ASSERT_TRUE(WaitForChecks(edit.checks));
    EXPECT_EQ(RowsOf(controller_->results()), FreshRows());
    EXPECT_EQ(observer_.size, controller_->results().size());
  }
  controller_->StopWatch();
  EXPECT_EQ(watch_.clears, 1);
}

TEST_F(WatchTest, NetworkLinksTakeTheTestsOutcomesAndOnlyNewOnesAreProbed) {
  server_.On("/gone", {testing::Behaviour::kReply, "HTTP/1.1 404 Not Found\r\n\r\n"});
  server_.On("/ok", {testing::Behaviour::kReply, "HTTP/1.1 200 OK\r\n\r\n"});
  server_.On("/new", {testing::Behaviour::kReply, "HTTP/1.1 410 Gone\r\n\r\n"});
  site_.Write("a.html", Link(Server("/gone")) + Link(Server("/ok")));
  TestSite();
  ASSERT_EQ(server_.Requests().size(), 2u);
  ASSERT_TRUE(controller_->StartWatch(watch_));
  Changed(
      site_.Write("a.html", Link(Server("/ok")) + Link(Server("/new")) + Link(Server("/gone"))));
  ASSERT_TRUE(WaitForChecks(1));
  const auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_NE(requests.back().find("GET /new "), std::string::npos);
  EXPECT_NE(host_.log.find("URLs tested: 3. URL errors: 2."), std::string::npos) << host_.log;
  EXPECT_EQ(RowsOf(controller_->results()), FreshRows());
}

TEST_F(WatchTest, AWatchFollowsOnlyATestOfFiles) {
  EXPECT_FALSE(controller_->StartWatch(watch_)) << "no test yet";
  site_.Write("a.html", Link("gone.html"));
  TestSite();
  EXPECT_TRUE(controller_->StartWatch(watch_));
  // The page and its folder are watched.
  EXPECT_EQ(watch_.added, (std::vector<std::string>{Page("a.html"), site_.path().string()}));
  controller_->StartTest(site_.path().string(), Tree());
  EXPECT_FALSE(controller_->watch().active()) << "a new run ends the watch";
  ASSERT_TRUE(RunToEnd());
}

// Writes `text` to `path` as an editor that saves by rename does.
void SaveByRename(const std::string& path, const std::string& text) {
  const std::string temporary = path + ".swp~";
  std::ofstream(temporary, std::ios::binary) << text;
  fs::rename(temporary, path);
}

TEST_F(WatchTest, RealSavesInPlaceAndByRenameAreFollowed) {
  struct Save {
    const char* how;
    bool by_rename;
  };
  const Save saves[] = {{"in place", false},
                        {"by rename", true},
                        {"by rename again", true},
                        {"in place after renames", false}};
  site_.Write("a.html", Link("b.html#x"));
  site_.Write("b.html", "<p id=x>\n");
  TestSite();
  ASSERT_TRUE(controller_->StartWatch(inotify_));
  int n = 0;
  for (const Save& save : saves) {
    SCOPED_TRACE(save.how);
    const std::string text = Link("b.html#x") + Link("missing-" + std::to_string(++n) + ".html");
    if (save.by_rename) {
      SaveByRename(Page("a.html"), text);
    } else {
      site_.Write("a.html", text);
    }
    ASSERT_TRUE(WaitForChecks(1, Page("a.html")));
    EXPECT_EQ(RowsOf(controller_->results()), FreshRows());
  }
  // An id renamed in b.html, saved by rename: a.html's link breaks.
  SaveByRename(Page("b.html"), "<p id=y>\n");
  ASSERT_TRUE(WaitForChecks(1, Page("a.html")));
  const auto rows = RowsOf(controller_->results());
  ASSERT_FALSE(rows.empty());
  EXPECT_EQ(rows.front().url, "b.html#x");
  EXPECT_EQ(rows.front().reason, "Local Anchor Not Found");
  EXPECT_EQ(rows, FreshRows());
}

TEST_F(WatchTest, ARepairStartsNoCheckAndItsRowsStayMarked) {
  server_.On("/gone", {testing::Behaviour::kReply, "HTTP/1.1 404 Not Found\r\n\r\n"});
  site_.Write("a.html", Link(Server("/gone")));
  site_.Write("c.html", "<p>\n");
  TestSite();
  ASSERT_TRUE(controller_->StartWatch(inotify_));
  MemoryConfigStore store;
  SettingsStore settings(store);
  testing::RecordingRepairHost repair_host;
  repair_host.options_answer = RepairOptions{};
  repair_host.options_answer->type = RepairType::kDisableLine;
  ASSERT_TRUE(RunRepairCommand(controller_->results(), false, settings, repair_host).completed);
  ASSERT_NE(testing::ReadFile(Page("a.html")).find("QUIMBEL COMMENT"), std::string::npos);
  // A real save after the repair: once it is checked, the repair's own
  // change has had every chance to start a check.
  site_.Write("c.html", Link("missing.html"));
  ASSERT_TRUE(WaitForChecks(1, Page("c.html")));
  EXPECT_EQ(ChecksLogged(Page("a.html")), 0u) << host_.log;
  ASSERT_EQ(controller_->results().size(), 2u);
  EXPECT_NE(controller_->results().row(0).RowDone(), 0u) << "the repaired row stays marked";
}

}  // namespace
}  // namespace quimbel
