// The probe worker against servers on 127.0.0.1. How long things take is
// bench/probe_limits' business: these check only what comes out.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
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
    messages_.push_back(std::move(message));
    changed_.notify_all();
  }

  // The outcome of `job`, once its kProbeDone came; nothing when it did
  // not come within the limit.
  std::optional<ProbeOutcome> WaitForDone(std::uint64_t job, std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    const auto done = [&]() -> const WorkerMessage* {
      for (const auto& m : messages_)
        if (m.id == MessageId::kProbeDone && m.job == job) return &m;
      return nullptr;
    };
    changed_.wait_for(lock, limit, [&] { return done() != nullptr; });
    if (done() == nullptr) return std::nullopt;
    return std::any_cast<ProbeOutcome>(done()->payload);
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<WorkerMessage> messages_;
};

// Sets environment variables for as long as it lives.
class ScopedEnvironment {
 public:
  ScopedEnvironment(std::initializer_list<std::pair<const char*, const char*>> values)
      : ScopedEnvironment(std::vector<std::pair<const char*, const char*>>(values)) {}
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
  // The paths the server was asked for, in order.
  std::vector<std::string> Asked() {
    std::vector<std::string> paths;
    for (const std::string& request : server_.Requests()) {
      const std::size_t start = request.find(' ') + 1;
      paths.push_back(request.substr(start, request.find(" HTTP/") - start));
    }
    return paths;
  }

  ScriptedServer server_;
  RecordingPoster poster_;
  ProbeWorker worker_;
};

TEST_F(ProbeTest, OutcomesAgainstTheScriptedServer) {
  const std::string long_header = "HTTP/1.0 200 OK\r\nX: " + std::string(5000, 'x') + "\r\n\r\n";
  // Far more than a socket buffer takes in one call, and beyond what a
  // request may be: those are never sent at all.
  const std::string long_path = "/" + std::string(600 << 10, 'p');
  const std::string too_long = Local("/" + std::string(2 << 20, 'p'));
  server_.On("/ok/", {Behaviour::kReply, "HTTP/1.0 200 OK\r\nServer: t\r\n\r\nbody"});
  server_.On("/moved/", {Behaviour::kReply, "HTTP/1.0 301 Moved\r\nLocation: /else/\r\n\r\n"});
  server_.On("/closed/", {Behaviour::kCloseWithoutReply, ""});
  server_.On("/silent/", {Behaviour::kSilence, ""});
  server_.On("/long.htm", {Behaviour::kReply, long_header});
  server_.On("/bare/", {Behaviour::kReply, "404 Gone\r\n\r\n"});
  server_.On("/chat/", {Behaviour::kReply, "hello there"});
  server_.On("/cut/", {Behaviour::kReply, "HTTP/1.1 200 OK\r\nServer: t\r\n"});
  server_.On(long_path, {Behaviour::kReply, "HTTP/1.0 200 OK\r\n\r\n"});
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
      {too_long, kSendFailed, ""},
      // Refused mid-send; on a loaded machine the server may close before
      // the connection is counted as made.
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
      {"http://", kInvalidPortOrName, ""},
      {"http://127.0.0.1:0/", kInvalidPortOrName, ""},
      {"http://127.0.0.1:70000/", kInvalidPortOrName, ""},
      {"ftp://127.0.0.1:" + port + "/pub", kReplyRead, ""},
      {"ftp://127.0.0.1:" + refused, kConnectFailed, ""},
  };
  std::vector<std::string> urls;
  for (const Case& c : cases)
    urls.push_back(c.url);
  // The silent cases wait out the limit, so it is the test's length.
  const std::vector<ProbeOutcome> outcomes = ProbeAll(urls, 4s);
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].url.substr(0, 60));
    if (outcomes[i].code != cases[i].also || cases[i].also == 0) {
      EXPECT_EQ(outcomes[i].code, cases[i].code);
    }
    EXPECT_EQ(outcomes[i].reply, cases[i].reply);
    EXPECT_EQ(outcomes[i].url, cases[i].url);
  }
  EXPECT_EQ(ParseStatusCode(outcomes[5].reply), 404u);
  // A sanitizer on a busy machine may take seconds over the 600 KB
  // request; it has a limit of its own so the table's stays short.
  const ProbeOutcome long_one = Probe(Local(long_path), 60s);
  EXPECT_EQ(long_one.code, kReplyRead);
  EXPECT_EQ(long_one.reply, "HTTP/1.0 200 OK\r\n\r\n");
  // The long request went out whole, the longer ones not at all.
  int long_ones = 0;
  for (const std::string& path : Asked()) {
    if (path.rfind("/pp", 0) != 0) continue;
    ++long_ones;
    EXPECT_EQ(path, long_path);
  }
  EXPECT_EQ(long_ones, 1);
}

// The loopback address of IPv6, where the machine has one.
TEST_F(ProbeTest, Ipv6Literal) {
  const int fd = ::socket(AF_INET6, SOCK_STREAM, 0);
  sockaddr_in6 address{};
  address.sin6_family = AF_INET6;
  address.sin6_addr = in6addr_loopback;
  socklen_t length = sizeof address;
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd, 4) != 0 || ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length)) {
    if (fd >= 0) ::close(fd);
    GTEST_SKIP() << "no IPv6 loopback here";
  }
  const std::string port = std::to_string(ntohs(address.sin6_port));
  std::thread answer([fd] {
    pollfd ready{fd, POLLIN, 0};
    if (::poll(&ready, 1, 5000) != 1) return;
    const int connection = ::accept(fd, nullptr, nullptr);
    char request[4096];
    [[maybe_unused]] const ssize_t got = ::recv(connection, request, sizeof request, 0);
    const std::string reply = "HTTP/1.0 204 None\r\n\r\n";
    ::send(connection, reply.data(), reply.size(), MSG_NOSIGNAL);
    ::close(connection);
  });
  const ProbeOutcome outcome = Probe("http://[::1]:" + port + "/x.htm");
  answer.join();
  ::close(fd);
  EXPECT_EQ(outcome.host, "[::1]");
  EXPECT_EQ(outcome.reply, "HTTP/1.0 204 None\r\n\r\n");
}

// The request target is the link's path and query as written: nothing
// appended, the fragment dropped, only what a request line cannot carry
// escaped. Header lines end in CR LF, as strict servers demand.
TEST_F(ProbeTest, RequestBytesAsTheServerReceivesThem) {
  const std::pair<std::string, std::string> cases[] = {
      {"/dir/a page.htm#frag", "/dir/a%20page.htm"},
      {"/wiki/Link_rot", "/wiki/Link_rot"},
      {"/search?q=a&b=2", "/search?q=a&b=2"},
      {"/cgi?x=1", "/cgi?x=1"},
      {"/frag#section-2", "/frag"},
      {"/p%20q", "/p%20q"},
      {"/caf\xc3\xa9?q=\xe2\x82\xac", "/caf%C3%A9?q=%E2%82%AC"},
      {"?only=query", "/?only=query"},
  };
  for (const auto& [path, target] : cases)
    Probe(Local(path));
  Probe("http://localhost:" + std::to_string(server_.port()) + "/cgi?x=1");
  const auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), std::size(cases) + 1);
  const std::string port = std::to_string(server_.port());
  const std::string tail = "\r\nUser-Agent: " + kAgent + "\r\nAccept: */*\r\n\r\n";
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(requests[i],
              "GET " + cases[i].second + " HTTP/1.1\r\nHost: 127.0.0.1:" + port + tail);
  }
  EXPECT_EQ(requests.back(), "GET /cgi?x=1 HTTP/1.1\r\nHost: localhost:" + port + tail);
}

TEST_F(ProbeTest, CancelEndsEveryTransferAtOnce) {
  server_.On("/silent/", {Behaviour::kSilence, ""});
  std::vector<std::uint64_t> jobs;
  for (int i = 0; i < 200; ++i)
    jobs.push_back(worker_.Kick({Local("/silent/"), 30s, kAgent}));
  // Cancel once the requests are out, so the transfers wait for replies.
  for (int i = 0; i < 500 && server_.Requests().size() < 8; ++i)
    std::this_thread::sleep_for(10ms);
  worker_.CancelProbe();

  // The worker goes on serving kicks, and the cancel does not leak into
  // them; nothing of the cancelled ones comes back.
  server_.On("/ok/", {Behaviour::kReply, "HTTP/1.0 200 OK\r\n\r\n"});
  EXPECT_EQ(Probe(Local("/ok/")).reply, "HTTP/1.0 200 OK\r\n\r\n");
  for (const std::uint64_t job : jobs)
    EXPECT_FALSE(poster_.WaitForDone(job, 0ms));
  // A stop while a connection attempt hangs ends the thread.
  testing::StalledListener stalled;
  worker_.Kick({"http://127.0.0.1:" + std::to_string(stalled.port()) + "/", 30s, kAgent});
  std::this_thread::sleep_for(100ms);
  worker_.Stop();
}

TEST_F(ProbeTest, ParallelAndPerHostCapsHold) {
  const auto run = [&](int parallel, int per_host) {
    ScriptedServer server;
    for (int i = 0; i < 24; ++i) {
      server.On("/slow/" + std::to_string(i) + ".htm",
                {Behaviour::kReply, "HTTP/1.0 200 OK\r\n\r\n", 100ms});
    }
    worker_.Configure({parallel, per_host, "", false});
    std::vector<std::string> urls;
    for (int i = 0; i < 24; ++i) {
      // Two names of one server: "localhost" and its address are two hosts.
      urls.push_back(std::string(i % 2 ? "http://localhost:" : "http://127.0.0.1:") +
                     std::to_string(server.port()) + "/slow/" + std::to_string(i) + ".htm");
    }
    for (const ProbeOutcome& outcome : ProbeAll(urls))
      EXPECT_EQ(outcome.reply, "HTTP/1.0 200 OK\r\n\r\n");
    return server.MostAtOnce();
  };
  EXPECT_EQ(run(1, 8), 1);
  EXPECT_LE(run(4, 8), 4);
  const int capped = run(32, 3);
  EXPECT_LE(capped, 6);
  EXPECT_GE(capped, 4);  // both hosts at once
}

// A page's body comes back only when the job wants it: HTML for a page,
// anything for robots.txt, never for an error or a plain link; a moved
// page's body is its chain end's.
// A reply whose body is not wanted is read to its end when it is short,
// sized or chunked, so the next link to the host takes the same
// connection; past the bound a new connection costs less than the rest.
TEST_F(ProbeTest, ShortBodiesKeepTheConnectionChunkedOrNot) {
  // Under the read bound of 16 KiB, and over it.
  const std::string under(16000, 'x');
  const std::string over(200000, 'x');
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
  struct Case {
    const char* what;
    std::string reply;
    bool kept;
  };
  const Case cases[] = {
      {"chunked, empty", chunked(""), true},
      {"chunked, under the bound", chunked(under), true},
      {"sized, under the bound", "HTTP/1.1 404 Not Found\r\nContent-Length: 16000\r\n\r\n" + under,
       true},
      {"chunked, over the bound", chunked(over), false},
  };
  // A body that stops coming, or is cut short: the reply's head was in, so
  // the link is its status, not a time-out.
  for (const Behaviour behaviour : {Behaviour::kKeepAlive, Behaviour::kReply}) {
    ScriptedServer server;
    server.On("/stalls", {behaviour,
                          "HTTP/1.1 404 Not Found\r\nTransfer-Encoding: "
                          "chunked\r\n\r\n40\r\nab"});
    const ProbeOutcome stalled =
        Probe("http://127.0.0.1:" + std::to_string(server.port()) + "/stalls", 8s);
    EXPECT_EQ(stalled.code, kReplyRead);
    EXPECT_EQ(ParseStatusCode(stalled.reply), 404u);
  }
  worker_.Configure({1, 1, "", false});
  for (const Case& c : cases) {
    ScriptedServer server;
    std::vector<std::string> urls;
    for (int i = 0; i < 6; ++i) {
      const std::string path = "/page" + std::to_string(i);
      server.On(path, {Behaviour::kKeepAlive, c.reply});
      urls.push_back("http://127.0.0.1:" + std::to_string(server.port()) + path);
    }
    for (const ProbeOutcome& outcome : ProbeAll(urls))
      EXPECT_EQ(ParseStatusCode(outcome.reply), 404u) << c.what;
    EXPECT_EQ(server.Connections(), c.kept ? 1 : 6) << c.what;
  }
}

TEST_F(ProbeTest, BodiesAreKeptOnlyWhenWanted) {
  const std::string html = "<a href=x>x</a>";
  server_.On("/page", {Behaviour::kReply,
                       "HTTP/1.1 200 OK\r\nContent-Type: text/html; "
                       "charset=utf-8\r\nContent-Length: 15\r\n\r\n" +
                           html});
  server_.On("/text",
             {Behaviour::kReply,
              "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 2\r\n\r\nno"});
  server_.On("/gone",
             {Behaviour::kReply,
              "HTTP/1.1 404 Gone\r\nContent-Type: text/html\r\nContent-Length: 4\r\n\r\ngone"});
  server_.On("/moved", {Behaviour::kReply, "HTTP/1.1 301 Moved\r\nLocation: /page\r\n\r\n"});
  const struct {
    const char* path;
    BodyWanted wanted;
    std::string body;
  } cases[] = {
      {"/page", BodyWanted::kHtml, html}, {"/page", BodyWanted::kNone, ""},
      {"/text", BodyWanted::kHtml, ""},   {"/text", BodyWanted::kAny, "no"},
      {"/gone", BodyWanted::kAny, ""},    {"/moved", BodyWanted::kHtml, html},
  };
  for (const auto& c : cases) {
    const std::uint64_t job = worker_.Kick({Local(c.path), 5s, kAgent, c.wanted});
    const auto outcome = poster_.WaitForDone(job, 30s);
    ASSERT_TRUE(outcome) << c.path;
    EXPECT_EQ(outcome->body, c.body) << c.path << " " << static_cast<int>(c.wanted);
  }
}

TEST(HostPacingTest, RateAndPausesHoldOneHostOnly) {
  using Clock = HostPacing::Clock;
  const Clock::time_point t0{};
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

// A Retry-After is waited for to the second, never past the link's time
// limit (a retry due as the limit ends is not made), and a 429 pauses its
// host for the wait asked, from 1 to 60 seconds, whether or not the link
// itself is asked again.
TEST(RetryTest, RetryAfterIsWaitedToTheSecondWithinTheTimeLimit) {
  using std::chrono::milliseconds;
  using std::chrono::seconds;
  struct Case {
    std::string reply;
    milliseconds limit;
    std::optional<seconds> due;   // after the reply
    std::optional<seconds> held;  // its host, by a 429
  };
  const Case cases[] = {
      {"HTTP/1.1 503 Down\r\nRetry-After: 10\r\n\r\n", 10001ms, 10s, std::nullopt},
      {"HTTP/1.1 503 Down\r\nRetry-After: 10\r\n\r\n", 10000ms, std::nullopt, std::nullopt},
      {"HTTP/1.1 503 Down\r\nRetry-After: 11\r\n\r\n", 60s, std::nullopt, std::nullopt},
      {"HTTP/1.1 429 Busy\r\nRetry-After: 0\r\n\r\n", 5s, 0s, 1s},
      {"HTTP/1.1 429 Busy\r\nRetry-After: 7\r\n\r\n", 5s, std::nullopt, 7s},
      {"HTTP/1.1 429 Busy\r\nRetry-After: 120\r\n\r\n", 200s, std::nullopt, 60s},
      {"HTTP/1.1 429 Busy\r\n\r\n", 5s, std::nullopt, 1s},
      {"HTTP/1.1 500 Oops\r\nRetry-After: 1\r\n\r\n", 5s, std::nullopt, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply.substr(0, c.reply.find("\r\n\r\n")) + " within " +
                 std::to_string(c.limit.count()) + " ms");
    FakeClock clock;
    HostPacing pacing;
    Transfer transfer;
    transfer.host_key = "http://h:80";
    transfer.request.time_limit = c.limit;
    ASSERT_EQ(HopTimeLimit(transfer), c.limit);
    transfer.outcome.reply = c.reply;
    const SteadyTime replied = clock.now;
    EXPECT_EQ(RetryDue(transfer, pacing), c.due ? std::optional(replied + *c.due) : std::nullopt);
    EXPECT_EQ(RetryDue(transfer, pacing), std::nullopt) << "asked again only once";
    if (c.held) {
      EXPECT_FALSE(pacing.MayStart(transfer.host_key, replied + *c.held - 1ms));
      EXPECT_TRUE(pacing.MayStart(transfer.host_key, replied + *c.held));
    } else {
      EXPECT_TRUE(pacing.MayStart(transfer.host_key, replied));
    }
    EXPECT_TRUE(pacing.MayStart("http://other:80", replied));
  }
}

// Each hop is given what is left of the time limit since the hop began
// (a retry spends from it), never 0, which curl reads as no limit.
TEST(RetryTest, AHopsTimeLimitIsWhatIsLeftOfItsDeadline) {
  using std::chrono::milliseconds;
  FakeClock clock;
  Transfer transfer;
  transfer.request.time_limit = std::chrono::seconds(30);
  const struct {
    milliseconds passed, left;
  } steps[] = {{0ms, 30000ms}, {12500ms, 17500ms}, {17499ms, 1ms}, {1ms, 1ms}, {60000ms, 1ms}};
  for (const auto& step : steps) {
    clock.now += step.passed;
    EXPECT_EQ(HopTimeLimit(transfer), step.left) << step.passed.count();
  }
}

// A host that answers 429 is paused; the links to other hosts pass it by
// rather than wait behind it.
TEST_F(ProbeTest, ATooManyRequestsPausesThatHostOnly) {
  server_.On("/a1", {Behaviour::kReply, "HTTP/1.1 429 Busy\r\nRetry-After: 1\r\n\r\n"});
  for (const char* path : {"/a2", "/b1", "/b2"})
    server_.On(path, {Behaviour::kReply, "HTTP/1.1 200 OK\r\n\r\n"});
  worker_.Configure({1, 1, "", false});
  const std::string b = "http://localhost:" + std::to_string(server_.port());
  ProbeAll({Local("/a1"), Local("/a2"), b + "/b1", b + "/b2"});
  const std::vector<std::string> asked = Asked();
  ASSERT_GE(asked.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(asked.begin(), asked.begin() + 3),
            (std::vector<std::string>{"/a1", "/b1", "/b2"}));
}

// A 429 or 503 that names a short wait in Retry-After is asked once more
// after it, and that answer counts; never a third time. A date, a
// negative wait or another status is not waited for. (The bounds of the
// wait are timed by a fake clock above.)
TEST_F(ProbeTest, ABusyServerIsAskedOnceMoreAfterAShortRetryAfter) {
  struct Case {
    std::string path, first, then;
    std::chrono::milliseconds limit;
    std::string outcome;  // its status line
    int requests;
  };
  const std::string ok = "HTTP/1.1 200 OK\r\n\r\n";
  const Case cases[] = {
      {"/503", "HTTP/1.1 503 Down\r\nRetry-After: 0\r\n\r\n", ok, 5s, "HTTP/1.1 200 OK", 2},
      {"/429", "HTTP/1.1 429 Busy\r\nretry-after:  1 \r\n\r\n", "", 5s, "HTTP/1.1 429 Busy", 2},
      {"/date", "HTTP/1.1 503 Down\r\nRetry-After: Fri, 31 Dec 1999 23:59:59 GMT\r\n\r\n", ok, 5s,
       "HTTP/1.1 503 Down", 1},
      {"/500", "HTTP/1.1 500 Oops\r\nRetry-After: 0\r\n\r\n", ok, 5s, "HTTP/1.1 500 Oops", 1},
      {"/minus", "HTTP/1.1 503 Down\r\nRetry-After: -1\r\n\r\n", ok, 5s, "HTTP/1.1 503 Down", 1},
  };
  std::vector<std::uint64_t> jobs;
  for (const Case& c : cases) {
    server_.On(c.path, {Behaviour::kReply, c.first, 0ms, c.then});
    jobs.push_back(worker_.Kick({Local(c.path), c.limit, kAgent}));
  }
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].path);
    const auto outcome = poster_.WaitForDone(jobs[i], 10s);
    ASSERT_TRUE(outcome);
    EXPECT_EQ(outcome->reply.substr(0, outcome->reply.find('\r')), cases[i].outcome);
    const auto asked = Asked();
    EXPECT_EQ(std::count(asked.begin(), asked.end(), cases[i].path), cases[i].requests);
  }
}

// Interim replies (100 Continue, 103 Early Hints) come before the real
// one, which is what the link gets.
TEST_F(ProbeTest, InterimRepliesComeBeforeTheRealOne) {
  server_.On("/continue/",
             {Behaviour::kReply, "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 404 Not Found\r\n\r\n"});
  server_.On("/hints/", {Behaviour::kReply,
                         "HTTP/1.1 103 Early Hints\r\nLink: </s.css>; rel=preload\r\n\r\n"
                         "HTTP/1.1 301 Moved\r\nLocation: /x\r\n\r\n"});
  ProbeSettings once;
  once.max_redirects = 0;
  worker_.Configure(once);
  const auto outcomes = ProbeAll({Local("/continue/"), Local("/hints/")});
  EXPECT_EQ(ParseStatusCode(outcomes[0].reply), 404u) << outcomes[0].reply;
  EXPECT_EQ(ParseStatusCode(outcomes[1].reply), 301u) << outcomes[1].reply;
  EXPECT_EQ(LocationOf(outcomes[1].reply), "/x");
}

TEST_F(ProbeTest, BadUrlsNeverCrash) {
  const std::vector<std::string> urls = {
      std::string("http://12\0.0.0.1/", 17),
      std::string("http://loc\0alhost/", 18),
      "http://\xff\xfe\x80.invalid/\x01\x02",
      "http://bad host\x7f/",
      "http://" + std::string(100000, 'a') + "/",
      Local("/" + std::string(70000, 'p')),
      "",
      "x",
      "ftp:/",
      "https://[::1/",
      "http://\xc3\xa9t\xc3\xa9.invalid/",
  };
  for (const ProbeOutcome& outcome : ProbeAll(urls, 2s))
    EXPECT_NE(outcome.code, kReplyTimedOut) << outcome.url.substr(0, 40);
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

// A proxy named in http_proxy gets the whole URL; one in https_proxy is
// asked to CONNECT, and never sees the path; no_proxy names the hosts it is
// passed by for.
TEST_F(ProbeTest, TheEnvironmentsProxyIsUsed) {
  ScriptedServer proxy;
  const std::string proxied_url = "http://proxied.test:81/page.htm";
  proxy.On(proxied_url, {Behaviour::kReply, "HTTP/1.0 200 Via Proxy\r\n\r\n"});
  // An international name goes to the proxy in its ASCII form.
  proxy.On("http://xn--bcher-kva.test:81/b.htm", {Behaviour::kReply, "HTTP/1.0 204 IDN\r\n\r\n"});
  proxy.On("secure.test:8443", {Behaviour::kReply, "HTTP/1.1 403 No Tunnel\r\n\r\n"});
  const std::string address = "http://127.0.0.1:" + std::to_string(proxy.port());
  const ScopedEnvironment environment{{"http_proxy", address.c_str()},
                                      {"https_proxy", address.c_str()},
                                      {"no_proxy", "example.test, .Other.Test,127.0.0.1"}};
  const auto outcomes = ProbeAll({proxied_url,
                                  "http://b\xc3\xbc"
                                  "cher.test:81/b.htm",
                                  Local("/x.htm"), "https://secure.test:8443/page.htm",
                                  "https://127.0.0.1:" + std::to_string(testing::RefusedPort())});
  EXPECT_EQ(outcomes[0].reply, "HTTP/1.0 200 Via Proxy\r\n\r\n");
  EXPECT_EQ(outcomes[1].reply, "HTTP/1.0 204 IDN\r\n\r\n");
  EXPECT_EQ(outcomes[2].reply, "HTTP/1.0 404 Not Found\r\n\r\n");
  // The proxy's refusal is not the link's reply: the host was not reached.
  EXPECT_EQ(outcomes[3].reply, "");
  EXPECT_EQ(outcomes[3].code, kConnectFailed);
  EXPECT_EQ(outcomes[4].code, kConnectFailed);
  auto requests = proxy.Requests();
  ASSERT_EQ(requests.size(), 3u);
  std::sort(requests.begin(), requests.end());
  EXPECT_EQ(requests[0].substr(0, requests[0].find('\r')), "CONNECT secure.test:8443 HTTP/1.1");
  EXPECT_EQ(requests[0].find("page.htm"), std::string::npos);
  EXPECT_EQ(requests[1].substr(0, requests[1].find('\r')),
            "GET http://proxied.test:81/page.htm HTTP/1.1");
  EXPECT_EQ(server_.Requests().size(), 1u);
}

// The proxy a probe goes through, as curl and the usual tools choose it:
// the lower-case variable first, then the upper-case one, then all_proxy.
// HTTP_PROXY is never read: a CGI program gets it from a request's "Proxy:"
// header.
TEST(ProxyRules, TheVariablesAreReadAsCurlReadsThem) {
  struct Case {
    std::vector<std::pair<const char*, const char*>> set;
    bool http, https;
  };
  const char* kProxy = "http://127.0.0.1:9";
  const Case cases[] = {
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
  const char* const kAll[] = {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY",
                              "all_proxy",  "ALL_PROXY",  "no_proxy",    "NO_PROXY"};
  CURL* easy = curl_easy_init();
  ASSERT_NE(easy, nullptr);
  for (const Case& c : cases) {
    std::vector<std::pair<const char*, const char*>> environment;
    for (const char* name : kAll) {
      const char* value = nullptr;
      for (const auto& [set, to] : c.set)
        if (std::string_view(set) == name) value = to;
      environment.emplace_back(name, value);
    }
    const ScopedEnvironment scoped(environment);
    const std::string trace = c.set.empty() ? "(none)" : c.set.front().first;
    EXPECT_EQ(ConfigureProxy(easy, Protocol::kHttp, "h.test"), c.http) << trace;
    EXPECT_EQ(ConfigureProxy(easy, Protocol::kHttps, "h.test"), c.https) << trace;
  }
  curl_easy_cleanup(easy);
}

TEST(ProxyRules, NoProxyNamesHostsAndDomainSuffixes) {
  struct Case {
    const char *no_proxy, *upper, *host;
    bool exempt;
  };
  const Case cases[] = {
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
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.no_proxy ? c.no_proxy : "(none)") + " " + c.host);
    const ScopedEnvironment environment{{"no_proxy", c.no_proxy}, {"NO_PROXY", c.upper}};
    EXPECT_EQ(IsExemptFromProxy(c.host), c.exempt);
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
  EXPECT_EQ(LocationOf("HTTP/1.1 302 Found\nLocation: /abc\n\n"), "/abc");
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
  // A 303 is followed too, though its row would be no move.
  server_.On("/g2", {Behaviour::kReply, "HTTP/1.1 303 See Other\r\nLocation: ?q=1\r\n\r\n"});
  server_.On("/g2?q=1", {Behaviour::kReply, "HTTP/1.1 200 OK\r\n\r\n"});
  server_.On("/dead", move("/nothing"));
  server_.On("/loop1", move("/loop2"));
  server_.On("/loop2", move("loop1#again"));
  for (int i = 0; i <= 10; ++i)
    server_.On("/h" + std::to_string(i), move("/h" + std::to_string(i + 1)));
  server_.On("/h11", {Behaviour::kReply, "HTTP/1.1 200 OK\r\n\r\n"});
  server_.On("/mail", move("mailto:someone@example.invalid"));
  server_.On("/down", move(refused));
  server_.On("/other", move("//127.0.0.1:" + std::to_string(server_.port()) + "/g2?q=1"));

  struct Case {
    std::string path;
    ChainEnd end;
    OutcomeCode code;
    std::size_t hops;
    std::string last;  // where the chain ended
  };
  const Case cases[] = {
      {"/good", ChainEnd::kGood, 0, 2, Local("/g2?q=1")},
      {"/dead", ChainEnd::kFailed, 404, 1, Local("/nothing")},
      {"/loop1", ChainEnd::kFailed, kRedirectLoop, 1, Local("/loop2")},
      {"/h1", ChainEnd::kGood, 0, 10, Local("/h11")},
      {"/h0", ChainEnd::kFailed, kTooManyRedirects, 10, Local("/h10")},
      {"/mail", ChainEnd::kGood, 0, 1, "mailto:someone@example.invalid"},
      {"/down", ChainEnd::kFailed, kConnectFailed, 1, refused},
      {"/other", ChainEnd::kGood, 0, 1, Local("/g2?q=1")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const std::size_t before = server_.Requests().size();
    const ProbeOutcome outcome = Probe(Local(c.path));
    // The first reply stays what the row is made of.
    EXPECT_EQ(ParseStatusCode(outcome.reply), 301u);
    EXPECT_EQ(outcome.chain_end, c.end);
    EXPECT_EQ(outcome.chain_code, c.code);
    ASSERT_EQ(outcome.redirects.size(), c.hops);
    EXPECT_EQ(outcome.redirects.back(), c.last);
    // No URL of a chain is asked twice.
    EXPECT_LE(server_.Requests().size() - before, c.hops + 1);
  }

  // No hop allowed: one request, the move as it came.
  ProbeSettings once;
  once.max_redirects = 0;
  worker_.Configure(once);
  const std::size_t before = server_.Requests().size();
  const ProbeOutcome outcome = Probe(Local("/good"));
  EXPECT_EQ(outcome.chain_end, ChainEnd::kNotFollowed);
  EXPECT_TRUE(outcome.redirects.empty());
  EXPECT_EQ(server_.Requests().size() - before, 1u);
}

// A socket that cannot be opened for want of a descriptor is told apart
// from a refused connection, which curl does not do. In a child process, so
// the limit touches nothing else of the tests.
TEST(Transfer, NoDescriptorLeftIsToldApart) {
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    rlimit tight{};
    ::getrlimit(RLIMIT_NOFILE, &tight);
    tight.rlim_cur = std::min<rlim_t>(tight.rlim_max, 256);
    if (::setrlimit(RLIMIT_NOFILE, &tight) != 0) ::_exit(3);
    // Every descriptor taken.
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

}  // namespace
}  // namespace quimbel
