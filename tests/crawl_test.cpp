// The crawl's parts without a network: page addresses and scope,
// robots.txt, sitemaps, charsets, the link cache, and the crawler itself
// over a site held in memory, its fetches ended in any order.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

#include "crawl/crawl_scope.h"
#include "crawl/crawler.h"
#include "crawl/page_text.h"
#include "crawl/result_cache.h"
#include "crawl/robots_rules.h"
#include "crawl/sitemap.h"
#include "tests/temp_folder.h"

namespace quimbel {
namespace {

TEST(PageKeyTest, OneSpellingPerPage) {
  const struct {
    const char* url;
    std::optional<std::string> key;
  } cases[] = {
      {"HTTP://Example.ORG", "http://example.org/"},
      {"https://h:443/a/B#frag", "https://h/a/B"},
      {"http://h:80/", "http://h/"},
      {"http://h:8080?q=1", "http://h:8080/?q=1"},
      {"http://user:pw@h/x", "http://h/x"},
      {"https://h/a?b=c#d", "https://h/a?b=c"},
      {"ftp://h/file", std::nullopt},
      {"mailto:someone@h", std::nullopt},
      {"http:///nohost", std::nullopt},
      {"http://127 0 0 1/", std::nullopt},
      {"http://exa\tmple/", std::nullopt},
      {"http://a<b/", std::nullopt},
  };
  for (const auto& c : cases)
    EXPECT_EQ(PageKey(c.url), c.key) << c.url;
}

TEST(CrawlScopeTest, UnderTheStartPathOrAnywhereOnTheHost) {
  const CrawlScope path({"https://h/docs/intro"}, ScopeMode::kPath);
  const CrawlScope host({"https://h/docs/intro"}, ScopeMode::kHost);
  const struct {
    const char* key;
    bool in_path, in_host;
  } cases[] = {
      {"https://h/docs/a", true, true},        {"https://h/docs/sub/b?x=1", true, true},
      {"https://h/docs/", true, true},         {"https://h/doc", false, true},
      {"https://h/other", false, true},        {"http://h/docs/a", false, false},
      {"https://h:8443/docs/a", false, false}, {"https://hx/docs/a", false, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(path.Contains(c.key), c.in_path) << c.key;
    EXPECT_EQ(host.Contains(c.key), c.in_host) << c.key;
  }
  EXPECT_EQ(path.origins(), std::vector<std::string>{"https://h"});
}

TEST(RobotsRulesTest, OwnGroupLongestMatchAndWildcards) {
  const std::string text =
      "# comment\r\n"
      "User-agent: *\r\n"
      "Disallow: /private/\r\n"
      "Disallow: /tmp\r\n"
      "\r\n"
      "User-agent: OtherBot\n"
      "User-agent: quimbel\n"
      "Disallow: /no/\n"
      "Allow: /no/but-this\n"
      "Disallow: /*.pdf$\n"
      "Disallow: /search*q=\n"
      "Disallow:\n";
  const RobotsRules own = RobotsRules::Parse(text, "Quimbel");
  const RobotsRules other = RobotsRules::Parse(text, "SomeoneElse");
  const struct {
    const char* path;
    bool own_allowed, other_allowed;
  } cases[] = {
      {"/private/a.html", true, false},  // our group replaces the "*" group
      {"/tmp/x", true, false},
      {"/no/page", false, true},
      {"/no/but-this/page", true, true},  // the longer Allow wins
      {"/files/a.pdf", false, true},
      {"/files/a.pdf?x", true, true},  // "$" anchors at the end
      {"/search?lang=en&q=x", false, true},
      {"/", true, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(own.Allows(c.path), c.own_allowed) << c.path;
    EXPECT_EQ(other.Allows(c.path), c.other_allowed) << c.path;
  }
  EXPECT_TRUE(RobotsRules::Parse("garbage\0\xff", "Quimbel").Allows("/any"));
  // A tie between Allow and Disallow of one length: Allow.
  EXPECT_TRUE(
      RobotsRules::Parse("User-agent: *\nDisallow: /a\nAllow: /a\n", "Quimbel").Allows("/a"));
}

TEST(SitemapTest, PagesIndexesAndDamage) {
  const Sitemap pages = ParseSitemap(
      "<?xml version=\"1.0\"?>\n"
      "<urlset xmlns=\"http://www.sitemaps.org/schemas/sitemap/0.9\">\n"
      "  <url><loc> https://h/a?x=1&amp;y=2 </loc><lastmod>2026-01-01</lastmod></url>\n"
      "  <url>\n    <loc>https://h/b</loc>\n  </url>\n"
      "</urlset>\n");
  ASSERT_TRUE(pages.readable);
  ASSERT_EQ(pages.pages.size(), 2u);
  EXPECT_EQ(pages.pages[0].url, "https://h/a?x=1&y=2");
  EXPECT_EQ(pages.pages[0].line, 3u);
  EXPECT_EQ(pages.pages[1].line, 5u);
  EXPECT_TRUE(pages.sitemaps.empty());

  const Sitemap index = ParseSitemap(
      "<sitemapindex><sitemap><loc>https://h/s1.xml</loc></sitemap>"
      "<sitemap><loc>https://h/s2.xml</loc></sitemap></sitemapindex>");
  EXPECT_EQ(index.sitemaps.size(), 2u);
  EXPECT_TRUE(index.pages.empty());

  const Sitemap broken = ParseSitemap("<urlset><url><loc>https://h/c</loc></url><url>");
  EXPECT_FALSE(broken.readable);
  EXPECT_EQ(broken.pages.size(), 1u);
  // An external entity is never fetched nor expanded.
  const Sitemap entity = ParseSitemap(
      "<!DOCTYPE u [<!ENTITY x SYSTEM \"file:///etc/passwd\">]><urlset><url><loc>&x;</loc></url>"
      "</urlset>");
  for (const auto& page : entity.pages)
    EXPECT_EQ(page.url.find("root"), std::string::npos);
}

TEST(PageTextTest, DeclaredCharsetBecomesUtf8) {
  const struct {
    const char* content_type;
    std::string body;
    std::string text;
  } cases[] = {
      {"text/html; charset=ISO-8859-1", "<a href=\"caf\xe9\">", "<a href=\"caf\xc3\xa9\">"},
      {"text/html", "<meta charset='windows-1252'>\n<a href=\"\x93q\x94\">",
       "<meta charset='windows-1252'>\n<a href=\"\xe2\x80\x9cq\xe2\x80\x9d\">"},
      {"text/html; charset=\"utf-8\"", "caf\xc3\xa9", "caf\xc3\xa9"},
      {"text/html; charset=no-such-charset", "caf\xe9", "caf\xe9"},
      {"text/html", "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=latin1\">\xe9",
       "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=latin1\">\xc3\xa9"},
      // A <meta> that says UTF-16 in ASCII means UTF-8, whatever the
      // page's length.
      {"text/html", "<meta charset=\"utf-16\"><a href=x>", "<meta charset=\"utf-16\"><a href=x>"},
      {"text/html", "<meta charset=\"UTF-16LE\"><a href=xy>",
       "<meta charset=\"UTF-16LE\"><a href=xy>"},
      {"text/html", "<meta charset=x-user-defined>\x93",
       "<meta charset=x-user-defined>\xe2\x80\x9c"},
      // A byte order mark outranks the Content-Type and any <meta>.
      {"text/html; charset=windows-1252",
       "\xef\xbb\xbf"
       "caf\xc3\xa9",
       "\xef\xbb\xbf"
       "caf\xc3\xa9"},
      {"text/html; charset=utf-8", std::string("\xfe\xff\0<\0a", 6), "<a"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(PageTextUtf8(c.body, c.content_type), c.text) << c.body;
  // UTF-16 pages keep their lines.
  const std::string utf16("\xff\xfe<\0a\0\n\0b\0", 10);
  EXPECT_EQ(PageTextUtf8(utf16, "text/html; charset=utf-16"), "<a\nb");
}

ProbeOutcome Replied(const std::string& url, const std::string& status) {
  ProbeOutcome outcome;
  outcome.url = url;
  outcome.reply = "HTTP/1.1 " + status + "\r\n\r\n";
  return outcome;
}

TEST(ResultCacheTest, KeepsFinalOutcomesForTheirAge) {
  testing::TempFolder folder;
  const std::string file = (folder.path() / "cache.json").string();
  const auto now = ResultCache::Clock::now();
  ResultCache cache(std::chrono::hours(24), now);
  ProbeOutcome timed_out = Replied("https://a/t", "200 OK");
  timed_out.code = kReplyTimedOut;
  ProbeOutcome refused_chain = Replied("https://a/r", "301 Moved");
  refused_chain.chain_end = ChainEnd::kFailed;
  refused_chain.chain_code = kConnectFailed;
  for (const ProbeOutcome& outcome :
       {Replied("https://a/ok", "200 OK"), Replied("https://a/gone", "404 Not Found"),
        Replied("https://a/busy", "429 Too Many"), Replied("https://a/down", "503 Unavailable"),
        timed_out, refused_chain, Replied("https://site/p", "200 OK")}) {
    cache.Store(outcome.url, outcome);
  }
  cache.LeaveOut({"https://site"});
  cache.Store("https://site/q", Replied("https://site/q", "200 OK"));
  ASSERT_TRUE(cache.Save(file).ok());

  ResultCache fresh(std::chrono::hours(24), now + std::chrono::hours(1));
  fresh.LeaveOut({"https://site"});
  EXPECT_TRUE(fresh.Load(file).ok());
  ASSERT_TRUE(fresh.Find("https://a/gone"));
  EXPECT_EQ(fresh.Find("https://a/gone")->reply, "HTTP/1.1 404 Not Found\r\n\r\n");
  EXPECT_TRUE(fresh.Find("https://a/ok"));
  for (const char* url : {"https://a/busy", "https://a/down", "https://a/t", "https://a/r",
                          "https://site/p", "https://site/q"}) {
    EXPECT_FALSE(fresh.Find(url)) << url;
  }
  // The site's own were never written down.
  ResultCache unfiltered(std::chrono::hours(24), now);
  EXPECT_TRUE(unfiltered.Load(file).ok());
  EXPECT_FALSE(unfiltered.Find("https://site/q"));
  ResultCache later(std::chrono::hours(24), now + std::chrono::hours(25));
  EXPECT_TRUE(later.Load(file).ok());
  EXPECT_FALSE(later.Find("https://a/ok"));

  for (const char* damaged : {"{\"format\":1,\"links\":{\"u\":{\"time\":\"x\"}}}", "{not json",
                              "[]", "{\"format\":2,\"links\":{}}"}) {
    folder.Write("cache.json", damaged);
    ResultCache cache2(std::chrono::hours(24), now);
    EXPECT_FALSE(cache2.Load(file).ok()) << damaged;
    EXPECT_EQ(cache2.size(), 0u);
  }
  ResultCache none(std::chrono::hours(24), now);
  EXPECT_TRUE(none.Load((folder.path() / "none.json").string()).ok());
}

// A site in memory: address to status, Content-Type and body.
struct FakePage {
  FakePage(std::string status_line = "200 OK", std::string content_type = "text/html",
           std::string text = "", std::string moved = "")
      : status(std::move(status_line)),
        type(std::move(content_type)),
        body(std::move(text)),
        moved_to(std::move(moved)) {}
  std::string status;
  std::string type;
  std::string body;
  std::string moved_to;  // a 301 to this address, followed by the probe
};

class FakeCrawl {
 public:
  FakeCrawl(std::map<std::string, FakePage> site, CrawlOptions options, unsigned seed)
      : site_(std::move(site)),
        random_(seed),
        crawler_(
            std::move(options), "Quimbel",
            [this](const std::string& url, BodyWanted wanted, const std::string&) {
              pending_.push_back({next_job_, url, wanted});
              fetched_.push_back(url);
              return next_job_++;
            },
            [](std::string_view url) { return url.find("skipped") != std::string_view::npos; }) {}

  // Ends the fetches in a random order (seed 0: in order) and takes the
  // pages as they come; the page addresses in the order handed on.
  std::vector<std::string> Run() {
    crawler_.Start();
    std::vector<std::string> taken;
    for (int guard = 0; guard < 100000 && !crawler_.Finished(); ++guard) {
      CrawledPage page;
      while (crawler_.TakePage(page))
        taken.push_back(page.url);
      if (pending_.empty()) break;
      std::size_t at = 0;
      if (random_() % 3 != 0 && seed_order_) at = random_() % pending_.size();
      const auto [job, url, wanted] = pending_[at];
      pending_.erase(pending_.begin() + static_cast<std::ptrdiff_t>(at));
      ProbeOutcome outcome;
      auto found = site_.find(url);
      if (found != site_.end() && !found->second.moved_to.empty()) {
        outcome.redirects = {found->second.moved_to};
        outcome.chain_end = ChainEnd::kGood;
        found = site_.find(found->second.moved_to);
      }
      const FakePage page_data =
          found == site_.end() ? FakePage{"404 Not Found", "text/html", ""} : found->second;
      outcome.reply = "HTTP/1.1 " + page_data.status + "\r\n\r\n";
      // As the probe does: a page's body only when it is HTML.
      if (page_data.status.starts_with("200") &&
          (wanted == BodyWanted::kAny || page_data.type == "text/html")) {
        outcome.body = page_data.body;
      }
      outcome.content_type = page_data.type;
      crawler_.OnFetched(job, outcome);
    }
    CrawledPage page;
    while (crawler_.TakePage(page))
      taken.push_back(page.url);
    return taken;
  }

  bool seed_order_ = true;
  std::vector<std::string> fetched_;
  Crawler& crawler() { return crawler_; }

 private:
  std::map<std::string, FakePage> site_;
  std::mt19937 random_;
  struct Pending {
    std::uint64_t job;
    std::string url;
    BodyWanted wanted;
  };
  std::vector<Pending> pending_;
  std::uint64_t next_job_ = 1;
  Crawler crawler_;
};

std::map<std::string, FakePage> FakeSite() {
  std::map<std::string, FakePage> site;
  site["http://h/robots.txt"] = {"200 OK", "text/plain", "User-agent: *\nDisallow: /s/private/\n"};
  site["http://h/s/"] = {"200 OK", "text/html",
                         "<a href=a>a</a><a href='b?x=1#top'>b</a><a href=/s/private/p>p</a>"
                         "<a href=../outside>o</a><img src=pic.png><a href=skipped>s</a>"};
  site["http://h/s/a"] = {"200 OK", "text/html", "<a href=c>c</a><a href=d.pdf>d</a>"};
  site["http://h/s/b?x=1"] = {"200 OK", "text/html",
                              "<base href=\"deep/\"><a href=e>e</a><a href=\"#k\">k</a><p id=k>"};
  site["http://h/s/c"] = {"200 OK", "text/html", "<a href=/s/>home</a>"};
  site["http://h/s/d.pdf"] = {"200 OK", "application/pdf", "%PDF"};
  site["http://h/s/deep/e"] = {"200 OK", "text/html", "<a href=f>f</a>"};
  site["http://h/s/deep/f"] = {"200 OK", "text/html", ""};
  site["http://h/s/private/p"] = {"200 OK", "text/html", "<a href=never>n</a>"};
  site["http://h/s/orphan"] = {"200 OK", "text/html", ""};
  site["http://h/sitemap.xml"] = {"200 OK", "text/xml",
                                  "<urlset><url><loc>http://h/s/orphan</loc></url></urlset>"};
  return site;
}

TEST(CrawlerTest, SameOrderWhateverOrderFetchesEnd) {
  CrawlOptions options;
  options.start_urls = {"http://h/s/"};
  FakeCrawl in_order(FakeSite(), options, 0);
  in_order.seed_order_ = false;
  const std::vector<std::string> expected = in_order.Run();
  EXPECT_EQ(expected,
            (std::vector<std::string>{"http://h/s/", "http://h/s/a", "http://h/s/b?x=1",
                                      "http://h/s/c", "http://h/s/deep/e", "http://h/s/deep/f"}));
  // Fetched once each; robots.txt first; nothing forbidden, out of scope,
  // skipped or unlinked is fetched as a page.
  EXPECT_EQ(in_order.fetched_, (std::vector<std::string>{
                                   "http://h/robots.txt", "http://h/s/", "http://h/s/a",
                                   "http://h/s/b?x=1", "http://h/s/c", "http://h/s/d.pdf",
                                   "http://h/s/deep/e", "http://h/s/deep/", "http://h/s/deep/f"}));
  EXPECT_EQ(in_order.crawler().HasFragment("http://h/s/b?x=1", "k"), true);
  EXPECT_EQ(in_order.crawler().HasFragment("http://h/s/b?x=1", "nope"), false);
  EXPECT_EQ(in_order.crawler().HasFragment("http://h/s/d.pdf", "x"), std::nullopt);
  for (unsigned seed = 1; seed <= 20; ++seed) {
    FakeCrawl shuffled(FakeSite(), options, seed);
    EXPECT_EQ(shuffled.Run(), expected) << "seed " << seed;
  }
}

// "d/" and "d/index.html" served with the same bytes are one page, listed
// under the name reached first; with other bytes, or another file name,
// they are two.
TEST(CrawlerTest, AFoldersIndexIsListedOnceUnderTwoNames) {
  struct Case {
    const char* start;
    const char* index_body;  // what "d/index.html" serves
    const char* other;       // a page the start links to beside it
    std::vector<std::string> listed;
  };
  const std::string body = "<a href=index.html>i</a><a href=./>f</a><a href=x.html>x</a>";
  const Case cases[] = {
      {"http://h/d/", body.c_str(), "x.html", {"http://h/d/", "http://h/d/x.html"}},
      {"http://h/d/index.html",
       body.c_str(),
       "x.html",
       {"http://h/d/index.html", "http://h/d/x.html"}},
      {"http://h/d/",
       "<p>another page</p>",
       "x.html",
       {"http://h/d/", "http://h/d/index.html", "http://h/d/x.html"}},
  };
  for (const Case& c : cases) {
    std::map<std::string, FakePage> site;
    site["http://h/d/"] = {"200 OK", "text/html", body};
    site["http://h/d/index.html"] = {"200 OK", "text/html", c.index_body};
    // The same bytes under a name that is not the folder's index: listed.
    site["http://h/d/x.html"] = {"200 OK", "text/html", body};
    CrawlOptions options;
    options.start_urls = {c.start};
    for (unsigned seed = 0; seed <= 5; ++seed) {
      FakeCrawl crawl(site, options, seed);
      EXPECT_EQ(crawl.Run(), c.listed) << c.start << " seed " << seed;
    }
  }
}

TEST(CrawlerTest, DepthPagesAndSitemapsBoundTheCrawl) {
  const struct {
    std::optional<int> depth;
    std::size_t max_pages;
    bool sitemap;
    std::vector<std::string> pages;
  } cases[] = {
      {0, 100, false, {"http://h/s/"}},
      {1, 100, false, {"http://h/s/", "http://h/s/a", "http://h/s/b?x=1"}},
      {std::nullopt, 2, false, {"http://h/s/", "http://h/s/a"}},
      {0, 100, true, {"http://h/s/", "http://h/s/orphan"}},
  };
  for (const auto& c : cases) {
    CrawlOptions options;
    options.start_urls = {"http://h/s/"};
    options.depth = c.depth;
    options.max_pages = c.max_pages;
    if (c.sitemap) options.sitemaps = {"http://h/sitemap.xml"};
    FakeCrawl crawl(FakeSite(), options, 7);
    const std::vector<std::string> taken = crawl.Run();
    std::vector<std::string> pages = taken;
    // The sitemap is handed on as a document of its own.
    std::erase(pages, "http://h/sitemap.xml");
    EXPECT_EQ(pages, c.pages) << c.max_pages;
    EXPECT_TRUE(crawl.crawler().Finished());
  }
}

// Sitemaps that name themselves or each other are read once each; a run
// reads at most the protocol's number of them, one file's entries are
// bounded, sitemaps count toward --max-pages, and the log says which
// limit was reached.
TEST(CrawlerTest, SitemapsAreBounded) {
  std::map<std::string, FakePage> site = FakeSite();
  const auto index = [](const std::vector<std::string>& maps) {
    std::string body = "<sitemapindex>";
    for (const std::string& map : maps)
      body += "<sitemap><loc>" + map + "</loc></sitemap>";
    return FakePage{"200 OK", "text/xml", body + "</sitemapindex>"};
  };
  site["http://h/self.xml"] = index({"http://h/self.xml", "http://h/other.xml"});
  site["http://h/other.xml"] = index({"http://H/self.xml"});
  std::vector<std::string> many;
  for (int i = 0; i < 2000; ++i)
    many.push_back("http://h/m" + std::to_string(i) + ".xml");
  site["http://h/many.xml"] = index(many);
  std::string entries = "<urlset>";
  for (std::size_t i = 0; i <= kMostSitemapEntries; ++i)
    entries += "<url><loc>http://h/s/x" + std::to_string(i) + "</loc></url>";
  site["http://h/big.xml"] = {"200 OK", "text/xml", entries + "</urlset>"};
  const struct {
    std::string sitemap;
    std::size_t max_pages;
    std::size_t sitemaps_fetched;
    std::string note;
  } cases[] = {
      {"http://h/self.xml", 100, 2, ""},
      {"http://h/many.xml", 100000, kMostSitemaps,
       "Sitemaps past the 1000 a run reads are left out"},
      {"http://h/many.xml", 10, 9, "Pages past the limit of 10 are left out (--max-pages)"},
      {"http://h/big.xml", 3, 1,
       "Sitemap entries past the 50000 of one file are left out: http://h/big.xml"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sitemap + " " + std::to_string(c.max_pages));
    CrawlOptions options;
    options.start_urls = {"http://h/s/"};
    options.depth = 0;
    options.max_pages = c.max_pages;
    options.sitemaps = {c.sitemap};
    FakeCrawl crawl(site, options, 0);
    crawl.Run();
    EXPECT_TRUE(crawl.crawler().Finished());
    const auto sitemaps =
        std::count_if(crawl.fetched_.begin(), crawl.fetched_.end(),
                      [](const std::string& url) { return url.ends_with(".xml"); });
    EXPECT_EQ(static_cast<std::size_t>(sitemaps), c.sitemaps_fetched);
    const std::vector<std::string> notes = crawl.crawler().TakeNotes();
    if (c.note.empty()) {
      EXPECT_TRUE(notes.empty());
    } else {
      EXPECT_NE(std::find(notes.begin(), notes.end(), c.note), notes.end());
    }
  }
}

// robots.txt is read up to 500 KiB: a rule past that is no rule.
TEST(CrawlerTest, OnlyTheStartOfAHugeRobotsTxtIsRead) {
  for (const std::size_t padding : {std::size_t{1000}, std::size_t{600 * 1024}}) {
    std::map<std::string, FakePage> site = FakeSite();
    site["http://h/robots.txt"] = {
        "200 OK", "text/plain",
        "User-agent: *\n" + std::string(padding, '#') + "\nDisallow: /s/a\n"};
    CrawlOptions options;
    options.start_urls = {"http://h/s/"};
    options.depth = 1;
    FakeCrawl crawl(site, options, 0);
    const std::vector<std::string> pages = crawl.Run();
    EXPECT_EQ(std::count(pages.begin(), pages.end(), "http://h/s/a"), padding > 1000 ? 1 : 0)
        << padding;
  }
}

TEST(CrawlerTest, AMovedPageIsReadOnceWhereItEnded) {
  std::map<std::string, FakePage> site;
  site["http://h/r/"] = {"200 OK", "text/html", "<a href=old>o</a><a href=p2>2</a>"};
  site["http://h/r/old"] = {"301 Moved", "text/html", "", "http://h/r/new"};
  site["http://h/r/new"] = {"200 OK", "text/html", "<a href=new>self</a><a href=gone>x</a>"};
  site["http://h/r/p2"] = {"200 OK", "text/html", "<a href=new>n</a><a href=old>o</a>"};
  site["http://h/r/gone"] = {"301 Moved", "text/html", "", "http://other/away"};
  CrawlOptions options;
  options.start_urls = {"http://h/r/"};
  FakeCrawl crawl(site, options, 3);
  EXPECT_EQ(crawl.Run(),
            (std::vector<std::string>{"http://h/r/", "http://h/r/old", "http://h/r/p2"}));
  EXPECT_EQ(crawl.fetched_,
            (std::vector<std::string>{"http://h/robots.txt", "http://h/r/", "http://h/r/old",
                                      "http://h/r/p2", "http://h/r/gone"}));
  EXPECT_EQ(crawl.crawler().TakeAliases(), std::vector<std::string>{"http://h/r/new"});
}

// A move that ends at a page the crawl has reached but not fetched yet is
// that page's fetch: the page is read from it and never asked for again.
TEST(CrawlerTest, AMoveEndingAtAPageNotYetFetchedIsItsFetch) {
  std::vector<std::string> fetched;
  CrawlOptions options;
  options.start_urls = {"http://h/r/"};
  Crawler crawler(
      options, "Quimbel",
      [&](const std::string& url, BodyWanted, const std::string&) {
        fetched.push_back(url);
        return static_cast<std::uint64_t>(fetched.size());
      },
      nullptr);
  const auto good = [](std::string body) {
    ProbeOutcome outcome;
    outcome.reply = "HTTP/1.1 200 OK\r\n\r\n";
    outcome.content_type = "text/html";
    outcome.body = std::move(body);
    return outcome;
  };
  crawler.Start();
  ProbeOutcome robots;
  robots.reply = "HTTP/1.1 404 Not Found\r\n\r\n";
  ASSERT_TRUE(crawler.OnFetched(1, robots));
  // More pages than are fetched ahead, then the page and a move to it.
  std::string links;
  for (std::size_t i = 0; i < kPagesAhead + 10; ++i)
    links += "<a href=p" + std::to_string(i) + ">p</a>";
  ProbeOutcome start = good(links + "<a href=new>n</a><a href=old>o</a>");
  ASSERT_TRUE(crawler.OnFetched(2, start));
  ASSERT_EQ(std::count(fetched.begin(), fetched.end(), "http://h/r/new"), 0);
  // A link of the run wants the moved page at once.
  ASSERT_TRUE(crawler.Want("http://h/r/old"));
  ASSERT_EQ(fetched.back(), "http://h/r/old");
  const std::uint64_t moved_job = fetched.size();
  ProbeOutcome moved = good("<p id=here>");
  moved.reply = "HTTP/1.1 301 Moved\r\n\r\n";
  moved.redirects = {"http://h/r/new"};
  moved.chain_end = ChainEnd::kGood;
  ASSERT_TRUE(crawler.OnFetched(moved_job, moved));
  EXPECT_EQ(crawler.TakeAliases(), std::vector<std::string>{"http://h/r/new"});
  CrawledPage page;
  for (std::uint64_t job = 3; job <= fetched.size() && job < 10000; ++job) {
    if (job == moved_job) continue;
    ProbeOutcome outcome = good("");
    crawler.OnFetched(job, outcome);
    while (crawler.TakePage(page)) {
    }
  }
  EXPECT_TRUE(crawler.Finished());
  EXPECT_EQ(std::count(fetched.begin(), fetched.end(), "http://h/r/new"), 0);
  EXPECT_EQ(crawler.HasFragment("http://h/r/new", "here"), true);
}

TEST(CrawlerTest, LinksCarryTheirAbsoluteTargets) {
  // A page in windows-1252 sends its query's letters in that charset, as
  // browsers do; a fragment alone stays on the page, whose base moves the
  // rest.
  const struct {
    std::string content_type, body;
    std::vector<std::string> urls, targets;
  } cases[] = {
      {"text/html; charset=utf-8",
       "<base href=\"deep/\"><a href=e>e</a><a href=\"#k\">k</a><p id=k>",
       {"e", "#k"},
       {"http://h/s/deep/e", "http://h/s/deep/#k"}},
      {"text/html; charset=windows-1252",
       "<a href=\"find?q=caf\xe9\">f</a><a href='#k'>k</a><a href=\"\\x\\y\">y</a>",
       {"find?q=caf\xc3\xa9", "#k", "\\x\\y"},
       {"http://h/s/find?q=caf%E9", "http://h/s/b?x=1#k", "http://h/x/y"}},
  };
  for (const auto& c : cases) {
    CrawlOptions options;
    options.start_urls = {"http://h/s/b?x=1"};
    options.depth = 0;
    FakeCrawl crawl(FakeSite(), options, 0);
    crawl.seed_order_ = false;
    crawl.crawler().Start();
    // robots.txt, then the page.
    ProbeOutcome robots;
    robots.reply = "HTTP/1.1 404 Not Found\r\n\r\n";
    ASSERT_TRUE(crawl.crawler().OnFetched(1, robots));
    ProbeOutcome page;
    page.reply = "HTTP/1.1 200 OK\r\n\r\n";
    page.content_type = c.content_type;
    page.body = c.body;
    ASSERT_TRUE(crawl.crawler().OnFetched(2, page));
    EXPECT_FALSE(crawl.crawler().OnFetched(99, page));
    CrawledPage taken;
    ASSERT_TRUE(crawl.crawler().TakePage(taken));
    EXPECT_EQ(std::vector<std::string>(taken.links.urls.begin(), taken.links.urls.end()), c.urls);
    EXPECT_EQ(std::vector<std::string>(taken.links.targets.begin(), taken.links.targets.end()),
              c.targets);
  }
}

}  // namespace
}  // namespace quimbel
