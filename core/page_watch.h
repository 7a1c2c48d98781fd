// PageWatch: which pages of the last test a batch of file changes touched.
// It keeps the run's pages in their order, watches each page and its folder
// through a FileWatch, collects the changes as they come, and when they
// have settled says which pages are new, gone or changed. A page whose
// bytes are what the list recorded for it (the check's own reading, or a
// repair's rewrite) has not changed: Quimbel's own writes start no check.
// It also says which other pages link to a page, for when the ids a page
// holds (or the page itself) come or go. User-interface thread only.
#pragma once

#include <cstddef>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/file_collection.h"
#include "core/local_links.h"
#include "core/result_list.h"
#include "platform/file_watch.h"

namespace quimbel {

// The pages a batch of changes touched.
struct PageChanges {
  std::vector<std::string> changed;  // new or changed, in run order
  std::vector<std::string> removed;  // gone from disk, in run order
  bool empty() const { return changed.empty() && removed.empty(); }
};

class PageWatch {
 public:
  // The run's pages in run order; `path` and `scope` as the run was given
  // them, so that a new file the run would have taken is taken too.
  PageWatch(FileWatch& watch, const std::vector<std::string>& pages, std::string path,
            RunScope scope, LocalLinkOptions local);
  ~PageWatch();
  PageWatch(const PageWatch&) = delete;
  PageWatch& operator=(const PageWatch&) = delete;

  const std::vector<std::string>& pages() const { return pages_; }
  // A change the watch posted.
  void Note(const std::string& path);
  bool pending() const { return !noted_.empty(); }
  // What the changes noted since the last call did, measured against the
  // identities `list` holds; new pages join the run's order.
  PageChanges TakeChanges(const ResultList& list);
  // Watches `page` again: a save by rename left the watch on the old file.
  void Rearm(const std::string& page);

  // The page's place in the run's order; pages() size for one not in it.
  std::size_t OrderOf(const std::string& page) const;
  // Records the ids the page holds now (nothing: the page is gone) and
  // says whether they differ from what it held.
  bool IdsChanged(const std::string& page, std::optional<std::unordered_set<std::string>> ids);
  // The other pages of the run that have a local link into `page`.
  std::vector<std::string> PagesLinkingTo(const std::string& page) const;

 private:
  void AddPage(const std::string& page, std::size_t at);
  // The pages the run would take now that are not in its order yet.
  std::vector<std::string> NewPages() const;

  FileWatch& watch_;
  std::vector<std::string> pages_;
  std::unordered_map<std::string, std::size_t> order_;
  std::string path_;
  RunScope scope_;
  LocalLinkOptions local_;
  std::set<std::string> folders_;
  std::set<std::string> noted_;
  // The ids of each page as last read; nothing for a page that is gone.
  std::unordered_map<std::string, std::optional<std::unordered_set<std::string>>> ids_;
};

// The ids (and names of anchors) of the page at `path`; nothing when it
// cannot be read.
std::optional<std::unordered_set<std::string>> PageIds(const std::string& path);

}  // namespace quimbel
