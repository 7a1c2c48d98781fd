// The crawl's parts without a network, and the crawler over a site in memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>

#include "crawl/crawl_scope.h"
#include "crawl/crawler.h"
#include "crawl/packed_links.h"
#include "crawl/page_text.h"
#include "crawl/result_cache.h"
#include "crawl/robots_rules.h"
#include "crawl/sitemap.h"
#include "platform/key_table.h"
#include "tests/temp_folder.h"

namespace quimbel {
namespace {

TEST(PageKeyTest, OneSpellingPerPage) {
  const char* const keys[][2] = {
      {"HTTP://Example.ORG", "http://example.org/"},
      {"https://h:443/a/B#frag", "https://h/a/B"},
      {"http://h:80/", "http://h/"},
      {"http://h:8080?q=1", "http://h:8080/?q=1"},
      {"http://user:pw@h/x", "http://h/x"},
      {"https://h/a?b=c#d", "https://h/a?b=c"},
  };
  for (const auto& [url, key] : keys)
    EXPECT_EQ(PageKey(url), key) << url;
  for (const char* none : {"ftp://h/file", "mailto:someone@h", "http:///nohost",
                           "http://127 0 0 1/", "http://exa\tmple/", "http://a<b/"}) {
    EXPECT_EQ(PageKey(none), std::nullopt) << none;
  }
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
      "# comment\r\nUser-agent: *\r\nDisallow: /private/\r\nDisallow: /tmp\r\n\r\n"
      "User-agent: OtherBot\nUser-agent: quimbel\nDisallow: /no/\nAllow: /no/but-this\n"
      "Disallow: /*.pdf$\nDisallow: /search*q=\nDisallow:\n";
  const RobotsRules own = RobotsRules::Parse(text, "Quimbel");
  const RobotsRules other = RobotsRules::Parse(text, "SomeoneElse");
  // Our group replaces "*"'s; the longer Allow wins; "$" anchors at the end.
  const struct {
    const char* path;
    bool own_allowed, other_allowed;
  } cases[] = {
      {"/private/a.html", true, false},
      {"/tmp/x", true, false},
      {"/no/page", false, true},
      {"/no/but-this/page", true, true},
      {"/files/a.pdf", false, true},
      {"/files/a.pdf?x", true, true},
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
      "<?xml version=\"1.0\"?>\n<urlset xmlns=\"http://www.sitemaps.org/schemas/sitemap/0.9\">\n"
      "  <url><loc> https://h/a?x=1&amp;y=2 </loc><lastmod>2026-01-01</lastmod></url>\n"
      "  <url>\n    <loc>https://h/b</loc>\n  </url>\n</urlset>\n");
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
  const std::string bom = "\xef\xbb\xbf";
  const struct {
    const char* content_type;
    std::string body;
    std::string text;  // "": the body as it is
  } cases[] = {
      {"text/html; charset=ISO-8859-1", "<a href=\"caf\xe9\">", "<a href=\"caf\xc3\xa9\">"},
      {"text/html", "<meta charset='windows-1252'>\n<a href=\"\x93q\x94\">",
       "<meta charset='windows-1252'>\n<a href=\"\xe2\x80\x9cq\xe2\x80\x9d\">"},
      {"text/html; charset=\"utf-8\"", "caf\xc3\xa9", ""},
      {"text/html; charset=no-such-charset", "caf\xe9", ""},
      {"text/html", "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=latin1\">\xe9",
       "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=latin1\">\xc3\xa9"},
      // A <meta> saying UTF-16 in ASCII means UTF-8, whatever the length.
      {"text/html", "<meta charset=\"utf-16\"><a href=x>", ""},
      {"text/html", "<meta charset=\"UTF-16LE\"><a href=xy>", ""},
      {"text/html", "<meta charset=x-user-defined>\x93",
       "<meta charset=x-user-defined>\xe2\x80\x9c"},
      // A byte order mark outranks the Content-Type and any <meta>.
      {"text/html; charset=windows-1252", bom + "caf\xc3\xa9", ""},
      {"text/html; charset=utf-8", std::string("\xfe\xff\0<\0a", 6), "<a"},
      // UTF-16 pages keep their lines.
      {"text/html; charset=utf-16", std::string("\xff\xfe<\0a\0\n\0b\0", 10), "<a\nb"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(PageTextUtf8(c.body, c.content_type), c.text.empty() ? c.body : c.text) << c.body;
}

ProbeOutcome Replied(const std::string& status, std::string body = "") {
  ProbeOutcome outcome;
  outcome.reply = "HTTP/1.1 " + status + "\r\n\r\n";
  outcome.content_type = "text/html";
  outcome.body = std::move(body);
  return outcome;
}

TEST(ResultCacheTest, KeepsFinalOutcomesForTheirAge) {
  testing::TempFolder folder;
  const auto now = ResultCache::Clock::now();
  Result<std::unique_ptr<Store>> store = Store::Open((folder.path() / "store.db").string());
  ASSERT_TRUE(store) << store.message();
  {
    ResultCache cache(**store, std::chrono::hours(24), now);
    ProbeOutcome timed_out = Replied("200 OK");
    timed_out.code = kReplyTimedOut;
    ProbeOutcome refused_chain = Replied("301 Moved");
    refused_chain.chain_end = ChainEnd::kFailed;
    refused_chain.chain_code = kConnectFailed;
    cache.Keep("https://a/t", timed_out);
    cache.Keep("https://a/r", refused_chain);
    const char* const stored[][2] = {
        {"https://a/ok", "200 OK"},         {"https://a/gone", "404 Not Found"},
        {"https://a/busy", "429 Too Many"}, {"https://a/down", "503 Unavailable"},
        {"https://site/p", "200 OK"},
    };
    for (const auto& [url, status] : stored)
      cache.Keep(url, Replied(status));
    cache.LeaveOut({"https://site"});
    cache.Keep("https://site/q", Replied("200 OK"));
    // Answered before it is written, and after.
    EXPECT_TRUE(cache.Find("https://a/ok"));
    ASSERT_TRUE(cache.Flush().ok());
  }
  ResultCache fresh(**store, std::chrono::hours(24), now + std::chrono::hours(1));
  fresh.LeaveOut({"https://site"});
  EXPECT_EQ(fresh.Find("https://a/gone").value_or(ProbeOutcome{}).reply,
            "HTTP/1.1 404 Not Found\r\n\r\n");
  EXPECT_TRUE(fresh.Find("https://a/ok"));
  for (const char* url : {"https://a/busy", "https://a/down", "https://a/t", "https://a/r",
                          "https://site/p", "https://site/q"}) {
    EXPECT_FALSE(fresh.Find(url)) << url;
  }
  // The site's own were never written down.
  ResultCache unfiltered(**store, std::chrono::hours(24), now);
  EXPECT_FALSE(unfiltered.Find("https://site/q"));
  ResultCache later(**store, std::chrono::hours(24), now + std::chrono::hours(25));
  EXPECT_FALSE(later.Find("https://a/ok"));
  // A flush a day later drops what is stale.
  EXPECT_TRUE(later.Flush().ok());
  EXPECT_EQ((*store)->LinkCount(), 0);
}

// An older Quimbel's JSON cache is read into the store once and left as it was.
TEST(ResultCacheTest, AJsonCacheIsReadOnceAndLeftAlone) {
  testing::TempFolder folder;
  const auto now = ResultCache::Clock::now();
  const std::int64_t time =
      std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count();
  const std::string json =
      "{\"format\":1,\"links\":{\"https://a/x\":{\"time\":" + std::to_string(time) +
      ",\"reply\":\"HTTP/1.1 404 Not Found\\r\\n\\r\\n\",\"redirects\":[],"
      "\"chain_end\":0,\"chain_code\":0}}}";
  const std::string file = folder.Write("cache.json", json);
  const CachePlace place = CachePlaceOf(file);
  EXPECT_EQ(place.store, file + ".db");
  EXPECT_EQ(place.json, file);
  Result<std::unique_ptr<Store>> store = Store::Open(place.store);
  ASSERT_TRUE(store) << store.message();
  ASSERT_TRUE(ImportJsonCache(place.json, **store).ok());
  EXPECT_TRUE(ResultCache(**store, std::chrono::hours(24), now).Find("https://a/x"));
  ASSERT_TRUE((*store)->PutLinks({}).ok());
  // Read once: what the store later forgets does not come back from the file.
  ASSERT_TRUE((*store)->DropLinksBefore(time + 1).ok());
  ASSERT_TRUE(ImportJsonCache(place.json, **store).ok());
  EXPECT_EQ((*store)->LinkCount(), 0);
  EXPECT_EQ(testing::ReadFile(file), json);
  // A store is its own place; a missing JSON file is nothing to read.
  EXPECT_EQ(CachePlaceOf(place.store).store, place.store);
  EXPECT_TRUE(CachePlaceOf(place.store).json.empty());
  EXPECT_TRUE(ImportJsonCache((folder.path() / "none.json").string(), **store).ok());
  for (const char* damaged : {"{\"format\":1,\"links\":{\"u\":{\"time\":\"x\"}}}", "{not json",
                              "{\"format\":2,\"links\":{}}"}) {
    const std::string other = folder.Write("other.json", damaged);
    EXPECT_FALSE(ImportJsonCache(other, **store).ok()) << damaged;
    EXPECT_EQ((*store)->LinkCount(), 0) << damaged;
  }
}

// A site in memory: address to status, Content-Type and body.
struct FakePage {
  std::string status = "200 OK";
  std::string type = "text/html";
  std::string body{};
  std::string moved_to{};  // a 301 to this address, followed by the probe
};

CrawlOptions Options(std::string start, std::optional<int> depth = std::nullopt) {
  CrawlOptions options;
  options.start_urls = {std::move(start)};
  options.depth = depth;
  return options;
}

struct FakeCrawl {
  FakeCrawl(std::map<std::string, FakePage> site, CrawlOptions options, unsigned seed = 0)
      : site_(std::move(site)),
        seed_(seed),
        random_(seed),
        crawler(
            std::move(options), "Quimbel",
            [this](const std::string& url, BodyWanted wanted, const std::string&) {
              pending_.emplace_back(next_job_, url, wanted);
              fetched_.push_back(url);
              return next_job_++;
            },
            [](std::string_view url) { return url.find("skipped") != std::string_view::npos; }) {}

  // Keeps the pages in `store`; the answers it gives for kept pages come before any fetch's.
  void UseJournal(Store& store, bool resume, std::size_t budget) {
    crawler.UseJournal(
        {&store, "http://h/", resume, budget, [this](ProbeOutcome outcome, const std::string&) {
           answered_.emplace_back(next_job_, std::move(outcome));
           return next_job_++;
         }});
  }

  // Ends fetches in a random order (seed 0: in order); the pages' addresses as handed on, up to
  // `most` of them.
  std::vector<std::string> Run(std::size_t most = SIZE_MAX) {
    crawler.Start();
    std::vector<std::string> taken;
    for (int guard = 0; guard < 100000; ++guard) {
      CrawledPage page;
      while (taken.size() < most && crawler.TakePage(page)) {
        taken.push_back(page.url);
        pages_.push_back(page);
      }
      if (taken.size() >= most) break;
      if (!answered_.empty()) {
        auto [job, outcome] = std::move(answered_.front());
        answered_.erase(answered_.begin());
        crawler.OnFetched(job, outcome);
        continue;
      }
      if (crawler.Finished() || pending_.empty()) break;
      std::size_t at = 0;
      if (seed_ != 0 && random_() % 3 != 0) at = random_() % pending_.size();
      const auto [job, url, wanted] = pending_[at];
      pending_.erase(pending_.begin() + static_cast<std::ptrdiff_t>(at));
      ProbeOutcome outcome;
      auto found = site_.find(url);
      if (found != site_.end() && !found->second.moved_to.empty()) {
        outcome.redirects = {found->second.moved_to};
        outcome.chain_end = ChainEnd::kGood;
        found = site_.find(found->second.moved_to);
      }
      const FakePage page_data = found == site_.end() ? FakePage{"404 Not Found"} : found->second;
      outcome.reply = "HTTP/1.1 " + page_data.status + "\r\n\r\n";
      // As the probe does: a page's body only when it is HTML.
      if (page_data.status.starts_with("200") &&
          (wanted == BodyWanted::kAny || page_data.type.starts_with("text/html"))) {
        outcome.body = page_data.body;
      }
      outcome.content_type = page_data.type;
      crawler.OnFetched(job, outcome);
    }
    return taken;
  }

  std::vector<std::string> fetched_;
  std::vector<CrawledPage> pages_;  // as Run took them
  std::map<std::string, FakePage> site_;
  unsigned seed_;
  std::mt19937 random_;
  std::vector<std::tuple<std::uint64_t, std::string, BodyWanted>> pending_;
  std::vector<std::pair<std::uint64_t, ProbeOutcome>> answered_;
  std::uint64_t next_job_ = 1;
  Crawler crawler;
};

std::map<std::string, FakePage> FakeSite() {
  std::map<std::string, FakePage> site;
  site["http://h/robots.txt"] = {"200 OK", "text/plain", "User-agent: *\nDisallow: /s/private/\n"};
  site["http://h/s/"] = {.body =
                             "<a href=a>a</a><a href='b?x=1#top'>b</a>"
                             "<a href=/s/private/p>p</a><a href=../outside>o</a>"
                             "<img src=pic.png><a href=skipped>s</a>"};
  site["http://h/s/a"] = {.body = "<a href=c>c</a><a href=d.pdf>d</a>"};
  site["http://h/s/b?x=1"] = {.body =
                                  "<base href=\"deep/\"><a href=e>e</a><a href=\"#k\">k</a>"
                                  "<p id=k>"};
  site["http://h/s/c"] = {.body = "<a href=/s/>home</a>"};
  site["http://h/s/d.pdf"] = {"200 OK", "application/pdf", "%PDF"};
  site["http://h/s/deep/e"] = {.body = "<a href=f>f</a>"};
  site["http://h/s/deep/f"] = {};
  site["http://h/s/private/p"] = {.body = "<a href=never>n</a>"};
  site["http://h/s/orphan"] = {};
  site["http://h/sitemap.xml"] = {"200 OK", "text/xml",
                                  "<urlset><url><loc>http://h/s/orphan</loc></url></urlset>"};
  // Moves, crawled from "r/" apart from the rest.
  site["http://h/r/"] = {.body = "<a href=old>o</a><a href=p2>2</a>"};
  site["http://h/r/old"] = {"301 Moved", "text/html", "", "http://h/r/new"};
  site["http://h/r/new"] = {.body = "<a href=new>self</a><a href=gone>x</a>"};
  site["http://h/r/p2"] = {.body = "<a href=new>n</a><a href=old>o</a>"};
  site["http://h/r/gone"] = {"301 Moved", "text/html", "", "http://other/away"};
  return site;
}

// Any order of fetches gives the same pages, each fetched once; "d/" and "d/index.html" with the
// same bytes are one page, under the name reached first; a moved page is read where it ended.
TEST(CrawlerTest, SameOrderWhateverOrderFetchesEnd) {
  const std::string index = "<a href=index.html>i</a><a href=./>f</a><a href=x.html>x</a>";
  const auto folder = [&](std::string index_body) {
    return std::map<std::string, FakePage>{{"http://h/d/", {.body = index}},
                                           {"http://h/d/index.html", {.body = index_body}},
                                           {"http://h/d/x.html", {.body = index}}};
  };
  const struct {
    std::map<std::string, FakePage> site;
    const char* start;
    std::vector<std::string> listed, fetched{}, aliases{};  // fetched: all or unchecked
  } cases[] = {
      {FakeSite(),
       "http://h/s/",
       {"http://h/s/", "http://h/s/a", "http://h/s/b?x=1", "http://h/s/c", "http://h/s/deep/e",
        "http://h/s/deep/f"},
       {"http://h/robots.txt", "http://h/s/", "http://h/s/a", "http://h/s/b?x=1", "http://h/s/c",
        "http://h/s/d.pdf", "http://h/s/deep/e", "http://h/s/deep/", "http://h/s/deep/f"}},
      {folder(index), "http://h/d/", {"http://h/d/", "http://h/d/x.html"}},
      {folder(index), "http://h/d/index.html", {"http://h/d/index.html", "http://h/d/x.html"}},
      {folder("<p>another page</p>"),
       "http://h/d/",
       {"http://h/d/", "http://h/d/index.html", "http://h/d/x.html"}},
      {FakeSite(),
       "http://h/r/",
       {"http://h/r/", "http://h/r/old", "http://h/r/p2"},
       {"http://h/robots.txt", "http://h/r/", "http://h/r/old", "http://h/r/p2", "http://h/r/gone"},
       {"http://h/r/new"}}};
  for (const auto& c : cases) {
    for (unsigned seed = 0; seed <= 20; ++seed) {
      FakeCrawl crawl(c.site, Options(c.start), seed);
      EXPECT_EQ(crawl.Run(), c.listed) << c.start << " seed " << seed;
      EXPECT_TRUE(c.fetched.empty() || crawl.fetched_ == c.fetched)
          << c.start << " seed " << seed << ::testing::PrintToString(crawl.fetched_);
      EXPECT_EQ(crawl.crawler.TakeAliases(), c.aliases) << c.start << " seed " << seed;
      if (c.start != std::string("http://h/s/")) continue;
      EXPECT_EQ(crawl.crawler.HasFragment("http://h/s/b?x=1", "k"), true);
      EXPECT_EQ(crawl.crawler.HasFragment("http://h/s/b?x=1", "nope"), false);
      EXPECT_EQ(crawl.crawler.HasFragment("http://h/s/d.pdf", "x"), std::nullopt);
    }
  }
}

// A site of 1,000 pages whose links lead far ahead, so most pages are read long before their
// turn.
std::map<std::string, FakePage> FarLinkingSite() {
  std::map<std::string, FakePage> site;
  constexpr int kPages = 1000;
  for (int i = 0; i < kPages; ++i) {
    std::string body = "<h2 id=s" + std::to_string(i % 7) + ">S</h2>\n";
    for (const int t : {(i + 1) % kPages, (i * 13 + 5) % kPages, (i * 7 + 3) % kPages})
      body += "<a href='p" + std::to_string(t) + "#s1'>to " + std::to_string(t) + "</a>\n";
    site["http://h/p" + std::to_string(i)] = {.body = body};
  }
  return site;
}

// The pages taken, each with its links as the run reads them.
std::vector<std::string> Listing(const std::vector<CrawledPage>& pages) {
  std::vector<std::string> lines;
  for (const CrawledPage& page : pages) {
    lines.push_back(page.url);
    for (std::size_t i = 0; i < page.links.urls.size(); ++i) {
      lines.push_back(" " + page.links.urls[i] + " " + page.links.targets[i] + " " +
                      page.links.anchors[i] + " " + std::to_string(page.links.lines[i]));
    }
  }
  return lines;
}

// Packed links come back as they went in, at the edges of each byte of a length or a number.
TEST(PackedLinksTest, ComeBackAsTheyWentIn) {
  LinkLists lists;
  const std::size_t numbers[] = {0, 127, 128, 16383, 16384, (std::size_t{1} << 35) + 9, SIZE_MAX};
  for (std::size_t i = 0; i < std::size(numbers); ++i) {
    const std::string text(numbers[i] % 20000, static_cast<char>('a' + i));
    lists.targets.push_back("http://h/" + text);
    lists.urls.push_back(text);
    lists.anchors.push_back(std::string(i * 40, 'x'));
    lists.lines.push_back(numbers[i]);
    lists.offsets.push_back(numbers[std::size(numbers) - 1 - i]);
    lists.kinds.push_back(static_cast<LinkKind>(i % 3));
    lists.resources.push_back(i % 2 == 1);
    lists.local.push_back(0);
  }
  const std::string packed = PackLinks(lists);
  const LinkLists back = UnpackLinks(packed);
  EXPECT_EQ(back.targets, lists.targets);
  EXPECT_EQ(back.urls, lists.urls);
  EXPECT_EQ(back.anchors, lists.anchors);
  EXPECT_EQ(back.lines, lists.lines);
  EXPECT_EQ(back.offsets, lists.offsets);
  EXPECT_EQ(back.kinds, lists.kinds);
  EXPECT_EQ(back.resources, lists.resources);
  PackedTargets targets(packed);
  std::string_view target;
  bool resource = false;
  for (std::size_t i = 0; i < std::size(numbers); ++i) {
    ASSERT_TRUE(targets.Next(target, resource));
    EXPECT_EQ(target, lists.targets[i]);
    EXPECT_EQ(resource, lists.resources[i]);
  }
  EXPECT_FALSE(targets.Next(target, resource));
  const std::string texts = PackTexts({"", "s1", std::string(300, 'f')});
  for (const std::string& name : {std::string(), std::string("s1"), std::string(300, 'f')})
    EXPECT_TRUE(PackedTextsContain(texts, name)) << name.size();
  for (const std::string& name : {std::string("s"), std::string(299, 'f'), std::string("s10")})
    EXPECT_FALSE(PackedTextsContain(texts, name)) << name;
}

// Pages read long before their turn leave memory for the store past the budget, and come back
// as they were; a crawl stopped half-way resumes without fetching a page it read, and lists
// what an unbroken crawl lists.
TEST(CrawlerTest, PagesWaitingSpillToTheStoreAndAStoppedCrawlResumes) {
  testing::TempFolder folder;
  FakeCrawl whole(FarLinkingSite(), Options("http://h/p0"), 5);
  whole.Run();
  ASSERT_EQ(whole.pages_.size(), 1000u);
  const std::vector<std::string> listing = Listing(whole.pages_);
  for (const std::size_t budget : {std::size_t{0}, std::size_t{2000}, kWaitingLinksBudget}) {
    Result<std::unique_ptr<Store>> scratch = Store::OpenScratch();
    ASSERT_TRUE(scratch);
    FakeCrawl spilled(FarLinkingSite(), Options("http://h/p0"), 5);
    spilled.UseJournal(**scratch, false, budget);
    spilled.Run();
    EXPECT_EQ(Listing(spilled.pages_), listing) << budget;
    // Within the budget, but for the one page over it.
    if (budget < kWaitingLinksBudget) {
      EXPECT_LE(spilled.crawler.most_waiting_bytes(), budget + 200) << budget;
    } else {
      EXPECT_GT(spilled.crawler.most_waiting_bytes(), 10000u);
    }
  }
  for (const std::size_t stop_after : {1u, 300u, 999u}) {
    Result<std::unique_ptr<Store>> store =
        Store::Open((folder.path() / ("resume" + std::to_string(stop_after) + ".db")).string());
    ASSERT_TRUE(store);
    FakeCrawl first(FarLinkingSite(), Options("http://h/p0"), 11);
    first.UseJournal(**store, false, 2000);
    first.Run(stop_after);
    const std::int64_t kept = (*store)->CrawlPageCount("http://h/");
    EXPECT_GT(kept, 0);
    std::set<std::string> read_before;
    for (const std::string& url : first.fetched_) {
      if ((*store)->FindCrawlPage("http://h/", url)) read_before.insert(url);
    }
    FakeCrawl resumed(FarLinkingSite(), Options("http://h/p0"), 3);
    resumed.UseJournal(**store, true, 2000);
    resumed.Run();
    EXPECT_EQ(Listing(resumed.pages_), listing) << stop_after;

    EXPECT_EQ(resumed.crawler.resumed_pages(), static_cast<std::size_t>(kept)) << stop_after;
    for (const std::string& url : resumed.fetched_)
      EXPECT_FALSE(read_before.contains(url)) << url << " fetched again";
    EXPECT_EQ(resumed.crawler.HasFragment("http://h/p9", "s2"), true);
    // Without --resume the pages kept are no answer: each is fetched.
    FakeCrawl again(FarLinkingSite(), Options("http://h/p0"), 3);
    again.UseJournal(**store, false, 2000);
    again.Run();
    EXPECT_EQ(again.crawler.resumed_pages(), 0u);
    EXPECT_EQ(again.fetched_.size(), whole.fetched_.size());
  }
}

// Depth, --max-pages and sitemaps bound the crawl, with a note of the limit reached; sitemaps
// count as pages. A robots.txt rule past 500 KiB is no rule.
TEST(CrawlerTest, DepthPagesSitemapsAndRobotsBoundTheCrawl) {
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
  const std::string s = "http://h/s/", a = s + "a", b = s + "b?x=1";
  const struct {
    std::optional<int> depth;
    std::size_t max_pages;
    std::string sitemap;
    std::size_t robots_padding;  // before a rule against /s/a; 0: the usual robots.txt
    std::size_t sitemaps_fetched;
    std::string note;                  // one of the notes; "": none
    std::vector<std::string> pages{};  // unchecked when empty
  } cases[] = {
      {0, 100, "", 0, 0, "", {s}},
      {1, 100, "", 0, 0, "", {s, a, b}},
      {std::nullopt, 2, "", 0, 0, "Pages past the limit of 2 are left out (--max-pages)", {s, a}},
      {0, 100, "http://h/sitemap.xml", 0, 1, "", {s, s + "orphan"}},
      {1, 100, "", 1000, 0, "", {s, b}},
      {1, 100, "", 600 * 1024, 0, "", {s, a, b}},
      {0, 100, "http://h/self.xml", 0, 2, ""},
      {0, 100000, "http://h/many.xml", 0, kMostSitemaps,
       "Sitemaps past the 1000 a run reads are left out"},
      {0, 10, "http://h/many.xml", 0, 9, "Pages past the limit of 10 are left out (--max-pages)"},
      {0, 3, "http://h/big.xml", 0, 1,
       "Sitemap entries past the 50000 of one file are left out: http://h/big.xml"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("case " + std::to_string(&c - cases));
    std::map<std::string, FakePage> changed = site;
    if (c.robots_padding != 0) {
      changed["http://h/robots.txt"].body +=
          std::string(c.robots_padding, '#') + "\nDisallow: /s/a\n";
    }
    CrawlOptions options = Options("http://h/s/", c.depth);
    options.max_pages = c.max_pages;
    if (!c.sitemap.empty()) options.sitemaps = {c.sitemap};
    FakeCrawl crawl(changed, options, 7);
    std::vector<std::string> pages = crawl.Run();
    EXPECT_TRUE(crawl.crawler.Finished());
    // A sitemap is handed on as a document of its own.
    std::erase(pages, c.sitemap);
    EXPECT_TRUE(c.pages.empty() || pages == c.pages) << ::testing::PrintToString(pages);
    std::erase_if(crawl.fetched_, [](const std::string& url) { return !url.ends_with(".xml"); });
    EXPECT_EQ(crawl.fetched_.size(), c.sitemaps_fetched);
    const std::vector<std::string> notes = crawl.crawler.TakeNotes();
    EXPECT_TRUE(c.note.empty() ? notes.empty() : std::ranges::find(notes, c.note) != notes.end())
        << ::testing::PrintToString(notes);
  }
}

// A move that ends at a page the crawl has reached but not read yet is that
// page's read: the page is never asked for again, and when its own fetch was
// already under way, that fetch's reply (the run answers it from the move's,
// without the body) is passed over, not read as an empty page.
TEST(CrawlerTest, AMoveEndingAtAPageNotYetReadIsItsRead) {
  for (const bool own_fetch_started : {false, true}) {
    SCOPED_TRACE(own_fetch_started);
    FakeCrawl crawl({}, Options("http://h/r/"));
    const std::vector<std::string>& fetched = crawl.fetched_;
    Crawler& crawler = crawl.crawler;
    crawler.Start();
    ProbeOutcome robots = Replied("404 Not Found");
    ASSERT_TRUE(crawler.OnFetched(1, robots));
    // More pages than are fetched ahead, then the page and a move to it.
    std::string links;
    for (std::size_t i = 0; i < kPagesAhead + 10; ++i)
      links += "<a href=p" + std::to_string(i) + ">p</a>";
    ProbeOutcome start = Replied("200 OK", links + "<a href=new>n</a><a href=old>o</a>");
    ASSERT_TRUE(crawler.OnFetched(2, start));
    std::uint64_t own_job = 0;
    if (own_fetch_started) {
      ASSERT_TRUE(crawler.Want("http://h/r/new"));
      own_job = fetched.size();
    }
    // A link of the run wants the moved page at once.
    ASSERT_TRUE(crawler.Want("http://h/r/old"));
    ASSERT_EQ(fetched.back(), "http://h/r/old");
    const std::uint64_t moved_job = fetched.size();
    ProbeOutcome moved = Replied("301 Moved", "<p id=here><a href=from-new>f</a>");
    moved.redirects = {"http://h/r/new"};
    moved.chain_end = ChainEnd::kGood;
    ASSERT_TRUE(crawler.OnFetched(moved_job, moved));
    EXPECT_EQ(crawler.TakeAliases(), std::vector<std::string>{"http://h/r/new"});
    std::vector<std::string> listed;
    CrawledPage page;
    for (std::uint64_t job = 3; job <= fetched.size() && job < 10000; ++job) {
      ProbeOutcome outcome = Replied("200 OK");
      outcome.body_withheld = job == own_job;
      if (job != moved_job) crawler.OnFetched(job, outcome);
      while (crawler.TakePage(page))
        listed.push_back(page.url);
    }
    EXPECT_TRUE(crawler.Finished());
    EXPECT_FALSE(crawler.OnFetched(100000, moved));  // no such fetch
    EXPECT_EQ(std::count(fetched.begin(), fetched.end(), "http://h/r/new"), own_fetch_started);
    EXPECT_EQ(std::count(fetched.begin(), fetched.end(), "http://h/r/from-new"), 1);
    EXPECT_EQ(std::count(listed.begin(), listed.end(), "http://h/r/new"), 1);
    EXPECT_EQ(crawler.HasFragment("http://h/r/new", "here"), true);
    EXPECT_EQ(crawler.counts().queued(), 0u);
  }
}

// A windows-1252 page sends its query in that charset, as browsers do; "#k" stays on the page.
TEST(CrawlerTest, LinksCarryTheirAbsoluteTargets) {
  FakeCrawl crawl(
      {{"http://h/s/b?x=1",
        {"200 OK", "text/html; charset=windows-1252",
         "<a href=\"find?q=caf\xe9\">f</a><a href='#k'>k</a><a href=\"\\x\\y\">y</a>"}}},
      Options("http://h/s/b?x=1", 0));
  crawl.Run();
  ASSERT_EQ(crawl.pages_.size(), 1u);
  const LinkLists& links = crawl.pages_[0].links;
  EXPECT_EQ(std::vector<std::string>(links.urls.begin(), links.urls.end()),
            (std::vector<std::string>{"find?q=caf\xc3\xa9", "#k", "\\x\\y"}));
  EXPECT_EQ(
      std::vector<std::string>(links.targets.begin(), links.targets.end()),
      (std::vector<std::string>{"http://h/s/find?q=caf%E9", "http://h/s/b?x=1#k", "http://h/x/y"}));
}

// Keys are numbered in the order first added, each once, and the bytes a
// view points at stay where they are however much the table grows.
TEST(KeyTableTest, NumbersEachKeyOnceAndNeverMovesItsBytes) {
  KeyTable table;
  const std::vector<std::string> keys = {"http://a/", "", "http://a/#x",
                                         std::string((std::size_t{1} << 20) + 7, 'x'), "http://b/"};
  std::vector<std::string_view> views;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    EXPECT_EQ(table.Add(keys[i]), std::make_pair(static_cast<KeyTable::Id>(i), true));
    views.push_back(table.key(static_cast<KeyTable::Id>(i)));
  }
  constexpr int kMore = 100000;  // grows the slots and the blocks many times
  for (int i = 0; i < kMore; ++i)
    table.Add("http://c/" + std::to_string(i));
  EXPECT_EQ(table.size(), keys.size() + kMore);
  for (std::size_t i = 0; i < keys.size(); ++i) {
    const auto id = static_cast<KeyTable::Id>(i);
    EXPECT_EQ(table.key(id).data(), views[i].data()) << i;
    EXPECT_EQ(table.key(id), keys[i]) << i;
    EXPECT_EQ(table.Add(keys[i]), std::make_pair(id, false)) << i;
    EXPECT_EQ(table.Find(keys[i]), id) << i;
  }
  EXPECT_EQ(table.Find("http://c/" + std::to_string(kMore - 1)), keys.size() + kMore - 1);
  EXPECT_FALSE(table.Contains("http://c/" + std::to_string(kMore)));
  EXPECT_FALSE(table.Contains("http://a"));
  table.Clear();
  EXPECT_EQ(table.size(), 0U);
  EXPECT_FALSE(table.Contains("http://a/"));
  EXPECT_EQ(table.Add("http://b/"), std::make_pair(KeyTable::Id{0}, true));
}

}  // namespace
}  // namespace quimbel
