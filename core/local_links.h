// Local links: a page's relative and root-relative links (and absolute ones
// under the site's own URL) resolved to files and checked on disk, with
// their fragments, at disk speed and without a network.
//
// Resolution follows RFC 3986 against the page's own folder; the path's
// percent-escapes are decoded and the query ignored. Root-relative links
// resolve against the site root, and ".." never climbs above it. A folder
// means its index.html or index.htm. A fragment must name an id, or the
// name of an <a>, in the target page; "#" and "#top" always do, and
// targets that are no HTML pages are not looked into.
//
// A checker belongs to one run on one thread: it caches the fragment names
// of every target page it has read (names only, not the text), and holds no
// file open between calls.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "links/html_links.h"
#include "links/url_extractor.h"
#include "links/url_split.h"
#include "platform/mapped_file.h"
#include "probe/outcome_code.h"

namespace quimbel {

struct LocalLinkOptions {
  std::string site_root;  // root-relative links resolve here
  std::string site_url;   // absolute links that start with it are local
  bool resources = true;  // check what pages load: images, scripts, style sheets, frames
  // Look for the place an anchor on another site's page names in that
  // page (its HTML read once a run); a crawl's own pages are always looked in.
  bool check_fragments = false;
};

// Where a local link leads: a file or folder path, and its fragment as
// written after the "#" (nothing when it has no "#").
struct LocalTarget {
  std::string path;
  std::optional<std::string> fragment;
};

// Where a page's relative links start, worked out once per page.
struct PagePlace {
  std::string root;         // the site root, absolute
  std::string page;         // the page, absolute
  std::string folder;       // where relative links start: the page's folder, or its base's
  bool has_base = false;    // a <base href> on the site moved `folder`
  std::string base_target;  // what the base names: a link of a query or fragment alone leads there
  bool off_site = false;    // a <base href> points off the site
};
PagePlace PlaceOf(const std::string& page, const LocalLinkOptions& options,
                  std::string_view base = {});

// Whether a link names another host without a scheme ("//host/path").
bool IsProtocolRelative(std::string_view url);
// The scheme such a link takes in a page on disk: the site URL's, else https.
std::string ProtocolRelativeScheme(const LocalLinkOptions& options);
// Whether `url` is checked on disk: a relative or root-relative link, or
// an absolute one under the site URL.
bool IsLocalLink(std::string_view url, const LocalLinkOptions& options);

// The target of `url` found in a page, or nothing when it is no local link
// (another scheme or host, or a base that points off the site). `base` is
// the page's <base href>, if any.
std::optional<LocalTarget> ResolveLocalLink(std::string_view url, const PagePlace& place,
                                            const LocalLinkOptions& options);
std::optional<LocalTarget> ResolveLocalLink(std::string_view url, const std::string& page,
                                            const LocalLinkOptions& options,
                                            std::string_view base = {});

// The file a local link as written in `page` resolves to (entities
// decoded, the page's base followed), whether or not it exists; nothing
// when the link is no local one.
std::optional<std::string> LocalLinkTarget(std::string_view written, const std::string& page,
                                           const LocalLinkOptions& options);

// What "Go To URL" opens for a local link as written in `page`: the target
// file when there is one (a folder's index page), else the folder it would
// be in; nothing when the link is no local one.
std::optional<std::string> LocalLinkOpenPath(const std::string& written, const std::string& page,
                                             const LocalLinkOptions& options);

class LocalLinkChecker {
 public:
  explicit LocalLinkChecker(LocalLinkOptions options) : options_(std::move(options)) {}

  const LocalLinkOptions& options() const { return options_; }

  // kLocalTargetFound, kLocalFileNotFound or kLocalAnchorNotFound for a
  // target of `page` (absolute), whose own fragment names are `own`.
  // Checks a link as written in `page` afresh (the page's base and own
  // anchors read again): kLocalTargetFound or the category's code.
  OutcomeCode Recheck(const std::string& written, const std::string& page);
  OutcomeCode Check(const LocalTarget& target, const std::string& page,
                    const std::unordered_set<std::string>& own);

  // Appends the links of the page at `path` to `lists` in file order: the
  // probed ones (outcome 0) and the local ones, each with its outcome. False
  // when the page cannot be read.
  bool AddPageLinks(const std::string& path, LinkLists& lists);
  // The same for the page's text, already read; for a page mapped from its
  // file, the memory of the bytes the scan is past goes as it reads on.
  void AddPageLinks(const std::string& path, std::string_view text, LinkLists& lists);
  void AddPageLinks(const std::string& path, const MappedFile& file, LinkLists& lists);

  // Style sheets are pages of their own: a local one a page links to is
  // read for its references once, unless the run reads it anyway. The
  // run's own files are noted first; TakeStyleSheets() gives the sheets
  // found since it was last called.
  void NoteRunFile(const std::string& path);
  std::vector<std::string> TakeStyleSheets();

 private:
  void AddPageLinks(const std::string& path, std::string_view text, const MappedFile* file,
                    LinkLists& lists);
  // The readable regular file a target path means (a folder's index
  // page), looked up once; nothing when there is none.
  const std::string* FileOf(const std::string& target);
  // The fragment names of a target page, read once; nothing when it cannot
  // be read.
  const std::unordered_set<std::string>* FragmentsOf(const std::string& path);

  LocalLinkOptions options_;
  std::unordered_set<std::string> sheets_seen_;
  std::vector<std::string> sheets_found_;
  std::unordered_map<std::string, std::optional<std::string>> files_;
  std::unordered_map<std::string, std::unique_ptr<std::unordered_set<std::string>>> fragments_;
};

}  // namespace quimbel
