#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "probe/probe_worker.h"
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

  // The messages up to and including the kProbeDone of `job`.
  std::vector<WorkerMessage> WaitForDone(std::uint64_t job, std::chrono::milliseconds limit = 10s) {
    std::unique_lock lock(mutex_);
    std::vector<WorkerMessage> result;
    changed_.wait_for(lock, limit, [&] {
      for (const auto& m : messages_) {
        if (m.id == MessageId::kProbeDone && m.job == job) return true;
      }
      return false;
    });
    for (const auto& m : messages_) {
      if (m.job == job) result.push_back(m);
    }
    return result;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<WorkerMessage> messages_;
};

class ProbeTest : public ::testing::Test {
 protected:
  ProbeTest() : worker_(poster_) { worker_.Start(); }

  ProbeOutcome Probe(const std::string& url, std::chrono::milliseconds limit = 2s) {
    const std::uint64_t job = worker_.Kick({url, limit, kAgent});
    messages_ = poster_.WaitForDone(job);
    if (messages_.empty() || messages_.back().id != MessageId::kProbeDone) {
      ADD_FAILURE() << "no completion for " << url;
      return {};
    }
    return std::any_cast<ProbeOutcome>(messages_.back().payload);
  }

  std::string Local(const std::string& path) {
    return "http://127.0.0.1:" + std::to_string(server_.port()) + path;
  }

  std::vector<MessageId> Ids() const {
    std::vector<MessageId> ids;
    for (const auto& m : messages_)
      ids.push_back(m.id);
    return ids;
  }

  ScriptedServer server_;
  RecordingPoster poster_;
  ProbeWorker worker_;
  std::vector<WorkerMessage> messages_;
};

TEST_F(ProbeTest, OutcomesAgainstTheScriptedServer) {
  const std::string long_reply = "HTTP/1.0 200 OK\r\n\r\n" + std::string(5000, 'x');
  server_.On("/ok/", {Behaviour::kReply, "HTTP/1.0 200 OK\r\nServer: t\r\n\r\nbody"});
  server_.On("/moved/", {Behaviour::kReply, "HTTP/1.0 301 Moved\r\nLocation: /else/\r\n\r\n"});
  server_.On("/closed/", {Behaviour::kCloseWithoutReply, ""});
  server_.On("/long.htm", {Behaviour::kReply, long_reply});

  struct Case {
    std::string url;
    OutcomeCode code;
    std::string reply;
  };
  const Case cases[] = {
      {Local("/ok"), kReplyRead, "HTTP/1.0 200 OK\r\nServer: t\r\n\r\nbody"},
      {Local("/missing.htm"), kReplyRead, "HTTP/1.0 404 Not Found\r\n\r\n"},
      {Local("/moved"), kReplyRead, "HTTP/1.0 301 Moved\r\nLocation: /else/\r\n\r\n"},
      {Local("/closed"), kReplyRead, ""},
      {Local("/long.htm"), kReplyRead, long_reply.substr(0, 2048)},
      {"http://127.0.0.1:" + std::to_string(testing::RefusedPort()) + "/", kConnectFailed, ""},
      {"http://no-such-host.invalid/", kHostNotFound, ""},
      {"http://1nvalid-but-digit-led/", kConnectFailed, ""},
      {"http:///path", kInvalidPortOrName, ""},
      {"http://", kInvalidPortOrName, ""},
      {"http://127.0.0.1:0/", kInvalidPortOrName, ""},
      {"http://127.0.0.1:70000/", kInvalidPortOrName, ""},
      {"ftp://127.0.0.1:" + std::to_string(server_.port()) + "/pub", kReplyRead, ""},
      {"ftp://127.0.0.1:" + std::to_string(testing::RefusedPort()), kConnectFailed, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    const ProbeOutcome outcome = Probe(c.url);
    EXPECT_EQ(outcome.code, c.code);
    EXPECT_EQ(outcome.reply, c.reply);
    EXPECT_EQ(outcome.url, c.url);
    EXPECT_FALSE(outcome.cancelled);
  }
}

TEST_F(ProbeTest, RequestBytesAsTheServerReceivesThem) {
  Probe(Local("/dir/a page.htm#frag"));
  Probe("http://localhost:" + std::to_string(server_.port()) + "/cgi?x=1");
  const auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 2u);
  const std::string port = std::to_string(server_.port());
  const std::string tail = "\r\nUser-Agent: " + kAgent + "\r\nAccept: */*\r\n\r\n";
  EXPECT_EQ(requests[0], "GET /dir/a page.htm HTTP/1.1\r\nHost: 127.0.0.1:" + port + tail);
  EXPECT_EQ(requests[1], "GET /cgi?x=1/ HTTP/1.1\r\nHost: localhost:" + port + tail);
}

// Node.js's own HTTP server refuses header lines that end in a bare line
// feed; it answers our request.
TEST_F(ProbeTest, NodeHttpServerAnswers) {
  if (std::system("command -v node >/dev/null 2>&1") != 0) GTEST_SKIP() << "no node here";
  // The server ends after its one answer, so closing the pipe never waits.
  FILE* node = ::popen(
      "exec timeout 30 node -e \"const server = require('http').createServer((q, s) => {"
      " s.end('ok'); server.close(); }); server.listen(0, '127.0.0.1',"
      " () => console.log(server.address().port))\"",
      "r");
  ASSERT_NE(node, nullptr);
  char line[32] = {};
  const bool listening = std::fgets(line, sizeof line, node) != nullptr;
  if (listening) {
    const std::string port(line, std::strcspn(line, "\n"));
    EXPECT_EQ(Probe("http://127.0.0.1:" + port + "/x.htm").reply.substr(0, 15), "HTTP/1.1 200 OK");
  }
  ::pclose(node);
  EXPECT_TRUE(listening);
}

TEST(FormatRequest, DefaultPortLeavesTheHostBare) {
  EXPECT_EQ(FormatRequest("/", "example.test", 80, "A"),
            "GET / HTTP/1.1\r\nHost: example.test\r\nUser-Agent: A\r\nAccept: */*\r\n\r\n");
  EXPECT_NE(FormatRequest("/", "h", 8080, "A").find("\r\nHost: h:8080\r\n"), std::string::npos);
}

TEST_F(ProbeTest, MessagesArriveInOrderWithTheirParameters) {
  server_.On("/ok/", {Behaviour::kReply, "HTTP/1.0 200 OK\r\n\r\n"});
  Probe(Local("/ok"));
  ASSERT_EQ(Ids(), (std::vector<MessageId>{MessageId::kProbeBegun, MessageId::kProbeConnecting,
                                           MessageId::kProbeConnected, MessageId::kProbeRequestSent,
                                           MessageId::kProbeReplyRead, MessageId::kProbeDone}));
  EXPECT_EQ(messages_[0].text, Local("/ok"));
  EXPECT_EQ(messages_[1].text, "127.0.0.1");
  EXPECT_EQ(messages_[2].param, 0);
  EXPECT_EQ(
      messages_[3].param,
      static_cast<std::int64_t>(FormatRequest("/ok/", "127.0.0.1", server_.port(), kAgent).size()));
  EXPECT_EQ(messages_[4].param, 19);
  EXPECT_EQ(messages_[5].param, 0);

  Probe("http://no-such-host.invalid/");
  ASSERT_EQ(Ids(), (std::vector<MessageId>{MessageId::kProbeBegun, MessageId::kProbeConnecting,
                                           MessageId::kProbeConnected, MessageId::kProbeDone}));
  EXPECT_EQ(messages_[2].param, kHostNotFound);
  EXPECT_EQ(messages_[3].param, kHostNotFound);

  // A close without reply reports a receive count of 0.
  server_.On("/closed/", {Behaviour::kCloseWithoutReply, ""});
  Probe(Local("/closed"));
  ASSERT_EQ(messages_.size(), 6u);
  EXPECT_EQ(messages_[4].param, 0);

  // ftp stops after the connection: nothing sent, nothing read.
  Probe("ftp://127.0.0.1:" + std::to_string(server_.port()));
  ASSERT_EQ(Ids(), (std::vector<MessageId>{MessageId::kProbeBegun, MessageId::kProbeConnecting,
                                           MessageId::kProbeConnected, MessageId::kProbeDone}));
}

TEST_F(ProbeTest, SilentHostTimesOutWithinTheLimit) {
  server_.On("/silent/", {Behaviour::kSilence, ""});
  const auto start = std::chrono::steady_clock::now();
  const ProbeOutcome outcome = Probe(Local("/silent"), 500ms);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(outcome.code, kReplyTimedOut);
  EXPECT_LT(took, 500ms + 1s);
  EXPECT_GE(took, 450ms);
}

TEST_F(ProbeTest, ConnectAttemptThatNeverCompletesIsBounded) {
  testing::StalledListener stalled;
  const auto start = std::chrono::steady_clock::now();
  const ProbeOutcome outcome =
      Probe("http://127.0.0.1:" + std::to_string(stalled.port()) + "/", 500ms);
  EXPECT_EQ(outcome.code, kConnectFailed);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms + 1s);
}

TEST_F(ProbeTest, CancelEndsASilentProbeAtOnce) {
  server_.On("/silent/", {Behaviour::kSilence, ""});
  const std::uint64_t job = worker_.Kick({Local("/silent"), 30s, kAgent});
  // Cancel once the request is out, so the probe is inside its reply wait.
  for (int i = 0; i < 500 && server_.Requests().empty(); ++i)
    std::this_thread::sleep_for(10ms);
  const auto start = std::chrono::steady_clock::now();
  worker_.CancelProbe();
  const auto messages = poster_.WaitForDone(job, 5s);
  ASSERT_FALSE(messages.empty());
  ASSERT_EQ(messages.back().id, MessageId::kProbeDone);
  EXPECT_TRUE(std::any_cast<ProbeOutcome>(messages.back().payload).cancelled);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);

  // The worker goes on serving kicks, and the cancel does not leak into them.
  server_.On("/ok/", {Behaviour::kReply, "HTTP/1.0 200 OK\r\n\r\n"});
  EXPECT_EQ(Probe(Local("/ok")).reply, "HTTP/1.0 200 OK\r\n\r\n");
}

TEST_F(ProbeTest, StopDuringAConnectAttemptJoinsAtOnce) {
  testing::StalledListener stalled;
  worker_.Kick({"http://127.0.0.1:" + std::to_string(stalled.port()) + "/", 30s, kAgent});
  std::this_thread::sleep_for(100ms);
  const auto start = std::chrono::steady_clock::now();
  worker_.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

TEST_F(ProbeTest, ALongRequestGoesOutWhole) {
  // Far more than a socket buffer takes in one call.
  const std::string path = "/" + std::string(6 << 20, 'p');
  server_.On(path + "/", {Behaviour::kReply, "HTTP/1.0 200 OK\r\n\r\n"});
  const ProbeOutcome outcome = Probe(Local(path), 5s);
  EXPECT_EQ(outcome.code, kReplyRead);
  EXPECT_EQ(outcome.reply, "HTTP/1.0 200 OK\r\n\r\n");
}

TEST_F(ProbeTest, ABusyServerWithAShortRetryAfterIsAskedOnceMore) {
  server_.On("/busy/", {Behaviour::kReply, "HTTP/1.1 429 Busy\r\nRetry-After: 1\r\n\r\n"});
  server_.On("/later/", {Behaviour::kReply, "HTTP/1.1 503 Down\r\nRetry-After: 11\r\n\r\n"});
  server_.On("/date/",
             {Behaviour::kReply, "HTTP/1.1 503 Down\r\nRetry-After: Fri, 31 Dec 1999\r\n\r\n"});
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Probe(Local("/busy"), 5s).reply.substr(0, 17), "HTTP/1.1 429 Busy");
  EXPECT_GE(std::chrono::steady_clock::now() - start, 900ms);
  EXPECT_EQ(server_.Requests().size(), 2u);  // once more, and no more
  Probe(Local("/later"), 5s);
  Probe(Local("/date"), 5s);
  EXPECT_EQ(server_.Requests().size(), 4u);  // neither a long wait nor a date is retried
}

// A resolver that takes far longer than any time limit of the tests.
std::optional<Ipv4Address> SlowResolver(const std::string&) {
  std::this_thread::sleep_for(3s);
  return Ipv4Address{0x0100007f};
}

TEST(LookupHostWithin, TheTimeLimitAndAStopEndTheWait) {
  auto start = std::chrono::steady_clock::now();
  WaitResultOf<Ipv4Address> found = LookupHostWithin("slow.test", 200ms, nullptr, &SlowResolver);
  EXPECT_EQ(found.result, WaitResult::kTimedOut);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);

  WakeSignal wake;
  std::thread stopper([&] {
    std::this_thread::sleep_for(100ms);
    wake.Wake();
  });
  start = std::chrono::steady_clock::now();
  found = LookupHostWithin("slow.test", 30s, &wake, &SlowResolver);
  stopper.join();
  EXPECT_EQ(found.result, WaitResult::kWoken);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);

  found = LookupHostWithin("localhost", 5s, nullptr);
  ASSERT_EQ(found.result, WaitResult::kReady);
  EXPECT_EQ(found.value->network_order, 0x0100007fu);
  EXPECT_EQ(LookupHostWithin("no.such.invalid", 5s, nullptr).result, WaitResult::kFailed);
}

TEST_F(ProbeTest, BadUrlsNeverCrash) {
  const std::string urls[] = {
      std::string("http://12\0.0.0.1/", 17),
      std::string("http://loc\0alhost/", 18),
      "http://\xff\xfe\x80.invalid/\x01\x02",
      "http://bad host\x7f/",
      "http://" + std::string(100000, 'a') + "/",
      "http://127.0.0.1:" + std::to_string(server_.port()) + "/" + std::string(70000, 'p'),
      "",
      "x",
      "ftp:/",
  };
  for (const std::string& url : urls) {
    SCOPED_TRACE(url.substr(0, 40));
    const ProbeOutcome outcome = Probe(url);
    EXPECT_NE(outcome.code, kReplyTimedOut);
  }
}

TEST(ProbeNginx, ExistingAndMissingFiles) {
  testing::NginxServer nginx({{"index.html", "<html>hello</html>"}, {"page.htm", "page"}});
  RecordingPoster poster;
  ProbeWorker worker(poster);
  worker.Start();
  const std::string base = "http://127.0.0.1:" + std::to_string(nginx.port());
  struct Case {
    std::string path;
    std::string status_line;
  };
  const Case cases[] = {
      {"/page.htm", "HTTP/1.1 200 OK\r\n"},
      {"/", "HTTP/1.1 200 OK\r\n"},
      {"/missing.htm", "HTTP/1.1 404 Not Found\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const auto messages = poster.WaitForDone(worker.Kick({base + c.path, 5s, kAgent}));
    ASSERT_FALSE(messages.empty());
    const auto outcome = std::any_cast<ProbeOutcome>(messages.back().payload);
    EXPECT_EQ(outcome.code, kReplyRead);
    EXPECT_EQ(outcome.reply.rfind(c.status_line, 0), 0u) << outcome.reply;
  }
}

}  // namespace
}  // namespace quimbel
