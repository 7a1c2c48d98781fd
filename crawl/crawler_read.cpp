// Reading a fetched page: its links, resolved against its address (or its
// <base>), and its fragment names; a sitemap's pages and nested sitemaps.
#include <algorithm>

#include "crawl/crawler.h"
#include "crawl/crawler_page.h"
#include "crawl/packed_links.h"
#include "crawl/page_text.h"
#include "crawl/sitemap.h"
#include "links/html_links.h"
#include "links/url_resolver.h"
#include "links/url_split.h"

namespace quimbel {

void Crawler::ReadPage(Page& page, ProbeOutcome& outcome) {
  const std::string final_address = FinalAddress(KeyOf(page), outcome);
  if (const auto final_key = PageKey(final_address); final_key && *final_key != KeyOf(page)) {
    // A page moved elsewhere is read where it ended, once: not when that
    // page is another one of the crawl's, nor when it left the scope, nor
    // when the run asked for it before (its body is not fetched twice).
    const std::optional<std::size_t> known = IndexOf(*final_key);
    if (known && !outcome.body_withheld) {
      // The crawl has yet to read the page the move ended at: this was its
      // fetch, and the links waiting for it take this reply. Its own fetch,
      // if under way, is answered from the run's replies and then passed
      // over.
      Page& target = pages_[*known];
      if (!target.done && !target.sitemap) {
        if (!target.kicked) ++kicked_;
        target.kicked = true;
        target.done = true;
        ++fetched_;
        aliases_.emplace_back(KeyOf(target));
        ReadPage(target, outcome);
        Keep(target, outcome, false);
      }
    }
    if (known || !scope_.Contains(*final_key) || outcome.body_withheld) {
      page.more().why = "moved to " + final_address;
      return;
    }
    Name(*final_key, page_at_[page.key]);
    aliases_.push_back(*final_key);
  }
  page.body_hash = std::hash<std::string_view>{}(outcome.body);
  // A query's letters are sent in the page's own charset, as browsers do.
  const std::string charset = DeclaredCharset(outcome.content_type, outcome.body);
  std::string text = PageTextUtf8(std::move(outcome.body), outcome.content_type);
  // A style sheet of the site is read for its url() and @import, against
  // its own address.
  PageScan scan =
      IsStyleSheetType(outcome.content_type) ? ScanStyleSheet(text, {}, {}) : ScanPage(text);
  std::string base = final_address;
  if (!scan.base.empty()) {
    if (auto declared = ResolveUrl(final_address, RequestUrl(scan.base), charset))
      base = std::move(*declared);
  }
  LinkLists links;
  for (PageLink& link : scan.links) {
    if (link.resource && !options_.resources) continue;
    std::optional<std::string> target = ResolveUrl(base, RequestUrl(link.raw), charset);
    if (!target || !IsProbedUrl(*target)) continue;
    AppendLink(links, std::move(link), 0);
    links.targets.push_back(std::move(*target));
  }
  page.more().links = PackLinks(links);
  page.fragments = fragment_sets_.Add(PackTexts(scan.fragments)).first;
  if (options_.keep_text) page.more().text = std::move(text);
  page.read = true;
}

void Crawler::ReadSitemap(Page& page, ProbeOutcome& outcome) {
  Sitemap sitemap = ParseSitemap(outcome.body);
  if (!sitemap.readable && sitemap.pages.empty() && sitemap.sitemaps.empty()) {
    page.more().why = "no sitemap";
    return;
  }
  if (sitemap.pages.size() + sitemap.sitemaps.size() > kMostSitemapEntries) {
    Note("Sitemap entries past the " + std::to_string(kMostSitemapEntries) +
         " of one file are left out: " + std::string(KeyOf(page)));
    sitemap.pages.resize(std::min(sitemap.pages.size(), kMostSitemapEntries));
    sitemap.sitemaps.resize(
        std::min(sitemap.sitemaps.size(), kMostSitemapEntries - sitemap.pages.size()));
  }
  LinkLists links;
  for (SitemapEntry& entry : sitemap.pages) {
    std::optional<std::string> target = ResolveUrl(KeyOf(page), entry.url);
    if (!target) continue;
    PageLink link;
    link.raw = entry.url;
    link.text = std::string(kPlaceholderLinkName);
    link.line = entry.line;
    link.tag = "loc";
    AppendLink(links, std::move(link), 0);
    links.targets.push_back(std::move(*target));
  }
  page.more().links = PackLinks(links);
  for (SitemapEntry& entry : sitemap.sitemaps) {
    if (std::optional<std::string> nested = ResolveUrl(KeyOf(page), entry.url))
      page.more().nested.push_back(std::move(*nested));
  }
  page.read = true;
}

}  // namespace quimbel
