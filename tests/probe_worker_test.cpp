// The probe worker against servers on 127.0.0.1: what comes out, not how long it takes.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "probe/host_pacing.h"
#include "probe/probe_worker.h"
#include "probe/proxy_rules.h"
#include "probe/redirect_chain.h"
#include "probe/reply_parsing.h"
#include "probe/request_ledger.h"
#include "probe/transfer.h"
#include "probe/transfer_setup.h"
#include "tests/nginx_fixture.h"
#include "tests/scripted_server.h"

namespace quimbel {
namespace {

using namespace std::chrono_literals;
using testing::Behaviour;
using testing::ScriptedServer;

const std::string kAgent = "Quimbel-test/1";

// Collects the worker's messages; waits are bounded.
class RecordingPoster : public MessagePoster {
 public:
  void Post(WorkerMessage message) override {
    std::lock_guard lock(mutex_);
    if (message.id == MessageId::kProbeDone) done_.emplace(message.job, std::move(message));
    changed_.notify_all();
  }
  // The outcome of `job`, once its kProbeDone came within the limit.
  std::optional<ProbeOutcome> WaitForDone(std::uint64_t job, std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, limit, [&] { return done_.contains(job); })) return {};
    return std::any_cast<ProbeOutcome>(done_.at(job).payload);
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<std::uint64_t, WorkerMessage> done_;  // the kProbeDone of each job
};

// Sets environment variables for as long as it lives.
class ScopedEnvironment {
 public:
  explicit ScopedEnvironment(const std::vector<std::pair<const char*, const char*>>& values) {
    for (const auto& [name, value] : values) {
      const char* old = std::getenv(name);
      saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
      value ? ::setenv(name, value, 1) : ::unsetenv(name);
    }
  }
  ~ScopedEnvironment() {
    for (const auto& [name, old] : saved_)
      old ? ::setenv(name, old->c_str(), 1) : ::unsetenv(name);
  }

 private:
  std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
};

class ProbeTest : public ::testing::Test {
 protected:
  ProbeTest() : worker_(poster_) { worker_.Start(); }
  // Kicks every URL at once and returns the outcomes in kick order.
  std::vector<ProbeOutcome> ProbeAll(const std::vector<std::string>& urls,
                                     std::chrono::milliseconds limit = 5s) {
    std::vector<std::uint64_t> jobs;
    for (const std::string& url : urls)
      jobs.push_back(worker_.Kick({url, limit, kAgent}));
    std::vector<ProbeOutcome> outcomes;
    for (const std::uint64_t job : jobs) {
      const auto outcome = poster_.WaitForDone(job, 30s);
      if (!outcome) ADD_FAILURE() << "no completion for job " << job;
      outcomes.push_back(outcome.value_or(ProbeOutcome{}));
    }
    return outcomes;
  }
  ProbeOutcome Probe(const std::string& url, std::chrono::milliseconds limit = 2s) {
    return ProbeAll({url}, limit)[0];
  }
  std::string Local(const std::string& path) {
    return "http://127.0.0.1:" + std::to_string(server_.port()) + path;
  }

  ScriptedServer server_;
  RecordingPoster poster_;
  ProbeWorker worker_;
};

// What each kind of reply, refusal, silence and address comes back as.
TEST_F(ProbeTest, OutcomesAgainstTheScriptedServer) {
  const std::string long_header = "HTTP/1.0 200 OK\r\nX: " + std::string(5000, 'x') + "\r\n\r\n";
  // Far more than a socket buffer takes in one call; past what a request may be, not sent.
  const std::string long_path = "/" + std::string(600 << 10, 'p');
  const std::string too_long = Local("/" + std::string(2 << 20, 'p'));
  server_.On("/ok/", "HTTP/1.0 200 OK\r\nServer: t\r\n\r\nbody");
  server_.On("/moved/", "HTTP/1.0 301 Moved\r\nLocation: /else/\r\n\r\n");
  server_.On("/closed/", {Behaviour::kCloseWithoutReply, ""});
  server_.On("/silent/", {Behaviour::kSilence, ""});
  server_.On("/long.htm", long_header);
  server_.On("/bare/", "404 Gone\r\n\r\n");
  server_.On("/chat/", "hello there");
  server_.On("/cut/", "HTTP/1.1 200 OK\r\nServer: t\r\n");
  server_.On(long_path, "HTTP/1.0 200 OK\r\n\r\n");
  // Interim replies come before the real one, which is what the link gets.
  server_.On("/continue/", "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 404 Not Found\r\n\r\n");
  server_.On("/hints/",
             "HTTP/1.1 103 Early Hints\r\nLink: </s.css>; rel=preload\r\n\r\n"
             "HTTP/1.1 301 Moved\r\nLocation: /x\r\n\r\n");
  const std::string port = std::to_string(server_.port());
  const std::string refused = std::to_string(testing::RefusedPort());
  testing::StalledListener stalled;
  const std::string ok = "HTTP/1.0 200 OK\r\nServer: t\r\n\r\n";
  struct Case {
    std::string url;
    OutcomeCode code;
    std::string reply;     // the header block as received
    OutcomeCode also = 0;  // another code that is as right
  };
  const Case cases[] = {
      {Local("/ok/"), kReplyRead, ok},
      {Local("/missing.htm"), kReplyRead, "HTTP/1.0 404 Not Found\r\n\r\n"},
      {Local("/moved/"), kReplyRead, "HTTP/1.0 301 Moved\r\nLocation: /else/\r\n\r\n"},
      {Local("/closed/"), kReplyRead, ""},
      {Local("/long.htm"), kReplyRead, long_header.substr(0, 2048)},
      // Replies that are no HTTP/1 reply reach the classification as they came.
      {Local("/bare/"), kReplyRead, "404 Gone\r\n\r\n"},
      {Local("/chat/"), kReplyRead, "hello there"},
      {Local("/cut/"), kReplyRead, "HTTP/1.1 200 OK\r\nServer: t\r\n"},
      {Local("/continue/"), kReplyRead, "HTTP/1.1 404 Not Found\r\n\r\n"},
      {Local("/hints/"), kReplyRead, "HTTP/1.1 301 Moved\r\nLocation: /x\r\n\r\n"},
      {too_long, kSendFailed, ""},
      // Refused mid-send; on a loaded machine, maybe before the connection is counted as made.
      {Local("/" + std::string(9 << 20, 'p')), kSendFailed, "", kConnectFailed},
      {"HTTP://LOCALHOST:" + port + "/ok/", kReplyRead, ok},
      {"http://127.1:" + port + "/ok/", kReplyRead, ok},
      {Local("/silent/"), kReplyTimedOut, ""},
      // Connected, but the secure handshake never answered: slow, not down.
      {"https://127.0.0.1:" + port + "/", kTookTooLong, ""},
      {"http://127.0.0.1:" + std::to_string(stalled.port()) + "/", kConnectFailed, ""},
      {"http://127.0.0.1:" + refused + "/", kConnectFailed, ""},
      {"https://127.0.0.1:" + refused + "/", kConnectFailed, ""},
      {"http://no-such-host.invalid/", kHostNotFound, ""},
      {"http://user@no-such-host/", kHostNotFound, ""},
      {"http://1nvalid-but-digit-led/", kConnectFailed, ""},
      // What follows a blank is no part of an address to drop.
      {"http://127.0.0.1 elsewhere:" + port + "/ok/", kConnectFailed, ""},
      {"http://[not:an:address]/", kHostNotFound, ""},
      {"http:///path", kInvalidPortOrName, ""},
      {"http://127.0.0.1:0/", kInvalidPortOrName, ""},
      {"ftp://127.0.0.1:" + port + "/pub", kReplyRead, ""},
      {"ftp://127.0.0.1:" + refused, kConnectFailed, ""},
  };
  std::vector<std::string> urls(std::size(cases));
  std::ranges::transform(cases, urls.begin(), &Case::url);
  const std::vector<ProbeOutcome> outcomes = ProbeAll(urls, 4s);  // the silent ones take the limit
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].url.substr(0, 60));
    if (cases[i].also == 0 || outcomes[i].code != cases[i].also) {
      EXPECT_EQ(outcomes[i].code, cases[i].code);
    }
    EXPECT_EQ(outcomes[i].reply, cases[i].reply);
    EXPECT_EQ(outcomes[i].url, cases[i].url);
  }
  // A sanitizer on a busy machine may take seconds over the 600 KB request: a limit of its own.
  const ProbeOutcome long_one = Probe(Local(long_path), 60s);
  EXPECT_EQ(long_one.code, kReplyRead);
  EXPECT_EQ(long_one.reply, "HTTP/1.0 200 OK\r\n\r\n");
  const auto asked = server_.Paths();  // the long request went out whole, longer ones not at all
  EXPECT_EQ(std::ranges::count(asked, long_path), 1);
  EXPECT_EQ(std::ranges::count_if(asked, [](const std::string& p) { return p.starts_with("/pp"); }),
            1);
  // Bad URLs never crash and never hang.
  for (const ProbeOutcome& outcome :
       ProbeAll({std::string("http://12\0.0.0.1/", 17), std::string("http://loc\0alhost/", 18), "",
                 "x", "http://\xff\xfe\x80.invalid/\x01\x02", "http://bad host\x7f/", "ftp:/",
                 "https://[::1/", "http://" + std::string(100000, 'a') + "/",
                 Local("/" + std::string(70000, 'p')), "http://\xc3\xa9t\xc3\xa9.invalid/"},
                2s))
    EXPECT_NE(outcome.code, kReplyTimedOut) << outcome.url.substr(0, 40);
}

TEST_F(ProbeTest, Ipv6Literal) {
  std::unique_ptr<ScriptedServer> server;
  try {
    server = std::make_unique<ScriptedServer>(true);
  } catch (const std::exception& e) {
    GTEST_SKIP() << e.what();
  }
  server->On("/x.htm", {Behaviour::kReply, "HTTP/1.0 204 None\r\n\r\n"});
  const ProbeOutcome outcome = Probe("http://[::1]:" + std::to_string(server->port()) + "/x.htm");
  EXPECT_EQ(outcome.host, "[::1]");
  EXPECT_EQ(outcome.reply, "HTTP/1.0 204 None\r\n\r\n");
}

// The request as sent: path and query as written, fragment dropped, needed escapes, CR LF.
TEST_F(ProbeTest, RequestBytesAsTheServerReceivesThem) {
  // The host as written, the path, what the request line asks for.
  const std::tuple<std::string, std::string, std::string> cases[] = {
      {"127.0.0.1", "/dir/a page.htm#frag", "/dir/a%20page.htm"},
      {"127.0.0.1", "/wiki/Link_rot", "/wiki/Link_rot"},
      {"127.0.0.1", "/search?q=a&b=2", "/search?q=a&b=2"},
      {"127.0.0.1", "/frag#section-2", "/frag"},
      {"127.0.0.1", "/p%20q", "/p%20q"},
      {"127.0.0.1", "/caf\xc3\xa9?q=\xe2\x82\xac", "/caf%C3%A9?q=%E2%82%AC"},
      {"127.0.0.1", "?only=query", "/?only=query"},
      {"localhost", "/cgi?x=1", "/cgi?x=1"},
  };
  const std::string port = std::to_string(server_.port());
  for (const auto& [host, path, target] : cases) {
    Probe("http://" + host + ":" + port + path);
    EXPECT_EQ(server_.Requests().back(), "GET " + target + " HTTP/1.1\r\nHost: " + host + ":" +
                                             port + "\r\nUser-Agent: " + kAgent +
                                             "\r\nAccept: */*\r\n\r\n");
  }
  EXPECT_EQ(server_.Requests().size(), std::size(cases));
}

TEST_F(ProbeTest, CancelEndsEveryTransferAtOnce) {
  server_.On("/silent/", {Behaviour::kSilence, ""});
  std::vector<std::uint64_t> jobs;
  for (int i = 0; i < 200; ++i)
    jobs.push_back(worker_.Kick({Local("/silent/"), 30s, kAgent}));
  for (int i = 0; i < 500 && server_.Requests().size() < 8; ++i)  // cancel once requests are out
    std::this_thread::sleep_for(10ms);
  worker_.CancelProbe();
  server_.On("/ok/", "HTTP/1.0 200 OK\r\n\r\n");  // later kicks served; none cancelled comes back
  EXPECT_EQ(Probe(Local("/ok/")).reply, "HTTP/1.0 200 OK\r\n\r\n");
  for (const std::uint64_t job : jobs)
    EXPECT_FALSE(poster_.WaitForDone(job, 0ms));
  testing::StalledListener stalled;  // a stop while a connection attempt hangs ends the thread
  worker_.Kick({"http://127.0.0.1:" + std::to_string(stalled.port()) + "/", 30s, kAgent});
  std::this_thread::sleep_for(100ms);
  worker_.Stop();
}

TEST_F(ProbeTest, ParallelAndPerHostCapsHold) {
  const auto run = [&](int parallel, int per_host) {
    ScriptedServer server;
    worker_.Configure({parallel, per_host, "", false});
    std::vector<std::string> urls;
    for (int i = 0; i < 24; ++i) {
      const std::string path = "/slow/" + std::to_string(i) + ".htm";
      server.On(path, {Behaviour::kReply, "HTTP/1.0 200 OK\r\n\r\n", 100ms});
      // Two names of one server: "localhost" and its address are two hosts.
      urls.push_back(std::string(i % 2 ? "http://localhost:" : "http://127.0.0.1:") +
                     std::to_string(server.port()) + path);
    }
    for (const ProbeOutcome& outcome : ProbeAll(urls))
      EXPECT_EQ(outcome.reply, "HTTP/1.0 200 OK\r\n\r\n");
    return server.MostAtOnce();
  };
  EXPECT_EQ(run(1, 8), 1);
  EXPECT_LE(run(4, 8), 4);
  const int capped = run(32, 3);
  EXPECT_TRUE(capped >= 4 && capped <= 6) << capped;  // at least 4: both hosts at once
}

// A short unwanted body is read to its end so the connection is kept; a long one is not.
TEST_F(ProbeTest, ShortBodiesKeepTheConnectionChunkedOrNot) {
  const std::string under(16000, 'x');  // the read bound is 16 KiB
  const auto chunked = [](const std::string& body) {
    std::string reply = "HTTP/1.1 404 Not Found\r\nTransfer-Encoding: chunked\r\n\r\n";
    for (std::size_t at = 0; at < body.size(); at += 4096) {
      const std::string chunk = body.substr(at, 4096);
      char size[16];
      std::snprintf(size, sizeof size, "%zx\r\n", chunk.size());
      reply += size + chunk + "\r\n";
    }
    return reply + "0\r\n\r\n";
  };
  // What the reply is, the reply, whether its connection is kept.
  const std::tuple<const char*, std::string, bool> cases[] = {
      {"chunked, empty", chunked(""), true},
      {"chunked, under the bound", chunked(under), true},
      {"sized, under the bound", "HTTP/1.1 404 Not Found\r\nContent-Length: 16000\r\n\r\n" + under,
       true},
      {"chunked, over the bound", chunked(std::string(200000, 'x')), false},
  };
  // A body that stops coming or is cut short: the head was in, so the link is its status.
  for (const Behaviour behaviour : {Behaviour::kKeepAlive, Behaviour::kReply}) {
    ScriptedServer server;
    server.On("/stalls",
              {behaviour, "HTTP/1.1 404 Not Found\r\nTransfer-Encoding: chunked\r\n\r\n40\r\nab"});
    const ProbeOutcome stalled =
        Probe("http://127.0.0.1:" + std::to_string(server.port()) + "/stalls", 8s);
    EXPECT_EQ(stalled.code, kReplyRead);
    EXPECT_EQ(ParseStatusCode(stalled.reply), 404u);
  }
  worker_.Configure({1, 1, "", false});
  for (const auto& [what, reply, kept] : cases) {
    SCOPED_TRACE(what);
    ScriptedServer server;
    std::vector<std::string> urls;
    for (int i = 0; i < 6; ++i) {
      const std::string path = "/page" + std::to_string(i);
      server.On(path, {Behaviour::kKeepAlive, reply});
      urls.push_back("http://127.0.0.1:" + std::to_string(server.port()) + path);
    }
    for (const ProbeOutcome& outcome : ProbeAll(urls))
      EXPECT_EQ(ParseStatusCode(outcome.reply), 404u);
    EXPECT_EQ(server.Connections(), kept ? 1 : 6);
  }
}

// A body comes back only when wanted: HTML for a page, anything for robots.txt.
TEST_F(ProbeTest, BodiesAreKeptOnlyWhenWanted) {
  const std::string html = "<a href=x>x</a>";
  const std::string type = "HTTP/1.1 200 OK\r\nContent-Type: text/";
  server_.On("/page", type + "html; charset=utf-8\r\nContent-Length: 15\r\n\r\n" + html);
  server_.On("/text", type + "plain\r\nContent-Length: 2\r\n\r\nno");
  server_.On("/gone",
             "HTTP/1.1 404 Gone\r\nContent-Type: text/html\r\nContent-Length: 4\r\n\r\ngone");
  server_.On("/moved", "HTTP/1.1 301 Moved\r\nLocation: /page\r\n\r\n");
  using enum BodyWanted;
  const std::tuple<const char*, BodyWanted, std::string> cases[] = {
      {"/page", kHtml, html}, {"/page", kNone, ""}, {"/text", kHtml, ""},
      {"/text", kAny, "no"},  {"/gone", kAny, ""},  {"/moved", kHtml, html},
  };
  for (const auto& [path, wanted, body] : cases) {
    const auto outcome = poster_.WaitForDone(worker_.Kick({Local(path), 5s, kAgent, wanted}), 30s);
    ASSERT_TRUE(outcome) << path;
    EXPECT_EQ(outcome->body, body) << path << " " << static_cast<int>(wanted);
  }
}

TEST(HostPacingTest, RateAndPausesHoldOneHostOnly) {
  const HostPacing::Clock::time_point t0{};
  const auto at = [&](int ms) { return t0 + std::chrono::milliseconds(ms); };
  HostPacing pacing;
  pacing.SetRate(4);  // one start each 250 ms
  EXPECT_TRUE(pacing.MayStart("a", at(0)));
  pacing.Started("a", at(0));
  EXPECT_FALSE(pacing.MayStart("a", at(100)));
  EXPECT_EQ(pacing.TakeNextDue(), at(250));
  EXPECT_EQ(pacing.TakeNextDue(), std::nullopt);
  EXPECT_TRUE(pacing.MayStart("b", at(100)));  // another host goes on
  EXPECT_TRUE(pacing.MayStart("a", at(250)));
  pacing.Started("a", at(900));  // a quiet spell does not bank starts
  EXPECT_FALSE(pacing.MayStart("a", at(1000)));
  EXPECT_TRUE(pacing.MayStart("a", at(1150)));
  HostPacing unlimited;
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(unlimited.MayStart("a", at(0)));
    unlimited.Started("a", at(0));
  }
  unlimited.HoldOff("a", at(2000));  // a 429 asked for two seconds
  EXPECT_FALSE(unlimited.MayStart("a", at(1999)));
  EXPECT_TRUE(unlimited.MayStart("b", at(1000)));
  EXPECT_TRUE(unlimited.MayStart("a", at(2000)));
}

// The time the probe thread goes by, moved by hand.
class FakeClock : public Clock {
 public:
  FakeClock() { SetClock(this); }
  ~FakeClock() override { SetClock(nullptr); }
  SteadyTime Now() override { return now; }
  SteadyTime now = SteadyTime{} + std::chrono::hours(1);
};

// Retry-After is waited to the second within the time limit; a 429 holds its host 1-60 s.
TEST(RetryTest, RetryAfterIsWaitedToTheSecondWithinTheTimeLimit) {
  using std::chrono::milliseconds, std::chrono::seconds;
  // The reply, the time limit, when the retry is due after it, how long a 429 holds its host.
  const std::tuple<std::string, milliseconds, std::optional<seconds>, std::optional<seconds>>
      cases[] = {
          {"HTTP/1.1 503 Down\r\nRetry-After: 10\r\n\r\n", 10001ms, 10s, std::nullopt},
          {"HTTP/1.1 503 Down\r\nRetry-After: 10\r\n\r\n", 10000ms, std::nullopt, std::nullopt},
          {"HTTP/1.1 503 Down\r\nRetry-After: 11\r\n\r\n", 60s, std::nullopt, std::nullopt},
          {"HTTP/1.1 429 Busy\r\nRetry-After: 0\r\n\r\n", 5s, 0s, 1s},
          {"HTTP/1.1 429 Busy\r\nRetry-After: 7\r\n\r\n", 5s, std::nullopt, 7s},
          {"HTTP/1.1 429 Busy\r\nRetry-After: 120\r\n\r\n", 200s, std::nullopt, 60s},
          {"HTTP/1.1 429 Busy\r\n\r\n", 5s, std::nullopt, 1s},
          {"HTTP/1.1 500 Oops\r\nRetry-After: 1\r\n\r\n", 5s, std::nullopt, std::nullopt},
      };
  for (const auto& [reply, limit, due, held] : cases) {
    SCOPED_TRACE(reply.substr(0, reply.find("\r\n\r\n")) + " within " +
                 std::to_string(limit.count()) + " ms");
    FakeClock clock;
    HostPacing pacing;
    Transfer transfer;
    transfer.host_key = "http://h:80";
    transfer.request.time_limit = limit;
    ASSERT_EQ(HopTimeLimit(transfer), limit);
    transfer.outcome.reply = reply;
    const SteadyTime replied = clock.now;
    EXPECT_EQ(RetryDue(transfer, pacing), due ? std::optional(replied + *due) : std::nullopt);
    EXPECT_EQ(RetryDue(transfer, pacing), std::nullopt) << "asked again only once";
    if (held) {
      EXPECT_FALSE(pacing.MayStart(transfer.host_key, replied + *held - 1ms));
      EXPECT_TRUE(pacing.MayStart(transfer.host_key, replied + *held));
    } else {
      EXPECT_TRUE(pacing.MayStart(transfer.host_key, replied));
    }
    EXPECT_TRUE(pacing.MayStart("http://other:80", replied));
  }
  FakeClock clock;  // each hop gets the time limit's rest, never 0 (to curl, no limit)
  Transfer transfer;
  transfer.request.time_limit = std::chrono::seconds(30);
  const std::pair<milliseconds, milliseconds> steps[] = {
      {0ms, 30000ms}, {12500ms, 17500ms}, {17499ms, 1ms}, {1ms, 1ms}, {60000ms, 1ms}};
  for (const auto& [passed, left] : steps) {
    clock.now += passed;
    EXPECT_EQ(HopTimeLimit(transfer), left) << passed.count();
  }
}

// A short Retry-After on a 429 or 503 is waited once; a date, -1 or other status is not. A 429
// pauses its host only: one at a time, the other host's links go first.
TEST_F(ProbeTest, ABusyServerIsAskedOnceMoreAfterAShortRetryAfter) {
  const std::string ok = "HTTP/1.1 200 OK\r\n\r\n";
  // The path, its first reply and those after it, the status line the link gets, requests made.
  const std::tuple<std::string, std::string, std::string, std::string, int> cases[] = {
      {"/503", "HTTP/1.1 503 Down\r\nRetry-After: 0\r\n\r\n", ok, "HTTP/1.1 200 OK", 2},
      {"/429", "HTTP/1.1 429 Busy\r\nretry-after:  1 \r\n\r\n", "", "HTTP/1.1 429 Busy", 2},
      {"/date", "HTTP/1.1 503 Down\r\nRetry-After: Fri, 31 Dec 1999 23:59:59 GMT\r\n\r\n", ok,
       "HTTP/1.1 503 Down", 1},
      {"/500", "HTTP/1.1 500 Oops\r\nRetry-After: 0\r\n\r\n", ok, "HTTP/1.1 500 Oops", 1},
      {"/minus", "HTTP/1.1 503 Down\r\nRetry-After: -1\r\n\r\n", ok, "HTTP/1.1 503 Down", 1},
  };
  std::vector<std::string> urls;
  for (const auto& [path, first, then, status, requests] : cases) {
    server_.On(path, {Behaviour::kReply, first, 0ms, then});
    urls.push_back(Local(path));
  }
  const std::string b = "http://localhost:" + std::to_string(server_.port());
  urls.insert(urls.end(), {b + "/b1", b + "/b2"});
  worker_.Configure({1, 1, "", false});
  const std::vector<ProbeOutcome> outcomes = ProbeAll(urls);
  const auto asked = server_.Paths();
  const auto paused = std::ranges::find(asked, "/429");
  ASSERT_LE(paused + 3, asked.end());
  EXPECT_EQ(std::vector<std::string>(paused + 1, paused + 3),
            (std::vector<std::string>{"/b1", "/b2"}));
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const auto& [path, first, then, status, requests] = cases[i];
    SCOPED_TRACE(path);
    EXPECT_EQ(outcomes[i].reply.substr(0, outcomes[i].reply.find('\r')), status);
    EXPECT_EQ(std::ranges::count(asked, path), requests);
  }
}

TEST_F(ProbeTest, CertificatesAreChecked) {
  std::unique_ptr<testing::TestCertificates> certificates;
  try {
    certificates = std::make_unique<testing::TestCertificates>();
  } catch (const std::exception& e) {
    GTEST_SKIP() << e.what();
  }
  testing::NginxServer nginx(
      {{"page.htm", "page"}, {"index.html", "home"}},
      {{certificates->good, certificates->expired, certificates->wrong_name}});
  const auto https = [&](std::size_t identity, const std::string& host, const std::string& path) {
    return "https://" + host + ":" + std::to_string(nginx.tls_port(identity)) + path;
  };
  const std::string failed = std::to_string(kSecureConnectionFailed);
  const ProbeSettings trusting{32, 8, certificates->ca().string(), false};
  const ProbeSettings insecure{32, 8, "", true};
  const std::string plain = "http://127.0.0.1:" + std::to_string(nginx.port());
  const std::tuple<ProbeSettings, std::string, std::string> cases[] = {
      {trusting, https(0, "127.0.0.1", "/page.htm"), "HTTP/1.1 200 OK"},
      {trusting, https(0, "localhost", "/missing.htm"), "HTTP/1.1 404 Not Found"},
      {trusting, https(1, "127.0.0.1", "/page.htm"), failed},  // expired
      {trusting, https(2, "127.0.0.1", "/page.htm"), failed},  // another name
      {trusting, "https://127.0.0.1:" + std::to_string(nginx.port()) + "/", failed},  // no TLS
      {ProbeSettings{}, https(0, "127.0.0.1", "/page.htm"), failed},  // an unknown CA
      {insecure, https(1, "127.0.0.1", "/page.htm"), "HTTP/1.1 200 OK"},
      {ProbeSettings{}, plain + "/", "HTTP/1.1 200 OK"},
      {ProbeSettings{}, plain + "/missing.htm", "HTTP/1.1 404 Not Found"},
  };
  for (const auto& [settings, url, expected] : cases) {
    SCOPED_TRACE(url);
    worker_.Configure(settings);
    const ProbeOutcome outcome = Probe(url, 5s);
    EXPECT_EQ(outcome.code == kReplyRead ? outcome.reply.substr(0, outcome.reply.find('\r'))
                                         : std::to_string(outcome.code),
              expected);
  }
}

// http_proxy gets the whole URL, https_proxy a CONNECT without the path; no_proxy bypasses.
TEST_F(ProbeTest, TheEnvironmentsProxyIsUsed) {
  ScriptedServer proxy;
  const std::string proxied_url = "http://proxied.test:81/page.htm";
  proxy.On(proxied_url, "HTTP/1.0 200 Via Proxy\r\n\r\n");
  proxy.On("http://xn--bcher-kva.test:81/b.htm", "HTTP/1.0 204 IDN\r\n\r\n");  // its name in ASCII
  proxy.On("secure.test:8443", "HTTP/1.1 403 No Tunnel\r\n\r\n");
  const std::string address = "http://127.0.0.1:" + std::to_string(proxy.port());
  const ScopedEnvironment environment({{"http_proxy", address.c_str()},
                                       {"https_proxy", address.c_str()},
                                       {"no_proxy", "example.test, .Other.Test,127.0.0.1"}});
  const auto outcomes = ProbeAll({proxied_url, "http://b\u00fccher.test:81/b.htm", Local("/x.htm"),
                                  "https://secure.test:8443/page.htm",
                                  "https://127.0.0.1:" + std::to_string(testing::RefusedPort())});
  EXPECT_EQ(outcomes[0].reply, "HTTP/1.0 200 Via Proxy\r\n\r\n");
  EXPECT_EQ(outcomes[1].reply, "HTTP/1.0 204 IDN\r\n\r\n");
  EXPECT_EQ(outcomes[2].reply, "HTTP/1.0 404 Not Found\r\n\r\n");
  // The proxy's refusal is not the link's reply: the host was not reached.
  EXPECT_EQ(std::tuple(outcomes[3].reply, outcomes[3].code, outcomes[4].code),
            std::tuple("", kConnectFailed, kConnectFailed));
  auto requests = proxy.Requests();
  ASSERT_EQ(requests.size(), 3u);
  std::sort(requests.begin(), requests.end());
  EXPECT_TRUE(requests[0].starts_with("CONNECT secure.test:8443 HTTP/1.1\r")) << requests[0];
  EXPECT_EQ(requests[0].find("page.htm"), std::string::npos);
  EXPECT_TRUE(requests[1].starts_with("GET http://proxied.test:81/page.htm HTTP/1.1\r"))
      << requests[1];
  EXPECT_EQ(server_.Requests().size(), 1u);
}

// Proxy variables as curl reads them (never HTTP_PROXY, which CGI sets from a request
// header), and no_proxy naming hosts and domain suffixes.
TEST(ProxyRules, TheVariablesAreReadAsCurlReadsThemAndNoProxyNamesDomains) {
  const char* kProxy = "http://127.0.0.1:9";
  // The variables set, and whether http and https go through a proxy.
  const std::tuple<std::vector<std::pair<const char*, const char*>>, bool, bool> cases[] = {
      {{{"http_proxy", kProxy}}, true, false},
      {{{"HTTP_PROXY", kProxy}}, false, false},
      {{{"https_proxy", kProxy}}, false, true},
      {{{"HTTPS_PROXY", kProxy}}, false, true},
      {{{"https_proxy", ""}, {"HTTPS_PROXY", kProxy}}, false, true},
      {{{"all_proxy", kProxy}}, true, true},
      {{{"ALL_PROXY", kProxy}}, true, true},
      {{{"http_proxy", ""}, {"all_proxy", kProxy}}, true, true},
      {{{"http_proxy", kProxy}, {"no_proxy", "h.test"}}, false, false},
      {{}, false, false},
  };
  // None set but each case's; each case's own are unset again after it.
  std::vector<std::pair<const char*, const char*>> unset;
  for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy",
                           "ALL_PROXY", "no_proxy", "NO_PROXY"})
    unset.emplace_back(name, nullptr);
  const ScopedEnvironment none(unset);
  CURL* easy = curl_easy_init();
  ASSERT_NE(easy, nullptr);
  for (const auto& [set, http, https] : cases) {
    const ScopedEnvironment scoped(set);
    const std::string trace = set.empty() ? "(none)" : set.front().first;
    EXPECT_EQ(ConfigureProxy(easy, Protocol::kHttp, "h.test"), http) << trace;
    EXPECT_EQ(ConfigureProxy(easy, Protocol::kHttps, "h.test"), https) << trace;
  }
  curl_easy_cleanup(easy);
  // no_proxy, NO_PROXY, a host, and whether they name it (or a domain it is in).
  const std::tuple<const char*, const char*, const char*, bool> exemptions[] = {
      {"example.test", nullptr, "example.test", true},
      {"example.test", nullptr, "www.Example.TEST", true},
      {"example.test", nullptr, "badexample.test", false},
      {"example.test", nullptr, "example.test.evil", false},
      {"example.test", nullptr, "test", false},
      {".Other.Test", nullptr, "a.b.other.test", true},
      {"..other.test", nullptr, "other.test", true},
      {" a.test , b.test ", nullptr, "B.TEST", true},
      {"a.test,,", nullptr, "c.test", false},
      {"*", nullptr, "any.where", true},
      {"*.test", nullptr, "a.test", false},
      {"::1", nullptr, "[::1]", true},
      {"127.0.0.1", nullptr, "127.0.0.10", false},
      {"", "a.test", "a.test", true},
      {nullptr, "a.test", "a.test", true},
      {"b.test", "a.test", "a.test", false},
      {nullptr, nullptr, "a.test", false},
  };
  for (const auto& [no_proxy, upper, host, exempt] : exemptions) {
    SCOPED_TRACE(std::string(no_proxy ? no_proxy : "(none)") + " " + host);
    const ScopedEnvironment environment({{"no_proxy", no_proxy}, {"NO_PROXY", upper}});
    EXPECT_EQ(IsExemptFromProxy(host), exempt);
  }
}

TEST(AlternateUrl, IsTheLocationResolvedWhole) {
  const auto moved = [](const std::string& location) {
    return "HTTP/1.1 301 Moved\r\nLocation: " + location + "\r\n\r\n";
  };
  const struct {
    std::string from, location, alternate;
  } cases[] = {
      {"http://h.test/a/b?x#f", "../c", "http://h.test/c"},
      // A session id after ";" is part of what the server asks for.
      {"http://h.test/a", "/x.htm;jsid=42", "http://h.test/x.htm;jsid=42"},
      // The fragment of the URL moved is no part of its folder.
      {"http://h.test/m#x/y", "dest/1", "http://h.test/dest/1"},
      {"http://h.test/a", "mailto:a@b.test", "mailto:a@b.test"},
      // What cannot be read as a URL is shown as the server wrote it.
      {"http://h.test/a", "http://o:x/", "http://o:x/"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(AlternateUrl(moved(c.location), c.from), c.alternate) << c.location;
  // A Location header of its own name, not the tail of Content-Location.
  EXPECT_EQ(LocationOf("HTTP/1.1 302 Found\r\nContent-Location: /c\r\nlocation:  /d \r\n\r\n"),
            "/d");
  EXPECT_EQ(LocationOf("HTTP/1.1 302 Found\r\n\r\n"), std::nullopt);
  EXPECT_EQ(ParseStatusCode("HTTP/1.1 OK\r\n\r\n"), std::nullopt);
}

// A moved link is followed to learn whether its target lives.
TEST_F(ProbeTest, MovesAreFollowedToWhereTheyEnd) {
  const auto move = [](const std::string& location) {
    return testing::Script{Behaviour::kReply,
                           "HTTP/1.1 301 Moved\r\nLocation: " + location + "\r\n\r\n"};
  };
  const std::string refused = "http://127.0.0.1:" + std::to_string(testing::RefusedPort()) + "/";
  server_.On("/good", move("/g2"));
  server_.On("/g2", "HTTP/1.1 303 See Other\r\nLocation: ?q=1\r\n\r\n");  // a 303 is followed too
  server_.On("/g2?q=1", "HTTP/1.1 200 OK\r\n\r\n");
  server_.On("/dead", move("/nothing"));
  server_.On("/loop1", move("/loop2"));
  server_.On("/loop2", move("loop1#again"));
  for (int i = 0; i <= 10; ++i)
    server_.On("/h" + std::to_string(i), move("/h" + std::to_string(i + 1)));
  server_.On("/h11", "HTTP/1.1 200 OK\r\n\r\n");
  server_.On("/mail", move("mailto:someone@example.invalid"));
  server_.On("/down", move(refused));
  server_.On("/other", move("//127.0.0.1:" + std::to_string(server_.port()) + "/g2?q=1"));
  // The path, how its chain ended, with what code, after how many hops, and where.
  const std::tuple<std::string, ChainEnd, OutcomeCode, std::size_t, std::string> cases[] = {
      {"/good", ChainEnd::kGood, 0, 2, Local("/g2?q=1")},
      {"/dead", ChainEnd::kFailed, 404, 1, Local("/nothing")},
      {"/loop1", ChainEnd::kFailed, kRedirectLoop, 1, Local("/loop2")},
      {"/h1", ChainEnd::kGood, 0, 10, Local("/h11")},
      {"/h0", ChainEnd::kFailed, kTooManyRedirects, 10, Local("/h10")},
      {"/mail", ChainEnd::kGood, 0, 1, "mailto:someone@example.invalid"},
      {"/down", ChainEnd::kFailed, kConnectFailed, 1, refused},
      {"/other", ChainEnd::kGood, 0, 1, Local("/g2?q=1")},
  };
  for (const auto& [path, end, code, hops, last] : cases) {
    SCOPED_TRACE(path);
    const std::size_t before = server_.Requests().size();
    const ProbeOutcome outcome = Probe(Local(path));
    EXPECT_EQ(ParseStatusCode(outcome.reply), 301u);  // the first reply makes the row
    EXPECT_EQ(outcome.chain_end, end);
    EXPECT_EQ(outcome.chain_code, code);
    ASSERT_EQ(outcome.redirects.size(), hops);
    EXPECT_EQ(outcome.redirects.back(), last);
    EXPECT_LE(server_.Requests().size() - before, hops + 1);  // no URL of a chain asked twice
  }
}

// No descriptor left is told apart from a refusal (curl does not); in a child, for the limit.
TEST(Transfer, NoDescriptorLeftIsToldApart) {
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    rlimit tight{};
    ::getrlimit(RLIMIT_NOFILE, &tight);
    tight.rlim_cur = std::min<rlim_t>(tight.rlim_max, 256);
    if (::setrlimit(RLIMIT_NOFILE, &tight) != 0) ::_exit(3);
    for (int i = 0; i < 256 && ::open("/dev/null", O_RDONLY) >= 0; ++i) {
    }
    Transfer transfer;
    curl_sockaddr address{};
    address.family = AF_INET;
    address.socktype = SOCK_STREAM;
    const curl_socket_t fd = OnOpenSocket(&transfer, CURLSOCKTYPE_IPCXN, &address);
    ::_exit(fd == CURL_SOCKET_BAD && transfer.no_descriptor && OutOfDescriptors() ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

// A page's body is kept only a while. Once it is gone, the crawl's own fetch
// of a page a move's end already handed to the crawl takes the reply without
// a request; a transfer that still has to read the page asks again.
TEST(RequestLedger, APageReadAtAMovesEndIsNotAskedForAgain) {
  struct Asker {
    bool following, crawled_page;
  };
  const struct {
    Asker first, later;
    RequestLedger::Turn turn;
  } cases[] = {
      {{true, true}, {false, true}, RequestLedger::Turn::kAnswered},
      {{true, true}, {true, false}, RequestLedger::Turn::kAnswered},
      {{true, true}, {false, false}, RequestLedger::Turn::kAsk},
      {{true, false}, {false, true}, RequestLedger::Turn::kAsk},
      {{false, true}, {false, true}, RequestLedger::Turn::kAsk},
  };
  const auto transfer = [](const std::string& url, Asker asker) {
    auto made = std::make_unique<Transfer>();
    made->outcome.url = url;
    made->request.body = BodyWanted::kHtml;
    made->request.crawled_page = asker.crawled_page;
    made->following = asker.following;
    return made;
  };
  const auto answer = [](RequestLedger& ledger, std::unique_ptr<Transfer>& asker) {
    asker->outcome.reply = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n";
    asker->outcome.content_type = "text/html";
    asker->outcome.body = "<p id=here>";
    EXPECT_TRUE(ledger.Answered(*asker).empty());
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.first.following << c.first.crawled_page
                                      << c.later.following << c.later.crawled_page);
    RequestLedger ledger;
    auto first = transfer("http://h/p", c.first);
    ASSERT_EQ(ledger.Take(first), RequestLedger::Turn::kAsk);
    answer(ledger, first);
    for (int i = 0; i < 40; ++i) {  // enough other pages that the first one's body is dropped
      auto other = transfer("http://h/o" + std::to_string(i), {false, true});
      ASSERT_EQ(ledger.Take(other), RequestLedger::Turn::kAsk);
      answer(ledger, other);
    }
    auto later = transfer("http://h/p#here", c.later);
    EXPECT_EQ(ledger.Take(later), c.turn);
    if (c.turn == RequestLedger::Turn::kAnswered) {
      EXPECT_TRUE(later->outcome.body_withheld);
      EXPECT_EQ(later->outcome.reply, "HTTP/1.1 200 OK\r\n\r\n");
    }
  }
}

// Replies are kept each distinct one once, yet every URL gets its own back;
// forgetting the replies keeps the requests under way and their waiters.
TEST(RequestLedger, EachURLKeepsItsOwnReplyAndForgettingKeepsWhatIsUnderWay) {
  const auto transfer = [](const std::string& url) {
    auto made = std::make_unique<Transfer>();
    made->outcome.url = url;
    return made;
  };
  const std::pair<std::string, std::string> replies[] = {
      {"http://h/a", "HTTP/1.1 200 OK\r\nX: 1\r\n\r\n"},
      {"http://h/b", "HTTP/1.1 404 Not Found\r\n\r\n"},
      {"http://h/c", "HTTP/1.1 301 Moved\r\nLocation: /a\r\n\r\n"},
      {"http://h/d", "HTTP/1.1 200 OK\r\nX: 2\r\n\r\n"},
  };
  RequestLedger ledger;
  for (const auto& [url, reply] : replies) {
    auto asker = transfer(url);
    ASSERT_EQ(ledger.Take(asker), RequestLedger::Turn::kAsk);
    asker->outcome.reply = reply;
    ledger.Answered(*asker);
  }
  for (const auto& [url, reply] : replies) {
    auto later = transfer(url + "#f");
    ASSERT_EQ(ledger.Take(later), RequestLedger::Turn::kAnswered) << url;
    EXPECT_EQ(later->outcome.reply, JudgedPartOfReply(reply)) << url;
  }
  auto under_way = transfer("http://h/e");
  ASSERT_EQ(ledger.Take(under_way), RequestLedger::Turn::kAsk);
  auto waiter = transfer("http://h/e");
  ASSERT_EQ(ledger.Take(waiter), RequestLedger::Turn::kWaiting);
  ledger.ForgetReplies();
  EXPECT_EQ(ledger.size(), 1U);
  auto again = transfer("http://h/a");
  EXPECT_EQ(ledger.Take(again), RequestLedger::Turn::kAsk);
  under_way->outcome.reply = "HTTP/1.1 410 Gone\r\n\r\n";
  const auto waited = ledger.Answered(*under_way);
  ASSERT_EQ(waited.size(), 1U);
  EXPECT_EQ(waited[0]->outcome.reply, "HTTP/1.1 410 Gone\r\n\r\n");
}

}  // namespace
}  // namespace quimbel
