#include "links/markdown_text.h"

#include <cwctype>

#include "links/markdown_links.h"
#include "platform/ascii.h"
#include "platform/thread_locale.h"
#include "platform/utf8.h"

#include <re2/re2.h>

namespace quimbel {
namespace markdown {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Whether the byte at `at` is escaped by the backslashes before it.
bool Escaped(std::string_view text, std::size_t at) {
  std::size_t slashes = 0;
  while (at > slashes && text[at - slashes - 1] == '\\')
    ++slashes;
  return slashes % 2 == 1;
}

// A destination after "](", blanks and perhaps "<", in [from, to).
Place FindInline(std::string_view text, std::string_view written, std::size_t from,
                 std::size_t to) {
  for (std::size_t q = text.find("](", from); q != npos && q < to; q = text.find("](", q + 1)) {
    std::size_t p = q + 2;
    while (p < to && IsBlank(text[p]))
      ++p;
    const bool angled = p < to && text[p] == '<';
    p += angled ? 1 : 0;
    // The whole destination: "a" is not the start of "abc".
    const std::size_t after = p + written.size();
    const bool ends =
        after >= to || (angled ? text[after] == '>' : IsBlank(text[after]) || text[after] == ')');
    if (after <= to && ends && text.substr(p, written.size()) == written) return {p, q};
  }
  return {};
}

// "<url>" in [from, to), or the URL alone when `bare`.
Place FindAutolink(std::string_view text, std::string_view written, std::size_t from,
                   std::size_t to, bool bare) {
  for (std::size_t p = text.find(written, from); p != npos && p + written.size() <= to;
       p = text.find(written, p + 1)) {
    const bool angled = p > 0 && text[p - 1] == '<' && p + written.size() < text.size() &&
                        text[p + written.size()] == '>';
    if (angled != bare) return {p, npos};
  }
  return {};
}

// Whether `written` stands whole at `at`: "a" is not the start of "abc".
bool WholeAt(std::string_view text, std::size_t at, std::string_view written) {
  const std::size_t after = at + written.size();
  return text.substr(at, written.size()) == written &&
         (after >= text.size() || IsBlank(text[after]) || text[after] == '>');
}

// A definition's URL: after "]:", blanks (one line end at most) and
// perhaps "<". For a label the page does not show as written.
Place FindDefinition(std::string_view text, std::string_view written) {
  for (std::size_t p = text.find(written); p != npos; p = text.find(written, p + 1)) {
    if (!WholeAt(text, p, written)) continue;
    std::size_t q = p;
    if (q > 0 && text[q - 1] == '<') --q;
    int line_ends = 0;
    while (q > 0 && IsBlank(text[q - 1]) && line_ends <= 1)
      line_ends += text[--q] == '\n';
    if (line_ends <= 1 && q >= 2 && text.substr(q - 2, 2) == "]:") return {p, q - 2};
  }
  return {};
}

// A link label as CommonMark matches it: blanks as one, case aside.
std::string NormalLabel(std::string_view label) {
  std::string normal;
  for (const char c : label) {
    if (IsBlank(c)) {
      if (!normal.empty() && normal.back() != ' ') normal += ' ';
    } else {
      normal += AsciiLower(c);
    }
  }
  if (!normal.empty() && normal.back() == ' ') normal.pop_back();
  return normal;
}

// Whether a link is an autolink: its text is its URL, less the "http://"
// or "mailto:" GFM puts before a bare one.
bool IsAutolink(std::string_view url, std::string_view text) {
  for (const std::string_view added : {"", "http://", "mailto:"}) {
    if (url.size() == added.size() + text.size() && url.starts_with(added) && url.ends_with(text)) {
      return true;
    }
  }
  return false;
}

}  // namespace markdown

namespace {

using markdown::npos;

// Lower case for any letter whatever the process's locale, made before any
// thread starts (making a locale reads the environment).
const Utf8Locale kCaseLocale;

// Decodes UTF-8; a byte that starts no character stands for U+FFFD.
std::u32string DecodeUtf8(std::string_view text) {
  std::u32string out;
  for (std::size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const int extra = byte < 0x80 ? 0 : byte >= 0xF0 ? 3 : byte >= 0xE0 ? 2 : byte >= 0xC0 ? 1 : -1;
    char32_t code = extra == 0   ? byte
                    : extra == 1 ? byte & 0x1F
                    : extra == 2 ? byte & 0x0F
                                 : byte & 0x07;
    bool valid = extra >= 0 && i + static_cast<std::size_t>(extra) < text.size();
    for (int k = 1; valid && k <= extra; ++k) {
      const auto next = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
      valid = (next & 0xC0) == 0x80;
      code = (code << 6) | (next & 0x3F);
    }
    if (!valid || code > 0x10FFFF) {
      out += U'\uFFFD';
      ++i;
      continue;
    }
    out += code;
    i += static_cast<std::size_t>(extra) + 1;
  }
  return out;
}

}  // namespace

bool IsMarkdownPath(std::string_view path) {
  const std::size_t slash = path.find_last_of('/');
  const std::string_view name = slash == npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.rfind('.');
  if (dot == npos || dot == 0) return false;
  const std::string_view extension = name.substr(dot + 1);
  return SameIgnoringCase(extension, "md") || SameIgnoringCase(extension, "markdown");
}

std::string HeadingSlug(std::string_view text) {
  std::string lower;
  for (const char32_t code : DecodeUtf8(text)) {
    const wint_t folded =
        kCaseLocale.get() != static_cast<locale_t>(nullptr)
            ? towlower_l(static_cast<wint_t>(code), kCaseLocale.get())
            : static_cast<wint_t>(code < 0x80 ? AsciiLower(static_cast<char>(code)) : code);
    AppendUtf8(lower, static_cast<char32_t>(folded));
  }
  static const RE2 kDropped(R"([^\p{L}\p{M}\p{N}\p{Pc} -])");
  RE2::GlobalReplace(&lower, kDropped, "");
  std::replace(lower.begin(), lower.end(), ' ', '-');
  return lower;
}

std::vector<MarkdownLinkSpan> MarkdownLineSpans(std::string_view line) {
  static const RE2 kDefinition(R"(^ {0,3}\[((?:[^\]\\]|\\.)+)\]:)");
  std::string label;
  std::string read(line);
  if (RE2::PartialMatch(read, kDefinition, &label)) read += "\n\n[" + label + "]\n";
  std::vector<MarkdownLinkSpan> spans = MarkdownLinkSpans(read);
  std::erase_if(spans, [&](const MarkdownLinkSpan& span) { return span.end > line.size(); });
  return spans;
}

bool OpensDefinition(std::string_view line) {
  static const RE2 kOpening(R"(^ {0,3}\[(?:[^\]\\]|\\.)+\]:[ \t]*\r?$)");
  return RE2::FullMatch(line, kOpening);
}

}  // namespace quimbel
