// SplicedLine: a line rebuilt in one forward pass by cutting pieces out of
// it, as the comment purge and the repair do with HTML comments.
//
// The text at any moment is what was kept so far followed by the uncut
// rest of the line. Cutting a piece out can bring bytes together that then
// form a token ("<!<!-- x -->--" becomes "<!--"); Find() sees such tokens
// exactly as a search over the whole text would, yet every byte is looked
// at a bounded number of times, so a 200 MB line costs what 200 MB of
// short lines cost. What is kept is a list of pieces of the line, never a
// copy of it. The line must outlive the object. One thread at a time.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quimbel {

class SplicedLine {
 public:
  static constexpr std::size_t npos = std::string_view::npos;

  explicit SplicedLine(std::string_view line) : line_(line) {}

  // Positions are in the current text. The first `token` at or after
  // `from`, or npos. What is kept must hold no whole `token` at or after
  // `from`; that holds for a token that is searched for before each cut,
  // since everything kept lay before its first occurrence.
  std::size_t Find(std::string_view token, std::size_t from = 0) const;
  // Whether `token` begins in what is kept and ends in the rest: only a cut
  // can have made such a token.
  bool SpansCut(std::string_view token) const;

  // Removes [begin, end) from the text; `end` must not lie inside what is
  // kept.
  void Cut(std::size_t begin, std::size_t end);
  // Removes everything from `at` on.
  void Truncate(std::size_t at);

  bool empty() const { return kept_size_ == 0 && pos_ >= line_.size(); }
  // Where the uncut rest starts in the original line.
  std::size_t rest_begin() const { return pos_; }
  std::string_view rest() const { return line_.substr(pos_); }

  // The whole current text, as one string or piece by piece.
  std::string Text() const;
  template <typename Write>
  void ForEachPiece(Write write) const {
    for (const Piece& piece : kept_)
      write(line_.substr(piece.begin, piece.end - piece.begin));
    if (pos_ < line_.size()) write(rest());
  }

 private:
  struct Piece {
    std::size_t begin, end;  // in the line
  };
  // The first `token` that starts in what is kept, at or after `from`, and
  // runs on into the rest; npos if none.
  std::size_t FindAcrossCut(std::string_view token, std::size_t from) const;
  // The last `count` kept bytes (fewer when less is kept).
  std::string KeptTail(std::size_t count) const;

  std::string_view line_;
  std::vector<Piece> kept_;
  std::size_t kept_size_ = 0;
  std::size_t pos_ = 0;
};

}  // namespace quimbel
