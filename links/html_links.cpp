#include "links/html_links.h"

#include <libxml/HTMLparser.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>

#include "links/embedded_urls.h"
#include "links/link_roles.h"
#include "platform/ascii.h"
#include "platform/utf8.h"

namespace quimbel {
namespace {

constexpr auto npos = std::string_view::npos;
// An anchor's text longer than this is cut: it is only shown.
constexpr std::size_t kLongestText = 4096;

// What ends a name inside a tag, looked up rather than compared: the
// tokenizer spends most of its time in these loops.
enum CharClass : unsigned char {
  kSpace = 1,
  kEndsTagName = 2,
  kEndsAttributeName = 4,
  kEndsBareValue = 8
};

constexpr std::array<unsigned char, 256> kCharClasses = [] {
  std::array<unsigned char, 256> classes{};
  for (const char c : {' ', '\t', '\n', '\r', '\f'})
    classes[static_cast<unsigned char>(c)] =
        kSpace | kEndsTagName | kEndsAttributeName | kEndsBareValue;
  classes['/'] = kEndsTagName | kEndsAttributeName;
  classes['>'] = kEndsTagName | kEndsAttributeName | kEndsBareValue;
  classes['='] = kEndsAttributeName;
  return classes;
}();

bool Is(char c, CharClass what) {
  return (kCharClasses[static_cast<unsigned char>(c)] & what) != 0;
}

// Where "</" + `name` (any case) next starts at or after `from`, or the end.
std::size_t FindEndTag(std::string_view text, std::size_t from, std::string_view name) {
  for (std::size_t lt = text.find("</", from); lt != npos; lt = text.find("</", lt + 2)) {
    if (StartsWithIgnoringCase(text.substr(lt + 2), name)) return lt;
  }
  return text.size();
}

// A reference to no character, a surrogate or past Unicode reads as U+FFFD.
void AppendReferenced(std::string& out, unsigned long code) {
  if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = 0xFFFD;
  AppendUtf8(out, static_cast<char32_t>(code));
}

// An anchor's text as the results list shows it: line breaks removed, tabs
// made blanks, trimmed.
std::string AnchorText(std::string_view raw) {
  // Trimming first is the same: the ends it leaves are no blanks, so no
  // break or tab stands there.
  std::string text(TrimHtmlSpace(raw.substr(0, kLongestText)));
  // One pass: tabs become blanks, line breaks go.
  std::size_t kept = 0;
  for (const char c : text) {
    text[kept] = c == '\t' ? ' ' : c;
    kept += c != '\r' && c != '\n';
  }
  text.resize(kept);
  return text;
}

// The raw link name of an anchor whose tag ends at `from`: the text up to
// its closing tag, or, when the anchor has none, up to the first "<" after
// it. Both are looked for only up to the next tag that begins with "a",
// where the next anchor's text would start; with no "<" at all the name
// runs to the end of the text.
std::string_view LinkNameText(std::string_view text, std::size_t from) {
  std::size_t first = npos;
  for (std::size_t lt = text.find('<', from); lt != npos; lt = text.find('<', lt + 1)) {
    if (first == npos) first = lt;
    const char next = lt + 1 < text.size() ? text[lt + 1] : '\0';
    if (next == 'a' || next == 'A') break;
    if (next == '/' && lt + 2 < text.size() && AsciiLower(text[lt + 2]) == 'a') {
      return text.substr(from, lt - from);
    }
  }
  const std::size_t end = first == npos ? text.size() : first;
  return text.substr(from, end - from);
}

class Tokenizer {
 public:
  Tokenizer(std::string_view text, PageScanMode mode, const LinkFilter& wanted,
            const LinkSink& sink)
      : text_(text), mode_(mode), wanted_(wanted), sink_(sink) {}

  PageScan RunStyleSheet() {
    sheet_ = true;
    TakeStyleText(0, 0, text_.size());
    return std::move(scan_);
  }

  PageScan Run() {
    std::size_t at = 0;
    while (at < text_.size()) {
      const std::size_t lt = text_.find('<', at);
      if (lt == npos) break;
      at = Token(lt);
    }
    return std::move(scan_);
  }

 private:
  // Reads the token at the "<" at `lt`; where reading goes on.
  std::size_t Token(std::size_t lt) {
    const std::string_view rest = text_.substr(lt);
    if (rest.substr(0, 4) == "<!--") {
      const std::size_t end = text_.find("-->", lt + 4);
      return end == npos ? text_.size() : end + 3;
    }
    if (rest.size() < 2) return text_.size();
    const char next = rest[1];
    if (next == '!' || next == '?') return After('>', lt + 2);
    if (next == '/') return After('>', lt + 2);
    if (!std::isalpha(static_cast<unsigned char>(next))) return lt + 1;
    return StartTag(lt);
  }

  std::size_t After(char c, std::size_t from) const {
    const std::size_t found = text_.find(c, from);
    return found == npos ? text_.size() : found + 1;
  }

  std::size_t StartTag(std::size_t lt) {
    std::size_t at = lt + 1;
    // Names longer than any tag read here are only skipped: no copy of them.
    std::array<char, 16> name{};
    std::size_t length = 0;
    for (; at < text_.size() && !Is(text_[at], kEndsTagName); ++at, ++length) {
      if (length < name.size()) name[length] = AsciiLower(text_[at]);
    }
    const std::string_view tag =
        length <= name.size() ? std::string_view(name.data(), length) : std::string_view();
    attributes_.clear();
    while (at < text_.size()) {
      while (at < text_.size() && (Is(text_[at], kSpace) || text_[at] == '/'))
        ++at;
      if (at >= text_.size() || text_[at] == '>') break;
      const std::size_t name_begin = at;
      while (at < text_.size() && !Is(text_[at], kEndsAttributeName))
        ++at;
      Attribute attribute{text_.substr(name_begin, std::max<std::size_t>(at - name_begin, 1)), {}};
      if (at == name_begin) ++at;  // a lone "=" names nothing
      while (at < text_.size() && Is(text_[at], kSpace))
        ++at;
      if (at < text_.size() && text_[at] == '=') {
        ++at;
        while (at < text_.size() && Is(text_[at], kSpace))
          ++at;
        if (at < text_.size() && (text_[at] == '"' || text_[at] == '\'')) {
          const char quote = text_[at];
          const std::size_t close = text_.find(quote, at + 1);
          const std::size_t end = close == npos ? text_.size() : close;
          attribute.value = text_.substr(at + 1, end - at - 1);
          at = close == npos ? end : end + 1;
        } else {
          const std::size_t begin = at;
          while (at < text_.size() && !Is(text_[at], kEndsBareValue))
            ++at;
          attribute.value = text_.substr(begin, at - begin);
        }
      }
      attributes_.push_back(attribute);
    }
    const std::size_t tag_end = std::min(at + 1, text_.size());
    Take(tag, lt, tag_end);
    return AfterTag(tag, lt, tag_end);
  }

  // Where reading goes on after the start tag `tag` that ends at `tag_end`.
  // Script and style text is no markup; style text has references of its
  // own.
  std::size_t AfterTag(std::string_view tag, std::size_t lt, std::size_t tag_end) {
    if (tag != "script" && tag != "style") return tag_end;
    const std::size_t end = FindEndTag(text_, tag_end, tag);
    if (tag == "style" && mode_ != PageScanMode::kFragmentsOnly) TakeStyleText(lt, tag_end, end);
    return end;
  }

  const Attribute* Find(std::string_view name) const { return FindAttribute(attributes_, name); }

  // Every id, and the name of an <a>.
  void TakeFragments(std::string_view tag) {
    if (const Attribute* id = Find("id"))
      scan_.fragments.insert(DecodeCharacterReferences(id->value));
    if (tag == "a") {
      if (const Attribute* name = Find("name")) {
        scan_.fragments.insert(DecodeCharacterReferences(name->value));
      }
    }
  }

  void Take(std::string_view tag, std::size_t lt, std::size_t tag_end) {
    if (mode_ != PageScanMode::kLinksOnly) TakeFragments(tag);
    if (mode_ == PageScanMode::kFragmentsOnly) return;
    if (tag == "base" && scan_.base.empty()) {
      if (const Attribute* href = Find("href")) {
        scan_.base = std::string(TrimHtmlSpace(DecodeCharacterReferences(href->value)));
      }
    }
    for (std::size_t i = 0; i < attributes_.size(); ++i) {
      const Attribute& attribute = attributes_[i];
      const Role role = RoleOf(tag, attribute.name, attributes_);
      if (role.holds == Holds::kNothing || attribute.value.empty()) continue;
      // Of two attributes of one name, the first counts.
      const auto same = [&](const Attribute& other) {
        return SameIgnoringCase(other.name, attribute.name);
      };
      if (std::any_of(attributes_.begin(), attributes_.begin() + static_cast<std::ptrdiff_t>(i),
                      same)) {
        continue;
      }
      current_ = Current{StaticTag(tag), role, lt, tag_end};
      TakeValue(attribute);
    }
  }

  // The links of one attribute's value.
  void TakeValue(const Attribute& attribute) {
    const std::string_view value = attribute.value;
    const auto value_at = static_cast<std::size_t>(value.data() - text_.data());
    if (current_.role.holds == Holds::kUrl) {
      // Most values hold no reference: those are looked at without a copy.
      std::string decoded;
      std::string_view url = TrimHtmlSpace(value);
      if (url.find('&') != npos) {
        decoded = DecodeCharacterReferences(value);
        url = TrimHtmlSpace(decoded);
      }
      const std::string_view raw = TrimHtmlSpace(value);
      Emit(raw, decoded.empty() ? std::string() : std::string(url),
           static_cast<std::size_t>(raw.data() - text_.data()));
      return;
    }
    // A value with references is read decoded; its links then point at
    // the value's own line.
    const bool referenced = value.find('&') != npos;
    const std::string decoded = referenced ? DecodeCharacterReferences(value) : std::string();
    const std::string_view read = referenced ? std::string_view(decoded) : value;
    const EmbeddedUrlSink sink = [&](EmbeddedUrl&& found) {
      const std::size_t at = referenced ? value_at : value_at + found.offset;
      const bool escaped = found.read != found.written;
      if (referenced || escaped) {
        // What the page says cannot be found in it as written: the row
        // shows the URL as read.
        Emit(found.read, std::string(), at);
      } else {
        Emit(found.written, std::string(), at);
      }
    };
    switch (current_.role.holds) {
      case Holds::kSrcset:
        ForEachSrcsetUrl(read, sink);
        break;
      case Holds::kRefresh:
        ForEachRefreshUrl(read, sink);
        break;
      case Holds::kStyle:
        ForEachCssUrl(read, sink);
        break;
      default:
        break;
    }
  }

  // The url() and @import references of a <style> block's text, which
  // starts at `from`.
  void TakeStyleText(std::size_t lt, std::size_t from, std::size_t end) {
    current_ = Current{sheet_ ? "css" : "style", Role{Holds::kStyle, LinkKind::kCss}, lt, from};
    ForEachCssUrl(text_.substr(from, end - from), [&](EmbeddedUrl&& found) {
      const std::size_t at = from + found.offset;
      if (found.read != found.written) {
        Emit(found.read, std::string(), at);
      } else {
        Emit(found.written, std::string(), at);
      }
    });
  }

  // Hands on one link: `raw` as the page writes it, `decoded` when reading
  // it changes it, `at` where it stands.
  void Emit(std::string_view raw, std::string decoded, std::size_t at) {
    const std::string_view url = decoded.empty() ? raw : std::string_view(decoded);
    if (IsSkippedReference(url) || (wanted_ && !wanted_(url))) return;
    PageLink link;
    link.raw = std::string(raw);
    link.decoded = std::move(decoded);
    link.tag = current_.tag;
    link.offset = current_.lt;
    // The line of the value itself: a tag may run over several lines, and
    // the row points where its URL stands.
    link.line = LineAt(at);
    link.resource = current_.role.resource;
    link.kind = current_.role.kind;
    if (current_.tag == "a") {
      const std::string_view name = LinkNameText(text_, current_.tag_end);
      link.text = name.empty() ? std::string(kPlaceholderLinkName) : AnchorText(name);
    } else {
      // Style text has no element of its own to name it.
      const bool named = current_.tag != "style" && current_.tag != "css";
      const Attribute* alt = named ? Find("alt") : nullptr;
      if (named && (alt == nullptr || alt->value.empty())) alt = Find("title");
      link.text = alt != nullptr && !alt->value.empty()
                      ? AnchorText(DecodeCharacterReferences(alt->value))
                      : std::string(current_.tag);
    }
    if (sink_) {
      sink_(std::move(link));
    } else {
      scan_.links.push_back(std::move(link));
    }
  }

  std::size_t LineAt(std::size_t at) {
    line_ += CountLineFeeds(text_.data() + line_at_, text_.data() + at);
    line_at_ = at;
    return line_;
  }

  std::string_view text_;
  PageScanMode mode_;
  const LinkFilter& wanted_;
  const LinkSink& sink_;
  PageScan scan_;
  std::vector<Attribute> attributes_;
  // The tag whose links are being handed on.
  struct Current {
    std::string_view tag;
    Role role;
    std::size_t lt = 0;       // its "<"
    std::size_t tag_end = 0;  // just past its ">"
  } current_;
  std::size_t line_ = 1;
  std::size_t line_at_ = 0;
  bool sheet_ = false;  // the text is a style sheet, not a page
};

}  // namespace

bool IsProbedUrl(std::string_view url) {
  // Most values are relative: their first letter says so at once.
  const char first = url.empty() ? '\0' : AsciiLower(url.front());
  if (first != 'h' && first != 'f') return false;
  return StartsWithIgnoringCase(url, "http://") || StartsWithIgnoringCase(url, "https://") ||
         StartsWithIgnoringCase(url, "ftp://");
}

bool IsProbedLink(const PageLink& link) {
  return !link.resource && IsProbedUrl(link.url());
}

bool IsProbedReference(const PageLink& link) {
  return IsProbedUrl(link.url());
}

std::string DecodeCharacterReferences(std::string_view value) {
  if (value.find('&') == npos) return std::string(value);
  std::string out;
  out.reserve(value.size());
  for (std::size_t at = 0; at < value.size();) {
    if (value[at] != '&') {
      out += value[at++];
      continue;
    }
    std::size_t end = at + 1;
    if (end < value.size() && value[end] == '#') {
      const bool hex = end + 1 < value.size() && (value[end + 1] == 'x' || value[end + 1] == 'X');
      std::size_t digit = end + (hex ? 2 : 1);
      unsigned long code = 0;
      const std::size_t first = digit;
      while (digit < value.size() && digit - first < 8 &&
             (hex ? std::isxdigit(static_cast<unsigned char>(value[digit]))
                  : std::isdigit(static_cast<unsigned char>(value[digit])))) {
        const char c = AsciiLower(value[digit++]);
        code =
            code * (hex ? 16 : 10) + static_cast<unsigned long>(c <= '9' ? c - '0' : c - 'a' + 10);
      }
      if (digit > first) {
        AppendReferenced(out, code);
        at = digit < value.size() && value[digit] == ';' ? digit + 1 : digit;
        continue;
      }
    } else {
      while (end < value.size() && end - at <= 32 &&
             std::isalnum(static_cast<unsigned char>(value[end]))) {
        ++end;
      }
      if (end < value.size() && value[end] == ';' && end > at + 1) {
        const std::string name(value.substr(at + 1, end - at - 1));
        if (const htmlEntityDesc* entity =
                htmlEntityLookup(reinterpret_cast<const xmlChar*>(name.c_str()))) {
          AppendReferenced(out, entity->value);
          at = end + 1;
          continue;
        }
      }
    }
    out += value[at++];  // not a reference: the "&" stands for itself
  }
  return out;
}

PageScan ScanPage(std::string_view text, PageScanMode mode, const LinkFilter& wanted) {
  return Tokenizer(text, mode, wanted, {}).Run();
}

PageScan ScanPage(std::string_view text, PageScanMode mode, const LinkFilter& wanted,
                  const LinkSink& sink) {
  return Tokenizer(text, mode, wanted, sink).Run();
}

PageScan ScanStyleSheet(std::string_view text, const LinkFilter& wanted, const LinkSink& sink) {
  return Tokenizer(text, PageScanMode::kLinksOnly, wanted, sink).RunStyleSheet();
}

bool IsSkippedReference(std::string_view url) {
  for (const std::string_view scheme : {"mailto:", "tel:", "javascript:", "data:"}) {
    if (StartsWithIgnoringCase(url, scheme)) return true;
  }
  return url.empty();
}

std::string LinkUrlOf(std::string_view raw) {
  if (raw.find('&') == npos) return std::string(raw);
  const std::string decoded(TrimHtmlSpace(DecodeCharacterReferences(raw)));
  return decoded.empty() ? std::string(raw) : decoded;
}

}  // namespace quimbel
