// Reading a sitemap (sitemaps.org): the pages a <urlset> names, or the
// further sitemaps a <sitemapindex> names, each with its line. Pure; any
// thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quimbel {

struct SitemapEntry {
  std::string url;  // the <loc>, trimmed, its references decoded
  std::size_t line = 0;
};

struct Sitemap {
  std::vector<SitemapEntry> pages;     // <url><loc>
  std::vector<SitemapEntry> sitemaps;  // <sitemap><loc>, of an index
  bool readable = false;               // well-formed XML
};

// The entries of a sitemap's text. A document that is not well-formed XML
// gives what was read before the fault, with `readable` false.
Sitemap ParseSitemap(std::string_view text);

}  // namespace quimbel
