#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "links/url_extractor.h"
#include "tests/temp_folder.h"

namespace quimbel {

void PrintTo(const Link& link, std::ostream* out) {
  *out << "{\"" << link.url << "\", \"" << link.anchor << "\", " << link.line << "}";
}

namespace {

std::vector<Link> ScanWithLines(std::string_view text) {
  LinkScanner scanner;
  scanner.Feed(text);
  return scanner.Finish();
}

// The links without their places, for the cases about what is taken.
std::vector<Link> Scan(std::string_view text) {
  std::vector<Link> links = ScanWithLines(text);
  for (Link& link : links)
    link.line = link.offset = 0;
  return links;
}

const std::string kPlaceholder(kPlaceholderAnchorName);

TEST(LinkScanner, TakesLinksAsTheAnchorsStandInTheText) {
  struct Case {
    const char* name;
    std::string text;
    std::vector<Link> links;
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
      {"tabs and blanks",
       "<a href=\"http://x.test/\">\t Big\tDeal \t</a>",
       {{"http://x.test/", "Big Deal"}}},
      {"blank-only text stays empty",
       "<a href=\"http://x.test/\">   </a>",
       {{"http://x.test/", ""}}},
      {"duplicates are kept",
       "<a href=\"http://d.test/\">1</a><a href=\"http://d.test/\">2</a>",
       {{"http://d.test/", "1"}, {"http://d.test/", "2"}}},
      {"http wins over an earlier ftp",
       "<a href=\"ftp://f.test/\" title=\"http://h.test/\">x</a>",
       {{"http://h.test/", "x"}}},
      {"ftp alone", "<a href=\"ftp://f.test/pub\">Files</a>", {{"ftp://f.test/pub", "Files"}}},
      {"single quotes run to the next double quote",
       "<a href='http://s.test/'>S</a> <b class=\"k\">K</b>",
       {{"http://s.test/'>S</a> <b class=", "K"}}},
      {"single quotes without a later double quote", "<a href='http://s.test/'>S</a>", {}},
      {"scheme found in any case, URL keeps its own",
       "<A HREF=\"HTTP://Big.Test/Page.HTM?q=1#top\">Big</A>",
       {{"HTTP://Big.Test/Page.HTM?q=1#top", "Big"}}},
      {"blanks inside stay, trailing ones go",
       "<a href=\"http://b.test/a b.htm  \">B</a>",
       {{"http://b.test/a b.htm", "B"}}},
      {"nothing before the first anchor",
       "<head><base href=\"http://early.test/\">x</head><p>http://bare.test/</p>",
       {}},
      {"https as http; relative, mail and other schemes not",
       "<a href=\"HTTPS://s.test/\">1</a><a href=\"/rel.htm\">2</a>"
       "<a href=\"mailto:a@b.test\">3</a><a href=\"gopher://g.test/\">4</a>",
       {{"HTTPS://s.test/", "1"}}},
      {"the first of http and https in a stretch",
       "<a href=\"https://s.test/\">1</a> see \"http://later.test/\">L</b>"
       "<a title=\"http://t.test/ https://u.test/\">2</a>"
       "<a title=\"ftp://f.test/ https://u.test/\">3</a>",
       {{"https://s.test/", "1"},
        {"http://t.test/ https://u.test/", "2"},
        {"https://u.test/", "3"}}},
      {"<A also starts other tags",
       "<abbr title=\"http://t.test/\">T</abbr>",
       {{"http://t.test/", "T"}}},
      {"scheme at the stretch's first position does not count", "<Ahttp://x.test/\">X</a>", {}},
      {"no quote", "<a href=http://x.test/>X</a>", {}},
      {"no > after the quote", "<a href=\"http://x.test/\"", {}},
      {"no end mark", "<a href=\"http://x.test/\">X", {}},
      {"the last byte never counts", "<a href=\"http://x.test/\">X<", {}},
      {"an upper-case end mark wins over an earlier lower-case one",
       "<a href=\"http://x.test/\">One</a>two</A>",
       {{"http://x.test/", "One</a>two"}}},
      {"a line break inside <A still splits it",
       "<\na href=\"http://x.test/\">X</a>",
       {{"http://x.test/", "X"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Scan(c.text), c.links);
  }
}

// The extraction done the slow, literal way: a copy with line breaks removed
// and a new line at each "<A", then one link per line. Slow and literal, it
// checks the single-pass scanner on random text.
std::vector<Link> Reference(const std::string& input) {
  std::string stream;
  for (char c : input) {
    if (c != '\r' && c != '\n') stream += c;
  }
  std::string scratch;
  bool copy = false;
  std::size_t next = 0;
  auto read = [&](char* c) {
    if (next >= stream.size()) return false;
    *c = stream[next++];
    return true;
  };
  char w0, w1;
  if (read(&w0) && read(&w1)) {
    for (;;) {
      if (w0 == '<' && (w1 == 'A' || w1 == 'a')) {
        copy = true;
        scratch += "\n";
        if (!read(&w0) || !read(&w1)) break;
      } else {
        if (copy) scratch += w0;
        w0 = w1;
        if (!read(&w1)) break;
      }
    }
  }
  std::vector<Link> links;
  std::size_t start = 0;
  for (;;) {
    const std::size_t stop = scratch.find('\n', start);
    Link link;
    if (TakeLink(std::string_view(scratch).substr(start, stop - start), &link)) {
      links.push_back(link);
    }
    if (stop == std::string::npos) break;
    start = stop + 1;
  }
  return links;
}

// A link's line is where its URL starts, counted in line feeds, whatever
// the chunks the text came in and however long the break runs between.
TEST(LinkScanner, EachLinkKnowsItsLine) {
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
      {"breaks inside the <A", "\n<\n\n\nA href=\"http://a.test/\">A</a>", {5}},
      {"a break run before the first anchor",
       std::string(200000, '\n') + "x<\n\n<a href=\"ftp://a.test/\">A</a>",
       {200003}},
      {"many links on a few lines",
       "<a href=\"http://a.test/\">A</a><a href=\"http://b.test/\">B</a>\n\n"
       "<a href=\"https://c.test/\">C</a>",
       {1, 1, 3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const std::size_t chunk : {std::size_t{1}, std::size_t{3}, std::size_t{1} << 16}) {
      LinkScanner scanner;
      for (std::size_t at = 0; at < c.text.size(); at += chunk)
        scanner.Feed(std::string_view(c.text).substr(at, chunk));
      std::vector<std::size_t> lines;
      for (const Link& link : scanner.Finish())
        lines.push_back(link.line);
      EXPECT_EQ(lines, c.lines) << "chunk " << chunk;
    }
  }
}

TEST(LinkScanner, AgreesWithTheTwoPassMethodOnRandomText) {
  const std::string pieces[] = {"<a",
                                "<A",
                                "< a",
                                "<",
                                "a",
                                "A",
                                "\"",
                                ">",
                                "</a",
                                "</A",
                                "\r\n",
                                "\n",
                                "\n\n\n\r\n\n\n\n\n\r\r",
                                "\t",
                                " ",
                                "http://",
                                "HtTp://",
                                "ftp://",
                                "x",
                                "https://",
                                "<b>",
                                "\0",
                                "plain text of twenty",
                                "0123456789012345"};
  std::mt19937 random(20261206);
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    const int length = static_cast<int>(random() % 60);
    for (int i = 0; i < length; ++i)
      text += pieces[random() % std::size(pieces)];
    SCOPED_TRACE(text);
    const auto expected = Reference(text);
    ASSERT_EQ(Scan(text), expected);
    // Chunking must not matter, to the lines either.
    const auto whole = ScanWithLines(text);
    LinkScanner chunked;
    for (std::size_t at = 0; at < text.size();) {
      const std::size_t n = 1 + random() % 5;
      chunked.Feed(std::string_view(text).substr(at, n));
      at += n;
    }
    ASSERT_EQ(chunked.Finish(), whole);
    // A link's offset is where its URL's first letter stands.
    for (const Link& link : whole)
      ASSERT_EQ(text.at(link.offset), link.url.at(0));
  }
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
