// SettingsFileReader: the window's stored settings, read without Qt, so that
// the command line (and the package that carries it alone) need not load Qt
// to honour them. The window writes the file through QSettings, in Qt's INI
// format; this reads the same text the same way: sections in brackets with
// [General] at the top level, %XX and %UXXXX escapes and "\" for "/" in
// keys, quoted values, C escapes, ";" comments, and lists at unquoted commas,
// read back joined by ",". Values of other Qt types read as empty text.
// It never writes. Any thread once made: it reads only what it holds.
#pragma once

#include <map>
#include <string>
#include <string_view>

#include "platform/config_store.h"

namespace quimbel {

// Where QSettings keeps the settings of organisation "Marrowfen",
// application "Quimbel": Marrowfen/Quimbel.conf under $XDG_CONFIG_HOME, or
// under ~/.config when that is unset or empty.
std::string UserSettingsFile();

// The keys and values of the text of a settings file: "Section/Name" to text.
std::map<std::string, std::string, std::less<>> ParseSettingsText(std::string_view text);

class SettingsFileReader : public ConfigStore {
 public:
  // The file is read once, here; a missing or unreadable file holds nothing.
  explicit SettingsFileReader(std::string file = UserSettingsFile());

  const std::string& file() const { return file_; }

  std::optional<bool> OpenRoot() override { return false; }
  std::optional<std::string> Read(std::string_view section, std::string_view name) override;
  bool Write(std::string_view, std::string_view, std::string_view) override { return false; }
  bool CreateSection(std::string_view) override { return false; }

 private:
  std::string file_;
  std::map<std::string, std::string, std::less<>> values_;
};

}  // namespace quimbel
