// Link extraction: the links a test run checks in a file, in file order,
// with their link names and lines.
//
// Every link comes from the page's attribute tokenizer (html_links.h): an
// anchor's link is its own href, read as an HTML parser reads it, so a URL
// in the link text or in another attribute is never taken. The lists keep
// each URL as the page writes it (character references and all), so a
// repair finds exactly that text; the request is made from its decoded form.
// Any thread: calls share no state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "links/html_links.h"

namespace quimbel {

inline constexpr std::string_view kPlaceholderAnchorName = kPlaceholderLinkName;

// The URL list and the anchor list of a run: parallel, in file order.
struct LinkLists {
  std::deque<std::string> urls;  // as written in the page
  std::deque<std::string> anchors;
  std::deque<std::size_t> lines;
  std::deque<std::size_t> offsets;
  // 0 for a link the network check probes; for a local link, checked
  // already, its outcome.
  std::deque<std::uint32_t> local;
  // True for what a page loads (an image, a script, ...) rather than links to.
  std::deque<bool> resources;
  std::deque<LinkKind> kinds;
  // For a page fetched from the web: each link's absolute URL, resolved
  // against the page's address (or its <base href>), fragment included.
  // Empty for a file on disk.
  std::deque<std::string> targets;
  // Links of the file that the run's rules left out.
  std::size_t skipped = 0;
};

// Drops the first link of the lists.
void PopFrontLink(LinkLists& lists);
// Moves the first link of `from` to the end of `to`.
void MoveFrontLink(LinkLists& from, LinkLists& to);
// Drops the links from `first` on whose place `erase` marks (erase[0] is
// the link at `first`), keeping the others in order.
void EraseLinks(LinkLists& lists, std::size_t first, const std::vector<bool>& erase);
// Appends a link the page scan found, with its local outcome (0: probed).
void AppendLink(LinkLists& lists, PageLink&& link, std::uint32_t local);

// The URL a probe requests for a link as written: its character references
// decoded, blanks at either end and the tabs and line breaks inside it
// removed, as a browser reads an href.
std::string RequestUrl(std::string_view written);

// What a run asks for a link written with an absolute URL: RequestUrl() as
// a browser reads it, without its fragment, so that one URL written two
// ways is one request; RequestUrl() itself when it cannot be read so. A
// link written without a scheme ("//host/path") takes `relative_scheme`.
std::string ProbeRequestUrl(std::string_view written, std::string_view relative_scheme = "https");

// The scan of a page whose file is `path`: a Markdown page's (by its
// extension) or an HTML page's.
PageScan ScanPageFile(std::string_view path, std::string_view text,
                      PageScanMode mode = PageScanMode::kLinksAndFragments,
                      const LinkFilter& wanted = {}, const LinkSink& sink = {});

// Appends the probed links of the file at `path` (the hrefs of its anchors
// that name http, https or ftp) to `lists` and sets `url_count` to the
// length of the URL list. A file that is not a regular file or cannot be
// read leaves the lists as they were and gives false.
bool ExtractUrls(const std::string& path, LinkLists& lists, std::size_t& url_count);

// The same for a file's text already in memory.
void ExtractUrlsFromText(std::string_view text, LinkLists& lists, std::size_t& url_count,
                         std::string_view path = {});

}  // namespace quimbel
