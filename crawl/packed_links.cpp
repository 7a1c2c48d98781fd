#include "crawl/packed_links.h"

#include <algorithm>
#include <cstdint>

namespace quimbel {
namespace {

// Each link: its target, URL and anchor text (each a length then its
// bytes), its line and offset, its kind and whether it is a resource. The
// target comes first, for PackedTargets to read alone.
void PutNumber(std::string& out, std::uint64_t value) {
  do {
    const auto low = static_cast<unsigned char>(value & 0x7F);
    value >>= 7;
    out.push_back(static_cast<char>(value != 0 ? low | 0x80 : low));
  } while (value != 0);
}

void PutText(std::string& out, std::string_view text) {
  PutNumber(out, text.size());
  out.append(text);
}

std::uint64_t TakeNumber(std::string_view& in) {
  std::uint64_t value = 0;
  for (int shift = 0; !in.empty() && shift < 64; shift += 7) {
    const auto byte = static_cast<unsigned char>(in.front());
    in.remove_prefix(1);
    value |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
    if ((byte & 0x80) == 0) break;
  }
  return value;
}

std::string_view TakeText(std::string_view& in) {
  const std::uint64_t size = TakeNumber(in);
  const std::string_view text = in.substr(0, size);
  in.remove_prefix(text.size());
  return text;
}

}  // namespace

std::string PackLinks(const LinkLists& lists) {
  std::string out;
  for (std::size_t i = 0; i < lists.urls.size(); ++i) {
    PutText(out, i < lists.targets.size() ? std::string_view(lists.targets[i]) : "");
    PutText(out, lists.urls[i]);
    PutText(out, lists.anchors[i]);
    PutNumber(out, lists.lines[i]);
    PutNumber(out, lists.offsets[i]);
    out.push_back(static_cast<char>(lists.kinds[i]));
    out.push_back(lists.resources[i] ? 1 : 0);
  }
  // Held while the page waits for its turn: what it grew by is let go, or
  // the waiting pages would hold up to twice the budget they are kept to.
  out.shrink_to_fit();
  return out;
}

LinkLists UnpackLinks(std::string_view packed) {
  LinkLists lists;
  while (!packed.empty()) {
    lists.targets.emplace_back(TakeText(packed));
    lists.urls.emplace_back(TakeText(packed));
    lists.anchors.emplace_back(TakeText(packed));
    lists.lines.push_back(TakeNumber(packed));
    lists.offsets.push_back(TakeNumber(packed));
    lists.kinds.push_back(static_cast<LinkKind>(packed.empty() ? 0 : packed.front()));
    lists.resources.push_back(packed.size() > 1 && packed[1] != 0);
    lists.local.push_back(0);
    packed.remove_prefix(std::min<std::size_t>(2, packed.size()));
  }
  return lists;
}

std::string PackTexts(const std::unordered_set<std::string>& texts) {
  std::string out;
  for (const std::string& text : texts)
    PutText(out, text);
  return out;
}

bool PackedTextsContain(std::string_view packed, std::string_view text) {
  while (!packed.empty()) {
    if (TakeText(packed) == text) return true;
  }
  return false;
}

bool PackedTargets::Next(std::string_view& target, bool& resource) {
  if (rest_.empty()) return false;
  target = TakeText(rest_);
  TakeText(rest_);
  TakeText(rest_);
  TakeNumber(rest_);
  TakeNumber(rest_);
  resource = rest_.size() > 1 && rest_[1] != 0;
  rest_.remove_prefix(std::min<std::size_t>(2, rest_.size()));
  return true;
}

}  // namespace quimbel
