#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "core/local_links.h"
#include "links/html_links.h"
#include "links/url_extractor.h"
#include "tests/temp_folder.h"

namespace quimbel {
namespace {

const std::filesystem::path kSite = std::filesystem::path(QUIMBEL_SOURCE_DIR) / "tests/local_site";

TEST(LocalLinks, Resolution) {
  LocalLinkOptions options{"/site", "https://www.example.test/", true};
  struct Case {
    std::string url;
    std::string page;
    std::string base;
    std::optional<std::string> path;  // nothing: no local link
    std::optional<std::string> fragment;
  };
  const Case cases[] = {
      {"b.html", "/site/a/p.html", "", "/site/a/b.html", std::nullopt},
      {"../b.html#x", "/site/a/p.html", "", "/site/b.html", "x"},
      {"../../../b.html", "/site/a/p.html", "", "/site/b.html", std::nullopt},
      {"./c/./d/../e.html?q=1", "/site/a/p.html", "", "/site/a/c/e.html", std::nullopt},
      {"/x/y.html", "/site/a/p.html", "", "/site/x/y.html", std::nullopt},
      {"/../../etc/passwd", "/site/a/p.html", "", "/site/etc/passwd", std::nullopt},
      {"a%20b%2Fc.html", "/site/p.html", "", "/site/a b/c.html", std::nullopt},
      {"#frag", "/site/a/p.html", "", "/site/a/p.html", "frag"},
      {"?only=query", "/site/a/p.html", "", "/site/a/p.html", std::nullopt},
      {"sub/", "/site/p.html", "", "/site/sub/", std::nullopt},
      {"..", "/site/a/p.html", "", "/site/", std::nullopt},
      {"HTTPS://www.example.test/docs/i.html#t", "/site/a/p.html", "", "/site/docs/i.html", "t"},
      {"https://other.test/x.html", "/site/p.html", "", std::nullopt, std::nullopt},
      {"//other.test/x.html", "/site/p.html", "", std::nullopt, std::nullopt},
      {"ftp://x.test/", "/site/p.html", "", std::nullopt, std::nullopt},
      // A base leads relative links elsewhere, or off the site.
      {"b.html", "/site/a/p.html", "../other/", "/site/other/b.html", std::nullopt},
      {"b.html", "/site/a/p.html", "/z/index.html", "/site/z/b.html", std::nullopt},
      {"b.html", "/site/a/p.html", "https://www.example.test/w/", "/site/w/b.html", std::nullopt},
      {"b.html", "/site/a/p.html", "https://elsewhere.test/", std::nullopt, std::nullopt},
      // A page outside the root resolves against its own folder.
      {"../b.html", "/elsewhere/p.html", "", "/elsewhere/b.html", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url + " in " + c.page + " base " + c.base);
    const auto target = ResolveLocalLink(c.url, c.page, options, c.base);
    ASSERT_EQ(target.has_value(), c.path.has_value());
    if (!target) continue;
    EXPECT_EQ(target->path, *c.path);
    EXPECT_EQ(target->fragment, c.fragment);
  }
}

TEST(LocalLinks, CharacterReferencesAndTheTokenizer) {
  EXPECT_EQ(DecodeCharacterReferences("a&amp;b&#38;c&#x26;d&eacute;&bogus;&amp"),
            "a&b&c&d\xc3\xa9&bogus;&amp");
  const PageScan scan = ScanPage(
      "<A HREF=one.html>One</A><a href='two.html' id=2>Two <b>bold</b></a>\n"
      "<!-- <a href=\"comment.html\">x</a> --><script>\"<a href=script.html>\"</script>"
      "<SCRIPT SRC=s.js></SCRIPT><img src=\"i.png\" alt=\"An &quot;image&quot;\">"
      "<a href=\"mailto:x@y.test\">m</a><a href=\"  \">e</a><a name=\"n\"></a>"
      "<base href=\"/b/\"><area href=\"map.html\" title=\"Map\"><a href=\"tail.html\">Tail");
  std::vector<std::string> seen;
  for (const PageLink& link : scan.links)
    seen.push_back(std::string(link.tag) + " " + std::string(link.url()) + " [" + link.text + "] " +
                   std::to_string(link.line));
  EXPECT_EQ(seen, (std::vector<std::string>{"a one.html [One] 1", "a two.html [Two <b>bold</b>] 1",
                                            "script s.js [script] 2", "img i.png [An \"image\"] 2",
                                            "area map.html [Map] 2", "a tail.html [Tail] 2"}));
  EXPECT_EQ(scan.fragments, (std::unordered_set<std::string>{"2", "n"}));
  EXPECT_EQ(scan.base, "/b/");
}

// Every kind of local link in a small site, good and broken.
TEST(LocalLinks, TheSmallSite) {
  LocalLinkChecker checker({kSite.string(), "http://example.invalid/site/", true});
  const auto listed = [&](const std::string& page) {
    LinkLists lists;
    EXPECT_TRUE(checker.AddPageLinks(page, lists));
    std::vector<std::string> rows;
    for (std::size_t i = 0; i < lists.urls.size(); ++i) {
      if (lists.local[i] == kLocalTargetFound) continue;
      const std::string what = lists.local[i] == kLocalFileNotFound     ? "file"
                               : lists.local[i] == kLocalAnchorNotFound ? "anchor"
                                                                        : "network";
      rows.push_back(std::to_string(lists.lines[i]) + " " + what + " " + lists.urls[i] + " [" +
                     lists.anchors[i] + "]" + (lists.resources[i] ? " loaded" : ""));
    }
    return rows;
  };
  EXPECT_EQ(listed((kSite / "index.html").string()),
            (std::vector<std::string>{
                "4 file missing.css [link] loaded",
                "11 anchor docs/guide.html#missing [Nowhere in the guide]",
                "14 file empty/ [A folder without an index]",
                "15 file renamed.html [Renamed page]",
                "19 anchor #nothing [No such place]",
                "22 file ../../../etc/hostname [Above the root]",
                "25 file http://example.invalid/site/nope.html [Missing under the site URL]",
                "31 file img/gone.png [Gone picture] loaded",
            }));
  EXPECT_EQ(listed((kSite / "docs/guide.html").string()),
            (std::vector<std::string>{"7 file docs/nope.html [Resolved against the base]"}));

  // Without the site URL those two links are the network's, in their places.
  LocalLinkChecker plain({kSite.string(), "", false});
  LinkLists lists;
  ASSERT_TRUE(plain.AddPageLinks((kSite / "index.html").string(), lists));
  std::vector<std::string> network;
  for (std::size_t i = 0; i < lists.urls.size(); ++i) {
    if (lists.local[i] == 0)
      network.push_back(std::to_string(lists.lines[i]) + " " + lists.urls[i]);
    // Resources are left alone when asked.
    EXPECT_NE(lists.urls[i], "missing.css");
  }
  EXPECT_EQ(network, (std::vector<std::string>{"24 http://example.invalid/site/docs/guide.html",
                                               "25 http://example.invalid/site/nope.html"}));
}

// "Go To URL" on a local row opens the target, or where it should be.
TEST(LocalLinks, WhatGoToUrlOpens) {
  const LocalLinkOptions options{kSite.string(), "", true};
  const std::string page = (kSite / "index.html").string();
  const std::string site = std::filesystem::absolute(kSite).lexically_normal().generic_string();
  struct Case {
    std::string written;
    std::optional<std::string> opened;
  };
  const Case cases[] = {
      {"docs/guide.html#install", site + "/docs/guide.html"},
      {"renamed.html", site},
      {"docs/gone/deeper/x.html", site + "/docs"},
      {"docs/guide.html?lang=en&amp;v=2", site + "/docs/guide.html"},
      {"https://example.invalid/", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.written);
    EXPECT_EQ(LocalLinkOpenPath(c.written, page, options), c.opened);
  }
}

// A target page's fragments are read once, and no file stays open.
TEST(LocalLinks, TargetsAreReadOnceAndNeverHeldOpen) {
  testing::TempFolder site;
  site.Write("t.html", "<h1 id=\"a\">A</h1>");
  std::string page;
  for (int i = 0; i < 3000; ++i)
    page += "<a href=\"t.html#a\">" + std::to_string(i) + "</a>\n";
  page += "<a href=\"t.html#b\">missing</a>\n";
  const std::string path = site.Write("p.html", page);
  LocalLinkChecker checker({site.path().string(), "", true});
  LinkLists lists;
  ASSERT_TRUE(checker.AddPageLinks(path, lists));
  ASSERT_EQ(lists.urls.size(), 3001u);
  EXPECT_EQ(lists.local.front(), kLocalTargetFound);
  EXPECT_EQ(lists.local.back(), kLocalAnchorNotFound);
  // An escaped NUL names no file, not the file named by what precedes it.
  EXPECT_EQ(
      checker.Check({(site.path() / "t.html").string() + std::string(1, '\0') + "x", std::nullopt},
                    path, {}),
      kLocalFileNotFound);
  // Changing the target now changes nothing: it was read once.
  site.Write("t.html", "<h1 id=\"b\">B</h1>");
  LinkLists again;
  ASSERT_TRUE(checker.AddPageLinks(path, again));
  EXPECT_EQ(again.local.back(), kLocalAnchorNotFound);
  std::size_t open = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    (void)entry;
    ++open;
  }
  EXPECT_LT(open, 64u);
}

// A minified page of 50 MB on one line: every link is found, on line 1,
// in file order, the page's own anchors among them.
TEST(LocalLinks, AFiftyMegabytePageWithoutLineBreaks) {
  testing::TempFolder site;
  site.Write("t.html", "<p id=\"a\">");
  const std::string block =
      "<a href=\"t.html#a\">T</a><img src=\"gone.png\" alt=\"G\">"
      "<a href=\"http://h.example/\">N</a><a href=\"#own\">O</a><div class=\"filler\">";
  std::string page = "<p id=\"own\">";
  const std::size_t blocks = (50u << 20) / block.size();
  page.reserve(blocks * block.size() + 64);
  for (std::size_t i = 0; i < blocks; ++i)
    page += block;
  page += "<a href=\"#last\">end</a>";
  const std::string path = site.Write("big.html", page);
  page.clear();
  page.shrink_to_fit();

  LinkLists lists;
  LocalLinkChecker checker({site.path().string(), "", true});
  ASSERT_TRUE(checker.AddPageLinks(path, lists));
  ASSERT_EQ(lists.urls.size(), blocks * 4 + 1);
  std::size_t found = 0, missing = 0, network = 0;
  for (std::size_t i = 0; i < lists.urls.size(); ++i) {
    found += lists.local[i] == kLocalTargetFound;
    missing += lists.local[i] == kLocalFileNotFound;
    network += lists.local[i] == 0 && lists.urls[i] == "http://h.example/";
    if (lists.lines[i] != 1 || (i > 0 && lists.offsets[i] <= lists.offsets[i - 1])) {
      FAIL() << "link " << i << " at line " << lists.lines[i] << " offset " << lists.offsets[i];
    }
  }
  EXPECT_EQ(found, blocks * 2);
  EXPECT_EQ(missing, blocks);
  EXPECT_EQ(network, blocks);
  EXPECT_EQ(lists.urls.back(), "#last");
  EXPECT_EQ(lists.local.back(), kLocalAnchorNotFound);
}

}  // namespace
}  // namespace quimbel
