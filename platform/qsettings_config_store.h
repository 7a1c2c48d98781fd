// QSettingsConfigStore: the settings in the user's configuration folder, in
// Qt's native format (on Linux the file Marrowfen/Quimbel.conf under
// $XDG_CONFIG_HOME, default ~/.config). Every call opens the file afresh and
// writes through at once, so there is no cache to go stale.
// User-interface thread only. Qt stays inside the .cpp.
#pragma once

#include <string>

#include "platform/config_store.h"

namespace quimbel {

class QSettingsConfigStore : public ConfigStore {
 public:
  // The store of organisation "Marrowfen", application "Quimbel".
  QSettingsConfigStore();
  // A store in the given file (tests).
  explicit QSettingsConfigStore(std::string file);

  const std::string& file() const { return file_; }

  std::optional<bool> OpenRoot() override;
  std::optional<std::string> Read(std::string_view section, std::string_view name) override;
  bool Write(std::string_view section, std::string_view name, std::string_view value) override;
  bool CreateSection(std::string_view section) override;

 private:
  std::string file_;
};

}  // namespace quimbel
