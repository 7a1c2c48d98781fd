// Keep Checking: pages checked again as they are saved list exactly what a fresh test lists.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <tuple>
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

// file, line, url, reason, site, alternate
using Row =
    std::tuple<std::string, std::uint32_t, std::string, std::string, std::string, std::string>;

std::vector<Row> RowsOf(const ResultList& list) {
  std::vector<Row> rows;
  for (const ResultRow& r : list.rows()) {
    const auto text = [&](ResultColumn column) { return std::string(r.text(column)); };
    rows.emplace_back(text(ResultColumn::kFileName), r.line, text(ResultColumn::kUrl),
                      text(ResultColumn::kReason), text(ResultColumn::kSiteName),
                      text(ResultColumn::kAlternateUrl));
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
  // Waits for `count` more check lines (of `page`, when named) and the probes they wait for.
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

// Rows change in place and the difference comes or goes after them; a link added or removed
// above others inserts or removes just its row, so a view's selection follows its link.
TEST(ResultListReplace, TheRowsOfLinksStillThereStayTheirs) {
  const struct {
    const char* what;
    std::size_t first, count;
    std::vector<std::string> fresh, after;  // after: empty when all are the fresh
    std::vector<std::size_t> inserted_at, removed_at;
    int changed;
  } cases[] = {
      {"as many", 1, 2, {"x0", "x1"}, {"a", "x0", "x1", "d"}, {}, {}, 2},
      {"one more", 1, 2, {"x0", "x1", "x2"}, {"a", "x0", "x1", "x2", "d"}, {3}, {}, 2},
      {"all gone", 1, 2, {}, {"a", "d"}, {}, {1}, 0},
      {"none before, at the end", 4, 0, {"x0", "x1"}, {"a", "b", "c", "d", "x0", "x1"}, {4}, {}, 0},
      {"fewer, at the start", 0, 3, {"x0"}, {"x0", "d"}, {}, {1}, 1},
      {"one added near the top", 0, 4, {"a", "n", "b", "c", "d"}, {}, {1}, {}, 4},
      {"one removed near the top", 0, 4, {"a", "c", "d"}, {}, {}, {1}, 3},
      {"one added first", 0, 4, {"n", "a", "b", "c", "d"}, {}, {0}, {}, 4},
      {"one added last", 0, 4, {"a", "b", "c", "d", "n"}, {}, {4}, {}, 4},
      {"one edited where it stands", 0, 4, {"a", "x", "c", "d"}, {}, {}, {}, 4},
  };
  for (const auto& c : cases) {
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
    if (!rows.empty()) rows.front().code = 301;
    list.ReplaceRows(c.first, c.count, std::move(rows));
    std::vector<std::string> urls;
    for (const ResultRow& row : list.rows())
      urls.push_back(std::string(row.url()));
    SCOPED_TRACE(c.what);
    EXPECT_EQ(urls, c.after.empty() ? c.fresh : c.after);
    EXPECT_EQ(observer.size, list.size());
    EXPECT_EQ(observer.inserted_at, c.inserted_at);
    EXPECT_EQ(observer.removed_at, c.removed_at);
    EXPECT_EQ(observer.changed, c.changed);
    EXPECT_EQ(list.moves(), c.fresh.empty() ? 0u : 1u);
    if (!c.fresh.empty()) {
      EXPECT_EQ(list.row(c.first + c.fresh.size() - 1).line, c.fresh.size() + 9);
    }
  }
}

// A watch follows a test of files, Markdown pages among them; after each edit the rows are those
// a fresh test lists.
TEST_F(WatchTest, EachEditListsWhatAFreshTestWould) {
  const struct {
    const char* what;
    const char* page;
    std::optional<std::string> text;  // none: the page is removed
    bool in_folder;                   // the change reported is the folder's
    std::size_t checks;               // pages checked again
  } edits[] = {
      {"a broken local link added", "a.html",
       Link("b.html#x") + Link("gone.html") + Link("nope.html"), false, 1},
      {"the page's rows all go", "a.html", Link("b.html#x"), false, 1},
      {"a page with no rows gets one", "b.html", "<p id=x>\n" + Link("missing.html"), false, 1},
      {"an id renamed breaks a link", "b.html", "<p id=y>\n" + Link("missing.html"), false, 2},
      {"a new page in the folder", "ab.html", Link("no-such.html"), true, 1},
      {"a page removed: links to it break", "b.html", std::nullopt, true, 2},
      {"a Markdown link added", "m.md", "# Title\n\n[gone](gone.md)\n", false, 1},
      {"a Markdown heading renamed: a link into it breaks", "m.md", "# Other\n", false, 2},
  };
  EXPECT_FALSE(controller_->StartWatch(watch_)) << "no test yet";
  site_.Write("a.html", Link("b.html#x") + Link("gone.html"));
  site_.Write("b.html", "<p id=x>\n");
  site_.Write("c.html", Link("a.html") + Link("lost.html") + Link("m.md#title"));
  site_.Write("m.md", "# Title\n");
  TestSite();
  ASSERT_TRUE(controller_->StartWatch(watch_));
  EXPECT_EQ(watch_.added, (std::vector<std::string>{Page("a.html"), site_.path().string(),
                                                    Page("b.html"), Page("c.html"), Page("m.md")}));
  for (const auto& edit : edits) {
    SCOPED_TRACE(edit.what);
    if (edit.text) site_.Write(edit.page, *edit.text);
    if (!edit.text) fs::remove(Page(edit.page));
    Changed(edit.in_folder ? site_.path().string() : Page(edit.page));
    ASSERT_TRUE(WaitForChecks(edit.checks));
    EXPECT_EQ(RowsOf(controller_->results()), FreshRows());
    EXPECT_EQ(observer_.size, controller_->results().size());
  }
  controller_->StartTest(site_.path().string(), Tree());
  EXPECT_FALSE(controller_->watch().active()) << "a new run ends the watch";
  EXPECT_EQ(watch_.clears, 1);
  ASSERT_TRUE(RunToEnd());
}

TEST_F(WatchTest, NetworkLinksTakeTheTestsOutcomesAndOnlyNewOnesAreProbed) {
  server_.On("/gone", "HTTP/1.1 404 Not Found\r\n\r\n");
  server_.On("/ok", "HTTP/1.1 200 OK\r\n\r\n");
  server_.On("/new", "HTTP/1.1 410 Gone\r\n\r\n");
  site_.Write("a.html", Link(Server("/gone")) + Link(Server("/ok")));
  TestSite();
  ASSERT_EQ(server_.Requests().size(), 2u);
  ASSERT_TRUE(controller_->StartWatch(watch_));
  Changed(
      site_.Write("a.html", Link(Server("/ok")) + Link(Server("/new")) + Link(Server("/gone"))));
  ASSERT_TRUE(WaitForChecks(1));
  EXPECT_EQ(server_.Paths().size(), 3u);
  EXPECT_EQ(server_.Paths().back(), "/new");  // only the new link is probed
  EXPECT_NE(host_.log.find("URLs tested: 3. URL errors: 2."), std::string::npos) << host_.log;
  EXPECT_EQ(RowsOf(controller_->results()), FreshRows());
}

// Writes `text` to `path` in place, or as an editor that saves by rename does.
void Save(const std::string& path, const std::string& text, bool by_rename) {
  const std::string written = by_rename ? path + ".swp~" : path;
  std::ofstream(written, std::ios::binary) << text;
  if (by_rename) fs::rename(written, path);
}

// A repair's own change starts no check and its rows stay marked; real saves, in place and by
// rename, are followed.
TEST_F(WatchTest, ARepairStartsNoCheckAndRealSavesAreFollowed) {
  server_.On("/gone", "HTTP/1.1 404 Not Found\r\n\r\n");
  site_.Write("a.html", Link("b.html#x") + Link(Server("/gone")));
  site_.Write("b.html", "<p id=x>\n");
  site_.Write("c.html", "<p>\n");
  TestSite();
  ASSERT_TRUE(controller_->StartWatch(inotify_));
  MemoryConfigStore store;
  SettingsStore settings(store);
  testing::RecordingRepairHost repair_host;
  // The host's answer is the default repair: the line goes into a comment.
  ASSERT_TRUE(RunRepairCommand(controller_->results(), false, settings, repair_host).completed);
  ASSERT_NE(testing::ReadFile(Page("a.html")).find("QUIMBEL COMMENT"), std::string::npos);
  // Once a later real save is checked, the repair's own change had every chance to start one.
  site_.Write("c.html", Link("missing.html"));
  ASSERT_TRUE(WaitForChecks(1, Page("c.html")));
  EXPECT_EQ(ChecksLogged(Page("a.html")), 0u) << host_.log;
  ASSERT_EQ(controller_->results().size(), 2u);
  EXPECT_NE(controller_->results().row(0).RowDone(), 0u) << "the repaired row stays marked";

  int n = 0;
  for (const bool by_rename : {false, true, true, false}) {  // in place after renames, too
    const std::string text = Link("b.html#x") + Link("missing-" + std::to_string(++n) + ".html");
    SCOPED_TRACE(text);
    Save(Page("a.html"), text, by_rename);
    ASSERT_TRUE(WaitForChecks(1, Page("a.html")));
    EXPECT_EQ(RowsOf(controller_->results()), FreshRows());
  }
  // An id renamed in b.html, saved by rename: a.html's link breaks.
  Save(Page("b.html"), "<p id=y>\n", true);
  ASSERT_TRUE(WaitForChecks(1, Page("a.html")));
  const auto rows = RowsOf(controller_->results());
  ASSERT_FALSE(rows.empty());
  EXPECT_EQ(std::get<2>(rows.front()), "b.html#x");
  EXPECT_EQ(std::get<3>(rows.front()), "Local Anchor Not Found");
  EXPECT_EQ(rows, FreshRows());
}

}  // namespace
}  // namespace quimbel
