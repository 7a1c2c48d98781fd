// MemoryConfigStore: a ConfigStore held in memory, for tests and for runs
// that must not touch the user's settings. Can be told to refuse writes.
// User-interface thread only, as every ConfigStore.
#pragma once

#include <map>
#include <set>
#include <string>
#include <utility>

#include "platform/config_store.h"

namespace quimbel {

class MemoryConfigStore : public ConfigStore {
 public:
  std::optional<bool> OpenRoot() override {
    const bool created = !root_exists;
    root_exists = true;
    return created;
  }

  std::optional<std::string> Read(std::string_view section, std::string_view name) override {
    const auto found = values.find({std::string(section), std::string(name)});
    if (found == values.end()) return std::nullopt;
    return found->second;
  }

  bool Write(std::string_view section, std::string_view name, std::string_view value) override {
    if (read_only || !CreateSection(section)) return false;
    values[{std::string(section), std::string(name)}] = std::string(value);
    return true;
  }

  bool CreateSection(std::string_view section) override {
    if (read_only || !IsValidSectionName(section)) return false;
    sections.insert(std::string(section));
    return true;
  }

  bool root_exists = false;
  bool read_only = false;
  std::set<std::string> sections;
  std::map<std::pair<std::string, std::string>, std::string> values;
};

}  // namespace quimbel
