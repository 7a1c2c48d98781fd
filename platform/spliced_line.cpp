#include "platform/spliced_line.h"

#include <algorithm>

namespace quimbel {
namespace {

// Where in `joint` (the last bytes of kept() from `start`, then the first
// bytes of the rest) `token` starts before `limit`, or npos.
std::size_t FindStartingBefore(const std::string& joint, std::string_view token,
                               std::size_t limit) {
  const std::size_t at = joint.find(token);
  return at < limit ? at : std::string::npos;
}

}  // namespace

bool SplicedLine::SpansCut(std::string_view token) const {
  if (token.size() < 2 || kept_.empty()) return false;
  const std::size_t start = kept_.size() - std::min(kept_.size(), token.size() - 1);
  const std::string joint = kept_.substr(start) + std::string(rest().substr(0, token.size() - 1));
  return FindStartingBefore(joint, token, kept_.size() - start) != npos;
}

std::size_t SplicedLine::Find(std::string_view token, std::size_t from) const {
  if (token.empty()) return std::min(from, kept_.size() + line_.size() - pos_);
  if (from < kept_.size()) {
    // Only the last bytes of kept() can begin a token, one that runs on
    // into the rest.
    const std::size_t start =
        std::max(from, kept_.size() - std::min(kept_.size(), token.size() - 1));
    const std::string joint = kept_.substr(start) + std::string(rest().substr(0, token.size() - 1));
    const std::size_t at = FindStartingBefore(joint, token, kept_.size() - start);
    if (at != npos) return start + at;
    from = kept_.size();
  }
  const std::size_t at = rest().find(token, from - kept_.size());
  return at == npos ? npos : kept_.size() + at;
}

void SplicedLine::Cut(std::size_t begin, std::size_t end) {
  const std::size_t kept = kept_.size();
  if (begin < kept) {
    kept_.resize(begin);
  } else {
    kept_.append(line_.substr(pos_, begin - kept));
  }
  pos_ = std::min(line_.size(), pos_ + (end - kept));
}

void SplicedLine::Truncate(std::size_t at) {
  Cut(at, kept_.size() + line_.size() - pos_);
}

std::string SplicedLine::Text() const {
  std::string text;
  text.reserve(kept_.size() + line_.size() - pos_);
  text += kept_;
  text += rest();
  return text;
}

}  // namespace quimbel
