// Markdown pages: each link form at the line its URL is written, headings' ids as GitHub makes
// them, and repairs that the parser reads back as meant.
#include <gtest/gtest.h>

#include <tuple>

#include "links/markdown_links.h"
#include "repair/line_rewrite.h"

namespace quimbel {
namespace {

using Row = std::tuple<std::string, std::size_t, std::string, bool>;  // url, line, text, resource

std::vector<Row> Rows(std::string_view text) {
  std::vector<Row> rows;
  for (const PageLink& link : ScanMarkdown(text, PageScanMode::kLinksOnly, {}, {}).links)
    rows.emplace_back(std::string(link.url()), link.line, link.text, link.resource);
  return rows;
}

TEST(MarkdownLinksTest, EachFormAtTheLineItsUrlIsWritten) {
  const struct {
    const char* page;
    std::vector<Row> rows;
  } cases[] = {
      {"# T\n\nSee [the intro](intro.md) and\n![logo](img/a.png \"Logo\") then\n"
       "[a](x.md#part) on a third line.\n",
       {{"intro.md", 3, "the intro", false},
        {"img/a.png", 4, "logo", true},
        {"x.md#part", 5, "a", false}}},
      // Reference links take their definition's line, however far, in any of the three forms.
      {"Use [full][r1], [r2][] and [R3]. [Again][r1].\n\npara\n\n[r1]: one.md\n[r2]:\n  <two.md> "
       "\"T\"\n"
       "[r3]: https://h.test/three\n",
       {{"one.md", 5, "full", false},
        {"two.md", 7, "r2", false},
        {"https://h.test/three", 8, "R3", false}}},
      {"<https://h.test/a> and www.h.test/b, https://h.test/c. <me@h.test>\n",
       {{"https://h.test/a", 1, "https://h.test/a", false},
        {"http://www.h.test/b", 1, "www.h.test/b", false},
        {"https://h.test/c", 1, "https://h.test/c", false}}},
      // Code holds no links; the link after it still finds its own line.
      {"`[no](a.md)` https://h.test/x\n\n```\n[no](b.md) https://h.test/y\n```\n\n"
       "    [no](c.md)\n\n[yes](a.md)\n",
       {{"https://h.test/x", 1, "https://h.test/x", false}, {"a.md", 9, "yes", false}}},
      // HTML is read by the page tokenizer, at its own lines.
      {"Text\n\n<div>\n<p>\n<a href=\"h.html\">block</a>\n</div>\n\nInline <a href='i.html'>"
       "its *text*</a> and <img src=j.png alt=J>.\n",
       {{"h.html", 5, "block", false}, {"i.html", 8, "its text", false}, {"j.png", 8, "J", true}}},
      // A link whose URL is also its text, a nested image, lists, quotes and tables.
      {"- item\n  - [a.md](a.md)\n\n> [![alt](in.png)](out.md)\n\n| a | b |\n|---|---|\n"
       "| [c](c.md) | [d](d.md \"t\") |\n",
       {{"a.md", 2, "a.md", false},
        {"in.png", 4, "alt", true},  // in the order the URLs stand
        {"out.md", 4, "alt", false},
        {"c.md", 8, "c", false},
        {"d.md", 8, "d", false}}},
      // A reference takes its label's definition: not one whose URL starts the same, not the
      // first of the same URL, not its own text that ends its URL.
      {"[a][l1] [b][l2] [c][l3] [nodejs/node][]\n\n[l1]: https://h.test/docs/embed\n"
       "[l2]: https://h.test/\n[l3]: https://h.test/\n[nodejs/node]: https://h.test/nodejs/node\n",
       {{"https://h.test/docs/embed", 3, "a", false},
        {"https://h.test/", 4, "b", false},
        {"https://h.test/", 5, "c", false},
        {"https://h.test/nodejs/node", 6, "nodejs/node", false}}},
      // "a" is no destination's start: the reference finds its definition.
      {"[r][x] [y](ab)\n\n[x]: a\n", {{"ab", 1, "y", false}, {"a", 3, "r", false}}},
      // Skipped schemes, an empty destination.
      {"[m](mailto:a@b.test) [t](tel:1) [e]() [j](javascript:x)\n", {}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Rows(c.page), c.rows) << c.page;
}

TEST(MarkdownLinksTest, HeadingsTakeGithubsIds) {
  const std::string page =
      "# Hello World\n## Hello World\nHello World\n===\n## Über Straße & Co.\n"
      "### `Run()` -- *now* snake_case\n## C++ & Qt: a guide!\n## <a id=\"own\"></a>Named\n"
      "## Tab\there\n## Hello World-1\n";
  const PageScan scan = ScanMarkdown(page, PageScanMode::kFragmentsOnly, {}, {});
  EXPECT_TRUE(scan.links.empty());
  const std::unordered_set<std::string> wanted = {
      "hello-world",   "hello-world-1", "hello-world-2", "über-straße--co", "run----now-snake_case",
      "c--qt-a-guide", "own",           "named",         "tabhere",         "hello-world-1-1"};
  EXPECT_EQ(scan.fragments, wanted);
  EXPECT_EQ(HeadingSlug("ÉCOLE Ω"), "école-ω");
}

TEST(MarkdownLinksTest, IsMarkdownPathByExtension) {
  for (const char* yes : {"a.md", "/d/README.MD", "x.Markdown"})
    EXPECT_TRUE(IsMarkdownPath(yes)) << yes;
  for (const char* no : {"a.html", "md", "/d.md/x", ".md", "a.mdx"})
    EXPECT_FALSE(IsMarkdownPath(no)) << no;
}

// Each repair of each form, then what the parser reads in the new line.
TEST(MarkdownRepairTest, KeepsMarkdownsSyntax) {
  const RepairOptions disable{RepairType::kDisableLine};
  RepairOptions replace{RepairType::kReplaceUrl};
  replace.preserveAsComment = false;
  RepairOptions replace_kept = replace;
  replace_kept.preserveAsComment = true;
  const RepairOptions remove{RepairType::kRemoveLine};
  const std::string marker(kRepairMarker);
  const struct {
    const char* line;
    std::string url;
    const RepairOptions& options;
    std::string wanted;  // the new line, or why it stays
    bool left_alone = false;
    std::string reason = "HTTP Code 404 Not Found";
    const char* previous = "";
  } cases[] = {
      {"See [gone.md](gone.md \"t\") now", "gone.md", replace, "See [gone.md](page.md \"t\") now"},
      {"  * [a](<gone b.md>)", "gone b.md", replace_kept,
       "  * [a](<page.md>)" + marker + "gone b.md-->"},
      {"[r]: https://h.test/gone 'T'", "https://h.test/gone", replace_kept, "[r]: page.md 'T'"},
      {"[a](https://h.test/old)", "https://h.test/old", replace, "[a](https://h.test/new)", false,
       "HTTP Code 301 Moved Permanently"},
      {"Go www.h.test/gone now", "http://www.h.test/gone", replace, "Go https://h.test/new now",
       false, "HTTP Code 301 Moved Permanently"},
      // A file name in an autolink's place would be plain text: the link stays as it is.
      {"<https://h.test/gone>", "https://h.test/gone", replace,
       "Markdown would not read the new link", true},
      {"A [b *c*](gone.md) d", "gone.md", remove, "A b *c* d"},
      {"![alt](gone.png) x", "gone.png", remove, "alt x"},
      {"<https://h.test/gone>", "https://h.test/gone", remove,
       "an autolink has no text but its URL", true},
      {"[r]: gone.md", "gone.md", remove,
       "a reference definition: the links that use it would show their brackets", true},
      {"A [b](gone.md) c", "gone.md", disable, "A " + marker + "[b](gone.md)--> c"},
      {"[r]: gone.md", "gone.md", disable, marker + "[r]: gone.md-->"},
      {"> <https://h.test/gone>!", "https://h.test/gone", disable,
       "> " + marker + "<https://h.test/gone>-->!"},
      // Within a paragraph "--" ends no comment in Markdown: the link stays as it is.
      {"x [a -- b](gone.md)", "gone.md", disable, "Markdown would not keep a comment there", true},
      {"text](gone.md)", "gone.md", disable, "its Markdown link is not on one line", true},
      {"  https://h.test/gone \"T\"", "https://h.test/gone", disable,
       "its Markdown link is not on one line", true, "HTTP Code 404 Not Found", "[r]:"},
      // A link written as HTML is rewritten as an HTML page's line is.
      {"<a href=\"gone.md\">x</a>", "gone.md", disable, marker + "<a href=\"gone.md\">x</a>-->"},
  };
  for (const auto& c : cases) {
    const RepairRequest request{c.url, c.reason, "https://h.test/new"};
    const MarkdownLineRepair repaired =
        RewriteMarkdownLine(c.line, request, c.options, "page.md", c.previous);
    if (c.left_alone) {
      EXPECT_EQ(repaired.left_alone, c.wanted) << c.line;
      EXPECT_EQ(repaired.text, c.line) << c.line;
      continue;
    }
    EXPECT_EQ(repaired.left_alone, "") << c.line;
    EXPECT_EQ(repaired.text, c.wanted) << c.line;
    // Read back: the old link is gone from Markdown's links, and a disabled one is a comment.
    const std::string now = repaired.text.value_or("");
    for (const MarkdownLinkSpan& span : MarkdownLineSpans(now))
      EXPECT_NE(span.url, c.url) << now;
    if (&c.options == &disable) {
      const std::size_t open = now.find(marker);
      ASSERT_NE(open, std::string::npos) << now;
      EXPECT_TRUE(MarkdownKeepsComment(now, now.substr(open, now.find("-->", open) + 3 - open)));
    }
  }
}

}  // namespace
}  // namespace quimbel
