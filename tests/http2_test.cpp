// Links on a loopback HTTP/2 server (TLS, a test CA): each status its row, moves across
// protocols, a reset stream, a GOAWAY mid-run, the server's limit on streams; many links over
// one connection, each URL asked once.
#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <tuple>

#include "tests/cli_runner.h"
#include "tests/nginx_fixture.h"
#include "tests/scripted_server.h"

namespace quimbel {
namespace {

using Rows = std::set<std::tuple<std::string, std::string, std::string>>;  // url, reason, alternate

class Http2Test : public ::testing::Test {
 protected:
  // A server, or nothing when node or openssl is missing (the test is skipped).
  std::unique_ptr<testing::H2Server> Start(const testing::H2Server::Options& options) {
    try {
      if (!certificates_) certificates_ = std::make_unique<testing::TestCertificates>();
      return std::make_unique<testing::H2Server>(certificates_->good, options);
    } catch (const std::exception& e) {
      skipped_ = e.what();
      return nullptr;
    }
  }
  // Checks a page of `links`; its rows, and the exit status in `status`.
  Rows Check(const std::vector<std::string>& links, int& status,
             const std::vector<std::string>& options = {}) {
    std::string page;
    for (const std::string& link : links)
      page += "<a href=\"" + link + "\">x</a>\n";
    std::vector<std::string> args = {
        "-q", "--no-history", "--ca-file", certificates_->ca().string(), "--format", "json"};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back(site_.Write("page.html", page));
    const CliResult r = cli_.Run(args);
    status = r.status;
    Rows rows;
    const auto report = nlohmann::json::parse(r.out, nullptr, false);
    EXPECT_FALSE(report.is_discarded()) << r.out << r.err;
    if (report.is_discarded()) return rows;
    for (const auto& row : report["rows"]) {
      rows.insert({row["url"].get<std::string>(), row["reason"].get<std::string>(),
                   row["alternate_url"].get<std::string>()});
    }
    return rows;
  }
  // How often each path was asked for, and the connections the server saw.
  static std::pair<std::map<std::string, int>, int> Asked(const testing::H2Server& server,
                                                          const std::string& protocol = "2.0") {
    std::map<std::string, int> asked;
    int connections = 0;
    for (const std::string& line : server.Log()) {
      if (line.starts_with("connection ")) {
        ++connections;
        continue;
      }
      const std::size_t space = line.find(' ');
      const std::size_t path = line.find(' ', space + 1);
      EXPECT_EQ(line.substr(space + 1, path - space - 1), protocol) << line;
      ++asked[line.substr(path + 1)];
    }
    return {asked, connections};
  }

  std::unique_ptr<testing::TestCertificates> certificates_;
  std::string skipped_;
  testing::TempFolder site_;
  Cli cli_;
};

// A row for each status; moves from HTTP/2 to HTTP/1.1 and back are followed; a stream the host
// resets is a connection-level row, never an HTTP code; a hundred links share one connection.
TEST_F(Http2Test, EachStatusMovesAcrossProtocolsAndAResetStream) {
  const auto h2 = Start({});
  if (!h2) GTEST_SKIP() << skipped_;
  testing::ScriptedServer h1;
  const std::string plain = "http://127.0.0.1:" + std::to_string(h1.port());
  h1.On("/to-h2", "HTTP/1.1 301 Moved Permanently\r\nLocation: " + h2->Url("/status/404") +
                      "\r\nContent-Length: 0\r\n\r\n");
  h1.On("/fine", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
  std::vector<std::string> links;
  for (int i = 0; i < 100; ++i)
    links.push_back(h2->Url("/ok?" + std::to_string(i)));
  for (const char* status : {"204", "403", "404", "410", "429", "500", "503"})
    links.push_back(h2->Url(std::string("/status/") + status));
  const std::string to_h1 = h2->Url("/move/302?to=" + plain + "/fine");
  const std::string to_gone = h2->Url("/move/301?to=" + plain + "/gone");
  links.insert(links.end(), {to_h1, to_gone, plain + "/to-h2", h2->Url("/reset")});
  int status = 0;
  const Rows rows = Check(links, status, {"--max-redirects", "3"});
  EXPECT_EQ(status, 1);
  const Rows wanted = {{h2->Url("/status/204"), "HTTP Code 204 No Content", ""},
                       {h2->Url("/status/403"), "HTTP Code 403 Forbidden", ""},
                       {h2->Url("/status/404"), "HTTP Code 404 Not Found", ""},
                       {h2->Url("/status/410"), "HTTP Code 410 Gone", ""},
                       {h2->Url("/status/429"), "HTTP Code 429 Too Many Requests", ""},
                       {h2->Url("/status/500"), "HTTP Code 500 Internal Server Error", ""},
                       {h2->Url("/status/503"), "HTTP Code 503 Service Unavailable", ""},
                       {to_h1, "HTTP Code 302 Moved Temporarily", plain + "/fine"},
                       {to_gone, "HTTP Code 404 Not Found", ""},
                       {plain + "/to-h2", "HTTP Code 404 Not Found", ""},
                       {h2->Url("/reset"), "Error: Stream Reset by Host", ""}};
  EXPECT_EQ(rows, wanted);
  const auto [asked, connections] = Asked(*h2);
  for (const auto& [path, times] : asked)
    EXPECT_EQ(times, 1) << path;
  EXPECT_LE(connections, 2);
}

// A GOAWAY mid-run: the streams the server refused are asked again on a new connection, and no
// link is lost or listed twice. A server that allows few streams at once gets no more.
TEST_F(Http2Test, AGoawayAndTheServersLimitOnStreamsLoseNoLink) {
  for (const int max_streams : {100, 3}) {
    SCOPED_TRACE(max_streams);
    const auto h2 = Start({.max_streams = max_streams, .delay_ms = 20});
    if (!h2) GTEST_SKIP() << skipped_;
    std::vector<std::string> links;
    for (int i = 0; i < 60; ++i) {
      links.push_back(h2->Url("/ok?" + std::to_string(i)));
      if (i == 20) links.push_back(h2->Url("/goaway"));
    }
    links.push_back(h2->Url("/status/404"));
    int status = 0;
    const Rows rows = Check(links, status);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(rows, Rows({{h2->Url("/status/404"), "HTTP Code 404 Not Found", ""}}));
    const auto [asked, connections] = Asked(*h2);
    EXPECT_EQ(asked.size(), links.size());
    EXPECT_GE(connections, 2);  // the GOAWAY closed the first
  }
}

}  // namespace
}  // namespace quimbel
