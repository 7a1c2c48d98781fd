// SettingsStore: every persistent setting, as text values in sections of a
// ConfigStore. Integers are stored as decimal text and read back the way
// "%d" reads ("12abc" is 12, "abc" is the default). A stored text longer
// than 259 bytes reads as missing. Each call goes to the store: nothing is
// cached, so a value written is the value the next read sees.
// User-interface thread only.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "core/report_filter.h"
#include "core/settings_keys.h"
#include "platform/config_store.h"
#include "platform/prompter.h"

namespace quimbel {

class SettingsStore {
 public:
  // The longest text a read returns; longer ones give the default.
  static constexpr std::size_t kMaxTextLength = 259;

  explicit SettingsStore(ConfigStore& store) : store_(store) {}

  struct RootState {
    bool opened = false;
    bool created = false;  // the root did not exist before
  };
  RootState OpenRoot();

  int GetInt(std::string_view section, std::string_view name, int default_value);
  bool SetInt(std::string_view section, std::string_view name, int value);
  std::string GetString(std::string_view section, std::string_view name,
                        std::string_view default_value);
  bool SetString(std::string_view section, std::string_view name, std::string_view value);

  int Get(const IntSetting& s) { return GetInt(s.section, s.name, s.default_value); }
  bool Set(const IntSetting& s, int value) { return SetInt(s.section, s.name, value); }
  std::string Get(const TextSetting& s) { return GetString(s.section, s.name, s.default_value); }
  bool Set(const TextSetting& s, std::string_view value) {
    return SetString(s.section, s.name, value);
  }

  ConfigStore& store() { return store_; }

 private:
  ConfigStore& store_;
};

// Reads an integer the way "%d" does: optional blanks, an optional sign, at
// least one digit; digits beyond the int range saturate.
std::optional<int> ParseLeadingInt(std::string_view text);

// The old profile file taken over on the very first start:
// $XDG_CONFIG_HOME/Quimbel.INI, else ~/.config/Quimbel.INI.
std::filesystem::path DefaultProfilePath();

// Copies the sections and values of an old profile file into the store.
// The file is read in pieces of at most 519 bytes (a longer line gives
// several pieces); lines before the first "[Section]" header are ignored,
// and a header whose section cannot be made loses only its own values, not
// the sections after it. Section and value names that differ from the
// program's own only in letter case are stored under the program's
// spelling. A missing file imports nothing.
void ImportProfile(ConfigStore& store, const std::filesystem::path& profile);

// Start-up: opens the root and, only when it was created just now, imports
// the old profile.
void StartSettingsStore(SettingsStore& settings, const std::filesystem::path& profile);

// The report filter to use: "Settings"/"Filter", or, when that text has the
// wrong length, the default after telling the user and writing it back.
ReportFilter LoadReportFilter(SettingsStore& settings, Prompter& prompter);

}  // namespace quimbel
