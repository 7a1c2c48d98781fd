#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>
#include <tuple>
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
    std::optional<std::string> path;  // with "#" and the fragment, if any; nothing: no local link
    std::string page = "/site/a/p.html";
    std::string base = "";
  };
  const Case cases[] = {
      {"b.html", "/site/a/b.html"},
      {"../b.html#x", "/site/b.html#x"},
      {"../../../b.html", "/site/b.html"},
      {"./c/./d/../e.html?q=1", "/site/a/c/e.html"},
      {"/x/y.html", "/site/x/y.html"},
      {"/../../etc/passwd", "/site/etc/passwd"},
      {"a%20b%2Fc.html", "/site/a b/c.html", "/site/p.html"},
      {"#frag", "/site/a/p.html#frag"},
      {"?only=query", "/site/a/p.html"},
      {"sub/", "/site/sub/", "/site/p.html"},
      {"..", "/site/"},
      {"HTTPS://www.example.test/docs/i.html#t", "/site/docs/i.html#t"},
      {"https://other.test/x.html", {}, "/site/p.html"},
      {"//other.test/x.html", {}, "/site/p.html"},
      {"ftp://x.test/", {}, "/site/p.html"},
      // A base leads relative links elsewhere, or off the site.
      {"b.html", "/site/other/b.html", "/site/a/p.html", "../other/"},
      {"b.html", "/site/z/b.html", "/site/a/p.html", "/z/index.html"},
      {"b.html", "/site/w/b.html", "/site/a/p.html", "https://www.example.test/w/"},
      {"b.html", {}, "/site/a/p.html", "https://elsewhere.test/"},
      // A page outside the root resolves against its own folder.
      {"../b.html", "/elsewhere/b.html", "/elsewhere/p.html"},
      // A folder whose name only begins with the root's is outside it.
      {"../b.html", "/site-old/b.html", "/site-old/p.html"},
      // Escaped dots are dots, and climb no higher than unescaped ones.
      {"%2e%2e/%2E%2E/%2e./.%2E/etc/passwd", "/site/etc/passwd"},
      {"/%2e%2e/x.html", "/site/x.html"},
      {"..%2F..%2F..%2Fetc", "/site/etc"},
      {"%2e", "/site/a/"},
      {"%2E%2E/b.html", "/elsewhere/b.html", "/elsewhere/p.html"},
      {"a%2e%2e/b.html", "/site/a../b.html", "/site/p.html"},
      // As a browser reads an href: "\\" is "/", blanks go, the site URL matches however spelt.
      {"sub\\c.html", "/site/a/sub/c.html"},
      {" \tb.\nhtml#x ", "/site/a/b.html#x"},
      {"\\\\other.test\\x.html", {}, "/site/p.html"},
      {"https://WWW.example.test:443/d%69r/", "/site/dir/", "/site/p.html"},
      {"#caf\xc3\xa9", "/site/a/p.html#caf%C3%A9"},
      {"a%3Fb.html?c", "/site/a?b.html", "/site/p.html"},
      // A fragment alone, on a page with a base, points into the base's page, as in a browser.
      {"#f", "/site/z/other.html#f", "/site/a/p.html", "/z/other.html"},
      {"?q=1#f", "/site/z/other.html#f", "/site/a/p.html", "/z/other.html"},
  };
  for (const Case& c : cases) {
    const auto target = ResolveLocalLink(c.url, c.page, options, c.base);
    std::optional<std::string> got;
    if (target) got = target->path + (target->fragment ? "#" + *target->fragment : "");
    EXPECT_EQ(got, c.path) << c.url << " in " << c.page << " base " << c.base;
  }
}

// Links go to the lists as the page is read, still judged by a later <base> and ids; a page
// large enough to be mapped, its bytes let go behind the scan, lists what its text does.
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
    for (std::size_t i = 0; i < lists.urls.size(); ++i)
      rows.push_back(std::to_string(lists.lines[i]) + " " + lists.urls[i] + " " +
                     std::to_string(lists.local[i]));
    return rows;
  };
  const std::string found = std::to_string(kLocalTargetFound);
  const std::vector<std::string> expected = {
      "1 there.html#here " + found, "3 gone.html " + std::to_string(kLocalFileNotFound),
      "4 ../page.html#tail " + found, "5 ../page.html#none " + std::to_string(kLocalAnchorNotFound),
      "6 http://example.test/x?q=1 0"};
  const LocalLinkOptions options{site.path().string(), "", true};
  LinkLists lists, mapped, from_text;
  ASSERT_TRUE(LocalLinkChecker(options).AddPageLinks(
      site.Write("page.html", head + "<p id=tail>\n"), lists));
  EXPECT_EQ(listed(lists), expected);
  // Eight megabytes between the links and the id: the scan lets them go before it reaches it.
  const std::string text = head + std::string(8 << 20, '\n') + "<p id=tail>\n";
  const std::string large = site.Write("page.html", text);
  ASSERT_TRUE(LocalLinkChecker(options).AddPageLinks(large, mapped));
  EXPECT_EQ(listed(mapped), expected);
  LocalLinkChecker(options).AddPageLinks(large, text, from_text);
  EXPECT_EQ(listed(from_text), expected);

  // Under a <base> off the site, relative links (even one before it) are left out, in order.
  const std::string off = site.Write(
      "off.html",
      "<a href=a.html>1</a><base href=http://other.test/><a href=http://example.test/>2</a>"
      "<a href=/sub/there.html>3</a><a href=b.html>4</a><a href=https://example.test/>5</a>");
  LinkLists off_site;
  ASSERT_TRUE(LocalLinkChecker(options).AddPageLinks(off, off_site));
  EXPECT_EQ(off_site.urls, (std::deque<std::string>{"http://example.test/", "/sub/there.html",
                                                    "https://example.test/"}));
  EXPECT_EQ(off_site.anchors, (std::deque<std::string>{"2", "3", "5"}));
  EXPECT_EQ(off_site.local[1], kLocalTargetFound);
}

// Every kind of local link in a small site, good and broken, and what "Go To URL" opens.
TEST(LocalLinks, TheSmallSite) {
  LocalLinkChecker checker({kSite.string(), "http://example.invalid/site/", true});
  const std::string page = (kSite / "index.html").string();
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
  EXPECT_EQ(listed(page),
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
  LinkLists lists;
  ASSERT_TRUE(LocalLinkChecker({kSite.string(), "", false}).AddPageLinks(page, lists));
  std::vector<std::string> network;
  for (std::size_t i = 0; i < lists.urls.size(); ++i) {
    if (lists.local[i] == 0)
      network.push_back(std::to_string(lists.lines[i]) + " " + lists.urls[i]);
    EXPECT_NE(lists.urls[i], "missing.css");  // resources are left alone when asked
  }
  EXPECT_EQ(network, (std::vector<std::string>{"24 http://example.invalid/site/docs/guide.html",
                                               "25 http://example.invalid/site/nope.html"}));

  // "Go To URL" on a local row opens the target, or where it should be.
  const std::string site = std::filesystem::absolute(kSite).lexically_normal().generic_string();
  const std::pair<std::string, std::optional<std::string>> cases[] = {
      {"docs/guide.html#install", site + "/docs/guide.html"},
      {"renamed.html", site},
      {"docs/gone/deeper/x.html", site + "/docs"},
      {"docs/guide.html?lang=en&amp;v=2", site + "/docs/guide.html"},
      {"https://example.invalid/", std::nullopt},
  };
  for (const auto& [written, opened] : cases)
    EXPECT_EQ(LocalLinkOpenPath(written, page, {kSite.string(), "", true}), opened) << written;
}

// A fragment names a whole id or anchor name, in its case; "#top" always counts.
TEST(LocalLinks, AFragmentMatchesAWholeNameReadOnce) {
  testing::TempFolder site;
  site.Write("t.html",
             "<h2 id=\"topics\">T</h2><a name=\"Top-2\"></a><p id=\"a%20b\">"
             "<p id=\"caf\xc3\xa9\"><p id=\"100%\">");
  site.Write("sub/other.html", "<p id=\"sec\">");
  site.Write("doc.pdf", "%PDF-1.4");
  site.Write("old/index.htm", "<p id=\"in\">");
  const LocalLinkOptions options{site.path().string(), "", true};
  // (before the links, found, missing): ids match as written or decoded; a pdf's #page is fine.
  const std::tuple<std::string, std::vector<std::string>, std::vector<std::string>> cases[] = {
      {"",
       {"t.html#topics", "t.html#top", "t.html#TOP", "t.html#Top-2", "t.html#top%69cs",
        "t.html#a%20b", "t.html#a b", "t.html#a%2520b", "t.html#caf%C3%A9", "t.html#caf\xc3\xa9",
        "t.html#100%25", "t.html#100%", "doc.pdf#page=2", "old/#in"},
       {"t.html#topic", "t.html#topicsx", "t.html#Topics", "t.html#Top-", "t.html#a%252520b",
        "old/#out"}},
      {"<p id=top>", {}, {"#topics"}},
      {"<p id=topics>", {"#top", "#topics"}, {}},
      {"<base href=sub/>", {"other.html#sec"}, {}},
      {"<base href=sub/other.html>", {"other.html#top"}, {}},
  };
  for (const auto& [before, found, missing] : cases) {
    std::string text = before;
    for (const auto* links : {&found, &missing})
      for (const auto& link : *links)
        text += "<a href=\"" + link + "\">x</a>";
    LinkLists lists;
    ASSERT_TRUE(LocalLinkChecker(options).AddPageLinks(site.Write("p.html", text), lists));
    ASSERT_EQ(lists.local.size(), found.size() + missing.size());
    for (std::size_t i = 0; i < lists.local.size(); ++i)
      EXPECT_EQ(lists.local[i], i < found.size() ? kLocalTargetFound : kLocalAnchorNotFound)
          << before << " " << lists.urls[i];
  }

  // One checker reads a target's names once, and holds no file open.
  std::string page;
  for (int i = 0; i < 100; ++i)
    page += "<a href=\"t.html#topics\">x</a>\n";
  const std::string path = site.Write("p.html", page + "<a href=\"t.html#b\">missing</a>\n");
  LocalLinkChecker checker(options);
  LinkLists lists;
  ASSERT_TRUE(checker.AddPageLinks(path, lists));
  ASSERT_EQ(lists.urls.size(), 101u);
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
  EXPECT_LT(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                          std::filesystem::directory_iterator()),
            64);
}

namespace fs = std::filesystem;
using Paths = std::vector<std::string>;

TEST(HasHtmlExtension, LastDotOfTheWholePath) {
  for (const char* path :
       {"/s/INDEX.HTM", "/s/page.Shtml", "/s/a.php", "/s/x.tin", "/s/x.jhtml", "/s/.htm"})
    EXPECT_TRUE(HasHtmlExtension(path)) << path;
  // In "/s/site.htm/README" the "extension" holds a "/".
  for (const char* path :
       {"/s/notes.txt", "/s/README", "/s/archive.html.bak", "/s/site.htm/README", "/s/x.", ""})
    EXPECT_FALSE(HasHtmlExtension(path)) << path;
  EXPECT_EQ(HtmlExtensions().size(), 15u);
}

class CollectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name :
         {"top/b.htm", "top/a.htm", "top/notes.txt", "top/README", "top/.profile.htm",
          "top/A/a1.htm", "top/A/deep/d.html", "top/B/b1.HTM", "top/.hidden/h.htm", "top/Z.htm"})
      folder_.Write(name, "x");
    top_ = (folder_.path() / "top").string();
  }
  std::string P(const std::string& relative) const { return top_ + "/" + relative; }

  testing::TempFolder folder_;
  std::string top_;
};

TEST_F(CollectionTest, ModesOrderFilterAndTrailingSeparator) {
  using F = ExtensionFilter;
  const std::tuple<const char*, bool, bool, F, Paths> cases[] = {
      {"single file, whatever its extension", false, false, F::kHtmlOnly, {top_ + "/notes.txt"}},
      {"folder, all files in byte order",
       true,
       false,
       F::kOff,
       {P(".profile.htm"), P("README"), P("Z.htm"), P("a.htm"), P("b.htm"), P("notes.txt")}},
      {"folder, HTML only",
       true,
       false,
       F::kHtmlOnly,
       {P(".profile.htm"), P("Z.htm"), P("a.htm"), P("b.htm")}},
      {"tree: own files, then B, then A; dot folders skipped",
       true,
       true,
       F::kHtmlOnly,
       {P(".profile.htm"), P("Z.htm"), P("a.htm"), P("b.htm"), P("B/b1.HTM"), P("A/a1.htm"),
        P("A/deep/d.html")}},
      {"recurse without all files takes nothing", false, true, F::kOff, {}},
  };
  for (const auto& [name, all_files, recurse, filter, expected] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(CollectFiles(all_files ? top_ : top_ + "/notes.txt", {recurse, all_files, filter}),
              expected);
  }
  // A trailing separator is doubled.
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
  // Each real file counts once, under its first path; an interrupted run's leftovers are no page.
  folder_.Write("top/B/.~quimbel-Ab12Cd", "half a page");
  folder_.Write("top/B/b1.t~p", "half a page");
  fs::create_symlink(P("B/b1.HTM"), P("B/c-link.htm"));
  EXPECT_EQ(CollectFiles(top_ + "/B", {.recurse = true, .all_files = true}),
            (Paths{P("B/b1.HTM"), P("B/link.htm")}));

  Paths files;
  CollectTree(files, top_ + "/no-such-folder", ExtensionFilter::kOff);
  CollectFolder(files, P("a.htm"), ExtensionFilter::kOff);
  EXPECT_TRUE(files.empty());
}

}  // namespace
}  // namespace quimbel
