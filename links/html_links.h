// The links in a page's attributes, for what the anchor-stretch scan does
// not take: relative and root-relative links, fragments, and the resources
// a page loads. Also the fragment names the page defines.
//
// A single pass over the bytes as an HTML tokenizer reads them: comments,
// declarations and the text of <script> and <style> hold no links;
// attribute names are read in any case, values quoted or not, with their
// character references decoded (named ones through libxml2's HTML entity
// table). Any bytes are valid input. Pure functions; any thread.
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace quimbel {

// The name a link gets when its anchor has no text at all.
inline constexpr std::string_view kPlaceholderLinkName = "Quimbel supplied this anchor name";

// What kind of reference a link is, as reports name it.
enum class LinkKind : unsigned char {
  kAnchor,    // an a or area href: a link followed
  kResource,  // what an element loads: img src, script src, link href, ...
  kCss,       // url() or @import in style text
  kSrcset,    // a candidate of srcset or imagesrcset
  kRefresh,   // the URL of a <meta http-equiv=refresh>
  kSvg,       // href or xlink:href of SVG's a, use, image and feImage
};
// "anchor", "resource", "css", "srcset", "refresh" or "svg".
std::string_view LinkKindName(LinkKind kind);

struct PageLink {
  std::string raw;      // the attribute value as written in the page, trimmed
  std::string decoded;  // its references decoded, trimmed; empty when it has none
  // The value a browser reads: references decoded.
  std::string_view url() const { return decoded.empty() ? std::string_view(raw) : decoded; }
  // An anchor's link name: its text up to the closing tag (or, without
  // one, the next "<"), line breaks removed, tabs made blanks, trimmed; the
  // placeholder when there is no text at all. An area's or a resource's
  // alt or title, or its tag.
  std::string text;
  std::string_view tag;    // lower case: "a", "img", "link", ...; static storage
  std::size_t line = 0;    // where the value stands
  std::size_t offset = 0;  // of the tag's "<" in the file
  bool resource = false;   // loaded by the page (img, script, ...), not followed
  LinkKind kind = LinkKind::kAnchor;
};

struct PageScan {
  // In file order. A deque: a page of a million links never holds two
  // copies of them while it grows.
  std::deque<PageLink> links;
  // Every id, and every name of an <a>, as written (references decoded).
  std::unordered_set<std::string> fragments;
  std::string base;  // the first <base href>, decoded; empty when none
};

// What a scan collects: links and fragment names, fragment names only (for
// a target page whose fragments are looked up), or links only.
enum class PageScanMode { kLinksAndFragments, kFragmentsOnly, kLinksOnly };

// Scans the page text. Links of `mailto:`, `tel:`, `javascript:` and
// `data:`, and empty ones, are left out; every other reference is kept,
// whatever its scheme: the caller decides which it checks. References are
// the hrefs of a and area; what elements load (src of img, script, iframe,
// frame, embed, audio, video, source, track and an image input, a video's
// poster, an object's data, the href of a link whose rel a browser or
// reader fetches); srcset and imagesrcset candidates; a refresh's URL;
// SVG hrefs; and url() and @import in style blocks and style attributes.
// A link whose decoded value `wanted` refuses is left out before anything
// of it is copied.
using LinkFilter = std::function<bool(std::string_view url)>;
PageScan ScanPage(std::string_view text, PageScanMode mode = PageScanMode::kLinksAndFragments,
                  const LinkFilter& wanted = {});
// The same, handing each link to `sink` as it is read instead of keeping
// it in the result: a page of a million links need not be held as links
// and again as whatever the caller makes of them.
using LinkSink = std::function<void(PageLink&& link)>;
PageScan ScanPage(std::string_view text, PageScanMode mode, const LinkFilter& wanted,
                  const LinkSink& sink);

// The same for a style sheet's text: its url() and @import references, as
// links of kind kCss named "css", in file order.
PageScan ScanStyleSheet(std::string_view text, const LinkFilter& wanted, const LinkSink& sink);

// Whether a path names a style sheet (".css", any case).
bool IsStyleSheetPath(std::string_view path);

// Whether a reference leads nowhere a checker can go: empty, or mailto:,
// tel:, javascript: or data:.
bool IsSkippedReference(std::string_view url);

// What PageLink::url() gives for a link whose value reads `raw`.
std::string LinkUrlOf(std::string_view raw);

// Whether a URL names http, https or ftp (in any letter case), the
// schemes a probe checks over the network.
bool IsProbedUrl(std::string_view url);
// Whether a link is probed: a link followed (the href of an anchor or an
// area, a refresh) that names one of those schemes. One anchor tag gives
// at most one link: its own href, never a URL in its text or its other
// attributes.
bool IsProbedLink(const PageLink& link);
// Whether a link is probed when what pages load is checked too: any kind
// that names one of those schemes.
bool IsProbedReference(const PageLink& link);

// Replaces the character references ("&amp;", "&#38;", "&#x26;") of an
// attribute value; an unknown or unterminated one stays as written.
std::string DecodeCharacterReferences(std::string_view value);

}  // namespace quimbel
