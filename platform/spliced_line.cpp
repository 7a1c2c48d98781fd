#include "platform/spliced_line.h"

#include <algorithm>

namespace quimbel {

std::string SplicedLine::KeptTail(std::size_t count) const {
  std::string tail;
  for (auto piece = kept_.rbegin(); piece != kept_.rend() && tail.size() < count; ++piece) {
    const std::size_t take = std::min(count - tail.size(), piece->end - piece->begin);
    tail.insert(0, line_.substr(piece->end - take, take));
  }
  return tail;
}

std::size_t SplicedLine::FindAcrossCut(std::string_view token, std::size_t from) const {
  // Only the last bytes of what is kept can begin a token that runs on
  // into the rest.
  const std::size_t start = std::max(from, kept_size_ - std::min(kept_size_, token.size() - 1));
  if (start >= kept_size_) return npos;
  const std::string tail = KeptTail(kept_size_ - start);
  const std::string joint = tail + std::string(rest().substr(0, token.size() - 1));
  const std::size_t at = joint.find(token);
  return at != std::string::npos && at < tail.size() ? start + at : npos;
}

bool SplicedLine::SpansCut(std::string_view token) const {
  return !token.empty() && FindAcrossCut(token, 0) != npos;
}

std::size_t SplicedLine::Find(std::string_view token, std::size_t from) const {
  if (token.empty()) return std::min(from, kept_size_ + line_.size() - pos_);
  if (from < kept_size_) {
    if (const std::size_t at = FindAcrossCut(token, from); at != npos) return at;
    from = kept_size_;
  }
  const std::size_t at = rest().find(token, from - kept_size_);
  return at == npos ? npos : kept_size_ + at;
}

void SplicedLine::Cut(std::size_t begin, std::size_t end) {
  const std::size_t kept = kept_size_;
  if (begin < kept) {
    // The cut starts inside what is kept: drop its last bytes.
    std::size_t drop = kept - begin;
    while (drop > 0) {
      Piece& last = kept_.back();
      const std::size_t take = std::min(drop, last.end - last.begin);
      last.end -= take;
      drop -= take;
      if (last.begin == last.end) kept_.pop_back();
    }
    kept_size_ = begin;
  } else if (begin > kept) {
    const Piece piece{pos_, pos_ + (begin - kept)};
    if (!kept_.empty() && kept_.back().end == piece.begin) {
      kept_.back().end = piece.end;
    } else {
      kept_.push_back(piece);
    }
    kept_size_ = begin;
  }
  pos_ = std::min(line_.size(), pos_ + (end - kept));
}

void SplicedLine::Truncate(std::size_t at) {
  Cut(at, kept_size_ + line_.size() - pos_);
}

std::string SplicedLine::Text() const {
  std::string text;
  text.reserve(kept_size_ + line_.size() - pos_);
  ForEachPiece([&text](std::string_view piece) { text += piece; });
  return text;
}

}  // namespace quimbel
