// The links of a Markdown page, read by cmark-gfm as GitHub reads it:
// inline links and images, reference links (their row stands where the
// definition writes the URL), autolinks, GFM's bare www. and https://
// autolinks, and the HTML in the page, read by the page tokenizer. Code
// spans and code blocks hold no links. A page's fragment names are its
// headings' ids, as GitHub makes them, and the ids of its HTML.
//
// The parser gives no place for a definition and loses some inline places,
// so each link's destination is found in the source after the one before
// it: the line is where its URL is written. Pure functions; any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "links/html_links.h"

namespace quimbel {

// Whether a path names a Markdown page (".md" or ".markdown", any case).
bool IsMarkdownPath(std::string_view path);

// GitHub's id of a heading whose text is `text`: lower case, every
// character but letters, marks, numbers, "_", "-" and blanks dropped, each
// blank a "-". A repeated id takes "-1", "-2", ... from the page.
std::string HeadingSlug(std::string_view text);

// As ScanPage() for an HTML page. A link's offset is where its
// destination stands. A definition's URL is one link, with the text of its
// first use: it is written, and repaired, once.
PageScan ScanMarkdown(std::string_view text, PageScanMode mode, const LinkFilter& wanted,
                      const LinkSink& sink);

enum class MarkdownForm {
  kInline,      // [text](url) or ![alt](url)
  kDefinition,  // [label]: url, the URL of reference links
  kAutolink,    // <url>
  kBare,        // www.host/... or https://... in the text
};

// Where a link stands in the text, for a repair that keeps Markdown's
// syntax. Ranges are [begin, end) byte offsets.
struct MarkdownLinkSpan {
  std::string url;  // as the link reads it (a bare www. link gains "http://")
  MarkdownForm form = MarkdownForm::kInline;
  bool image = false;
  std::size_t begin = 0, end = 0;            // the whole link; a definition's whole line
  std::size_t dest_begin = 0, dest_end = 0;  // its URL as written
  std::size_t text_begin = 0, text_end = 0;  // its text or alt; empty for the other forms
};

// The links of `text` that are Markdown's own (not its HTML), in order.
std::vector<MarkdownLinkSpan> MarkdownLinkSpans(std::string_view text);

// The same for one line read alone, a definition on it included (alone,
// a definition makes no link: the parser is given a use of its label).
std::vector<MarkdownLinkSpan> MarkdownLineSpans(std::string_view line);

// Whether a line is a definition's label alone: its URL is on the next.
bool OpensDefinition(std::string_view line);

// Whether Markdown reads `comment` in `text` as an HTML comment, whole.
bool MarkdownKeepsComment(std::string_view text, std::string_view comment);

}  // namespace quimbel
