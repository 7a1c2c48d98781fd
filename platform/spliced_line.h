// SplicedLine: a line rebuilt in one forward pass by cutting pieces out of
// it, as the comment purge and the repair do with HTML comments.
//
// The text at any moment is kept() followed by the uncut rest of the line.
// Cutting a piece out can bring bytes together that then form a token
// ("<!<!-- x -->--" becomes "<!--"); Find() sees such tokens exactly as a
// search over the whole text would, yet every byte is looked at a bounded
// number of times, so a 200 MB line costs what 200 MB of short lines cost.
// One thread at a time.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quimbel {

class SplicedLine {
 public:
  static constexpr std::size_t npos = std::string_view::npos;

  explicit SplicedLine(std::string_view line) : line_(line) {}

  // Positions are in the current text. The first `token` at or after
  // `from`, or npos. kept() must hold no whole `token` at or after `from`;
  // that holds for a token that is searched for before each cut, since
  // everything kept lay before its first occurrence.
  std::size_t Find(std::string_view token, std::size_t from = 0) const;
  // Whether `token` begins in kept() and ends in the rest: only a cut can
  // have made such a token.
  bool SpansCut(std::string_view token) const;

  // Removes [begin, end) from the text; `end` must not lie inside kept().
  void Cut(std::size_t begin, std::size_t end);
  // Removes everything from `at` on.
  void Truncate(std::size_t at);

  bool empty() const { return kept_.empty() && pos_ >= line_.size(); }
  std::size_t kept_size() const { return kept_.size(); }
  // Where the uncut rest starts in the original line.
  std::size_t rest_begin() const { return pos_; }
  std::string_view rest() const { return line_.substr(pos_); }
  // The whole current text.
  std::string Text() const;

 private:
  std::string_view line_;
  std::string kept_;
  std::size_t pos_ = 0;
};

}  // namespace quimbel
