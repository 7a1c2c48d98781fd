// ConfigStore: the hierarchical key/value store the settings live in. One
// root for the program, sections below it, text values in the sections.
// Implementations: QSettingsConfigStore (the real one) and MemoryConfigStore
// (tests). User-interface thread only.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quimbel {

class ConfigStore {
 public:
  virtual ~ConfigStore() = default;

  // Creates the root when it is missing. Nothing when it cannot be opened
  // or created; otherwise whether it was created just now.
  virtual std::optional<bool> OpenRoot() = 0;

  // The stored text, or nothing when the section or the value is missing.
  virtual std::optional<std::string> Read(std::string_view section, std::string_view name) = 0;

  // Stores the text, creating the section when needed; false when it could
  // not be stored.
  virtual bool Write(std::string_view section, std::string_view name, std::string_view value) = 0;

  // Makes sure a section of that name can be written; false when no such
  // section can be made (an empty name, a path separator in it, a name over
  // 255 bytes, a store that cannot be written).
  virtual bool CreateSection(std::string_view section) = 0;
};

// The section names every store accepts.
inline bool IsValidSectionName(std::string_view section) {
  return !section.empty() && section.size() <= 255 &&
         section.find_first_of("/\\") == std::string_view::npos;
}

}  // namespace quimbel
