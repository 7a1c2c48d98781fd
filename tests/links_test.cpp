#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "links/url_extractor.h"
#include "links/url_split.h"
#include "tests/temp_folder.h"

namespace quimbel {
namespace {

// The probed links of a text: "url [name] line; " each.
std::string Probed(std::string_view text) {
  LinkLists lists;
  std::size_t count = 0;
  ExtractUrlsFromText(text, lists, count);
  std::string out;
  for (std::size_t i = 0; i < lists.urls.size(); ++i)
    out += lists.urls[i] + " [" + lists.anchors[i] + "] " + std::to_string(lists.lines[i]) + "; ";
  return out;
}

// Everything the page scan takes: "tag url [name] line; " each (its kind for the tag when
// `kinds`), then the fragment names sorted, then the base.
std::string Scanned(std::string_view text, bool kinds = false) {
  const PageScan scan = ScanPage(text);
  std::string out;
  for (const PageLink& link : scan.links) {
    out += std::string(kinds ? LinkKindName(link.kind) : link.tag) + " " + std::string(link.url()) +
           " [" + link.text + "] " + std::to_string(link.line) + "; ";
  }
  std::vector<std::string> names(scan.fragments.begin(), scan.fragments.end());
  std::sort(names.begin(), names.end());
  for (const std::string& name : names)
    out += "#" + name + " ";
  return scan.base.empty() ? out : out + "base " + scan.base;
}

using Case = std::tuple<const char*, std::string, std::string>;  // name, text, what is taken

const std::string kNoName = " [" + std::string(kPlaceholderAnchorName) + "] 1; ";

// An anchor's link is its own href; its name is its text up to the closing tag. How the tag is
// read (quotes, comments, lines) is ScanPage's.
TEST(ExtractUrls, TheLinkOfAnAnchorIsItsHref) {
  const Case cases[] = {
      {"text over lines joins without a blank", "<a href=\"http://x/\">Our\nhome\r\npage</a>",
       "http://x/ [Ourhomepage] 1; "},
      {"empty link text", "<a href=\"http://x/\"></a>", "http://x/" + kNoName},
      {"image inside, close in another case", "<A HREF=\"http://x/\"><img src=\"i.gif\"></a>",
       "http://x/ [<img src=\"i.gif\">] 1; "},
      {"tags stay", "<a href=\"http://x/\">Go <b>now</b>!</A>", "http://x/ [Go <b>now</b>!] 1; "},
      {"ends at next <", "<a href=\"http://x/\">One<br>two<a href=\"#\">", "http://x/ [One] 1; "},
      {"no end mark at all: still a link", "<a href=\"http://x/\">X", "http://x/ [X] 1; "},
      {"tabs and blanks", "<a href=\"http://x/\">\t Big\tDeal \t</a>", "http://x/ [Big Deal] 1; "},
      {"blank-only text stays empty", "<a href=\"http://x/\">   </a>", "http://x/ [] 1; "},
      {"duplicates are kept", "<a href=\"http://d/\">1</a><a href=\"http://d/\">2</a>",
       "http://d/ [1] 1; http://d/ [2] 1; "},
      {"blanks at either end go", "<a href=\"  http://b/a  \">B</a>", "http://b/a [B] 1; "},
      {"references stay as written in the row", "<a href=\"http://h/s?q=a&amp;b=2\">Q</a>",
       "http://h/s?q=a&amp;b=2 [Q] 1; "},
      {"a referenced scheme is still a scheme", "<a href=\"http:&#47;&#47;h.test/x\">R</a>",
       "http:&#47;&#47;h.test/x [R] 1; "},
      {"scheme in any case, URL keeps its own",
       "<A HREF=\"HTTP://Big.Test/P?q=1#top\">Big</A><a href=\"HtTpS://s/\">S</a>",
       "HTTP://Big.Test/P?q=1#top [Big] 1; HtTpS://s/ [S] 1; "},
      {"a URL in the link text is no link", "<a href=\"here.html\">see http://h/t</a>", ""},
      {"nor one in a title or data attribute",
       "<a title=\"http://h/a\" data-x=\"http://h/d\" href=\"http://h/b\">T</a>"
       "<a data-href=\"http://h/c\" href=\"/rel\">U</a>",
       "http://h/b [T] 1; "},
      {"first href", "<a href=\"http://h/1\" href=\"http://h/2\">2</a>", "http://h/1 [2] 1; "},
      {"a longer name that starts with href is another attribute",
       "<a hreflang=\"http://h/lang\" href=\"http://h/x\">X</a>", "http://h/x [X] 1; "},
      {"a name without its end stops at the next anchor, in any case",
       "<a href=\"http://a/\">one<A HREF=\"http://b/\">two</A>",
       "http://a/ [one] 1; http://b/ [two] 1; "},
      {"other tags that begin with a", "<abbr title=\"http://t/\">T</abbr><address>", ""},
      {"area, by alt", "<area href=\"http://m/\" alt=\"Map\">", "http://m/ [Map] 1; "},
      {"relative, mail and other schemes are not probed",
       "<a href=\"/r.htm\">2</a><a href=\"mailto:a@b.test\">3</a><a href=\"gopher://g/\">4</a>"
       "<a href=\"//h.test/\">5</a>",
       ""},
      {"resources are not probed", "<img src=\"http://i/a.png\">", ""},
      {"text before", "<p>http://bare/</p><a href=\"http://a/\">A</a>", "http://a/ [A] 1; "},
      {"CR LF and lone CR", "\r\n\r\r<a href=\"http://a/\">A</a>", "http://a/ [A] 2; "},
      {"many links on a few lines",
       "<a href=\"http://a/\">A</a><a href=\"http://b/\">B</a>\n\n"
       "<a href=\"https://c/\">C</a>",
       "http://a/ [A] 1; http://b/ [B] 1; https://c/ [C] 3; "},
  };
  for (const auto& [name, text, taken] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(Probed(text), taken);
  }
}

// The tokenizer behind every link, and the fragment names and base a page defines.
TEST(ScanPage, TheTokenizerReadsAttributesAsHtmlDoes) {
  const Case cases[] = {
      {"three quoting styles", "<a href=\"d.html\">D</a><a href='s.html'>S</a><a href=u.html>U</a>",
       "a d.html [D] 1; a s.html [S] 1; a u.html [U] 1; "},
      {"the other quote inside", "<a href=\"it's.html\">Q</a><a href='say\"hi\".html'>R</a>",
       "a it's.html [Q] 1; a say\"hi\".html [R] 1; "},
      {"unquoted ends at > or a blank, not at /", "<img src=a/b.png/><a href=u.html title=T>U</a>",
       "img a/b.png/ [img] 1; a u.html [U] 1; "},
      {"attributes without values", "<a download href=x.html hidden>X</a><a href>Y</a>",
       "a x.html [X] 1; "},
      {"uppercase names", "<A HREF=\"x.html\" ID=Up>X</A><IMG SRC=\"i.png\" ALT=\"I\">",
       "a x.html [X] 1; img i.png [I] 1; #Up "},
      {"= with blanks around it", "<a href = \"x.html\">X</a><a href =y.html>Y</a><img src= z.png>",
       "a x.html [X] 1; a y.html [Y] 1; img z.png [img] 1; "},
      {"a / or a lone = between attributes", "<a/href=x.html>X</a><a =z href=y.html>Y</a>",
       "a x.html [X] 1; a y.html [Y] 1; "},
      {"entities in values", "<a href=\"a&amp;b&bogus;.html\" id=\"caf&eacute;\">A</a>",
       "a a&b&bogus;.html [A] 1; #caf\xc3\xa9 "},
      {"entities in a resource's name", "<img src=\"&#105;.png\" alt=\"&quot;Q&quot;\">",
       "img i.png [\"Q\"] 1; "},
      {"a resource is named by its alt, else its title, else its tag",
       "<img src=a.png alt=\"\" title=T><link href=s.css><iframe src=f.html alt=F>",
       "img a.png [T] 1; link s.css [link] 1; iframe f.html [F] 1; "},
      {"each tag's own attribute", "<img href=x.png><a src=y.html>Y</a><video src=v.mp4>",
       "video v.mp4 [video] 1; "},
      {"comments, scripts and styles hold no links",
       "<!-- <a href=c.html> --><script>'<a href=s.html>'</SCRIPT ><style>a{b:url(<img src=x>)}"
       "</style><!DOCTYPE html><?xml x?></a href=e.html><a href=ok.html>A</a>",
       "a ok.html [A] 1; "},
      {"a script's src is a link; a longer name is no script",
       "<script src=s.js></script><scripts><a href=in.html>I</a>",
       "script s.js [script] 1; a in.html [I] 1; "},
      {"< inside attribute values", "<a title=\"1 < 2 > 0\" href=\"x.html\">X</a><a href=p<q>Q</a>",
       "a x.html [X] 1; a p<q [Q] 1; "},
      {"lines across newlines", "<a\nhref=\n\"x.html\"\n>X</a>\n\n<img\r\nsrc=i.png>",
       "a x.html [X] 3; img i.png [img] 7; "},
      {"no tag after < and a blank", "< a href=x.html>1 < 2", ""},
      {"ids on any tag, names on anchors", "<p id=p1><a name=n1></a><img name=no id=\"\">",
       "# #n1 #p1 "},
      {"the first base counts", "<base href=\" /b/ \"><base href=/c/>", "base /b/"},
      {"a name is read whole, never as the start of a longer one",
       "<p idx=a id=b><base hreflang=x href=/h/>", "#b base /h/"},
      {"links that lead nowhere",
       "<a href=\"mailto:m\"><a href=TEL:1><a href=\" \"><a href=data:x>", ""},
      {"ends inside a tag name", "<a", ""},
      {"ends inside an attribute name", "<a href", ""},
      {"ends after =", "<a href=", ""},
      {"ends inside a quoted value", "<a href=\"x.html", "a x.html" + kNoName},
      {"ends inside a bare value", "<a href=x.html", "a x.html" + kNoName},
      {"ends before >", "<a href='x.html' ", "a x.html" + kNoName},
      {"ends inside a comment", "<!-- <a href=x.html>", ""},
      {"ends inside a script", "<script><a href=x.html>", ""},
      {"ends inside a declaration", "<!DOCTYPE <a href=x.html>", ""},
  };
  for (const auto& [name, text, taken] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(Scanned(text), taken);
  }
}

// Every reference a page makes, each with its kind and line.
TEST(ScanPage, EveryReferenceAPageMakes) {
  const Case cases[] = {
      {"what elements load",
       "<iframe src=f.html><frame src=g.html><embed src=e.swf><track src=t.vtt>"
       "<video src=v.mp4 poster=p.jpg><object data=o.svg><input type=IMAGE src=b.png>"
       "<input type=text src=no.png>",
       "resource f.html [iframe] 1; resource g.html [frame] 1; resource e.swf [embed] 1; "
       "resource t.vtt [track] 1; resource v.mp4 [video] 1; resource p.jpg [video] 1; "
       "resource o.svg [object] 1; resource b.png [input] 1; "},
      {"a link's rel says whether its target is fetched",
       "<link rel=stylesheet href=s.css><link rel=\"preconnect\" href=\"https://cdn.test\">"
       "<link rel='dns-prefetch' href=//dns.test><link rel=\"Icon shortcut\" href=i.ico>"
       "<link href=plain.css><link rel=preload as=image imagesrcset=\"a.png 1x, b.png 2x\">",
       "resource s.css [link] 1; resource i.ico [link] 1; resource plain.css [link] 1; "
       "srcset a.png [link] 1; srcset b.png [link] 1; "},
      {"srcset: descriptors, commas inside URLs, blanks and trailing commas",
       "<img src=a.png srcset=\"a.png 1x,b,c.png 2x, d.png ,e.png\n480w\" alt=A>"
       "<picture><source srcset=' x.webp 1x,, y.webp (max-width: 1px, 2px) 2x, z,.webp'>",
       "resource a.png [A] 1; srcset a.png [A] 1; srcset b,c.png [A] 1; srcset d.png [A] 1; "
       "srcset e.png [A] 1; srcset x.webp [source] 2; srcset y.webp [source] 2; "
       "srcset z,.webp [source] 2; "},
      {"a refresh's URL, in any spelling",
       "<meta http-equiv=refresh content=\"5; url=next.html\">"
       "<meta http-equiv=\"Refresh\" content=\"0;URL='q.html'\">"
       "<meta http-equiv=refresh content=\"3,  r.html \">"
       "<meta http-equiv=refresh content=\"10\"><meta name=refresh content=\"0; url=n.html\">",
       "refresh next.html [meta] 1; refresh q.html [meta] 1; refresh r.html [meta] 1; "},
      {"SVG hrefs",
       "<svg><use href=#icon></use><use xlink:href=\"sprite.svg#i\"/><image href=\"pic.png\"/>"
       "<feImage xlink:href='f.png'/><a xlink:href=s.html>S</a></svg>",
       "svg #icon [use] 1; svg sprite.svg#i [use] 1; svg pic.png [image] 1; "
       "svg f.png [feimage] 1; svg s.html [S] 1; "},
      {"style blocks: quoting forms, escapes, comments and @import",
       "<style>\n@import \"i.css\";\n@import url(j.css) screen;\nb{background:url( 'k.png' )}\n"
       "/* url(no.png) */ p{content:\"url(no2.png)\"}\nq{x:URL(l\\2e png)}\n"
       "r{x:url(\"m\\\"n.png\")} s{x:myurl(no3.png)} t{x:url(bad png)} u{x:url(o.png)}</style>",
       "css i.css [style] 2; css j.css [style] 3; css k.png [style] 4; css l.png [style] 6; "
       "css m\"n.png [style] 7; css o.png [style] 7; "},
      {"style attributes, their references decoded first",
       "<div style=\"background: url(a.png)\"></div>\n"
       "<p style=\"background:url(&quot;b c.png&quot;)\">",
       "css a.png [div] 1; css b c.png [style] 2; "},
  };
  for (const auto& [name, text, taken] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(Scanned(text, true), taken);
  }
}

TEST(ScanPage, CharacterReferences) {
  const std::string bad = "\xef\xbf\xbd";  // U+FFFD
  const std::pair<std::string, std::string> cases[] = {
      {"a&amp;b&#38;c&#x26;d&eacute;", "a&b&c&d\xc3\xa9"},
      {"&bogus; &amp &; &#; &#x;", "&bogus; &amp &; &#; &#x;"},
      {"&#65&#x42;", "AB"},
      {"&#65x&#X42;", "AxB"},  // no ";" ends at the last digit; "X" as well as "x"
      {"&#0;&#xD800;&#x110000;", bad + bad + bad},
      {"&#123456789;", bad + "9;"},  // eight digits at most
      {"&#x1F600;", "\xf0\x9f\x98\x80"},
  };
  for (const auto& [written, decoded] : cases)
    EXPECT_EQ(DecodeCharacterReferences(written), decoded) << written;
}

// What is requested for a link as written.
TEST(RequestUrl, DecodesAsABrowserReadsAnHrefAndSchemelessLinksTakeOne) {
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
  // What is asked for a link written with a URL: a link without a scheme
  // takes the one it is given.
  const std::tuple<std::string, std::string, std::string> schemeless[] = {
      {"//h.test/x#part", "https", "https://h.test/x"},
      {" //H.test/a b", "http", "http://h.test/a%20b"},
      {"\\\\h.test\\x", "https", "https://h.test/x"},
      {"HTTP://h.test/x", "https", "http://h.test/x"},
  };
  for (const auto& [written, scheme, request] : schemeless)
    EXPECT_EQ(ProbeRequestUrl(written, scheme), request) << written;
}

// A page's links are appended to the lists and counted; a file that cannot be read leaves both
// alone; any bytes are valid input (bench/large_inputs reads the same at 100 MB).
TEST(ExtractUrls, AppendsToTheListsCountsThemAndTakesAnyBytes) {
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
  const std::deque<std::string> urls = {"http://left.test/", "http://one.test/", "ftp://two.test/"};
  EXPECT_EQ(lists.urls, urls);
  EXPECT_EQ(lists.anchors, (std::deque<std::string>{"Left", "One", "Two"}));

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
    EXPECT_FALSE(ExtractUrls(path, lists, count)) << path;
    EXPECT_EQ(lists.urls, urls) << path;
    EXPECT_EQ(lists.anchors.size(), 3u) << path;
    EXPECT_EQ(count, 3u) << path;
  }

  std::string binary;
  std::mt19937 random(7);
  for (int i = 0; i < (1 << 20); ++i)
    binary += static_cast<char>(random());
  binary += std::string("<a href=\"http://in\0side.test/\xff\">\x80\0</a>x", 37);
  // A file without line breaks, one long anchor: the link at its very end.
  const std::string giant =
      "<a title=\"" + std::string(1 << 20, 'x') + "\" href=\"http://end.test/\">E</a>.";
  for (const auto& [name, text] :
       {std::pair{"empty.htm", std::string()}, {"binary.htm", binary}, {"giant.htm", giant}})
    EXPECT_TRUE(ExtractUrls(folder.Write(name, text), lists, count));
  ASSERT_GE(lists.urls.size(), 5u);
  EXPECT_EQ(lists.urls[lists.urls.size() - 2], std::string("http://in\0side.test/\xff", 21));
  EXPECT_EQ(lists.anchors[lists.anchors.size() - 2], std::string("\x80\0", 2));
  EXPECT_EQ(lists.urls.back(), "http://end.test/");
}

TEST(UrlSplit, HostPathPortAnyBytesAndAnyLength) {
  using P = Protocol;
  // url, protocol, host, path, port
  using Split = std::tuple<std::string, P, std::string, std::string, std::optional<std::uint16_t>>;
  const Split cases[] = {
      {"http://www.example.com", P::kHttp, "www.example.com", "/", 80},
      {"http://host:8080/dir/page.htm", P::kHttp, "host", "/dir/page.htm", 8080},
      {"http://host/a.b/c", P::kHttp, "host", "/a.b/c", 80},
      {"http://host/dir#part", P::kHttp, "host", "/dir", 80},
      {"http://host/search?q=a&b=2#f", P::kHttp, "host", "/search?q=a&b=2", 80},
      {"http://host/p%20q", P::kHttp, "host", "/p%20q", 80},
      {"http://host/a b?c d", P::kHttp, "host", "/a%20b?c%20d", 80},
      {"http://host/caf\xc3\xa9\t\"<>", P::kHttp, "host", "/caf%C3%A9%09%22%3C%3E", 80},
      {"http://user:pw@host:81/x", P::kHttp, "host", "/x", 81},
      {"http://a@b@host/x?q=@", P::kHttp, "host", "/x?q=@", 80},  // the last "@" ends user info
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
  for (const auto& [url, protocol, host, path, port] : cases) {
    SCOPED_TRACE(url);
    EXPECT_EQ(UrlHost(url, protocol), host);
    EXPECT_EQ(UrlPath(url, protocol), path);
    EXPECT_EQ(UrlPort(url, protocol), port);
  }
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
