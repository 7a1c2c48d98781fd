#include "core/window_rules.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <optional>
#include <set>

#include "crawl/crawl_scope.h"
#include "platform/ascii.h"
#include "platform/text_file.h"

namespace quimbel {

Placement LoadPlacement(SettingsStore& settings, int work_width, int work_height) {
  Placement p{settings.Get(settings::kScreenX), settings.Get(settings::kScreenY),
              settings.Get(settings::kScreenCx), settings.Get(settings::kScreenCy)};
  const bool fits = p.cx > 0 && p.cy > 0 && p.x >= 0 && p.y >= 0 && p.cx <= work_width &&
                    p.x <= work_width && p.cy <= work_height && p.y <= work_height;
  if (fits) return p;
  p.cx = work_width * 3 / 4;
  p.cy = work_height * 3 / 4;
  p.x = (work_width - p.cx) / 2;
  p.y = (work_height - p.cy) / 2;
  settings.Set(settings::kScreenX, p.x);
  settings.Set(settings::kScreenY, p.y);
  settings.Set(settings::kScreenCx, p.cx);
  settings.Set(settings::kScreenCy, p.cy);
  return p;
}

void StorePlacement(SettingsStore& settings, Placement p, int work_width, int work_height) {
  settings.Set(settings::kScreenX, std::max(p.x, 0));
  settings.Set(settings::kScreenY, std::max(p.y, 0));
  settings.Set(settings::kScreenCx, std::min(p.cx, work_width));
  settings.Set(settings::kScreenCy, std::min(p.cy, work_height));
}

namespace {

std::optional<std::array<int, 5>> StoredColumnWidths(SettingsStore& settings, int client_width) {
  const int fallback = client_width * 9 / 50;
  std::array<int, 5> widths{};
  long long sum = 0;
  bool usable = true;
  for (std::size_t i = 0; i < widths.size(); ++i) {
    widths[i] = settings.GetInt(settings::kGridSection, settings::kGridColumns[i], fallback);
    usable = usable && widths[i] != 0 && widths[i] <= client_width;
    sum += widths[i];
  }
  if (usable && sum <= client_width) return widths;
  return std::nullopt;
}

}  // namespace

std::array<int, 5> LoadColumnWidths(SettingsStore& settings, int client_width) {
  if (const auto stored = StoredColumnWidths(settings, client_width)) return *stored;
  std::array<int, 5> widths{};
  widths.fill(client_width * 9 / 50);
  return widths;
}

bool HasStoredColumnWidths(SettingsStore& settings, int client_width) {
  // With nothing stored the defaults are 9/50 each, which pass the rule
  // too. Five equal widths are those defaults as a window closed before
  // its first run left them: not a choice of the user's.
  std::set<int> widths;
  for (const std::string_view name : settings::kGridColumns)
    widths.insert(settings.GetInt(settings::kGridSection, name, 0));
  if (widths.contains(0) || widths.size() == 1) return false;
  return StoredColumnWidths(settings, client_width).has_value();
}

std::array<int, 5> FitColumnWidths(const std::array<int, 5>& wanted, int room) {
  std::array<int, 5> widths{};
  for (std::size_t i = 0; i < widths.size(); ++i)
    widths[i] = std::max(wanted[i], 1);
  if (room < static_cast<int>(widths.size())) {
    widths.fill(std::max(room, 0) * 9 / 50);
    return widths;
  }
  std::array<int, 5> ascending = widths;
  std::sort(ascending.begin(), ascending.end());
  // Narrow columns keep their width while it is within an even share of
  // what is left; the others share the rest.
  long long left = room;
  int cap = ascending.back();
  for (std::size_t k = 0; k < ascending.size(); ++k) {
    const long long share = left / static_cast<long long>(ascending.size() - k);
    if (ascending[k] > share) {
      cap = static_cast<int>(share);
      break;
    }
    left -= ascending[k];
  }
  for (int& width : widths)
    width = std::min(width, cap);
  return widths;
}

void StoreColumnWidths(SettingsStore& settings, const std::array<int, 5>& widths) {
  for (std::size_t i = 0; i < widths.size(); ++i) {
    settings.SetInt(settings::kGridSection, settings::kGridColumns[i], widths[i]);
  }
}

int LoadLineColumnWidth(SettingsStore& settings, int client_width, int fallback) {
  const int stored = settings.Get(settings::kGridLineColumn);
  return stored >= 1 && stored <= client_width ? stored : fallback;
}

int UpperPaneHeight(SettingsStore& settings, int client_height) {
  // The proportion, when one is stored, fits any window size; the height
  // alone is what earlier versions kept.
  const int share = settings.Get(settings::kScreenHighShare);
  if (share >= 1 && share <= 999) return std::max(1, client_height * share / 1000);
  const int stored = settings.Get(settings::kScreenHigh);
  return stored >= 1 && stored < client_height ? stored : client_height / 2;
}

void StorePaneHeights(SettingsStore& settings, int upper, int lower) {
  settings.Set(settings::kScreenHigh, upper);
  if (upper + lower > 0) {
    settings.Set(settings::kScreenHighShare, std::clamp(upper * 1000 / (upper + lower), 1, 999));
  }
}

bool ConfirmDiscardResults(const ResultList& rows, DiscardReason reason, Prompter& prompter) {
  // Unchecked rows and repaired ones are settled: nothing is lost with them.
  const bool unsettled = std::any_of(
      rows.rows().begin(), rows.rows().end(),
      [](const ResultRow& row) { return row.checked && row.RowDone() != kRowRepaired; });
  if (!unsettled) return true;
  const std::string question =
      std::string("Not all of the bad URLs have been repaired\n\n") +
      (reason == DiscardReason::kContinue ? "Do you want to continue?" : "Do you want to quit?");
  return prompter.AskYesNo(question, MessageIcon::kQuestion);
}

void ApplyScopeInterlock(FileSelection& selection, ScopeBox clicked) {
  if (clicked == ScopeBox::kRecurse && selection.recurse) selection.all_files = true;
  if (clicked == ScopeBox::kAllFiles && !selection.all_files) selection.recurse = false;
}

std::string BrowseStartName(const std::string& starter) {
  std::string name = starter;
  if (!name.empty()) {
    const std::size_t first = name.find('/');
    const std::size_t last = name.rfind('/');
    if (first != last) name.erase(last);
    if (name.empty() || name.back() != '/') name += '/';
  }
  return name + "*.*";
}

bool IsWebAddress(std::string_view path) {
  return StartsWithIgnoringCase(path, "http://") || StartsWithIgnoringCase(path, "https://");
}

FileSelection LoadFileSelection(SettingsStore& settings, const std::string& current_folder) {
  FileSelection selection;
  selection.path = settings.Get(settings::kFileSelStarter);
  if (selection.path.empty()) selection.path = current_folder;
  selection.function = static_cast<Function>(settings.Get(settings::kFunction));
  selection.recurse = settings.Get(settings::kRecurse) != 0;
  selection.all_files = settings.Get(settings::kAllFiles) != 0;
  selection.filter = settings.Get(settings::kFileSelFilter) != 0;
  selection.site_root = settings.Get(settings::kSiteRoot);
  selection.site_url = settings.Get(settings::kSiteUrl);
  selection.resources = settings.Get(settings::kResources) != 0;
  selection.project_settings = settings.Get(settings::kProjectSettings) != 0;
  selection.web_address = settings.Get(settings::kWebAddress) != 0;
  if (selection.recurse && !selection.all_files) {
    selection.recurse = false;
    settings.Set(settings::kRecurse, 0);
  }
  return selection;
}

Theme LoadTheme(SettingsStore& settings) {
  const int stored = settings.Get(settings::kTheme);
  return stored == 1 ? Theme::kLight : stored == 2 ? Theme::kDark : Theme::kSystem;
}

std::vector<std::string> LoadRecentPaths(SettingsStore& settings) {
  std::vector<std::string> paths;
  for (const auto& key : settings::kRecentPaths) {
    std::string path = settings.Get(key);
    if (!path.empty()) paths.push_back(std::move(path));
  }
  return paths;
}

void AddRecentPath(SettingsStore& settings, const std::string& path) {
  std::vector<std::string> paths = LoadRecentPaths(settings);
  std::erase(paths, path);
  paths.insert(paths.begin(), path);
  for (std::size_t i = 0; i < std::size(settings::kRecentPaths); ++i)
    settings.Set(settings::kRecentPaths[i], i < paths.size() ? paths[i] : std::string());
}

std::vector<std::string> EditorCommand(const std::string& command, const std::string& file,
                                       std::size_t line, const char* visual, const char* editor) {
  std::string pattern = command;
  if (pattern.find_first_not_of(" \t") == std::string::npos) {
    const char* chosen = visual != nullptr && *visual != '\0'   ? visual
                         : editor != nullptr && *editor != '\0' ? editor
                                                                : nullptr;
    pattern = chosen != nullptr ? std::string(chosen) + " +%l %f" : "xdg-open %f";
  }
  std::vector<std::string> words;
  std::string word;
  bool quoted = false;
  bool in_word = false;
  for (const char c : pattern) {
    if (c == '"') {
      quoted = !quoted;
      in_word = true;
    } else if ((c == ' ' || c == '\t') && !quoted) {
      if (in_word) words.push_back(std::move(word));
      word.clear();
      in_word = false;
    } else {
      word += c;
      in_word = true;
    }
  }
  if (in_word) words.push_back(std::move(word));
  const std::string line_text = std::to_string(line > 0 ? line : 1);
  for (std::string& each : words) {
    std::string replaced;
    for (std::size_t i = 0; i < each.size(); ++i) {
      if (each[i] == '%' && i + 1 < each.size() && (each[i + 1] == 'f' || each[i + 1] == 'l')) {
        replaced += each[i + 1] == 'f' ? file : line_text;
        ++i;
      } else {
        replaced += each[i];
      }
    }
    each = std::move(replaced);
  }
  return words;
}

namespace {

void StoreFileSelectionOptions(SettingsStore& settings, const FileSelection& selection) {
  settings.Set(settings::kFunction, static_cast<int>(selection.function));
  settings.Set(settings::kRecurse, selection.recurse ? 1 : 0);
  settings.Set(settings::kAllFiles, selection.all_files ? 1 : 0);
  settings.Set(settings::kFileSelFilter, selection.filter ? 1 : 0);
  settings.Set(settings::kSiteRoot, selection.site_root);
  settings.Set(settings::kSiteUrl, selection.site_url);
  settings.Set(settings::kResources, selection.resources ? 1 : 0);
  settings.Set(settings::kProjectSettings, selection.project_settings ? 1 : 0);
  settings.Set(settings::kWebAddress, selection.web_address ? 1 : 0);
}

}  // namespace

DiskEntry LookUpPath(const std::string& path) {
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(path, error);
  if (std::filesystem::is_directory(status)) return DiskEntry::kFolder;
  if (std::filesystem::is_regular_file(status)) return DiskEntry::kFile;
  return std::filesystem::exists(status) ? DiskEntry::kOther : DiskEntry::kNone;
}

PathKind KindOfPath(std::string_view path, DiskEntry entry) {
  if (path.find_first_not_of(" \t") == std::string_view::npos) return PathKind::kEmpty;
  // Checked before the disk: "http://x" could be a folder's name, but
  // nobody types one.
  if (IsWebAddress(path)) return PathKind::kWebAddress;
  switch (entry) {
    case DiskEntry::kFile:
      return PathKind::kFile;
    case DiskEntry::kFolder:
      return PathKind::kFolder;
    case DiskEntry::kOther:
      return PathKind::kOther;
    case DiskEntry::kNone:
      break;
  }
  return PathKind::kMissing;
}

std::string PathKindNote(PathKind kind, const FileSelection& selection) {
  if (selection.web_address) {
    return kind == PathKind::kWebAddress ? "Web address: the site is crawled from here"
                                         : "Not a web address: it starts with http:// or https://";
  }
  switch (kind) {
    case PathKind::kEmpty:
      return "Type a file or folder, or Browse";
    case PathKind::kFile:
      return selection.all_files ? "File: the options above ask for a folder" : "File";
    case PathKind::kFolder:
      return selection.all_files ? "Folder" : "Folder: OK checks the files in it";
    case PathKind::kMissing:
      return "Nothing by that name";
    case PathKind::kWebAddress:
      return selection.function == Function::kTestUrls
                 ? "Web address: OK crawls the site"
                 : "Web address: comments are removed from files only";
    case PathKind::kOther:
      return "Neither a file nor a folder";
  }
  return {};
}

FileSelection FitSelectionToPath(FileSelection selection, PathKind kind) {
  if (!selection.web_address && kind == PathKind::kFolder) selection.all_files = true;
  // An address typed without the box ticked is what it says it is: a site
  // to crawl, for testing links (the other functions work on files).
  if (!selection.web_address && kind == PathKind::kWebAddress &&
      selection.function == Function::kTestUrls) {
    selection.web_address = true;
  }
  return selection;
}

bool AcceptFileSelection(SettingsStore& settings, const FileSelection& selection,
                         Prompter& prompter, StoreChoice store) {
  if (store == StoreChoice::kStore) StoreFileSelectionOptions(settings, selection);
  std::error_code error;
  if (!selection.site_root.empty() && !std::filesystem::is_directory(selection.site_root, error)) {
    prompter.ShowMessage("The site root is not a folder", MessageIcon::kExclamation);
    return false;
  }
  if (selection.web_address) {
    if (!PageKey(selection.path)) {
      prompter.ShowMessage("The web address must start with http:// or https:// and name a host",
                           MessageIcon::kExclamation);
      return false;
    }
  } else if (selection.all_files) {
    if (!std::filesystem::is_directory(selection.path, error)) {
      prompter.ShowMessage(
          "The chosen directory does not exist\n\n(Your \"Test Other Files\" choice means you "
          "should\nspecify a valid directory path, NOT a file path)",
          MessageIcon::kExclamation);
      return false;
    }
  } else if (!OpenForReading(selection.path).valid()) {
    // Only a readable regular file: a fifo or device would block the run.
    prompter.ShowMessage("The specified file does not exist", MessageIcon::kExclamation);
    return false;
  }
  if (store == StoreChoice::kStore) settings.Set(settings::kFileSelStarter, selection.path);
  return true;
}

}  // namespace quimbel
