#include "core/settings_store.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "platform/ascii.h"
#include "probe/probe_worker.h"

namespace quimbel {
namespace {

struct KnownName {
  std::string_view section, name;
};

// The names the program reads. An old profile was matched without regard
// to letter case; the store here is case-sensitive, so imported names are
// brought to the program's spelling.
constexpr KnownName kKnownNames[] = {
    {"Screen", "x"},         {"Screen", "y"},         {"Screen", "cx"},
    {"Screen", "cy"},        {"Screen", "High"},      {"Grid", "col0"},
    {"Grid", "col1"},        {"Grid", "col2"},        {"Grid", "col3"},
    {"Grid", "col4"},        {"Settings", "Filter"},  {"Settings", "Visible"},
    {"Settings", "Timeout"}, {"FileSel", "Starter"},  {"FileSel", "Function"},
    {"FileSel", "Recurse"},  {"FileSel", "AllFiles"}, {"FileSel", "Filter"},
    {"Repair", "Type"},      {"Repair", "Save"},      {"Repair", "302"},
    {"Repair", "Preserve"},  {"Repair", "Purge"},     {"Repair", "Ignore"},
    {"XportSel", "Starter"}, {"XportSel", "Text"},
};

std::string CanonicalSection(std::string_view section) {
  for (const auto& known : kKnownNames) {
    if (SameIgnoringCase(known.section, section)) return std::string(known.section);
  }
  return std::string(section);
}

std::string CanonicalName(std::string_view section, std::string_view name) {
  for (const auto& known : kKnownNames) {
    if (known.section == section && SameIgnoringCase(known.name, name)) {
      return std::string(known.name);
    }
  }
  return std::string(name);
}

}  // namespace

SettingsStore::RootState SettingsStore::OpenRoot() {
  const std::optional<bool> created = store_.OpenRoot();
  return {created.has_value(), created.value_or(false)};
}

std::optional<int> ParseLeadingInt(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsAsciiBlank(text[i]))
    ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  if (i >= text.size() || text[i] < '0' || text[i] > '9') return std::nullopt;
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = std::min<long long>(value * 10 + (text[i] - '0'), 1LL + INT_MAX);
  }
  if (negative) value = -value;
  return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

int SettingsStore::GetInt(std::string_view section, std::string_view name, int default_value) {
  const std::string text = GetString(section, name, {});
  return ParseLeadingInt(text).value_or(default_value);
}

bool SettingsStore::SetInt(std::string_view section, std::string_view name, int value) {
  return store_.Write(section, name, std::to_string(value));
}

std::string SettingsStore::GetString(std::string_view section, std::string_view name,
                                     std::string_view default_value) {
  const std::optional<std::string> stored = store_.Read(section, name);
  if (!stored || stored->size() > kMaxTextLength) return std::string(default_value);
  return *stored;
}

bool SettingsStore::SetString(std::string_view section, std::string_view name,
                              std::string_view value) {
  return store_.Write(section, name, value);
}

std::filesystem::path DefaultProfilePath() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config != nullptr && config[0] == '/') return std::filesystem::path(config) / "Quimbel.INI";
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home ? home : "") / ".config" / "Quimbel.INI";
}

void ImportProfile(ConfigStore& store, const std::filesystem::path& profile) {
  std::ifstream file(profile, std::ios::binary);
  if (!file) return;
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());

  constexpr std::size_t kPiece = 519;  // a 520-byte line buffer, its zero included
  std::optional<std::string> section;
  std::size_t at = 0;
  while (at < text.size()) {
    // One piece: up to and including a line feed, or kPiece bytes.
    std::size_t end = text.find('\n', at);
    end = end == std::string::npos ? text.size() : end + 1;
    end = std::min(end, at + kPiece);
    const std::string_view line = TrimAsciiBlanks(std::string_view(text).substr(at, end - at));
    at = end;

    const std::size_t open = line.find('[');
    const std::size_t close = line.find(']');
    if (open == 0 && close != std::string_view::npos && close == line.size() - 1) {
      std::string name(line);
      name[open] = ' ';
      name[close] = ' ';
      std::string section_name = CanonicalSection(TrimAsciiBlanks(name));
      // A section that cannot be made loses its own values, not the
      // sections after it.
      if (store.CreateSection(section_name)) {
        section = std::move(section_name);
      } else {
        section.reset();
      }
    } else if (const std::size_t equals = line.find('='); equals != std::string_view::npos) {
      // Values before the first header have no section to go to.
      if (section) {
        store.Write(*section, CanonicalName(*section, line.substr(0, equals)),
                    line.substr(equals + 1));
      }
    }
  }
}

void StartSettingsStore(SettingsStore& settings, const std::filesystem::path& profile) {
  const SettingsStore::RootState root = settings.OpenRoot();
  if (root.opened && root.created) ImportProfile(settings.store(), profile);
}

ReportFilter LoadReportFilter(SettingsStore& settings, Prompter& prompter) {
  LoadedFilter loaded = LoadFilterText(settings.Get(settings::kFilter));
  if (loaded.reset_to_default) {
    prompter.ShowMessage(std::string(kSafeDefaultMessage));
    settings.Set(settings::kFilter, loaded.filter.text());
  } else if (loaded.extended) {
    settings.Set(settings::kFilter, loaded.filter.text());
  }
  return loaded.filter;
}

}  // namespace quimbel
