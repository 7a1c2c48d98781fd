// The crawler's record of one page, shared by the files that make up the
// crawler: where the page stands in the crawl, and what of it is kept.
// User-interface thread only, as the crawler.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "crawl/crawler.h"
#include "platform/key_table.h"
#include "probe/probe_worker.h"

namespace quimbel {

struct Crawler::Page {
  // What a page holds only for a while, or few pages have, apart: a crawl
  // of a million pages holds a million of these.
  struct Rare {
    std::string why;
    std::string text;
    std::vector<std::string> nested;  // the sitemaps a sitemap index names
    // Only while the page waits to be handed on, packed: a crawl of a
    // hundred thousand pages has most of them waiting at once.
    std::string links;
  };
  // Its key's number in keys_; a sitemap's, in sitemap_urls_.
  KeyTable::Id key = 0;
  KeyTable::Id fragments = 0;  // its names, packed, in fragment_sets_
  int depth = 0;
  bool kicked = false;  // its fetch has been started
  bool sitemap = false;
  bool document = false;      // a start address or sitemap: a failure stops the run
  bool done = false;          // the fetch has ended
  bool read = false;          // links and fragment names are known
  bool links_kept = false;    // in the journal only
  std::size_t body_hash = 0;  // to know a folder's index served twice
  std::unique_ptr<Rare> rare;

  Rare& more() {
    if (!rare) rare = std::make_unique<Rare>();
    return *rare;
  }
  std::string why() const { return rare ? rare->why : std::string(); }
  std::string_view links() const { return rare ? std::string_view(rare->links) : ""; }
  // Lets the rare part go once nothing is in it.
  void Tidy() {
    if (rare && rare->why.empty() && rare->text.empty() && rare->nested.empty() &&
        rare->links.empty())
      rare.reset();
  }
};

// Where a fetch ended: the last address of its moves, when they ended well.
std::string FinalAddress(std::string_view key, const ProbeOutcome& outcome);

}  // namespace quimbel
