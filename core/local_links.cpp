#include "core/local_links.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "core/file_collection.h"
#include "links/url_extractor.h"
#include "links/url_resolver.h"
#include "links/url_split.h"
#include "platform/ascii.h"

namespace quimbel {
namespace {

constexpr auto npos = std::string_view::npos;

// Removes "." and ".." segments, and empty ones, of `path` (which starts
// with "/"); ".." never climbs above the first "/".
std::string RemoveDotSegments(std::string_view path) {
  std::vector<std::string_view> segments;
  std::size_t at = 1;
  bool ends_in_folder = false;
  while (at <= path.size()) {
    const std::size_t slash = std::min(path.find('/', at), path.size());
    const std::string_view segment = path.substr(at, slash - at);
    ends_in_folder = segment == "." || segment == ".." || (segment.empty() && slash == path.size());
    if (segment == "..") {
      if (!segments.empty()) segments.pop_back();
    } else if (segment != "." && !segment.empty()) {
      segments.push_back(segment);
    }
    at = slash + 1;
  }
  std::string result;
  for (const std::string_view segment : segments) {
    result += '/';
    result += segment;
  }
  if (result.empty() || ends_in_folder) result += '/';
  return result;
}

std::string Generic(const std::filesystem::path& path) {
  return path.lexically_normal().generic_string();
}

// The absolute form of a path, without touching the file system; a path
// that cannot be made absolute (the current folder is gone) stays as it is.
std::string Absolute(const std::string& path) {
  std::error_code error;
  const std::filesystem::path absolute =
      std::filesystem::absolute(path.empty() ? std::string(".") : path, error);
  return Generic(error ? std::filesystem::path(path) : absolute);
}

}  // namespace

PagePlace PlaceOf(const std::string& page, const LocalLinkOptions& options, std::string_view base) {
  PagePlace place;
  place.root = Absolute(options.site_root);
  if (place.root.size() > 1 && place.root.back() == '/') place.root.pop_back();
  place.page = Absolute(page);
  place.folder = Generic(std::filesystem::path(place.page).parent_path());
  if (!base.empty()) {
    const auto base_target = ResolveLocalLink(base, place, options);
    if (!base_target) {
      place.off_site = true;  // the page's relative links point off the site
      return place;
    }
    std::error_code error;
    const bool is_folder =
        base.back() == '/' || std::filesystem::is_directory(base_target->path, error);
    place.folder = is_folder ? base_target->path
                             : Generic(std::filesystem::path(base_target->path).parent_path());
    if (place.folder.size() > 1 && place.folder.back() == '/') place.folder.pop_back();
    place.has_base = true;
    place.base_target = base_target->path;
  }
  return place;
}

namespace {

// The part of an absolute URL under the site URL, from the "/" after it
// on; nothing when the URL is not under it. Both are read as browsers
// read them, so letter case of scheme and host, the default port and
// escapes written either way do not matter.
std::optional<std::string> UnderSiteUrl(std::string_view url, const LocalLinkOptions& options) {
  if (options.site_url.empty()) return std::nullopt;
  std::optional<std::string> site = NormalizeUrl(options.site_url);
  const std::optional<std::string> normal = NormalizeUrl(url);
  if (!site || !normal) return std::nullopt;
  site->resize(std::min(site->find_first_of("?#"), site->size()));
  if (!site->ends_with('/')) *site += '/';
  if (!normal->starts_with(*site) && *normal + "/" != *site) return std::nullopt;
  return "/" + normal->substr(std::min(site->size(), normal->size()));
}

// A file path as the path of a URL: every byte but letters, digits and
// "/-._~" escaped, so that no name in it reads as a query, a fragment or
// an escape.
std::string AsUrlPath(std::string_view path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    if ((std::isalnum(byte) != 0 && byte < 0x80) || std::string_view("/-._~").find(c) != npos) {
      out += c;
    } else {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 0x0F];
    }
  }
  return out;
}

// The host that stands for the site while a local link is resolved as a
// browser resolves it: a name no real host has.
constexpr std::string_view kSiteOrigin = "http://site.invalid";

}  // namespace

bool IsProtocolRelative(std::string_view url) {
  const std::string_view trimmed = TrimAsciiBlanks(url);
  return trimmed.size() > 2 && (trimmed[0] == '/' || trimmed[0] == '\\') &&
         (trimmed[1] == '/' || trimmed[1] == '\\');
}

std::string ProtocolRelativeScheme(const LocalLinkOptions& options) {
  const std::size_t colon = options.site_url.find(':');
  if (colon != std::string::npos && HasScheme(options.site_url)) {
    return AsciiLowered(options.site_url.substr(0, colon));
  }
  return "https";
}

// A protocol-relative link with the scheme a page on disk gives it.
std::string WithScheme(std::string_view url, const LocalLinkOptions& options) {
  return ProtocolRelativeScheme(options) + ":" + std::string(TrimAsciiBlanks(url));
}

bool IsLocalLink(std::string_view url, const LocalLinkOptions& options) {
  // Of absolute links only the site's own URL is a local one; "//" names
  // another host, and so does "\\" to a browser: the site's own, or not.
  if (HasScheme(url)) return UnderSiteUrl(url, options).has_value();
  if (IsProtocolRelative(url)) return UnderSiteUrl(WithScheme(url, options), options).has_value();
  const std::string_view trimmed = TrimAsciiBlanks(url);
  return trimmed.size() < 2 || (trimmed[0] != '/' && trimmed[0] != '\\') ||
         (trimmed[1] != '/' && trimmed[1] != '\\');
}

std::optional<LocalTarget> ResolveLocalLink(std::string_view url, const PagePlace& place,
                                            const LocalLinkOptions& options) {
  if (!IsLocalLink(url, options)) return std::nullopt;
  std::string own;
  if (HasScheme(url)) {
    own = *UnderSiteUrl(url, options);
    url = own;
  } else if (IsProtocolRelative(url)) {
    own = *UnderSiteUrl(WithScheme(url, options), options);
    url = own;
  }
  const std::string_view trimmed = TrimAsciiBlanks(url);
  const bool rooted = !trimmed.empty() && (trimmed.front() == '/' || trimmed.front() == '\\');
  if (place.off_site && !rooted) return std::nullopt;
  // Links resolve as a browser resolves them against the page (or its
  // base) on a site whose root is the floor: ".." stops there. A page
  // outside the root is its own floor.
  const std::string& folder = place.folder;
  const std::string& root = place.root;
  const bool under_root =
      folder == root || (folder.size() > root.size() && folder.compare(0, root.size(), root) == 0 &&
                         (root == "/" || folder[root.size()] == '/'));
  const std::string& floor = rooted || under_root ? root : folder;
  const std::string& from = place.has_base ? place.base_target : place.page;
  std::string base_path = from.substr(std::min(floor == "/" ? 0 : floor.size(), from.size()));
  if (place.has_base && place.base_target == place.folder) base_path += '/';
  if (!base_path.starts_with('/')) base_path.insert(0, 1, '/');
  const std::string site = std::string(kSiteOrigin);
  const std::optional<std::string> resolved = ResolveUrl(site + AsUrlPath(base_path), url);
  if (!resolved || !resolved->starts_with(site + "/")) return std::nullopt;
  const std::string_view rest = std::string_view(*resolved).substr(site.size());
  LocalTarget target;
  const std::size_t hash = rest.find('#');
  if (hash != npos) target.fragment = std::string(rest.substr(hash + 1));
  const std::string_view path = rest.substr(0, std::min(rest.find('?'), hash));
  // Escapes are file names' letters; a "/" or ".." that only decoding
  // makes still never climbs above the floor.
  const std::string joined = RemoveDotSegments(PercentDecode(path));
  target.path = floor == "/" ? joined : floor + joined;
  return target;
}

std::optional<LocalTarget> ResolveLocalLink(std::string_view url, const std::string& page,
                                            const LocalLinkOptions& options,
                                            std::string_view base) {
  return ResolveLocalLink(url, PlaceOf(page, options, base), options);
}

std::optional<std::string> LocalLinkTarget(std::string_view written, const std::string& page,
                                           const LocalLinkOptions& options) {
  std::string base;
  if (const auto file = MappedFile::Open(page)) base = ScanPageFile(page, file->text()).base;
  const auto target =
      ResolveLocalLink(DecodeCharacterReferences(written), PlaceOf(page, options, base), options);
  if (!target) return std::nullopt;
  return target->path;
}

std::optional<std::string> LocalLinkOpenPath(const std::string& written, const std::string& page,
                                             const LocalLinkOptions& options) {
  const auto target = LocalLinkTarget(written, page, options);
  if (!target) return std::nullopt;
  std::error_code error;
  for (std::filesystem::path path = *target; !path.empty(); path = path.parent_path()) {
    if (std::filesystem::exists(path, error)) return Generic(path);
    if (path == path.parent_path()) break;
  }
  return std::nullopt;
}

OutcomeCode LocalLinkChecker::Recheck(const std::string& written, const std::string& page) {
  PageScan scan;
  if (const auto file = MappedFile::Open(page)) scan = ScanPageFile(page, file->text());
  const PagePlace place = PlaceOf(page, options_, scan.base);
  const auto target = ResolveLocalLink(DecodeCharacterReferences(written), place, options_);
  if (!target) return kLocalFileNotFound;
  return Check(*target, place.page, scan.fragments);
}

OutcomeCode LocalLinkChecker::Check(const LocalTarget& target, const std::string& page,
                                    const std::unordered_set<std::string>& own) {
  const std::string* file = FileOf(target.path);
  if (file == nullptr) return kLocalFileNotFound;
  const std::string& path = *file;
  if (!target.fragment || target.fragment->empty()) return kLocalTargetFound;
  const std::string& fragment = *target.fragment;
  if (fragment.size() == 3 && StartsWithIgnoringCase(fragment, "top")) return kLocalTargetFound;
  if (!HasHtmlExtension(path)) return kLocalTargetFound;
  const std::unordered_set<std::string>* names = path == page ? &own : FragmentsOf(path);
  if (names == nullptr) return kLocalFileNotFound;
  // Browsers match the fragment as written and decoded; ids are
  // case-sensitive.
  if (names->count(fragment) || names->count(PercentDecode(fragment))) return kLocalTargetFound;
  return kLocalAnchorNotFound;
}

namespace {
constexpr std::size_t kFilesRemembered = 1 << 16;
}  // namespace

const std::string* LocalLinkChecker::FileOf(const std::string& target) {
  if (const auto found = files_.find(target); found != files_.end()) {
    return found->second ? &*found->second : nullptr;
  }
  std::optional<std::string> file;
  std::string path = target;
  // An escaped NUL names no file; the system would read only what precedes it.
  if (path.find('\0') != std::string::npos) {
    files_.emplace(target, std::nullopt);
    return nullptr;
  }
  struct stat info {};
  bool exists = ::stat(path.c_str(), &info) == 0;
  if (exists && S_ISDIR(info.st_mode)) {
    // A folder means its index page.
    const std::string folder = path.back() == '/' ? path : path + '/';
    path = folder + "index.html";
    exists = ::stat(path.c_str(), &info) == 0;
    if (!exists) {
      path = folder + "index.htm";
      exists = ::stat(path.c_str(), &info) == 0;
    }
  }
  if (exists && S_ISREG(info.st_mode) && ::access(path.c_str(), R_OK) == 0) file = path;
  // A site of a million different broken links would keep a million
  // paths; past the bound the lookups start afresh, a stat each.
  if (files_.size() >= kFilesRemembered) files_.clear();
  const auto& stored = files_.emplace(target, std::move(file)).first->second;
  return stored ? &*stored : nullptr;
}

const std::unordered_set<std::string>* LocalLinkChecker::FragmentsOf(const std::string& path) {
  const std::string& key = path;
  if (const auto found = fragments_.find(key); found != fragments_.end()) {
    return found->second.get();
  }
  std::unique_ptr<std::unordered_set<std::string>> names;
  if (const auto file = MappedFile::Open(path)) {
    names = std::make_unique<std::unordered_set<std::string>>(
        std::move(ScanPageFile(path, file->text(), PageScanMode::kFragmentsOnly).fragments));
  }
  return fragments_.emplace(key, std::move(names)).first->second.get();
}

bool LocalLinkChecker::AddPageLinks(const std::string& path, LinkLists& lists) {
  const auto file = MappedFile::Open(path);
  if (!file) return false;
  AddPageLinks(path, *file, lists);
  return true;
}

void LocalLinkChecker::AddPageLinks(const std::string& path, std::string_view text,
                                    LinkLists& lists) {
  AddPageLinks(path, text, nullptr, lists);
}

void LocalLinkChecker::AddPageLinks(const std::string& path, const MappedFile& file,
                                    LinkLists& lists) {
  AddPageLinks(path, file.text(), &file, lists);
}

void LocalLinkChecker::AddPageLinks(const std::string& path, std::string_view text,
                                    const MappedFile* file, LinkLists& lists) {
  // Each link goes to the lists as the scan reads it, and the page's bytes
  // the scan is past are let go: a page of a million links is held once,
  // as the lists, never also as the scan's links or whole in memory.
  constexpr std::size_t kReleaseStep = std::size_t{4} << 20;
  // A local link is checked once the page is read: its <base> and the ids
  // its anchors name may come after it.
  constexpr OutcomeCode kNotChecked = UINT32_MAX;
  const std::size_t first = lists.urls.size();
  std::size_t released = 0;
  bool any_local = false;
  const LinkSink sink = [&](PageLink&& link) {
    if (link.resource && !options_.resources) return;
    // A link under the site's own URL is checked on disk, not probed.
    const bool local = IsLocalLink(link.url(), options_);
    // A page on disk has no scheme of its own: "//host/path" is asked for
    // with its site's, or the one a browser would use today.
    if (!local && !IsProbedReference(link) && !IsProtocolRelative(link.url())) return;
    any_local = any_local || local;
    if (file != nullptr && link.offset >= released + kReleaseStep) {
      released = link.offset;
      file->Release(released);
    }
    AppendLink(lists, std::move(link), local ? kNotChecked : 0);
  };
  const LinkFilter wanted = [this](std::string_view url) {
    return IsProbedUrl(url) || IsLocalLink(url, options_) || IsProtocolRelative(url);
  };
  const bool sheet = IsStyleSheetPath(path);
  if (sheet) NoteRunFile(path);
  const PageScan scan =
      sheet ? ScanStyleSheet(text, wanted, sink)
            : ScanPageFile(path, text, PageScanMode::kLinksAndFragments, wanted, sink);
  if (!any_local) return;
  const PagePlace place = PlaceOf(path, options_, scan.base);
  std::vector<bool> erase(lists.urls.size() - first, false);
  for (std::size_t at = first; at < lists.urls.size(); ++at) {
    if (lists.local[at] != kNotChecked) continue;
    // One that leads nowhere on disk is no link to check.
    const auto target = ResolveLocalLink(LinkUrlOf(lists.urls[at]), place, options_);
    if (target) {
      lists.local[at] = Check(*target, place.page, scan.fragments);
      if (lists.local[at] == kLocalTargetFound && IsStyleSheetPath(target->path) &&
          sheets_seen_.insert(target->path).second) {
        sheets_found_.push_back(target->path);
      }
    } else {
      erase[at - first] = true;
    }
  }
  if (std::find(erase.begin(), erase.end(), true) != erase.end()) EraseLinks(lists, first, erase);
}

void LocalLinkChecker::NoteRunFile(const std::string& path) {
  if (IsStyleSheetPath(path)) sheets_seen_.insert(Absolute(path));
}

std::vector<std::string> LocalLinkChecker::TakeStyleSheets() {
  return std::exchange(sheets_found_, {});
}

}  // namespace quimbel
