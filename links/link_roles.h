// What the attributes of a tag hold: which carry a link, of what kind, and
// how the value is read. Internal to the page scan; pure functions, any
// thread.
#pragma once

#include <string_view>
#include <vector>

#include "links/html_links.h"

namespace quimbel {

// HTML's own blanks: a vertical tab is no blank there.
inline bool IsHtmlSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

inline std::string_view TrimHtmlSpace(std::string_view text) {
  while (!text.empty() && IsHtmlSpace(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && IsHtmlSpace(text.back()))
    text.remove_suffix(1);
  return text;
}

struct Attribute {
  std::string_view name;  // as written
  std::string_view value;
};

// How an attribute's value holds its links.
enum class Holds { kNothing, kUrl, kSrcset, kRefresh, kStyle };

struct Role {
  Holds holds = Holds::kNothing;
  LinkKind kind = LinkKind::kAnchor;
  bool resource = true;  // loaded by the page, not followed
};

// The tag's name in storage kept for the life of the program, or "style"
// for a tag that carries only a style.
std::string_view StaticTag(std::string_view tag);

// The first attribute of that name, in any case; null for none.
const Attribute* FindAttribute(const std::vector<Attribute>& attributes, std::string_view name);

// What the attribute `name` of `tag` holds, given all the tag's
// `attributes` (a link's rel, an input's type and a meta's http-equiv
// decide).
Role RoleOf(std::string_view tag, std::string_view name, const std::vector<Attribute>& attributes);

}  // namespace quimbel
