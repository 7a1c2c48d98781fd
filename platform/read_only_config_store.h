// ReadOnlyConfigStore: reads through to another store and drops every
// write, for runs (a command line in a script) that use the user's stored
// choices but must never change them. The thread of the store it reads, as every ConfigStore.
#pragma once

#include "platform/config_store.h"

namespace quimbel {

class ReadOnlyConfigStore : public ConfigStore {
 public:
  explicit ReadOnlyConfigStore(ConfigStore& store) : store_(store) {}
  std::optional<bool> OpenRoot() override { return false; }
  std::optional<std::string> Read(std::string_view section, std::string_view name) override {
    return store_.Read(section, name);
  }
  bool Write(std::string_view, std::string_view, std::string_view) override { return false; }
  bool CreateSection(std::string_view) override { return false; }

 private:
  ConfigStore& store_;
};

}  // namespace quimbel
