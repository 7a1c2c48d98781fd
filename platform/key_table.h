// KeyTable: distinct strings (URLs, page keys) numbered 0, 1, 2, ... in the
// order they were first added, each held once, end to end, in blocks that
// never move. A crawl of a million pages looks its URLs up in three
// places; as std::string keys of hash maps each would cost a node, a heap
// block and a bucket, over a hundred bytes beyond its characters. Here a
// key costs its characters, a view and two slots of a flat table.
//
// The views key() gives stay valid until Clear() or the table's end.
// Not thread-safe: each thread keeps its own table.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace quimbel {

class KeyTable {
 public:
  using Id = std::uint32_t;

  // The number of `key`, added when new (then `second` is true).
  std::pair<Id, bool> Add(std::string_view key);
  std::optional<Id> Find(std::string_view key) const;
  bool Contains(std::string_view key) const { return Find(key).has_value(); }
  std::string_view key(Id id) const { return keys_[id]; }
  std::size_t size() const { return keys_.size(); }
  void Clear();

 private:
  // The slot where `key` is, or the empty one where it would go.
  std::size_t SlotOf(std::string_view key, std::size_t hash) const;
  void Grow();
  std::string_view Store(std::string_view key);

  std::vector<std::string_view> keys_;
  std::vector<std::uint32_t> hashes_;  // each key's hash, to grow without hashing again
  std::vector<Id> slots_;              // id + 1; 0 is empty
  std::vector<std::unique_ptr<char[]>> blocks_;
  std::size_t block_left_ = 0;
  char* block_end_ = nullptr;
};

}  // namespace quimbel
