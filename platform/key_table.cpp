#include "platform/key_table.h"

#include <cstring>
#include <functional>
#include <limits>
#include <stdexcept>

namespace quimbel {
namespace {

constexpr std::size_t kBlockBytes = std::size_t{1} << 20;

std::uint32_t HashOf(std::string_view key) {
  const std::size_t hash = std::hash<std::string_view>{}(key);
  return static_cast<std::uint32_t>(hash ^ (hash >> 32));
}

}  // namespace

std::size_t KeyTable::SlotOf(std::string_view key, std::size_t hash) const {
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
    const Id slot = slots_[at];
    if (slot == 0) return at;
    if (hashes_[slot - 1] == hash && keys_[slot - 1] == key) return at;
  }
}

std::optional<KeyTable::Id> KeyTable::Find(std::string_view key) const {
  if (slots_.empty()) return std::nullopt;
  const Id slot = slots_[SlotOf(key, HashOf(key))];
  if (slot == 0) return std::nullopt;
  return slot - 1;
}

std::pair<KeyTable::Id, bool> KeyTable::Add(std::string_view key) {
  // Kept at most half full, so that a lookup seldom looks past two slots.
  if ((keys_.size() + 1) * 2 > slots_.size()) Grow();
  const std::uint32_t hash = HashOf(key);
  const std::size_t at = SlotOf(key, hash);
  if (slots_[at] != 0) return {slots_[at] - 1, false};
  if (keys_.size() >= std::numeric_limits<Id>::max() - 1)
    throw std::length_error("too many keys for one table");
  const Id id = static_cast<Id>(keys_.size());
  keys_.push_back(Store(key));
  hashes_.push_back(hash);
  slots_[at] = id + 1;
  return {id, true};
}

std::string_view KeyTable::Store(std::string_view key) {
  if (key.empty()) return {};
  // A key longer than a block gets a block of its own.
  if (key.size() > block_left_) {
    const std::size_t size = std::max(kBlockBytes, key.size());
    blocks_.push_back(std::make_unique<char[]>(size));
    block_end_ = blocks_.back().get();
    block_left_ = size;
  }
  std::memcpy(block_end_, key.data(), key.size());
  const std::string_view kept(block_end_, key.size());
  block_end_ += key.size();
  block_left_ -= key.size();
  return kept;
}

void KeyTable::Grow() {
  std::vector<Id> slots(std::max<std::size_t>(16, slots_.size() * 2), 0);
  const std::size_t mask = slots.size() - 1;
  for (Id id = 0; id < keys_.size(); ++id) {
    std::size_t at = hashes_[id] & mask;
    while (slots[at] != 0)
      at = (at + 1) & mask;
    slots[at] = id + 1;
  }
  slots_ = std::move(slots);
}

void KeyTable::Clear() {
  keys_.clear();
  keys_.shrink_to_fit();
  hashes_.clear();
  hashes_.shrink_to_fit();
  slots_.clear();
  slots_.shrink_to_fit();
  blocks_.clear();
  block_left_ = 0;
  block_end_ = nullptr;
}

}  // namespace quimbel
