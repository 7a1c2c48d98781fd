#include "links/link_roles.h"

#include <algorithm>
#include <array>
#include <initializer_list>

#include "platform/ascii.h"

namespace quimbel {
namespace {

// The tag names a link can carry, kept for the life of the program.
constexpr std::array<std::string_view, 24> kLinkTags = {
    "a",     "area",    "link",  "img",   "script", "iframe", "frame", "source",
    "embed", "audio",   "video", "track", "input",  "object", "meta",  "use",
    "image", "feimage", "style", "svg",   "g",      "body",   "div",   "span"};

bool OneOf(std::string_view tag, std::initializer_list<std::string_view> names) {
  return std::find(names.begin(), names.end(), tag) != names.end();
}

// Whether a link's rel names something a browser or a reader fetches; a
// link without rel is taken as before. preconnect and the like name a
// server, not a page.
bool IsFetchedRel(std::string_view rel) {
  static constexpr std::array<std::string_view, 17> kFetched = {"stylesheet",
                                                                "icon",
                                                                "apple-touch-icon",
                                                                "apple-touch-icon-precomposed",
                                                                "preload",
                                                                "modulepreload",
                                                                "prefetch",
                                                                "manifest",
                                                                "canonical",
                                                                "alternate",
                                                                "next",
                                                                "prev",
                                                                "author",
                                                                "license",
                                                                "help",
                                                                "search",
                                                                "mask-icon"};
  bool any = false;
  while (!rel.empty()) {
    while (!rel.empty() && IsHtmlSpace(rel.front()))
      rel.remove_prefix(1);
    std::size_t end = 0;
    while (end < rel.size() && !IsHtmlSpace(rel[end]))
      ++end;
    const std::string_view token = rel.substr(0, end);
    rel.remove_prefix(end);
    if (token.empty()) continue;
    any = true;
    for (const std::string_view fetched : kFetched) {
      if (SameIgnoringCase(token, fetched)) return true;
    }
  }
  return !any;
}

}  // namespace

std::string_view StaticTag(std::string_view tag) {
  for (const std::string_view entry : kLinkTags) {
    if (entry == tag) return entry;
  }
  return "style";
}

const Attribute* FindAttribute(const std::vector<Attribute>& attributes, std::string_view name) {
  for (const Attribute& attribute : attributes) {
    if (SameIgnoringCase(attribute.name, name)) return &attribute;
  }
  return nullptr;
}

Role RoleOf(std::string_view tag, std::string_view name, const std::vector<Attribute>& attributes) {
  const auto Find = [&](std::string_view wanted) { return FindAttribute(attributes, wanted); };
  const auto is = [&](std::string_view wanted) { return SameIgnoringCase(name, wanted); };
  if (is("style")) return {Holds::kStyle, LinkKind::kCss};
  if (is("href")) {
    if (tag == "a" || tag == "area") return {Holds::kUrl, LinkKind::kAnchor, false};
    if (tag == "link") {
      const Attribute* rel = Find("rel");
      if (rel != nullptr && !IsFetchedRel(rel->value)) return {};
      return {Holds::kUrl, LinkKind::kResource};
    }
    if (OneOf(tag, {"use", "image", "feimage"})) return {Holds::kUrl, LinkKind::kSvg};
    return {};
  }
  if (is("xlink:href")) {
    if (tag == "a") return {Holds::kUrl, LinkKind::kSvg, false};
    if (OneOf(tag, {"use", "image", "feimage"})) return {Holds::kUrl, LinkKind::kSvg};
    return {};
  }
  if (is("src")) {
    if (OneOf(tag,
              {"img", "script", "iframe", "frame", "embed", "audio", "video", "source", "track"})) {
      return {Holds::kUrl, LinkKind::kResource};
    }
    if (tag == "input") {
      const Attribute* type = Find("type");
      if (type != nullptr && SameIgnoringCase(TrimHtmlSpace(type->value), "image")) {
        return {Holds::kUrl, LinkKind::kResource};
      }
    }
    return {};
  }
  if (is("srcset") && (tag == "img" || tag == "source")) return {Holds::kSrcset, LinkKind::kSrcset};
  if (is("imagesrcset") && tag == "link") return {Holds::kSrcset, LinkKind::kSrcset};
  if (is("poster") && tag == "video") return {Holds::kUrl, LinkKind::kResource};
  if (is("data") && tag == "object") return {Holds::kUrl, LinkKind::kResource};
  if (is("content") && tag == "meta") {
    const Attribute* equiv = Find("http-equiv");
    if (equiv != nullptr && SameIgnoringCase(TrimHtmlSpace(equiv->value), "refresh")) {
      return {Holds::kRefresh, LinkKind::kRefresh, false};
    }
  }
  return {};
}

std::string_view LinkKindName(LinkKind kind) {
  switch (kind) {
    case LinkKind::kAnchor:
      return "anchor";
    case LinkKind::kResource:
      return "resource";
    case LinkKind::kCss:
      return "css";
    case LinkKind::kSrcset:
      return "srcset";
    case LinkKind::kRefresh:
      return "refresh";
    case LinkKind::kSvg:
      return "svg";
  }
  return "anchor";
}

bool IsStyleSheetPath(std::string_view path) {
  return path.size() >= 4 && SameIgnoringCase(path.substr(path.size() - 4), ".css");
}

}  // namespace quimbel
