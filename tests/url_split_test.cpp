#include <gtest/gtest.h>

#include <string>

#include "links/url_split.h"

namespace quimbel {
namespace {

TEST(UrlSplit, HostPathAndPort) {
  struct Case {
    std::string url;
    Protocol protocol;
    std::string host;
    std::string path;
    std::optional<std::uint16_t> port;
  };
  using P = Protocol;
  const Case cases[] = {
      {"http://www.example.com", P::kHttp, "www.example.com", "/", 80},
      {"http://www.example.com/", P::kHttp, "www.example.com", "/", 80},
      {"http://host:8080/dir/page.htm", P::kHttp, "host", "/dir/page.htm", 8080},
      {"http://host/dir", P::kHttp, "host", "/dir", 80},
      {"http://host/wiki/Link_rot", P::kHttp, "host", "/wiki/Link_rot", 80},
      {"http://host/a.b/c", P::kHttp, "host", "/a.b/c", 80},
      {"http://host/dir/page.htm#part", P::kHttp, "host", "/dir/page.htm", 80},
      {"http://host/dir#part", P::kHttp, "host", "/dir", 80},
      {"http://host/frag#section-2", P::kHttp, "host", "/frag", 80},
      {"http://host/cgi?x=1", P::kHttp, "host", "/cgi?x=1", 80},
      {"http://host/search?q=a&b=2#f", P::kHttp, "host", "/search?q=a&b=2", 80},
      {"http://host/p%20q", P::kHttp, "host", "/p%20q", 80},
      {"http://host/a b?c d", P::kHttp, "host", "/a%20b?c%20d", 80},
      {"http://host/caf\xc3\xa9\t\"<>", P::kHttp, "host", "/caf%C3%A9%09%22%3C%3E", 80},
      {"http://user:pw@host:81/x", P::kHttp, "host", "/x", 81},
      {"http://host#top", P::kHttp, "host", "/", 80},
      {"http://host?x=1", P::kHttp, "host", "/?x=1", 80},
      {"http://Host/Dir/A File.HTM", P::kHttp, "Host", "/Dir/A%20File.HTM", 80},
      {"http://", P::kHttp, "", "", 80},
      {"http:/", P::kHttp, "", "", 80},
      {"http:///path", P::kHttp, "", "/path", 80},
      {"http://:8080/x.htm", P::kHttp, "", "/x.htm", 8080},
      {"ftp://ftp.example.com/pub", P::kFtp, "ftp.example.com", "/pub", 21},
      {"ftp://ftp.example.com:2121", P::kFtp, "ftp.example.com", "/", 2121},
      {"FTP://x", P::kFtp, "x", "/", 21},
      // The scheme is skipped by length, whatever its letters are.
      {"htp://h/p", P::kHttp, "", "/p", 80},
      // Ports: empty means the default; anything but 1..65535 is invalid.
      {"http://host:/x.htm", P::kHttp, "host", "/x.htm", 80},
      {"http://host:65535/", P::kHttp, "host", "/", 65535},
      {"http://host:0/", P::kHttp, "host", "/", std::nullopt},
      {"http://host:65536/", P::kHttp, "host", "/", std::nullopt},
      {"http://host:99999999999999999999/", P::kHttp, "host", "/", std::nullopt},
      {"http://host:-1/", P::kHttp, "host", "/", std::nullopt},
      {"http://host:80:81/", P::kHttp, "host", "/", std::nullopt},
      {"http://host:8o/", P::kHttp, "host", "/", std::nullopt},
      {"http://host: 80/", P::kHttp, "host", "/", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    EXPECT_EQ(UrlHost(c.url, c.protocol), c.host);
    EXPECT_EQ(UrlPath(c.url, c.protocol), c.path);
    EXPECT_EQ(UrlPort(c.url, c.protocol), c.port);
  }
}

TEST(UrlSplit, AnyBytesAndAnyLength) {
  std::string binary("http://h\0st\xff\x80/p\0th\xfe", 19);
  EXPECT_EQ(UrlHost(binary, Protocol::kHttp), std::string("h\0st\xff\x80", 6));
  EXPECT_EQ(UrlPath(binary, Protocol::kHttp), "/p%00th%FE");

  const std::string huge = "http://" + std::string(1 << 20, 'a') + "/" + std::string(1 << 20, 'b');
  EXPECT_EQ(UrlHost(huge, Protocol::kHttp).size(), 1u << 20);
  EXPECT_EQ(UrlPath(huge, Protocol::kHttp).size(), (1u << 20) + 1);
  EXPECT_EQ(UrlPort("http://h:" + std::string(100000, '9'), Protocol::kHttp), std::nullopt);
}

}  // namespace
}  // namespace quimbel
