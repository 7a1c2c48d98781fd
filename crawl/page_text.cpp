#include "crawl/page_text.h"

#include <iconv.h>

#include <cerrno>
#include <cstdint>

#include "platform/ascii.h"

namespace quimbel {
namespace {

// The value after "charset=" in `text` (lower case), up to a quote, blank
// or ";".
std::string CharsetAfter(std::string_view text) {
  const std::string lowered = AsciiLowered(std::string(text));
  const std::size_t at = lowered.find("charset=");
  if (at == std::string::npos) return {};
  std::string_view value = std::string_view(lowered).substr(at + 8);
  while (!value.empty() && (value.front() == '"' || value.front() == '\''))
    value.remove_prefix(1);
  return std::string(value.substr(0, value.find_first_of("\"'; \t\r\n>/")));
}

}  // namespace

std::string DeclaredCharset(std::string_view content_type, std::string_view body) {
  // As browsers sniff: a byte order mark first, then the Content-Type,
  // then a <meta> early in the page.
  if (body.starts_with("\xEF\xBB\xBF")) return "utf-8";
  // iconv's "utf-16" reads the mark, either way round, and drops it.
  if (body.starts_with("\xFE\xFF") || body.starts_with("\xFF\xFE")) return "utf-16";
  std::string charset = CharsetAfter(content_type);
  if (!charset.empty()) return charset;
  // <meta charset="..."> and <meta http-equiv content="...; charset=...">
  // both say "charset=" early in the page.
  const std::string_view head = body.substr(0, 1024);
  const std::string lowered = AsciiLowered(std::string(head));
  const std::size_t meta = lowered.find("<meta");
  if (meta == std::string::npos) return {};
  charset = CharsetAfter(std::string_view(lowered).substr(meta));
  // A page that can say so in ASCII letters is no UTF-16 page: such a
  // <meta> means UTF-8, as the HTML standard has it.
  if (charset.starts_with("utf-16")) return "utf-8";
  if (charset == "x-user-defined") return "windows-1252";
  return charset;
}

std::string PageTextUtf8(std::string body, std::string_view content_type) {
  const std::string charset = DeclaredCharset(content_type, body);
  if (charset.empty() || charset == "utf-8" || charset == "utf8" || charset == "us-ascii") {
    return body;
  }
  iconv_t convert = iconv_open("UTF-8", charset.c_str());
  // iconv_open's failure is the handle -1.
  if (reinterpret_cast<std::intptr_t>(convert) == -1) return body;
  std::string text(body.size() * 2 + 16, '\0');
  char* in = body.data();
  std::size_t in_left = body.size();
  char* out = text.data();
  std::size_t out_left = text.size();
  bool ok = true;
  while (in_left > 0) {
    if (iconv(convert, &in, &in_left, &out, &out_left) != static_cast<std::size_t>(-1)) continue;
    if (errno != E2BIG) {
      ok = false;
      break;
    }
    const std::size_t used = text.size() - out_left;
    text.resize(text.size() * 2);
    out = text.data() + used;
    out_left = text.size() - used;
  }
  iconv_close(convert);
  if (!ok) return body;
  text.resize(text.size() - out_left);
  return text;
}

}  // namespace quimbel
