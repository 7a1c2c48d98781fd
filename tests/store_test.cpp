// The store: what it refuses to open, what two programs writing at once
// keep, what a kill leaves, and the history's answer to "what is new".
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>
#include <thread>

#include "core/run_history.h"
#include "store/store.h"
#include "tests/temp_folder.h"

namespace quimbel {
namespace {

std::unique_ptr<Store> OpenStore(const std::string& path) {
  Result<std::unique_ptr<Store>> store = Store::Open(path);
  EXPECT_TRUE(store) << store.message();
  return store ? std::move(store).value() : nullptr;
}

TEST(StoreTest, RefusesWhatIsNoStoreAndLeavesItAlone) {
  testing::TempFolder folder;
  const std::string fifo = (folder.path() / "fifo").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string page = folder.Write("page.html", "<a href=x>x</a>\n");
  const std::string read_only = (folder.path() / "read-only.db").string();
  ASSERT_TRUE(Store::Open(read_only));
  ::chmod(read_only.c_str(), 0444);
  const std::string newer = (folder.path() / "newer.db").string();
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(newer.c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, "PRAGMA user_version=2", nullptr, nullptr, nullptr);
    sqlite3_close(db);
  }
  const struct {
    std::string path;
    std::string why;
  } refused[] = {{fifo, "it is no regular file"},
                 {page, "it is not a store of links"},
                 {newer, "it was made by a newer Quimbel"},
                 {read_only, "it is read-only"},
                 {(folder.path() / "none/store.db").string(), "No such file or directory"}};
  for (const auto& [path, why] : refused) {
    Result<std::unique_ptr<Store>> store = Store::Open(path);
    ASSERT_FALSE(store) << path;
    EXPECT_NE(store.message().find(why), std::string::npos) << store.message();
  }
  EXPECT_EQ(testing::ReadFile(page), "<a href=x>x</a>\n");

  // A new store is the user's alone; an empty file is a new store.
  const std::string made = (folder.path() / "store.db").string();
  ASSERT_TRUE(OpenStore(made));
  struct stat info {};
  ASSERT_EQ(::stat(made.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_TRUE(OpenStore(folder.Write("empty.db", "")));
}

TEST(StoreTest, KeepsLinksByteForByte) {
  testing::TempFolder folder;
  const std::string path = (folder.path() / "store.db").string();
  const std::string reply("HTTP/1.1 301 Moved\r\nLocation: /\xff\0x\r\n\r\n", 37);
  {
    auto store = OpenStore(path);
    ASSERT_TRUE(store
                    ->PutLinks({{"https://a/é", 5, reply, {"https://b/", "https://c/"}, 2, 7},
                                {"https://a/x", 6, "HTTP/1.1 200 OK", {}, 0, 0}})
                    .ok());
    // A link kept again replaces what was kept.
    ASSERT_TRUE(store->PutLinks({{"https://a/x", 9, "HTTP/1.1 404 Not Found", {}, 0, 0}}).ok());
  }
  auto store = OpenStore(path);
  const std::optional<StoredLink> moved = store->FindLink("https://a/é");
  ASSERT_TRUE(moved);
  EXPECT_EQ(moved->reply, reply);
  EXPECT_EQ(moved->redirects, (std::vector<std::string>{"https://b/", "https://c/"}));
  EXPECT_EQ(moved->time, 5);
  EXPECT_EQ(moved->chain_end, 2);
  EXPECT_EQ(moved->chain_code, 7);
  EXPECT_EQ(store->FindLink("https://a/x")->reply, "HTTP/1.1 404 Not Found");
  EXPECT_FALSE(store->FindLink("https://a/y"));
  EXPECT_EQ(store->LinkCount(), 2);
}

// Two programs writing one store lose nothing of each other's, however
// their transactions interleave.
TEST(StoreTest, TwoProgramsWritingAtOnceLoseNoEntry) {
  testing::TempFolder folder;
  constexpr int kTrials = 20;
  constexpr int kEach = 400;
  for (int trial = 0; trial < kTrials; ++trial) {
    const std::string path = (folder.path() / ("shared" + std::to_string(trial) + ".db")).string();
    pid_t writers[2] = {};
    for (int writer = 0; writer < 2; ++writer) {
      writers[writer] = ::fork();
      ASSERT_GE(writers[writer], 0);
      if (writers[writer] == 0) {
        Result<std::unique_ptr<Store>> store = Store::Open(path);
        bool ok = store.ok();
        for (int n = 0; ok && n < kEach; n += 20) {
          std::vector<StoredLink> links;
          for (int k = n; k < n + 20; ++k)
            links.push_back({std::to_string(writer) + "/" + std::to_string(k), k, "r", {}, 0, 0});
          const Status put = (*store)->PutLinks(links);
          ok = put.ok();
          if (!ok) std::fprintf(stderr, "writer %d: %s\n", writer, put.message().c_str());
        }
        if (!store) std::fprintf(stderr, "writer %d: %s\n", writer, store.message().c_str());
        ::_exit(ok ? 0 : 1);
      }
    }
    for (const pid_t writer : writers) {
      int status = 0;
      ASSERT_EQ(::waitpid(writer, &status, 0), writer);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "trial " << trial;
    }
    EXPECT_EQ(OpenStore(path)->LinkCount(), 2 * kEach) << "trial " << trial;
  }
}

// A kill -9 at any moment leaves whole transactions only, and a store
// that opens.
TEST(StoreTest, AKillLeavesTheLastCommittedState) {
  testing::TempFolder folder;
  std::mt19937 random(20261209);
  constexpr int kBatch = 50;
  for (int trial = 0; trial < 10; ++trial) {
    const std::string path = (folder.path() / ("killed" + std::to_string(trial) + ".db")).string();
    const pid_t writer = ::fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
      Result<std::unique_ptr<Store>> store = Store::Open(path);
      for (int n = 0; store.ok() && n < 1000000; n += kBatch) {
        std::vector<StoredLink> links;
        for (int k = n; k < n + kBatch; ++k)
          links.push_back({"https://a/" + std::to_string(k), k, "r", {}, 0, 0});
        (void)(*store)->PutLinks(links);
      }
      ::_exit(0);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20 + random() % 200));
    ::kill(writer, SIGKILL);
    ::waitpid(writer, nullptr, 0);
    auto store = OpenStore(path);
    ASSERT_TRUE(store) << "trial " << trial;
    EXPECT_EQ(store->LinkCount() % kBatch, 0) << "trial " << trial;
    EXPECT_TRUE(store->PutLinks({{"after", 1, "r", {}, 0, 0}}).ok());
  }
}

TEST(RunHistoryTest, TellsNewRowsAndFixedLinksAgainstTheLastWholeRun) {
  testing::TempFolder folder;
  auto store = OpenStore((folder.path() / "store.db").string());
  // Each run: its pages, its rows (page, url), and whether it ended whole.
  struct Run {
    std::vector<std::string> pages;
    std::vector<std::pair<std::string, std::string>> rows;
    bool whole;
    std::vector<bool> fresh;            // each row new?
    std::optional<std::int64_t> fixed;  // with a run to compare with
  };
  const Run runs[] = {
      // The first run has nothing to compare with: every row is new.
      {{"a", "b"}, {{"a", "gone"}, {"a", "moved"}, {"b", "x"}}, true, {true, true, true}, {}},
      // "gone" fixed, "new" broken; page b not read: its row is not fixed.
      {{"a"}, {{"a", "moved"}, {"a", "new"}}, true, {false, true}, 1},
      // A run stopped half-way is never the one compared with...
      {{"a"}, {{"a", "later"}}, false, {true}, 1},
      // ...so "later" is still new here, and "new" is not; "moved" is fixed.
      {{"a"}, {{"a", "new"}, {"a", "later"}}, true, {false, true}, 1},
  };
  std::int64_t time = 0;
  for (const Run& run : runs) {
    SCOPED_TRACE(time);
    auto history = RunHistory::Begin(*store, "/site", ++time);
    ASSERT_TRUE(history) << history.message();
    EXPECT_EQ((*history)->has_previous(), run.fixed.has_value());
    for (const std::string& page : run.pages)
      (*history)->AddPage(page);
    for (std::size_t i = 0; i < run.rows.size(); ++i) {
      const auto& [page, url] = run.rows[i];
      EXPECT_EQ((*history)->IsNew(page, url), run.fresh[i]) << url;
      (*history)->AddRow({page, url, 1, "Local File Not Found"});
    }
    Result<std::int64_t> fixed = (*history)->End(run.whole);
    ASSERT_TRUE(fixed);
    if (run.whole && run.fixed) {
      EXPECT_EQ(*fixed, *run.fixed);
    }
  }
  // Another target's runs are its own.
  auto other = RunHistory::Begin(*store, "https://site/", ++time);
  EXPECT_FALSE((*other)->has_previous());
}

TEST(RunHistoryTest, KeepsTheNewestRunsOfEachTarget) {
  testing::TempFolder folder;
  auto store = OpenStore((folder.path() / "store.db").string());
  for (int run = 0; run < kHistoryRuns + 5; ++run) {
    auto history = RunHistory::Begin(*store, "/site", run);
    (*history)->AddPage("a");
    (*history)->AddRow({"a", "x" + std::to_string(run), 1, "r"});
    ASSERT_TRUE((*history)->End(true));
  }
  EXPECT_EQ(store->RunCount("/site"), kHistoryRuns);
  // The last run is still what the next compares with.
  auto next = RunHistory::Begin(*store, "/site", 99);
  EXPECT_FALSE((*next)->IsNew("a", "x" + std::to_string(kHistoryRuns + 4)));
  EXPECT_TRUE((*next)->IsNew("a", "x0"));
}

}  // namespace
}  // namespace quimbel
