// CrawlSource: the pages of a link test of a live site. Its crawl's pages
// come as their fetches end and stand where files stand; each hands on
// its links less those the rules skip and those robots.txt keeps from
// being requested (noted for the page's record), and is tied to its
// source file under the site root, when there is one, so a repair can
// reach it. User-interface thread only.
#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/file_record.h"
#include "core/link_rules.h"
#include "core/local_links.h"
#include "core/result_list.h"
#include "crawl/crawler.h"
#include "links/url_extractor.h"

namespace quimbel {

class CrawlSource {
 public:
  CrawlSource(std::unique_ptr<Crawler> crawler, ResultList& results, LocalLinkOptions local)
      : crawler_(std::move(crawler)), results_(results), local_(std::move(local)) {}

  Crawler& crawler() { return *crawler_; }
  const Crawler& crawler() const { return *crawler_; }

  // Queues the pages whose links are known at the end of `files`, while
  // fewer than a few wait there: the crawl reads only so far ahead.
  void TakePages(std::deque<std::string>& files);
  // A queued page's links; false when it gave no page (failure() says
  // what came back).
  bool ExtractLinks(const std::string& url, const LinkRules& rules, LinkLists& lists);
  const std::string& failure() const { return failure_; }

  // The links robots.txt kept `page` from requesting, once; their count
  // over the run.
  std::vector<CheckedLink> TakeNotRequested(const std::string& page);
  std::size_t not_requested_count() const { return not_requested_count_; }

  // Ties a row of `page` to its source file when the line agrees, or says
  // why it cannot be.
  void NoteRowSource(const std::string& page, std::size_t row, std::size_t line);
  // Whether `target` names a fragment its crawled page lacks.
  bool MissingAnchor(const std::string& target) const;
  // The page's turn is over.
  void DropPage(const std::string& page) { sources_.erase(page); }
  // The run is over: what the pages held goes; the counts stay.
  void Clear();

 private:
  // The file a crawled page was made from, mapped by the site root and
  // URL, and the page's text to hold it against; or why there is none.
  struct PageSource {
    std::string file;
    std::string note;
    std::string file_text;
    std::string page_text;
  };
  PageSource MapPageSource(const std::string& url, std::string page_text);
  void LeaveOutDisallowed(const std::string& page, LinkLists& lists);

  std::unique_ptr<Crawler> crawler_;
  ResultList& results_;
  LocalLinkOptions local_;
  std::unordered_map<std::string, CrawledPage> queued_;  // pages queued as files, by address
  std::string failure_;
  // Links robots.txt kept from being requested, by page address until the
  // page's record is made, and their count over the run.
  std::unordered_map<std::string, std::vector<CheckedLink>> not_requested_;
  std::size_t not_requested_count_ = 0;
  std::unordered_map<std::string, PageSource> sources_;  // by page address
  // Each source file is repaired through the first page that maps to it:
  // "a.html" and "a.html?x=1" are one file, whose line must change once.
  std::unordered_map<std::string, std::string> mapped_files_;
};

}  // namespace quimbel
