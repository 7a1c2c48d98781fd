#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "probe/probe_worker.h"
#include "probe/reply_parsing.h"
#include "probe/transfer.h"
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

// Probes one URL on `worker` and waits for its outcome.
ProbeOutcome ProbeOne(ProbeWorker& worker, RecordingPoster& poster, const std::string& url) {
  const auto messages = poster.WaitForDone(worker.Kick({url, 5s, kAgent}));
  return messages.empty() ? ProbeOutcome{} : std::any_cast<ProbeOutcome>(messages.back().payload);
}

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
      const auto messages = poster_.WaitForDone(job, 30s);
      if (messages.empty()) {
        ADD_FAILURE() << "no completion for job " << job;
        outcomes.emplace_back();
        continue;
      }
      outcomes.push_back(std::any_cast<ProbeOutcome>(messages.back().payload));
    }
    return outcomes;
  }

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

  ScriptedServer server_;
  RecordingPoster poster_;
  ProbeWorker worker_;
  std::vector<WorkerMessage> messages_;
};

TEST_F(ProbeTest, OutcomesAgainstTheScriptedServer) {
  const std::string long_header = "HTTP/1.0 200 OK\r\nX: " + std::string(5000, 'x') + "\r\n\r\n";
  server_.On("/ok/", {Behaviour::kReply, "HTTP/1.0 200 OK\r\nServer: t\r\n\r\nbody"});
  server_.On("/moved/", {Behaviour::kReply, "HTTP/1.0 301 Moved\r\nLocation: /else/\r\n\r\n"});
  server_.On("/closed/", {Behaviour::kCloseWithoutReply, ""});
  server_.On("/long.htm", {Behaviour::kReply, long_header});
  server_.On("/bare/", {Behaviour::kReply, "404 Gone\r\n\r\n"});
  server_.On("/chat/", {Behaviour::kReply, "hello there"});
  server_.On("/cut/", {Behaviour::kReply, "HTTP/1.1 200 OK\r\nServer: t\r\n"});
  server_.On("/nonumber/", {Behaviour::kReply, "HTTP/1.1 OK\r\n\r\n"});
  const std::string port = std::to_string(server_.port());

  struct Case {
    std::string url;
    OutcomeCode code;
    std::string reply;  // the header block as received
  };
  const Case cases[] = {
      {Local("/ok/"), kReplyRead, "HTTP/1.0 200 OK\r\nServer: t\r\n\r\n"},
      {Local("/missing.htm"), kReplyRead, "HTTP/1.0 404 Not Found\r\n\r\n"},
      {Local("/moved/"), kReplyRead, "HTTP/1.0 301 Moved\r\nLocation: /else/\r\n\r\n"},
      {Local("/closed/"), kReplyRead, ""},
      {Local("/long.htm"), kReplyRead, long_header.substr(0, 2048)},
      // Replies that are no HTTP/1 reply reach the classification as they came.
      {Local("/bare/"), kReplyRead, "404 Gone\r\n\r\n"},
      {Local("/chat/"), kReplyRead, "hello there"},
      {Local("/cut/"), kReplyRead, "HTTP/1.1 200 OK\r\nServer: t\r\n"},
      {"HTTP://LOCALHOST:" + port + "/ok/", kReplyRead, "HTTP/1.0 200 OK\r\nServer: t\r\n\r\n"},
      {"http://127.1:" + port + "/ok/", kReplyRead, "HTTP/1.0 200 OK\r\nServer: t\r\n\r\n"},
      {"http://127.0.0.1:" + std::to_string(testing::RefusedPort()) + "/", kConnectFailed, ""},
      {"https://127.0.0.1:" + std::to_string(testing::RefusedPort()) + "/", kConnectFailed, ""},
      {"http://no-such-host.invalid/", kHostNotFound, ""},
      {"http://user@no-such-host/", kHostNotFound, ""},
      {"http://1nvalid-but-digit-led/", kConnectFailed, ""},
      {"http://[not:an:address]/", kHostNotFound, ""},
      {"http:///path", kInvalidPortOrName, ""},
      {"http://", kInvalidPortOrName, ""},
      {"http://127.0.0.1:0/", kInvalidPortOrName, ""},
      {"http://127.0.0.1:70000/", kInvalidPortOrName, ""},
      {"ftp://127.0.0.1:" + port + "/pub", kReplyRead, ""},
      {"ftp://127.0.0.1:" + std::to_string(testing::RefusedPort()), kConnectFailed, ""},
  };
  std::vector<std::string> urls;
  for (const Case& c : cases)
    urls.push_back(c.url);
  const std::vector<ProbeOutcome> outcomes = ProbeAll(urls);
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].url);
    EXPECT_EQ(outcomes[i].code, cases[i].code);
    EXPECT_EQ(outcomes[i].reply, cases[i].reply);
    EXPECT_EQ(outcomes[i].url, cases[i].url);
  }
  EXPECT_EQ(ParseStatusCode(outcomes[5].reply), 404u);
  EXPECT_EQ(ParseStatusCode(Probe(Local("/nonumber/")).reply), std::nullopt);
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
// escaped.
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

TEST_F(ProbeTest, SilentHostTimesOutWithinTheLimit) {
  server_.On("/silent/", {Behaviour::kSilence, ""});
  const auto start = std::chrono::steady_clock::now();
  const ProbeOutcome outcome = Probe(Local("/silent/"), 500ms);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(outcome.code, kReplyTimedOut);
  EXPECT_LT(took, 500ms + 1s);
  EXPECT_GE(took, 450ms);
}

// A host that takes the connection but never answers the secure handshake
// is slow, not unreachable.
TEST_F(ProbeTest, ASilentSecureHandshakeTakesTooLong) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(fd, 16), 0);  // the kernel completes connections; nobody answers
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  const std::string url = "https://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/";
  EXPECT_EQ(Probe(url, 500ms).code, kTookTooLong);
  ::close(fd);
}

TEST_F(ProbeTest, ConnectAttemptThatNeverCompletesIsBounded) {
  testing::StalledListener stalled;
  const auto start = std::chrono::steady_clock::now();
  const ProbeOutcome outcome =
      Probe("http://127.0.0.1:" + std::to_string(stalled.port()) + "/", 500ms);
  EXPECT_EQ(outcome.code, kConnectFailed);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms + 1s);
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

  // The worker goes on serving kicks at once, and the cancel does not leak
  // into them; nothing of the cancelled ones comes back.
  server_.On("/ok/", {Behaviour::kReply, "HTTP/1.0 200 OK\r\n\r\n"});
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Probe(Local("/ok/")).reply, "HTTP/1.0 200 OK\r\n\r\n");
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  for (const std::uint64_t job : jobs)
    EXPECT_TRUE(poster_.WaitForDone(job, 0ms).empty());
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

TEST_F(ProbeTest, StopDuringAConnectAttemptJoinsAtOnce) {
  testing::StalledListener stalled;
  worker_.Kick({"http://127.0.0.1:" + std::to_string(stalled.port()) + "/", 30s, kAgent});
  std::this_thread::sleep_for(100ms);
  const auto start = std::chrono::steady_clock::now();
  worker_.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

TEST_F(ProbeTest, ALongRequestGoesOutWholeOrNotAtAll) {
  // Far more than a socket buffer takes in one call.
  const std::string path = "/" + std::string(600 << 10, 'p');
  server_.On(path, {Behaviour::kReply, "HTTP/1.0 200 OK\r\n\r\n"});
  const ProbeOutcome outcome = Probe(Local(path), 5s);
  EXPECT_EQ(outcome.code, kReplyRead);
  EXPECT_EQ(outcome.reply, "HTTP/1.0 200 OK\r\n\r\n");
  // Beyond what a request may be, nothing (and never another path) is sent.
  const std::size_t sent = server_.Requests().size();
  for (const std::size_t size : {std::size_t{2} << 20, std::size_t{9} << 20}) {
    EXPECT_EQ(Probe(Local("/" + std::string(size, 'p')), 5s).code, kSendFailed);
  }
  EXPECT_EQ(server_.Requests().size(), sent);
}

TEST_F(ProbeTest, ABusyServerWithAShortRetryAfterIsAskedOnceMore) {
  server_.On("/busy/", {Behaviour::kReply, "HTTP/1.1 429 Busy\r\nRetry-After: 1\r\n\r\n"});
  server_.On("/later/", {Behaviour::kReply, "HTTP/1.1 503 Down\r\nRetry-After: 11\r\n\r\n"});
  server_.On("/date/",
             {Behaviour::kReply, "HTTP/1.1 503 Down\r\nRetry-After: Fri, 31 Dec 1999\r\n\r\n"});
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Probe(Local("/busy/"), 5s).reply.substr(0, 17), "HTTP/1.1 429 Busy");
  EXPECT_GE(std::chrono::steady_clock::now() - start, 900ms);
  EXPECT_EQ(server_.Requests().size(), 2u);  // once more, and no more
  Probe(Local("/later/"), 5s);
  Probe(Local("/date/"), 5s);
  EXPECT_EQ(server_.Requests().size(), 4u);  // neither a long wait nor a date is retried
  // A wait longer than the link has left is not waited for.
  const auto quick = std::chrono::steady_clock::now();
  EXPECT_EQ(Probe(Local("/busy/"), 800ms).reply.substr(0, 17), "HTTP/1.1 429 Busy");
  EXPECT_LT(std::chrono::steady_clock::now() - quick, 700ms);
  EXPECT_EQ(server_.Requests().size(), 5u);
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
      "https://[::1/",
      "http://\xc3\xa9t\xc3\xa9.invalid/",
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

TEST(ProbeTls, CertificatesAreChecked) {
  std::unique_ptr<testing::TestCertificates> certificates;
  try {
    certificates = std::make_unique<testing::TestCertificates>();
  } catch (const std::exception& e) {
    GTEST_SKIP() << e.what();
  }
  testing::NginxServer nginx({{"page.htm", "page"}}, {{certificates->good, certificates->expired,
                                                       certificates->wrong_name}});
  const auto https = [&](std::size_t identity, const std::string& host, const std::string& path) {
    return "https://" + host + ":" + std::to_string(nginx.tls_port(identity)) + path;
  };
  const auto status_line = [](const ProbeOutcome& outcome) {
    return outcome.code == kReplyRead ? outcome.reply.substr(0, outcome.reply.find('\r'))
                                      : std::to_string(outcome.code);
  };
  RecordingPoster poster;
  ProbeWorker worker(poster);
  worker.Start();
  const auto probe = [&](const std::string& url) { return ProbeOne(worker, poster, url); };
  struct Case {
    ProbeSettings settings;
    std::string url;
    std::string expected;
  };
  const std::string failed = std::to_string(kSecureConnectionFailed);
  const ProbeSettings trusting{32, 8, certificates->ca().string(), false};
  const ProbeSettings system_store{};
  const ProbeSettings insecure{32, 8, "", true};
  const Case cases[] = {
      {trusting, https(0, "127.0.0.1", "/page.htm"), "HTTP/1.1 200 OK"},
      {trusting, https(0, "localhost", "/missing.htm"), "HTTP/1.1 404 Not Found"},
      {trusting, https(1, "127.0.0.1", "/page.htm"), failed},  // expired
      {trusting, https(2, "127.0.0.1", "/page.htm"), failed},  // another name
      {trusting, "https://127.0.0.1:" + std::to_string(nginx.port()) + "/", failed},  // no TLS
      {system_store, https(0, "127.0.0.1", "/page.htm"), failed},  // an unknown CA
      {insecure, https(1, "127.0.0.1", "/page.htm"), "HTTP/1.1 200 OK"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    worker.Configure(c.settings);
    EXPECT_EQ(status_line(probe(c.url)), c.expected);
  }
}

// A proxy named in http_proxy gets the whole URL; no_proxy names the hosts
// it is passed by for.
TEST(ProbeProxy, TheEnvironmentsProxyIsUsed) {
  ScriptedServer proxy;
  ScriptedServer direct;
  const std::string proxied_url = "http://proxied.test:81/page.htm";
  proxy.On(proxied_url, {Behaviour::kReply, "HTTP/1.0 200 Via Proxy\r\n\r\n"});
  // An international name goes to the proxy in its ASCII form.
  proxy.On("http://xn--bcher-kva.test:81/b.htm", {Behaviour::kReply, "HTTP/1.0 204 IDN\r\n\r\n"});
  const std::string saved_proxy = std::getenv("http_proxy") ? std::getenv("http_proxy") : "";
  const std::string saved_no = std::getenv("no_proxy") ? std::getenv("no_proxy") : "";
  ::setenv("http_proxy", ("http://127.0.0.1:" + std::to_string(proxy.port())).c_str(), 1);
  ::setenv("no_proxy", "example.test, .Other.Test,127.0.0.1", 1);
  RecordingPoster poster;
  ProbeWorker worker(poster);
  worker.Start();
  const auto probe = [&](const std::string& url) { return ProbeOne(worker, poster, url); };
  EXPECT_EQ(probe(proxied_url).reply, "HTTP/1.0 200 Via Proxy\r\n\r\n");
  EXPECT_EQ(probe("http://b\xc3\xbc"
                  "cher.test:81/b.htm")
                .reply,
            "HTTP/1.0 204 IDN\r\n\r\n");
  EXPECT_EQ(probe("http://127.0.0.1:" + std::to_string(direct.port()) + "/x.htm").reply,
            "HTTP/1.0 404 Not Found\r\n\r\n");
  worker.Stop();
  saved_proxy.empty() ? ::unsetenv("http_proxy") : ::setenv("http_proxy", saved_proxy.c_str(), 1);
  saved_no.empty() ? ::unsetenv("no_proxy") : ::setenv("no_proxy", saved_no.c_str(), 1);
  const auto requests = proxy.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].substr(0, requests[0].find('\r')),
            "GET http://proxied.test:81/page.htm HTTP/1.1");
  EXPECT_EQ(direct.Requests().size(), 1u);
}

}  // namespace
}  // namespace quimbel

namespace quimbel {
namespace {

TEST(ResolveReference, LocationFormsByRfc3986) {
  const std::string base = "http://h.test/a/b?x#f";
  const std::pair<std::string, std::string> cases[] = {
      {"/new", "http://h.test/new"},
      {"c", "http://h.test/a/c"},
      {"../c", "http://h.test/c"},
      {"//o.test/p", "http://o.test/p"},
      {"?q=1", "http://h.test/a/b?q=1"},
      {"https://s.test/x", "https://s.test/x"},
      {"mailto:a@b.test", "mailto:a@b.test"},
  };
  for (const auto& [location, resolved] : cases)
    EXPECT_EQ(ResolveReference(base, location), resolved) << location;
  // A Location header of its own name, not the tail of Content-Location.
  EXPECT_EQ(LocationOf("HTTP/1.1 302 Found\r\nContent-Location: /c\r\nlocation:  /d \r\n\r\n"),
            "/d");
  EXPECT_EQ(LocationOf("HTTP/1.1 302 Found\nLocation: /abc\n\n"), "/abc");
  EXPECT_EQ(LocationOf("HTTP/1.1 302 Found\r\n\r\n"), std::nullopt);
}

// A moved link is followed to learn whether its target lives.
TEST_F(ProbeTest, MovesAreFollowedToWhereTheyEnd) {
  const auto move = [](const std::string& location) {
    return testing::Script{Behaviour::kReply,
                           "HTTP/1.1 301 Moved\r\nLocation: " + location + "\r\n\r\n"};
  };
  const std::string refused = "http://127.0.0.1:" + std::to_string(testing::RefusedPort()) + "/";
  server_.On("/good", move("/g2"));
  server_.On("/g2", {Behaviour::kReply, "HTTP/1.1 302 Found\r\nLocation: ?q=1\r\n\r\n"});
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

}  // namespace
}  // namespace quimbel

namespace quimbel {
namespace {

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
