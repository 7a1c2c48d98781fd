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

struct PageLink {
  std::string url;       // the attribute value, references decoded, trimmed
  std::string raw;       // the attribute value as written in the page
  std::string text;      // an anchor's text; a resource's alt or title, or its tag
  std::string_view tag;  // lower case: "a", "img", "link", ...; static storage
  std::size_t line = 0;
  std::size_t offset = 0;  // of the tag's "<" in the file
  bool resource = false;   // loaded by the page (img, script, ...), not followed
};

struct PageScan {
  // In file order. A deque: a page of a million links never holds two
  // copies of them while it grows.
  std::deque<PageLink> links;
  // Every id, and every name of an <a>, as written (references decoded).
  std::unordered_set<std::string> fragments;
  std::string base;  // the first <base href>, decoded; empty when none
};

// What a scan collects: links and fragment names, or (for a target page
// whose fragments are looked up) fragment names only.
enum class PageScanMode { kLinksAndFragments, kFragmentsOnly };

// Scans the page text. Links of `mailto:`, `tel:`, `javascript:` and
// `data:`, and empty ones, are left out; every other href and src value of
// a, area, link, img, script, iframe, source, embed, audio and video is
// kept, whatever its scheme: the caller decides which it checks.
// A link whose decoded value `wanted` refuses is left out before anything
// of it is copied.
using LinkFilter = std::function<bool(std::string_view url)>;
PageScan ScanPage(std::string_view text, PageScanMode mode = PageScanMode::kLinksAndFragments,
                  const LinkFilter& wanted = {});

// Replaces the character references ("&amp;", "&#38;", "&#x26;") of an
// attribute value; an unknown or unterminated one stays as written.
std::string DecodeCharacterReferences(std::string_view value);

}  // namespace quimbel
