#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "core/file_collection.h"
#include "core/local_links.h"
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
      {"b.html", "/site/a/p.html", "", "/site/a/b.html", {}},
      {"../b.html#x", "/site/a/p.html", "", "/site/b.html", "x"},
      {"../../../b.html", "/site/a/p.html", "", "/site/b.html", {}},
      {"./c/./d/../e.html?q=1", "/site/a/p.html", "", "/site/a/c/e.html", {}},
      {"/x/y.html", "/site/a/p.html", "", "/site/x/y.html", {}},
      {"/../../etc/passwd", "/site/a/p.html", "", "/site/etc/passwd", {}},
      {"a%20b%2Fc.html", "/site/p.html", "", "/site/a b/c.html", {}},
      {"#frag", "/site/a/p.html", "", "/site/a/p.html", "frag"},
      {"?only=query", "/site/a/p.html", "", "/site/a/p.html", {}},
      {"sub/", "/site/p.html", "", "/site/sub/", {}},
      {"..", "/site/a/p.html", "", "/site/", {}},
      {"HTTPS://www.example.test/docs/i.html#t", "/site/a/p.html", "", "/site/docs/i.html", "t"},
      {"https://other.test/x.html", "/site/p.html", "", {}, {}},
      {"//other.test/x.html", "/site/p.html", "", {}, {}},
      {"ftp://x.test/", "/site/p.html", "", {}, {}},
      // A base leads relative links elsewhere, or off the site.
      {"b.html", "/site/a/p.html", "../other/", "/site/other/b.html", {}},
      {"b.html", "/site/a/p.html", "/z/index.html", "/site/z/b.html", {}},
      {"b.html", "/site/a/p.html", "https://www.example.test/w/", "/site/w/b.html", {}},
      {"b.html", "/site/a/p.html", "https://elsewhere.test/", {}, {}},
      // A page outside the root resolves against its own folder.
      {"../b.html", "/elsewhere/p.html", "", "/elsewhere/b.html", {}},
      // A folder whose name only begins with the root's is outside it.
      {"../b.html", "/site-old/p.html", "", "/site-old/b.html", {}},
      // Escaped dots are dots, and climb no higher than unescaped ones.
      {"%2e%2e/%2E%2E/%2e./.%2E/etc/passwd", "/site/a/p.html", "", "/site/etc/passwd", {}},
      {"/%2e%2e/x.html", "/site/a/p.html", "", "/site/x.html", {}},
      {"%2E./b.html", "/site/a/p.html", "", "/site/b.html", {}},
      {"..%2F..%2F..%2Fetc", "/site/a/p.html", "", "/site/etc", {}},
      {"%2e", "/site/a/p.html", "", "/site/a/", {}},
      {"%2E%2E/b.html", "/elsewhere/p.html", "", "/elsewhere/b.html", {}},
      {"a%2e%2e/b.html", "/site/p.html", "", "/site/a../b.html", {}},
      // Read as a browser reads an href: "\\" is "/", blanks and line
      // breaks go, the site URL matches however its parts are spelt.
      {"sub\\c.html", "/site/a/p.html", "", "/site/a/sub/c.html", {}},
      {" \tb.\nhtml#x ", "/site/a/p.html", "", "/site/a/b.html", "x"},
      {"\\\\other.test\\x.html", "/site/p.html", "", {}, {}},
      {"https://WWW.example.test:443/d%69r/", "/site/p.html", "", "/site/dir/", {}},
      {"#caf\xc3\xa9", "/site/a/p.html", "", "/site/a/p.html", "caf%C3%A9"},
      {"a%3Fb.html?c", "/site/p.html", "", "/site/a?b.html", {}},
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

// Links go to the lists as the page is read. A local link is still judged
// by the <base> and the ids that come after it; one that leads nowhere is
// left out with the others kept in order; and a page large enough to be
// mapped, whose bytes are let go behind the scan, lists what its text does.
TEST(LocalLinks, LinksAreHandedOnAsThePageIsRead) {
  testing::TempFolder site;
  site.Write("sub/there.html", "<p id=\"here\">");
  const std::string head =
      "<a href=\"there.html#here\">before the base</a>\n"
      "<base href=\"sub/\">\n"
      "<a href='gone.html'>after it</a>\n"
      "<a href=\"../page.html#tail\">an id further down</a>\n"
      "<a href=\"../page.html#none\">no such id</a>\n"
      "<a href=http://example.test/x?q=1>away</a>\n";
  const auto listed = [](const LinkLists& lists) {
    std::vector<std::string> rows;
    for (std::size_t i = 0; i < lists.urls.size(); ++i) {
      rows.push_back(std::to_string(lists.lines[i]) + " " + lists.urls[i] + " " +
                     std::to_string(lists.local[i]));
    }
    return rows;
  };
  const std::string found = std::to_string(kLocalTargetFound);
  const std::vector<std::string> expected = {
      "1 there.html#here " + found, "3 gone.html " + std::to_string(kLocalFileNotFound),
      "4 ../page.html#tail " + found, "5 ../page.html#none " + std::to_string(kLocalAnchorNotFound),
      "6 http://example.test/x?q=1 0"};
  const std::string small = site.Write("page.html", head + "<p id=tail>\n");
  LocalLinkChecker checker({site.path().string(), "", true});
  LinkLists lists;
  ASSERT_TRUE(checker.AddPageLinks(small, lists));
  EXPECT_EQ(listed(lists), expected);

  // Eight megabytes between the links and the id: the page is mapped, and
  // the scan lets its first megabytes go before it reaches the id.
  const std::string filler(8 << 20, '\n');
  const std::string text = head + filler + "<p id=tail>\n";
  const std::string large = site.Write("page.html", text);
  LinkLists mapped;
  ASSERT_TRUE(LocalLinkChecker({site.path().string(), "", true}).AddPageLinks(large, mapped));
  EXPECT_EQ(listed(mapped), expected);
  LinkLists from_text;
  LocalLinkChecker({site.path().string(), "", true}).AddPageLinks(large, text, from_text);
  EXPECT_EQ(listed(from_text), expected);

  // Under a <base> off the site, a relative link leads nowhere and is left
  // out, even one before the base; a rooted one and the network's stay, in
  // their order.
  const std::string off = site.Write(
      "off.html",
      "<a href=a.html>1</a><base href=http://other.test/><a href=http://example.test/>2</a>"
      "<a href=/sub/there.html>3</a><a href=b.html>4</a><a href=https://example.test/>5</a>");
  LinkLists off_site;
  ASSERT_TRUE(LocalLinkChecker({site.path().string(), "", true}).AddPageLinks(off, off_site));
  EXPECT_EQ(off_site.urls, (std::deque<std::string>{"http://example.test/", "/sub/there.html",
                                                    "https://example.test/"}));
  EXPECT_EQ(off_site.anchors, (std::deque<std::string>{"2", "3", "5"}));
  EXPECT_EQ(off_site.local[1], kLocalTargetFound);
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

// A fragment names a whole id or anchor name, in its case; "#top" always
// counts. `page` goes before the link in the page that holds it.
TEST(LocalLinks, AFragmentMatchesAWholeName) {
  testing::TempFolder site;
  site.Write("t.html",
             "<h2 id=\"topics\">T</h2><a name=\"Top-2\"></a><p id=\"a%20b\">"
             "<p id=\"caf\xc3\xa9\"><p id=\"100%\">");
  site.Write("sub/other.html", "<p id=\"sec\">");
  site.Write("doc.pdf", "%PDF-1.4");
  site.Write("old/index.htm", "<p id=\"in\">");
  struct Case {
    std::string page, link;
    OutcomeCode outcome;
  };
  const OutcomeCode found = kLocalTargetFound, missing = kLocalAnchorNotFound;
  const Case cases[] = {
      {"", "t.html#topics", found},
      {"", "t.html#top", found},
      {"", "t.html#TOP", found},
      {"", "t.html#topic", missing},
      {"", "t.html#topicsx", missing},
      {"", "t.html#Topics", missing},
      {"", "t.html#Top-2", found},
      {"", "t.html#top%69cs", found},
      {"", "t.html#Top-", missing},
      // An id is matched as written, then decoded, as a browser does.
      {"", "t.html#a%20b", found},
      {"", "t.html#a b", found},
      {"", "t.html#a%2520b", found},
      {"", "t.html#a%252520b", missing},
      {"", "t.html#caf%C3%A9", found},
      {"", "t.html#caf\xc3\xa9", found},
      {"", "t.html#100%25", found},
      {"", "t.html#100%", found},
      {"<p id=top>", "#topics", missing},
      {"<p id=topics>", "#top", found},
      {"<p id=topics>", "#topics", found},
      {"<base href=sub/>", "other.html#sec", found},
      {"<base href=sub/other.html>", "other.html#top", found},
      // A fragment of a file that is no page is the viewer's business.
      {"", "doc.pdf#page=2", found},
      // A folder's index page may be index.htm.
      {"", "old/#in", found},
      {"", "old/#out", missing},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.page + " " + c.link);
    const std::string page = site.Write("p.html", c.page + "<a href=\"" + c.link + "\">x</a>");
    LocalLinkChecker checker({site.path().string(), "", true});
    LinkLists lists;
    ASSERT_TRUE(checker.AddPageLinks(page, lists));
    ASSERT_EQ(lists.local.size(), 1u);
    EXPECT_EQ(lists.local[0], c.outcome);
  }
}

// A link of a fragment alone, on a page with a base, points into the
// base's page, as a browser resolves it.
TEST(LocalLinks, AFragmentAloneFollowsTheBasePage) {
  const LocalLinkOptions options{"/site", "", true};
  for (const std::string link : {"#f", "?q=1#f"}) {
    const auto target = ResolveLocalLink(link, "/site/a/p.html", options, "/z/other.html");
    ASSERT_TRUE(target.has_value());
    EXPECT_EQ(target->path, "/site/z/other.html") << link;
  }
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
  for (int i = 0; i < 100; ++i)
    page += "<a href=\"t.html#a\">" + std::to_string(i) + "</a>\n";
  page += "<a href=\"t.html#b\">missing</a>\n";
  const std::string path = site.Write("p.html", page);
  LocalLinkChecker checker({site.path().string(), "", true});
  LinkLists lists;
  ASSERT_TRUE(checker.AddPageLinks(path, lists));
  ASSERT_EQ(lists.urls.size(), 101u);
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

namespace fs = std::filesystem;
using Paths = std::vector<std::string>;

TEST(HasHtmlExtension, LastDotOfTheWholePath) {
  struct Case {
    const char* path;
    bool html;
  };
  const Case cases[] = {
      {"/s/INDEX.HTM", true},
      {"/s/page.Shtml", true},
      {"/s/a.php", true},
      {"/s/x.tin", true},
      {"/s/x.jhtml", true},
      {"/s/notes.txt", false},
      {"/s/README", false},
      {"/s/archive.html.bak", false},
      {"/s/site.htm/README", false},  // the "extension" holds a "/"
      {"/s/.htm", true},
      {"/s/x.", false},
      {"", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(HasHtmlExtension(c.path), c.html);
  }
  EXPECT_EQ(HtmlExtensions().size(), 13u);
}

class CollectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name :
         {"top/b.htm", "top/a.htm", "top/notes.txt", "top/README", "top/.profile.htm",
          "top/A/a1.htm", "top/A/deep/d.html", "top/B/b1.HTM", "top/.hidden/h.htm", "top/Z.htm"}) {
      folder_.Write(name, "x");
    }
    top_ = (folder_.path() / "top").string();
  }
  std::string P(const std::string& relative) const { return top_ + "/" + relative; }

  testing::TempFolder folder_;
  std::string top_;
};

TEST_F(CollectionTest, ModesOrderAndFilter) {
  struct Case {
    const char* name;
    bool all_files, recurse;
    ExtensionFilter filter;
    Paths expected;
  };
  using F = ExtensionFilter;
  const Case cases[] = {
      Case("single file, whatever its extension", false, false, F::kHtmlOnly,
           {top_ + "/notes.txt"}),
      Case("folder, all files in byte order", true, false, F::kOff,
           {P(".profile.htm"), P("README"), P("Z.htm"), P("a.htm"), P("b.htm"), P("notes.txt")}),
      Case("folder, HTML only", true, false, F::kHtmlOnly,
           {P(".profile.htm"), P("Z.htm"), P("a.htm"), P("b.htm")}),
      Case("tree: own files, then B, then A; dot folders skipped", true, true, F::kHtmlOnly,
           {P(".profile.htm"), P("Z.htm"), P("a.htm"), P("b.htm"), P("B/b1.HTM"), P("A/a1.htm"),
            P("A/deep/d.html")}),
      Case("recurse without all files takes nothing", false, true, F::kOff, {}),
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = c.all_files ? top_ : top_ + "/notes.txt";
    EXPECT_EQ(CollectFiles(path, {c.recurse, c.all_files, c.filter}), c.expected);
  }
}

TEST_F(CollectionTest, TrailingSeparatorIsDoubled) {
  Paths files;
  CollectFolder(files, top_ + "/B/", ExtensionFilter::kOff);
  EXPECT_EQ(files, (Paths{top_ + "/B//b1.HTM"}));
}

TEST_F(CollectionTest, LinksFifosAndUnlistableFolders) {
  // A link back to the top would recurse forever if it were followed.
  fs::create_directory_symlink(top_, P("B/loop"));
  fs::create_symlink(P("a.htm"), P("B/link.htm"));
  fs::create_symlink(P("gone.htm"), P("B/dangling.htm"));
  ASSERT_EQ(::mkfifo(P("B/pipe.htm").c_str(), 0600), 0);
  Paths files;
  CollectTree(files, top_ + "/B", ExtensionFilter::kOff);
  EXPECT_EQ(files, (Paths{P("B/b1.HTM"), P("B/link.htm")}));

  // In one run each real file counts once, under its first path, and what
  // an interrupted run left behind is no page.
  folder_.Write("top/B/.~quimbel-Ab12Cd", "half a page");
  folder_.Write("top/B/b1.t~p", "half a page");
  fs::create_symlink(P("B/b1.HTM"), P("B/c-link.htm"));
  EXPECT_EQ(CollectFiles(top_ + "/B", {.recurse = false, .all_files = true}),
            (Paths{P("B/b1.HTM"), P("B/link.htm")}));

  files.clear();
  CollectTree(files, top_ + "/no-such-folder", ExtensionFilter::kOff);
  CollectFolder(files, P("a.htm"), ExtensionFilter::kOff);
  EXPECT_TRUE(files.empty());
}

}  // namespace
}  // namespace quimbel
