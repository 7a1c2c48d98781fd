// Markdown's source text apart from its parse: cmark-gfm tells where a
// link's block stands, not where its URL is written, so each URL is found
// in the text, after the one before it. Plain functions: any thread.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quimbel::markdown {

inline constexpr std::size_t npos = std::string_view::npos;

// Where each line starts, to give an offset its line.
class Lines {
 public:
  explicit Lines(std::string_view text) : size_(text.size()) {
    starts_.push_back(0);
    for (std::size_t i = 0; i < text.size(); ++i)
      if (text[i] == '\n') starts_.push_back(i + 1);
  }
  // 1 for the first line.
  std::size_t LineOf(std::size_t offset) const {
    return static_cast<std::size_t>(std::upper_bound(starts_.begin(), starts_.end(), offset) -
                                    starts_.begin());
  }
  std::size_t Start(int line) const {
    return starts_[std::clamp<std::size_t>(line < 1 ? 0 : line - 1, 0, starts_.size() - 1)];
  }
  // Past the line's last byte, its line end included.
  std::size_t End(int line) const {
    const auto next = static_cast<std::size_t>(std::max(line, 1));
    return next < starts_.size() ? starts_[next] : size_;
  }

 private:
  std::vector<std::size_t> starts_;
  std::size_t size_;
};

bool IsBlank(char c);
// Whether the byte at `at` is escaped by the backslashes before it.
bool Escaped(std::string_view text, std::size_t at);

struct Place {
  std::size_t at = npos;      // where the URL as written begins
  std::size_t marker = npos;  // the "](" or "]:" before it
};

// A destination after "](", blanks and perhaps "<", in [from, to).
Place FindInline(std::string_view text, std::string_view written, std::size_t from, std::size_t to);
// "<url>" in [from, to), or the URL alone when `bare`.
Place FindAutolink(std::string_view text, std::string_view written, std::size_t from,
                   std::size_t to, bool bare);
// Whether `written` stands whole at `at`: "a" is not the start of "abc".
bool WholeAt(std::string_view text, std::size_t at, std::string_view written);
// A definition's URL: after "]:", blanks (one line end at most) and
// perhaps "<". For a label the page does not show as written.
Place FindDefinition(std::string_view text, std::string_view written);
// A link label as CommonMark matches it: blanks as one, case aside.
std::string NormalLabel(std::string_view label);
// Whether a link is an autolink: its text is its URL, less the "http://"
// or "mailto:" GFM puts before a bare one.
bool IsAutolink(std::string_view url, std::string_view text);

}  // namespace quimbel::markdown
