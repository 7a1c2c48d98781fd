#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "links/url_extractor.h"
#include "tests/temp_folder.h"

namespace quimbel {
namespace {

struct Taken {
  std::string url;
  std::string anchor;
  bool operator==(const Taken&) const = default;
};

void PrintTo(const Taken& link, std::ostream* out) {
  *out << "{\"" << link.url << "\", \"" << link.anchor << "\"}";
}

std::vector<Taken> Scan(std::string_view text) {
  LinkLists lists;
  std::size_t count = 0;
  ExtractUrlsFromText(text, lists, count);
  std::vector<Taken> links;
  for (std::size_t i = 0; i < lists.urls.size(); ++i)
    links.push_back({lists.urls[i], lists.anchors[i]});
  return links;
}

const std::string kPlaceholder(kPlaceholderAnchorName);

// An anchor's link is its own href, read as an HTML parser reads it; the
// link name is its text up to the closing tag.
TEST(ExtractUrls, TheLinkOfAnAnchorIsItsHref) {
  struct Case {
    const char* name;
    std::string text;
    std::vector<Taken> links;
  };
  const Case cases[] = {
      {"plain anchor",
       "<a href=\"http://www.example.com/\">Home</a>\n",
       {{"http://www.example.com/", "Home"}}},
      {"text split over lines joins without a blank",
       "<a href=\"http://x.test/\">Our\nhome\r\npage</a>",
       {{"http://x.test/", "Ourhomepage"}}},
      {"empty link text", "<a href=\"http://x.test/\"></a>", {{"http://x.test/", kPlaceholder}}},
      {"image inside, lower-case close",
       "<A HREF=\"http://x.test/\"><img src=\"i.gif\"></a>",
       {{"http://x.test/", "<img src=\"i.gif\">"}}},
      {"inner tags stay",
       "<a href=\"http://x.test/\">Go <b>now</b>!</A>",
       {{"http://x.test/", "Go <b>now</b>!"}}},
      {"missing close ends at the next <",
       "<a href=\"http://x.test/\">One<br>two<a href=\"#\">",
       {{"http://x.test/", "One"}}},
      {"no end mark at all: still a link",
       "<a href=\"http://x.test/\">X",
       {{"http://x.test/", "X"}}},
      {"tabs and blanks",
       "<a href=\"http://x.test/\">\t Big\tDeal \t</a>",
       {{"http://x.test/", "Big Deal"}}},
      {"blank-only text stays empty",
       "<a href=\"http://x.test/\">   </a>",
       {{"http://x.test/", ""}}},
      {"duplicates are kept",
       "<a href=\"http://d.test/\">1</a><a href=\"http://d.test/\">2</a>",
       {{"http://d.test/", "1"}, {"http://d.test/", "2"}}},
      {"single quotes",
       "<a href='http://s.test/x'>S</a> <b class=\"k\">K</b>",
       {{"http://s.test/x", "S"}}},
      {"no quotes", "<a class=k href=http://s.test/x>S</a>", {{"http://s.test/x", "S"}}},
      {"blanks at either end go",
       "<a href=\"  http://b.test/a  \">B</a>",
       {{"http://b.test/a", "B"}}},
      {"references stay as written in the row",
       "<a href=\"http://h.test/search?q=a&amp;b=2\">Q</a>",
       {{"http://h.test/search?q=a&amp;b=2", "Q"}}},
      {"a referenced scheme is still a scheme",
       "<a href=\"http:&#47;&#47;h.test/x\">R</a>",
       {{"http:&#47;&#47;h.test/x", "R"}}},
      {"scheme in any case, URL keeps its own",
       "<A HREF=\"HTTP://Big.Test/Page?q=1#top\">Big</A><a href=\"HtTpS://s.test/\">S</a>",
       {{"HTTP://Big.Test/Page?q=1#top", "Big"}, {"HtTpS://s.test/", "S"}}},
      {"ftp", "<a href=\"ftp://f.test/pub\">Files</a>", {{"ftp://f.test/pub", "Files"}}},
      {"a URL in the link text is no link",
       "<a href=\"here.html\">see http://h.test/textonly</a>",
       {}},
      {"nor one in a title or data attribute",
       "<a title=\"http://h.test/a\" data-x=\"http://h.test/d\" href=\"http://h.test/b\">T</a>"
       "<a data-href=\"http://h.test/c\" href=\"/rel\">U</a>",
       {{"http://h.test/b", "T"}}},
      {"two hrefs: the first counts",
       "<a href=\"http://h.test/1\" href=\"http://h.test/2\">2</a>",
       {{"http://h.test/1", "2"}}},
      {"other tags that begin with a are no anchors",
       "<abbr title=\"http://t.test/\">T</abbr><address>http://u.test/</address>",
       {}},
      {"an area's href, named by its alt",
       "<area href=\"http://m.test/\" alt=\"Map\">",
       {{"http://m.test/", "Map"}}},
      {"relative, mail and other schemes are not probed",
       "<a href=\"/rel.htm\">2</a><a href=\"mailto:a@b.test\">3</a>"
       "<a href=\"gopher://g.test/\">4</a><a href=\"//h.test/\">5</a>",
       {}},
      {"resources are not probed", "<img src=\"http://i.test/a.png\">", {}},
      {"nothing in comments or scripts",
       "<!-- <a href=\"http://c.test/\">C</a> --><script>x='<a href=\"http://s.test/\">'</script>",
       {}},
      {"text before the first anchor is never taken",
       "<p>http://bare.test/</p><a href=\"http://a.test/\">A</a>",
       {{"http://a.test/", "A"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Scan(c.text), c.links);
  }
}

// A link's line is where its URL stands, however its tag is spread.
TEST(ExtractUrls, EachLinkKnowsItsLine) {
  struct Case {
    const char* name;
    std::string text;
    std::vector<std::size_t> lines;
  };
  const Case cases[] = {
      {"one per line",
       "<a href=\"http://a.test/\">A</a>\n<a href=\"http://b.test/\">B</a>\n",
       {1, 2}},
      {"the URL's own line", "<a\nhref=\n\"http://a.test/\">A</a>", {3}},
      {"CR LF and lone CR", "\r\n\r\r<a href=\"http://a.test/\">A</a>", {2}},
      {"many links on a few lines",
       "<a href=\"http://a.test/\">A</a><a href=\"http://b.test/\">B</a>\n\n"
       "<a href=\"https://c.test/\">C</a>",
       {1, 1, 3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LinkLists lists;
    std::size_t count = 0;
    ExtractUrlsFromText(c.text, lists, count);
    EXPECT_EQ(std::vector<std::size_t>(lists.lines.begin(), lists.lines.end()), c.lines);
  }
}

// What is requested for a link as written.
TEST(RequestUrl, DecodesAsABrowserReadsAnHref) {
  const std::pair<std::string, std::string> cases[] = {
      {"http://h.test/search?q=a&amp;b=2", "http://h.test/search?q=a&b=2"},
      {"http:&#47;&#47;h.test&#x2F;x", "http://h.test/x"},
      {"http://h.test/a&b=1&copy=2", "http://h.test/a&b=1&copy=2"},
      {"  http://h.test/x \f", "http://h.test/x"},
      {"http://h.test/a\n\tb\r", "http://h.test/ab"},
      {"http://h.test/p%20q", "http://h.test/p%20q"},
  };
  for (const auto& [written, request] : cases)
    EXPECT_EQ(RequestUrl(written), request) << written;
}

TEST(ExtractUrls, AppendsToTheListsAndCountsThem) {
  testing::TempFolder folder;
  const std::string page = folder.Write(
      "page.htm",
      "<p>x</p><a href=\"http://one.test/\">One</a>\r\n<a href=\"ftp://two.test/\">Two</a>");
  LinkLists lists;
  lists.urls = {"http://left.test/"};
  lists.anchors = {"Left"};
  std::size_t count = 0;
  ASSERT_TRUE(ExtractUrls(page, lists, count));
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(lists.urls,
            (std::deque<std::string>{"http://left.test/", "http://one.test/", "ftp://two.test/"}));
  EXPECT_EQ(lists.anchors, (std::deque<std::string>{"Left", "One", "Two"}));
}

TEST(ExtractUrls, UnreadableFilesLeaveTheListsAlone) {
  testing::TempFolder folder;
  const std::string missing = (folder.path() / "missing.htm").string();
  const std::string unreadable = folder.Write("locked.htm", "<a href=\"http://x.test/\">X</a>");
  std::filesystem::permissions(unreadable, std::filesystem::perms::none);
  // Nobody ever writes to this fifo: opening it for reading must not wait.
  const std::string fifo = (folder.path() / "fifo.htm").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const bool root = ::geteuid() == 0;  // root reads anything
  for (const std::string& path :
       {missing, folder.path().string(), unreadable, fifo, std::string("/dev/zero")}) {
    if (root && path == unreadable) continue;
    SCOPED_TRACE(path);
    LinkLists lists;
    lists.urls = {"u"};
    lists.anchors = {"a"};
    std::size_t count = 7;
    EXPECT_FALSE(ExtractUrls(path, lists, count));
    EXPECT_EQ(lists.urls.size(), 1u);
    EXPECT_EQ(lists.anchors.size(), 1u);
    EXPECT_EQ(count, 7u);
  }
}

TEST(ExtractUrls, AnyBytesAreValidInput) {
  testing::TempFolder folder;
  std::string binary;
  std::mt19937 random(7);
  for (int i = 0; i < (1 << 20); ++i)
    binary += static_cast<char>(random());
  binary += std::string("<a href=\"http://in\0side.test/\xff\">\x80\0</a>x", 37);
  // A file without line breaks, one giant anchor: the link at its very end.
  std::string giant =
      "<a title=\"" + std::string(8 << 20, 'x') + "\" href=\"http://end.test/\">E</a>.";
  const std::string files[] = {folder.Write("binary.htm", binary), folder.Write("giant.htm", giant),
                               folder.Write("empty.htm", "")};
  LinkLists lists;
  std::size_t count = 0;
  for (const auto& file : files)
    EXPECT_TRUE(ExtractUrls(file, lists, count));
  ASSERT_GE(lists.urls.size(), 2u);
  EXPECT_EQ(lists.urls[lists.urls.size() - 2], std::string("http://in\0side.test/\xff", 21));
  EXPECT_EQ(lists.anchors[lists.anchors.size() - 2], std::string("\x80\0", 2));
  EXPECT_EQ(lists.urls.back(), "http://end.test/");
}

TEST(ExtractUrls, HundredMegabytesWithoutALineBreak) {
  // Many anchors on one 100 MB line, written in pieces so the test itself
  // stays small: every link is found, none is split between reads.
  testing::TempFolder folder;
  const std::string anchor =
      "<a href=\"http://many.test/page.htm\">Many</a><p>" + std::string(10000, 'f') + "</p>";
  std::string block;
  while (block.size() < (1 << 20))
    block += anchor;
  const std::size_t per_block = block.size() / anchor.size();
  const std::string path = (folder.path() / "huge.htm").string();
  {
    std::ofstream out(path, std::ios::binary);
    for (int i = 0; i < 100; ++i)
      out << block;
    out << ".";
  }
  LinkLists lists;
  std::size_t count = 0;
  ASSERT_TRUE(ExtractUrls(path, lists, count));
  EXPECT_EQ(count, 100 * per_block);
  EXPECT_EQ(lists.urls.front(), "http://many.test/page.htm");
  EXPECT_EQ(lists.anchors.back(), "Many");
}

}  // namespace
}  // namespace quimbel
