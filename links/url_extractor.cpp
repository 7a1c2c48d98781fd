#include "links/url_extractor.h"

#include <algorithm>

#include "links/markdown_links.h"
#include "links/url_resolver.h"
#include "platform/mapped_file.h"

namespace quimbel {

void AppendLink(LinkLists& lists, PageLink&& link, std::uint32_t local) {
  lists.urls.push_back(std::move(link.raw));
  lists.anchors.push_back(std::move(link.text));
  lists.lines.push_back(link.line);
  lists.offsets.push_back(link.offset);
  lists.local.push_back(local);
  lists.resources.push_back(link.resource);
  lists.kinds.push_back(link.kind);
}

std::string RequestUrl(std::string_view written) {
  std::string url = DecodeCharacterReferences(written);
  // Blanks at the ends go; tabs and line breaks inside are no part of it.
  std::erase_if(url, [](char c) { return c == '\t' || c == '\n' || c == '\r'; });
  const auto blank = [](char c) { return c == ' ' || c == '\f'; };
  while (!url.empty() && blank(url.back()))
    url.pop_back();
  const auto first = std::find_if_not(url.begin(), url.end(), blank);
  url.erase(url.begin(), first);
  return url;
}

std::string ProbeRequestUrl(std::string_view written, std::string_view relative_scheme) {
  std::string url = RequestUrl(written);
  if (url.size() > 2 && (url[0] == '/' || url[0] == '\\') && (url[1] == '/' || url[1] == '\\')) {
    url = std::string(relative_scheme) + ":" + url;
  }
  if (std::optional<std::string> normal = NormalizeUrl(url)) {
    normal->resize(RequestKeyOf(*normal).size());
    return std::move(*normal);
  }
  return url;
}

PageScan ScanPageFile(std::string_view path, std::string_view text, PageScanMode mode,
                      const LinkFilter& wanted, const LinkSink& sink) {
  if (IsMarkdownPath(path)) return ScanMarkdown(text, mode, wanted, sink);
  return ScanPage(text, mode, wanted, sink);
}

void ExtractUrlsFromText(std::string_view text, LinkLists& lists, std::size_t& url_count,
                         std::string_view path) {
  PageScan scan = ScanPageFile(path, text, PageScanMode::kLinksOnly, &IsProbedUrl);
  for (; !scan.links.empty(); scan.links.pop_front()) {
    if (IsProbedLink(scan.links.front())) AppendLink(lists, std::move(scan.links.front()), 0);
  }
  url_count = lists.urls.size();
}

bool ExtractUrls(const std::string& path, LinkLists& lists, std::size_t& url_count) {
  // Only a regular file: a fifo or device would block or never end.
  const auto file = MappedFile::Open(path);
  if (!file) return false;  // the lists stay as they were
  ExtractUrlsFromText(file->text(), lists, url_count, path);
  return true;
}

void PopFrontLink(LinkLists& lists) {
  if (!lists.urls.empty()) lists.urls.pop_front();
  if (!lists.anchors.empty()) lists.anchors.pop_front();
  if (!lists.lines.empty()) lists.lines.pop_front();
  if (!lists.offsets.empty()) lists.offsets.pop_front();
  if (!lists.local.empty()) lists.local.pop_front();
  if (!lists.resources.empty()) lists.resources.pop_front();
  if (!lists.kinds.empty()) lists.kinds.pop_front();
  if (!lists.targets.empty()) lists.targets.pop_front();
}

void EraseLinks(LinkLists& lists, std::size_t first, const std::vector<bool>& erase) {
  std::size_t kept = first;
  for (std::size_t at = first; at < lists.urls.size(); ++at) {
    if (erase[at - first]) continue;
    if (kept != at) {
      lists.urls[kept] = std::move(lists.urls[at]);
      lists.anchors[kept] = std::move(lists.anchors[at]);
      lists.lines[kept] = lists.lines[at];
      lists.offsets[kept] = lists.offsets[at];
      lists.local[kept] = lists.local[at];
      lists.resources[kept] = lists.resources[at];
      lists.kinds[kept] = lists.kinds[at];
      if (!lists.targets.empty()) lists.targets[kept] = std::move(lists.targets[at]);
    }
    ++kept;
  }
  lists.urls.resize(kept);
  lists.anchors.resize(kept);
  lists.lines.resize(kept);
  lists.offsets.resize(kept);
  lists.local.resize(kept);
  lists.resources.resize(kept);
  lists.kinds.resize(kept);
  if (!lists.targets.empty()) lists.targets.resize(kept);
}

void MoveFrontLink(LinkLists& from, LinkLists& to) {
  to.urls.push_back(std::move(from.urls.front()));
  to.anchors.push_back(std::move(from.anchors.front()));
  to.lines.push_back(from.lines.front());
  to.offsets.push_back(from.offsets.front());
  to.local.push_back(from.local.front());
  to.resources.push_back(from.resources.front());
  to.kinds.push_back(from.kinds.front());
  if (!from.targets.empty()) to.targets.push_back(std::move(from.targets.front()));
  PopFrontLink(from);
}

}  // namespace quimbel
