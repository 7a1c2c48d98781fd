#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/message_loop.h"
#include "core/recheck.h"
#include "core/run_controller.h"
#include "platform/manual_reset_event.h"
#include "tests/controller_harness.h"
#include "tests/recording_host.h"
#include "tests/scripted_server.h"
#include "tests/temp_folder.h"

namespace quimbel {
namespace {

using namespace std::chrono_literals;
using testing::Behaviour;

struct Row {
  std::string url, reason, site, file, alternate;
  std::string redirects = "";  // where a followed move led
  bool operator==(const Row&) const = default;
};

void PrintTo(const Row& r, std::ostream* out) {
  *out << "{" << r.url << " | " << r.reason << " | " << r.site << " | " << r.file << " | "
       << r.alternate << " | " << r.redirects << "}";
}

class RunTest : public testing::ControllerHarness {
 protected:
  RunTest() { controller_->settings().timeout = 2s; }

  std::vector<Row> Rows() const {
    std::vector<Row> rows;
    for (const ResultRow& r : controller_->results().rows()) {
      const auto text = [&](ResultColumn column) { return std::string(r.text(column)); };
      rows.push_back({text(ResultColumn::kUrl), text(ResultColumn::kReason),
                      text(ResultColumn::kSiteName), text(ResultColumn::kFileName),
                      text(ResultColumn::kAlternateUrl), r.redirects()});
    }
    return rows;
  }

  std::string Link(const std::string& url, const std::string& text) {
    return "<a href=\"" + url + "\">" + text + "</a>\n";
  }
  std::string Local(const std::string& path) {
    return "http://127.0.0.1:" + std::to_string(server_.port()) + path;
  }

  testing::TempFolder site_;
  testing::ScriptedServer server_;
};

// A link met again is probed once and listed each time; files log results and progress.
TEST_F(RunTest, TwoFilesLogTheirResultsAndProgress) {
  server_.On("/ok.htm", "HTTP/1.1 200 OK\r\n\r\n");
  const std::string gone = Link(Local("/gone.htm"), "Two");
  const std::string a = site_.Write(
      "a.htm", Link(Local("/ok.htm"), "One") + gone + Link(Local("/ok.htm"), "Three") + gone);
  const std::string b = site_.Write("b.htm", Link(Local("/gone.htm"), "Home"));
  const std::string c = site_.Write("c.htm", "nothing");
  controller_->StartTest(site_.path().string(), {false, true, ExtensionFilter::kOff});
  ASSERT_TRUE(RunToEnd());
  EXPECT_EQ(server_.Requests().size(), 2u);  // /ok.htm once, /gone.htm once
  EXPECT_EQ(host_.log, "Start of test <date>\n\nTesting: " + a + "\nResults for " + a +
                           ": URLs tested: 4. URL errors: 2.\n\nTesting: " + b + "\nResults for " +
                           b + ": URLs tested: 1. URL errors: 1.\n\nTesting: " + c +
                           "\nResults for " + c +
                           ": URLs tested: 0. URL errors: 0.\n\nEnd of test: <date>\n");
  const std::string nf = "HTTP Code 404 Not Found";
  EXPECT_EQ(Rows(), (std::vector<Row>{{Local("/gone.htm"), nf, "Two", a, ""},
                                      {Local("/gone.htm"), nf, "Two", a, ""},
                                      {Local("/gone.htm"), nf, "Home", b, ""}}));
  // File 1 of 3, its URLs 1 to 4 of 4, then the others.
  std::vector<std::string> shown;
  for (const ProgressTexts& t : host_.transfers) {
    shown.push_back(t.file_number + "/" + t.file_total + " " + t.url_number + "/" + t.url_total +
                    " " + t.url_link_text);
  }
  EXPECT_EQ(shown, (std::vector<std::string>{"1/3 / ", "1/3 1/4 One", "1/3 2/4 Two",
                                             "1/3 3/4 Three", "1/3 4/4 Two", "2/3 4/4 Two",
                                             "2/3 1/1 Home", "3/3 1/1 Home"}));
  EXPECT_EQ(host_.file_bar_range, 3);
  EXPECT_EQ(host_.file_bar, 2);
  EXPECT_EQ(host_.url_bar_range, 1);
  EXPECT_EQ(host_.url_bar, 0);  // back to 0 for the file without links
  EXPECT_EQ(host_.progress_created, 1);
  EXPECT_FALSE(host_.progress_file_only);
  // The run's end.
  EXPECT_EQ(host_.connection_status, "Search Complete");
  EXPECT_EQ(host_.method_status, "");
  EXPECT_EQ(host_.default_beeps, 1);
  EXPECT_TRUE(controller_->results_ready());
  EXPECT_FALSE(host_.progress_open);

  // A new run asks again; each of its links stepped the bar.
  controller_->StartTest(b, {});
  ASSERT_TRUE(RunToEnd());
  EXPECT_EQ(server_.Requests().size(), 3u);
  EXPECT_EQ(host_.url_bar, 1);
}

TEST_F(RunTest, RepliesAreClassifiedIntoRows) {
  const std::string refused = "http://127.0.0.1:" + std::to_string(testing::RefusedPort()) + "/";
  const std::string unknown = "Error: UNKNOWN Error!", moved = "HTTP Code 301 Moved Permanently";
  // The path, its reply ("": closed unanswered), the row's reason ("": no row), alternate URL.
  const std::tuple<std::string, std::string, std::string, std::string> cases[] = {
      {"/nf/", "HTTP/1.1 404 Not Found\r\n\r\n", "HTTP Code 404 Not Found", ""},
      {"/ok/", "HTTP/1.0 200 OK\r\n\r\n", "", ""},
      {"/bare/", "404 Not Found\r\n\r\n", "HTTP Code 404 Not Found", ""},
      {"/odd/", "HTTP/1.1 399 Odd\r\n\r\n", unknown, ""},
      {"/perm/", "HTTP/1.1 308 Permanent Redirect\r\nLocation: /p\r\n\r\n",
       "HTTP Code 308 Permanent Redirect", Local("/p")},
      {"/tls/", "HTTP/1.1 301 Moved\r\nLocation: HTTPS://x.test/s\r\n\r\n", moved,
       "https://x.test/s"},
      {"/lf/", "HTTP/1.1 301 Moved\nLocation: http://x.test/abc\n\n", moved, "http://x.test/abc"},
      {"/see/", "HTTP/1.1 303 See Other\r\nLocation: http://x.test/s\r\n\r\n",
       "HTTP Code 303 See Other", ""},
      {"/closed/", "", unknown, ""},
      {"/noword/", "HTTP/1.0\r\n\r\n", unknown, ""},
  };
  std::string page;
  std::vector<Row> expected;
  const std::string file = (site_.path() / "site.htm").string();
  for (const auto& [path, reply, reason, alternate] : cases) {
    server_.On(path, {reply.empty() ? Behaviour::kCloseWithoutReply : Behaviour::kReply, reply});
    page += Link(Local(path), "Link " + path);
    if (!reason.empty()) expected.push_back({Local(path), reason, "Link " + path, file, alternate});
  }
  page += Link("ftp://127.0.0.1:" + std::to_string(server_.port()) + "/", "Files");
  page += Link(refused, "Down");
  expected.push_back({refused, "Error: Can't Connect to Host", "Down", file, ""});
  site_.Write("site.htm", page);
  controller_->settings().visible = true;
  // One request per link, so the moves' Locations are what the rows show.
  controller_->settings().probe.max_redirects = 0;
  controller_->StartTest(file, {});
  ASSERT_TRUE(RunToEnd());
  EXPECT_EQ(Rows(), expected);
  // 399 and the status line without a number beep; the empty reply does not.
  EXPECT_EQ(host_.exclamation_beeps, 2);
  EXPECT_TRUE(controller_->test().unknown_error_seen());
  EXPECT_NE(host_.log.find("URLs tested: 12. URL errors: 10."), std::string::npos);
  // "Visible" scrolled each new row into view.
  EXPECT_EQ(host_.scrolled_to.size(), 10u);
}

// Statuses, progress, log and rows follow the list's head: alike however many are in flight.
TEST_F(RunTest, StatusProgressAndRowsFollowTheHeadOfTheList) {
  const std::string replies[] = {"HTTP/1.0 200 OK\r\n\r\n",
                                 "HTTP/1.0 404 Gone\r\n\r\n",
                                 "HTTP/1.1 301 Moved\r\nLocation: /d1.htm\r\n\r\n",
                                 "HTTP/1.1 308 Moved\r\nLocation: /d0.htm\r\n\r\n",
                                 "HTTP/1.1 500 Oops\r\n\r\n",
                                 "HTTP/1.1 399 Odd\r\n\r\n"};
  std::string first, second;
  for (int i = 0; i < 30; ++i) {
    const std::string path = "/d" + std::to_string(i) + ".htm";
    server_.On(path, {i % 7 == 6 ? Behaviour::kCloseWithoutReply : Behaviour::kReply,
                      replies[i % std::size(replies)], std::chrono::milliseconds((i * 37) % 50)});
    (i < 15 ? first : second) += Link(Local(path), "L" + std::to_string(i));
  }
  second += Link("ftp://127.0.0.1:" + std::to_string(testing::RefusedPort()) + "/", "F");
  second += Link("http://127.0.0.1:" + std::to_string(testing::RefusedPort()) + "/", "Down");
  second += Link("http://gone.invalid/", "Nowhere");
  second += Link(Local("/d3.htm"), "Again");
  site_.Write("a.htm", first);
  site_.Write("b.htm", second);
  // What a run shows: its statuses, progress steps, log and rows.
  const auto run = [&](int parallel) {
    host_.statuses.clear();
    host_.transfers.clear();
    controller_->settings().probe = {parallel, parallel, "", false};
    controller_->StartTest(site_.path().string(), {false, true, ExtensionFilter::kOff});
    EXPECT_TRUE(RunToEnd());
    std::vector<std::string> progress;
    for (const ProgressTexts& t : host_.transfers) {
      progress.push_back(t.current_file + "|" + t.file_number + "|" + t.current_url + "|" +
                         t.url_link_text + "|" + t.url_number + "/" + t.url_total);
    }
    return std::tuple{host_.statuses, progress, host_.log, Rows()};
  };
  const auto one = run(1);
  const auto& [statuses, progress, log, rows] = one;
  EXPECT_NE(std::ranges::count(statuses, "M Host Reply Received"), 0);
  EXPECT_NE(std::ranges::count(statuses, "M No Reply Received"), 0);
  // A move keeps its row: as a move where its chain ends well, else with the chain's failure.
  const std::string a = site_.path().string() + "/a.htm";
  for (const Row& row :
       {Row{Local("/d3.htm"), "HTTP Code 308 Permanent Redirect", "L3", a, Local("/d0.htm"),
            Local("/d0.htm")},
        Row{Local("/d2.htm"), "HTTP Code 404 Not Found", "L2", a, "", Local("/d1.htm")}})
    EXPECT_NE(std::ranges::count(rows, row), 0) << ::testing::PrintToString(row);
  for (const int parallel : {16, 256})
    EXPECT_EQ(run(parallel), one) << parallel << " in flight";
}

TEST_F(RunTest, StopDuringAProbeKeepsTheRowsAndIgnoresTheLateReply) {
  server_.On("/nf/", "HTTP/1.0 404 Not Found\r\n\r\n");
  server_.On("/silent/", {Behaviour::kSilence, ""});
  const std::string file =
      site_.Write("s.htm", Link(Local("/nf/"), "Gone") + Link(Local("/silent/"), "Quiet"));
  controller_->settings().timeout = 30s;
  controller_->StartTest(file, {});
  ASSERT_TRUE(RunUntil([&] { return server_.Requests().size() == 2 && Rows().size() == 1; }));
  EXPECT_EQ(host_.connection_status, "Connecting to 127.0.0.1");
  EXPECT_FALSE(controller_->stopped());
  controller_->StopTest();
  EXPECT_FALSE(controller_->running());
  // The window then says the run was stopped, never that all is well.
  EXPECT_TRUE(controller_->stopped());
  EXPECT_TRUE(controller_->results_ready());
  EXPECT_EQ(host_.connection_status, "Connection Status");
  EXPECT_EQ(host_.method_status, "HTTP Method Status");
  EXPECT_FALSE(host_.progress_open);
  const std::string log = host_.log;
  EXPECT_TRUE(log.ends_with("Testing Stopped by User\n")) << log;
  EXPECT_EQ(log.find("End of test"), std::string::npos);
  // The cut-short probe's answer arrives and changes nothing.
  loop_.Run(MessageLoop::Clock::now() + 300ms);
  EXPECT_EQ(host_.log, log);
  EXPECT_EQ(host_.connection_status, "Connection Status");
  EXPECT_EQ(Rows().size(), 1u);
  // The next run starts unstopped.
  controller_->StartTest(site_.Write("t.htm", ""), {});
  ASSERT_TRUE(RunToEnd());
  EXPECT_FALSE(controller_->stopped());
}

TEST_F(RunTest, WatchdogMarksASlowProbe) {
  host_.manual_timers = {kWatchdogTimer};
  server_.On("/slow/", {Behaviour::kSilence, ""});
  const std::string file = site_.Write("w.htm", Link(Local("/slow/"), "Slow"));
  controller_->settings().timeout = 1s;
  controller_->StartTest(file, {});
  ASSERT_TRUE(RunUntil([&] { return host_.TimerActive(kWatchdogTimer); }));
  EXPECT_EQ(host_.active_timers[kWatchdogTimer], 2000ms);  // the limit plus one second
  host_.FireTimer(kWatchdogTimer);
  EXPECT_FALSE(host_.TimerActive(kWatchdogTimer));
  ASSERT_TRUE(RunToEnd());
  EXPECT_NE(host_.log.find("Timeout occured while testing " + Local("/slow/") + ".\n\n"),
            std::string::npos);
  EXPECT_EQ(Rows(),
            (std::vector<Row>{{Local("/slow/"), "Error: Select Failed", "Slow", file, ""}}));
}

// An unreadable file is named, not checked; a run finding no files leaves the last alone.
TEST_F(RunTest, AnUnreadableFileIsNamedAndNotChecked) {
  const std::string folder = site_.path().string();
  controller_->StartTest(folder, {});  // a folder named as a single file
  ASSERT_TRUE(RunToEnd());
  EXPECT_EQ(host_.messages, std::vector<std::string>{});
  const std::string log = host_.log;
  EXPECT_EQ(log, "Start of test <date>\n\nNot checked: " + folder +
                     ": Is a directory\n\nEnd of test: <date>\n");
  EXPECT_EQ(controller_->test().pages_not_checked(), 1u);
  site_.Write("x/p.txt", "text");
  controller_->StartTest((site_.path() / "x").string(), {false, true, ExtensionFilter::kHtmlOnly});
  EXPECT_EQ(host_.messages,
            (std::vector<std::string>{"No files found.\n\nWas your filter option set correctly?"}));
  EXPECT_EQ(host_.log, log);
  EXPECT_FALSE(controller_->running());
}

// Recheck against a server whose answers have changed, and a local link whose file appeared.
TEST_F(RunTest, RecheckDropsWhatIsNowGoodAndUpdatesTheRest) {
  const std::string page = site_.Write(
      "p.html", Link(Local("/a/"), "A") + Link(Local("/b/"), "B") + "<a href=\"new.html\">N</a>\n" +
                    Link(Local("/c/"), "C") + Link(Local("/a/"), "A again"));
  controller_->StartTest(page, {});
  ASSERT_TRUE(RunToEnd());
  ASSERT_EQ(controller_->results().size(), 5u);
  EXPECT_FALSE(controller_->StartRecheck({}));

  server_.On("/a/", "HTTP/1.0 200 OK\r\n\r\n");
  // A move whose chain ends well keeps its row, the chain's end its alternate URL.
  server_.On("/b/", "HTTP/1.0 301 Moved\r\nLocation: /b2\r\n\r\n");
  server_.On("/b2", "HTTP/1.0 302 Found\r\nLocation: /b3\r\n\r\n");
  server_.On("/b3", "HTTP/1.0 200 OK\r\n\r\n");
  site_.Write("new.html", "");
  const std::size_t requests = server_.Requests().size();
  // Every row but C's: A twice (probed once), B, and the local one.
  ASSERT_TRUE(controller_->StartRecheck({0, 1, 2, 4}));
  EXPECT_FALSE(controller_->StartRecheck({3}));  // one at a time
  ASSERT_TRUE(RunUntil([&] { return !controller_->rechecking(); }));
  EXPECT_EQ(server_.Requests().size() - requests, 4u);
  EXPECT_EQ(Rows(), (std::vector<Row>{
                        {Local("/b/"), "HTTP Code 301 Moved Permanently", "B", page, Local("/b3"),
                         Local("/b2") + "\n" + Local("/b3")},
                        {Local("/c/"), "HTTP Code 404 Not Found", "C", page, ""},
                    }));
  const std::string log = host_.log;
  EXPECT_NE(log.find("\n\nRecheck of 4 links "), std::string::npos) << log;
  EXPECT_NE(log.find(Local("/b/") + ": HTTP Code 301 Moved Permanently\n"), std::string::npos);
  EXPECT_NE(log.find("new.html: now good\n"), std::string::npos);
}

// A recheck probes each URL once and changes rows once all replies are in; cancelled, nothing.
TEST(Recheck, RowsChangeOnceEveryReplyIsIn) {
  for (const bool reversed : {false, true}) {
    MessageLoop loop;
    testing::RecordingHost host(loop);
    ResultList rows;
    for (const char* url : {"http://a.test/1", "http://a.test/2", "http://a.test/1"})
      rows.AppendResultRow(url);
    std::vector<std::string> kicked;
    Recheck recheck(rows, host, [](const ProbeOutcome& outcome) -> std::optional<Verdict> {
      if (outcome.code == 200) return std::nullopt;
      return Verdict{"HTTP Code " + std::to_string(outcome.code), outcome.code, "", ""};
    });
    const Recheck::Kick kick = [&](const std::string& url, BodyWanted) {
      kicked.push_back(url);
      return static_cast<std::uint64_t>(kicked.size());
    };
    recheck.Start({0, 1, 2}, {}, kick);
    ASSERT_EQ(kicked, (std::vector<std::string>{"http://a.test/1", "http://a.test/2"}));
    ProbeOutcome good, gone;
    good.url = "http://a.test/1";
    good.code = 200;
    gone.url = "http://a.test/2";
    gone.code = 410;
    recheck.OnDone(reversed ? 2 : 1, reversed ? gone : good);
    EXPECT_FALSE(recheck.done());
    EXPECT_EQ(rows.size(), 3u);
    recheck.OnDone(reversed ? 1 : 2, reversed ? good : gone);
    recheck.OnDone(1, good);  // late, or twice: nothing more
    EXPECT_TRUE(recheck.done());
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows.row(0).url(), "http://a.test/2");
    EXPECT_EQ(rows.row(0).code, 410u);
    EXPECT_NE(host.log.find("Recheck done: 2 now good, 1 still listed.\n"), std::string::npos);

    recheck.Start({0}, {}, kick);
    recheck.Cancel();
    EXPECT_TRUE(recheck.done());
    EXPECT_FALSE(recheck.Owns(static_cast<std::uint64_t>(kicked.size())));
    EXPECT_EQ(rows.size(), 1u);
  }
}

TEST(ManualResetEvent, StopWinsOverKickAndStaysSetUntilReset) {
  EventGroup group;
  ManualResetEvent stop(group), kick(group);
  kick.Set();
  EXPECT_EQ(WaitAny(stop, kick), 1);
  EXPECT_EQ(WaitAny(stop, kick), 1);  // manual reset: still signalled
  stop.Set();
  EXPECT_EQ(WaitAny(stop, kick), 0);
  kick.Reset();
  stop.Reset();
  EXPECT_FALSE(kick.IsSet());

  std::thread setter([&] {
    std::this_thread::sleep_for(20ms);
    kick.Set();
  });
  EXPECT_EQ(WaitAny(stop, kick), 1);
  setter.join();
}

// Posts run on the loop's thread in each poster's order; timers repeat until killed.
TEST(MessageLoop, PostsRunInOrderOnTheLoopThreadAndTimersRepeatUntilKilled) {
  MessageLoop loop;
  const auto loop_thread = std::this_thread::get_id();
  int seen = 0, last[4] = {-1, -1, -1, -1};  // loop thread only
  std::atomic<bool> wrong_thread{false};
  bool out_of_order = false;
  std::vector<std::thread> posters;
  for (int t = 0; t < 4; ++t) {
    posters.emplace_back([&, t] {
      for (int i = 0; i < 100; ++i) {
        loop.PostTask([&, t, i] {
          if (std::this_thread::get_id() != loop_thread) wrong_thread = true;
          out_of_order |= i <= last[t];
          last[t] = i;
          if (++seen == 400) loop.Quit();
        });
      }
    });
  }
  for (auto& p : posters)
    p.join();
  EXPECT_TRUE(loop.Run(MessageLoop::Clock::now() + 10s));
  EXPECT_EQ(seen, 400);
  EXPECT_FALSE(wrong_thread);
  EXPECT_FALSE(out_of_order);

  int fired = 0;
  loop.StartTimer(105, 10ms, [&] {
    if (++fired == 3) loop.KillTimer(105);
  });
  EXPECT_FALSE(loop.Run(MessageLoop::Clock::now() + 200ms));
  EXPECT_EQ(fired, 3);
}

}  // namespace
}  // namespace quimbel
