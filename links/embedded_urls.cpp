#include "links/embedded_urls.h"

#include "links/link_roles.h"
#include "platform/ascii.h"
#include "platform/utf8.h"

namespace quimbel {
namespace {

constexpr auto npos = std::string_view::npos;

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int HexValue(char c) {
  return c <= '9' ? c - '0' : AsciiLower(c) - 'a' + 10;
}

// CSS's name letters: a function's name is one run of them.
bool IsCssNameLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_' || static_cast<unsigned char>(c) >= 0x80;
}

bool IsCssSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

// Reads the escape whose backslash is at `at` into `out`; where reading
// goes on. Up to six hex digits and one blank after them name a code
// point (none, a surrogate or one past Unicode reads as U+FFFD); any
// other letter stands for itself.
std::size_t ReadCssEscape(std::string_view css, std::size_t at, std::string& out) {
  std::size_t next = at + 1;
  if (next >= css.size()) {
    AppendUtf8(out, U'\uFFFD');
    return next;
  }
  if (!IsHexDigit(css[next])) {
    out += css[next];
    return next + 1;
  }
  char32_t code = 0;
  const std::size_t first = next;
  while (next < css.size() && next - first < 6 && IsHexDigit(css[next]))
    code = code * 16 + static_cast<char32_t>(HexValue(css[next++]));
  if (next < css.size() && css[next] == '\r' && next + 1 < css.size() && css[next + 1] == '\n') {
    next += 2;
  } else if (next < css.size() && IsCssSpace(css[next])) {
    ++next;
  }
  if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = U'\uFFFD';
  AppendUtf8(out, code);
  return next;
}

class CssScanner {
 public:
  CssScanner(std::string_view css, const EmbeddedUrlSink& sink) : css_(css), sink_(sink) {}

  void Run() {
    // @import's string is a URL; any other string is not.
    bool after_import = false;
    while (at_ < css_.size()) {
      const char c = css_[at_];
      if (c == '/' && at_ + 1 < css_.size() && css_[at_ + 1] == '*') {
        const std::size_t end = css_.find("*/", at_ + 2);
        at_ = end == npos ? css_.size() : end + 2;
      } else if (c == '"' || c == '\'') {
        const std::size_t begin = at_ + 1;
        std::string read;
        const bool good = String(c, read);
        if (after_import && good) Emit(begin, at_ - 1, std::move(read));
        after_import = false;
      } else if (c == '\\') {
        std::string ignored;
        at_ = ReadCssEscape(css_, at_, ignored);
        after_import = false;
      } else if (IsCssNameLetter(c) || c == '@') {
        const std::size_t begin = at_;
        ++at_;
        while (at_ < css_.size() && IsCssNameLetter(css_[at_]))
          ++at_;
        const std::string_view name = css_.substr(begin, at_ - begin);
        if (at_ < css_.size() && css_[at_] == '(' && SameIgnoringCase(name, "url")) {
          ++at_;
          Url();
          after_import = false;
        } else {
          after_import = SameIgnoringCase(name, "@import");
        }
      } else {
        if (!IsCssSpace(c)) after_import = false;
        ++at_;
      }
    }
  }

 private:
  // A string whose opening quote is at at_; reading goes on after it. False
  // for a bad string: a line break before the closing quote.
  bool String(char quote, std::string& read) {
    ++at_;
    while (at_ < css_.size()) {
      const char c = css_[at_];
      if (c == quote) {
        ++at_;
        return true;
      }
      if (c == '\n' || c == '\r' || c == '\f') return false;
      if (c == '\\') {
        if (at_ + 1 < css_.size() && (css_[at_ + 1] == '\n' || css_[at_ + 1] == '\f')) {
          at_ += 2;  // an escaped line break continues the string
        } else if (at_ + 1 < css_.size() && css_[at_ + 1] == '\r') {
          at_ += at_ + 2 < css_.size() && css_[at_ + 2] == '\n' ? 3 : 2;
        } else {
          at_ = ReadCssEscape(css_, at_, read);
        }
        continue;
      }
      read += c;
      ++at_;
    }
    return true;  // the end of the text closes a string
  }

  // The argument of url( at at_: a string, or the unquoted URL token.
  void Url() {
    while (at_ < css_.size() && IsCssSpace(css_[at_]))
      ++at_;
    if (at_ < css_.size() && (css_[at_] == '"' || css_[at_] == '\'')) {
      const std::size_t begin = at_ + 1;
      std::string read;
      if (String(css_[at_], read)) Emit(begin, at_ - 1, std::move(read));
      return;
    }
    const std::size_t begin = at_;
    std::string read;
    while (at_ < css_.size()) {
      const char c = css_[at_];
      if (c == ')') {
        Emit(begin, at_, std::move(read));
        ++at_;
        return;
      }
      if (IsCssSpace(c)) {
        const std::size_t end = at_;
        while (at_ < css_.size() && IsCssSpace(css_[at_]))
          ++at_;
        if (at_ >= css_.size() || css_[at_] == ')') {
          Emit(begin, end, std::move(read));
          if (at_ < css_.size()) ++at_;
        } else {
          BadUrl();
        }
        return;
      }
      if (c == '"' || c == '\'' || c == '(' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
        BadUrl();
        return;
      }
      if (c == '\\') {
        at_ = ReadCssEscape(css_, at_, read);
        continue;
      }
      read += c;
      ++at_;
    }
    Emit(begin, at_, std::move(read));  // the end of the text closes it
  }

  // A bad URL is no URL: skipped up to its ")", escapes included.
  void BadUrl() {
    while (at_ < css_.size() && css_[at_] != ')') {
      if (css_[at_] == '\\' && at_ + 1 < css_.size()) ++at_;
      ++at_;
    }
    if (at_ < css_.size()) ++at_;
  }

  void Emit(std::size_t begin, std::size_t end, std::string read) {
    if (read.empty()) return;
    sink_(EmbeddedUrl{css_.substr(begin, end - begin), std::move(read), begin});
  }

  std::string_view css_;
  const EmbeddedUrlSink& sink_;
  std::size_t at_ = 0;
};

}  // namespace

void ForEachSrcsetUrl(std::string_view value, const EmbeddedUrlSink& sink) {
  std::size_t at = 0;
  while (at < value.size()) {
    while (at < value.size() && (IsHtmlSpace(value[at]) || value[at] == ','))
      ++at;
    if (at >= value.size()) return;
    const std::size_t begin = at;
    while (at < value.size() && !IsHtmlSpace(value[at]))
      ++at;
    std::size_t end = at;
    const bool ends_candidate = value[end - 1] == ',';
    while (end > begin && value[end - 1] == ',')
      --end;
    if (end > begin) {
      const std::string_view url = value.substr(begin, end - begin);
      sink(EmbeddedUrl{url, std::string(url), begin});
    }
    if (ends_candidate) continue;
    // The descriptors, up to the comma that ends the candidate; one inside
    // parentheses does not.
    bool in_parens = false;
    for (; at < value.size(); ++at) {
      const char c = value[at];
      if (in_parens) {
        in_parens = c != ')';
      } else if (c == '(') {
        in_parens = true;
      } else if (c == ',') {
        ++at;
        break;
      }
    }
  }
}

void ForEachRefreshUrl(std::string_view content, const EmbeddedUrlSink& sink) {
  std::size_t at = 0;
  const auto skip_blanks = [&] {
    while (at < content.size() && IsHtmlSpace(content[at]))
      ++at;
  };
  skip_blanks();
  const std::size_t time = at;
  while (at < content.size() && ((content[at] >= '0' && content[at] <= '9') || content[at] == '.'))
    ++at;
  if (at == time) return;  // no time: no refresh at all
  skip_blanks();
  if (at < content.size() && (content[at] == ';' || content[at] == ',')) ++at;
  skip_blanks();
  if (at >= content.size()) return;
  if (StartsWithIgnoringCase(content.substr(at), "url")) {
    std::size_t after = at + 3;
    while (after < content.size() && IsHtmlSpace(content[after]))
      ++after;
    if (after < content.size() && content[after] == '=') {
      ++after;
      while (after < content.size() && IsHtmlSpace(content[after]))
        ++after;
      at = after;
    }
  }
  std::size_t end = content.size();
  if (at < content.size() && (content[at] == '"' || content[at] == '\'')) {
    const std::size_t close = content.find(content[at], at + 1);
    ++at;
    if (close != npos) end = close;
  }
  while (end > at && IsHtmlSpace(content[end - 1]))
    --end;
  if (end <= at) return;
  const std::string_view url = content.substr(at, end - at);
  sink(EmbeddedUrl{url, std::string(url), at});
}

void ForEachCssUrl(std::string_view css, const EmbeddedUrlSink& sink) {
  CssScanner(css, sink).Run();
}

}  // namespace quimbel
