#include "core/page_watch.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>

#include "links/url_extractor.h"
#include "platform/mapped_file.h"

namespace quimbel {
namespace {

// One spelling of a path, to tell whether a link leads to a page.
std::string Normal(const std::filesystem::path& path) {
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(path, error);
  return (error ? path : absolute).lexically_normal().string();
}

std::string FolderOf(const std::string& page) {
  const std::string folder = std::filesystem::path(page).parent_path().string();
  return folder.empty() ? "." : folder;
}

// Whether the bytes at `page` are still those `identity` describes. The
// size and time settle it without reading the page, but only for a time
// well past: two writes within one tick of the file system's clock leave
// the same time behind.
bool StillTheSame(const std::string& page, const PageIdentity* identity, const struct stat& info) {
  if (identity == nullptr) return false;
  const std::int64_t modified =
      static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec;
  const std::int64_t now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                               std::chrono::system_clock::now().time_since_epoch())
                               .count();
  constexpr std::int64_t kWellPast = 2'000'000'000;
  if (identity->size == static_cast<std::size_t>(info.st_size) &&
      identity->modified_ns == modified && now - modified > kWellPast) {
    return true;
  }
  const auto file = MappedFile::Open(page);
  return file && file->identity() == *identity;
}

}  // namespace

std::optional<std::unordered_set<std::string>> PageIds(const std::string& path) {
  const auto file = MappedFile::Open(path);
  if (!file) return std::nullopt;
  return std::move(ScanPageFile(path, file->text(), PageScanMode::kFragmentsOnly).fragments);
}

PageWatch::PageWatch(FileWatch& watch, const std::vector<std::string>& pages, std::string path,
                     RunScope scope, LocalLinkOptions local)
    : watch_(watch), path_(std::move(path)), scope_(scope), local_(std::move(local)) {
  for (const std::string& page : pages)
    AddPage(page, pages_.size());
}

PageWatch::~PageWatch() {
  watch_.Clear();
}

void PageWatch::AddPage(const std::string& page, std::size_t at) {
  pages_.insert(pages_.begin() + static_cast<std::ptrdiff_t>(at), page);
  for (std::size_t i = at; i < pages_.size(); ++i)
    order_[pages_[i]] = i;
  ids_[page] = PageIds(page);
  watch_.Add(page);
  // The folder sees a save by rename, a new page and a removed one.
  if (folders_.insert(FolderOf(page)).second) watch_.Add(FolderOf(page));
}

void PageWatch::Rearm(const std::string& page) {
  watch_.Add(page);
}

void PageWatch::Note(const std::string& path) {
  noted_.insert(path);
}

std::size_t PageWatch::OrderOf(const std::string& page) const {
  const auto found = order_.find(page);
  return found == order_.end() ? pages_.size() : found->second;
}

std::vector<std::string> PageWatch::NewPages() const {
  std::vector<std::string> added;
  for (std::string& page : CollectFiles(path_, scope_)) {
    if (!order_.contains(page)) added.push_back(std::move(page));
  }
  return added;
}

PageChanges PageWatch::TakeChanges(const ResultList& list) {
  // A folder, or an entry of it that is no page (an editor's temporary
  // file), says something changed there but not what: every page is
  // looked at, by its size and time first.
  const bool whole = std::any_of(noted_.begin(), noted_.end(), [this](const std::string& path) {
    return !order_.contains(path);
  });
  std::vector<bool> looked(pages_.size(), whole);
  for (const std::string& path : noted_) {
    if (const auto found = order_.find(path); found != order_.end()) looked[found->second] = true;
  }
  noted_.clear();
  if (whole) {
    // A new page stands where a run now would take it: after the pages
    // that come before it in the run's order.
    const std::vector<std::string> all = CollectFiles(path_, scope_);
    for (std::size_t i = 0; i < all.size(); ++i) {
      if (order_.contains(all[i])) continue;
      const std::size_t at = i == 0 ? 0 : OrderOf(all[i - 1]) + 1;
      AddPage(all[i], std::min(at, pages_.size()));
      looked.insert(looked.begin() + static_cast<std::ptrdiff_t>(std::min(at, looked.size())),
                    true);
    }
  }
  PageChanges changes;
  for (std::size_t i = 0; i < pages_.size(); ++i) {
    if (!looked[i]) continue;
    const std::string& page = pages_[i];
    struct stat info {};
    const bool exists = ::stat(page.c_str(), &info) == 0 && S_ISREG(info.st_mode);
    const PageIdentity* identity = list.PageIdentityOf(page);
    if (!exists) {
      if (identity != nullptr) changes.removed.push_back(page);
    } else if (!StillTheSame(page, identity, info)) {
      changes.changed.push_back(page);
    }
  }
  return changes;
}

bool PageWatch::IdsChanged(const std::string& page,
                           std::optional<std::unordered_set<std::string>> ids) {
  auto& known = ids_[page];
  const bool changed = known != ids;
  known = std::move(ids);
  return changed;
}

std::vector<std::string> PageWatch::PagesLinkingTo(const std::string& page) const {
  const std::string target = Normal(page);
  const auto leads_there = [&target](const std::string& path) {
    const std::filesystem::path where(path);
    // A folder means its index page.
    return Normal(where) == target || Normal(where / "index.html") == target ||
           Normal(where / "index.htm") == target;
  };
  std::vector<std::string> linking;
  for (const std::string& other : pages_) {
    if (other == page) continue;
    const auto file = MappedFile::Open(other);
    if (!file) continue;
    const PageScan scan =
        ScanPageFile(other, file->text(), PageScanMode::kLinksOnly,
                     [this](std::string_view url) { return IsLocalLink(url, local_); });
    const PagePlace place = PlaceOf(other, local_, scan.base);
    const bool links = std::any_of(scan.links.begin(), scan.links.end(), [&](const PageLink& link) {
      const auto resolved = ResolveLocalLink(link.url(), place, local_);
      return resolved && leads_there(resolved->path);
    });
    if (links) linking.push_back(other);
  }
  return linking;
}

}  // namespace quimbel
