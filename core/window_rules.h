// The rules behind the main window's remembered layout and the file
// selection's check boxes: plain functions, so they are tested without a
// window. User-interface thread only where a store is involved.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "core/result_list.h"
#include "core/settings_store.h"
#include "platform/prompter.h"

namespace quimbel {

struct Placement {
  int x = 0, y = 0, cx = 0, cy = 0;
  bool operator==(const Placement&) const = default;
};

// The stored placement when it fits the work area (cx, cy > 0; x, y >= 0;
// x and cx at most the width, y and cy at most the height); otherwise three
// quarters of the work area, centred, which is stored at once.
Placement LoadPlacement(SettingsStore& settings, int work_width, int work_height);

// A moved or resized (not minimised) window: x and y no less than 0, cx and
// cy no more than the work area; stored.
void StorePlacement(SettingsStore& settings, Placement placement, int work_width, int work_height);

// The five column widths: the stored ones when each is non-zero and at
// most the list's client width and their sum is too; else all width*9/50.
std::array<int, 5> LoadColumnWidths(SettingsStore& settings, int client_width);
void StoreColumnWidths(SettingsStore& settings, const std::array<int, 5>& widths);
// Whether widths of the user's are stored and pass that rule: if not, the
// list's columns may be fitted to their content once it has some. Five
// equal widths count as none: they are the defaults a window left behind.
bool HasStoredColumnWidths(SettingsStore& settings, int client_width);
// Widths for columns whose content wants `wanted` pixels in `room`
// pixels: all of it when it fits; else the widest columns are cut to one
// common width so the sum fits, the narrow ones keeping theirs. Each is at
// least 1, so the result passes the stored-width rule and is kept as it
// is by the next start.
std::array<int, 5> FitColumnWidths(const std::array<int, 5>& wanted, int room);
// The "Line" column's width: the stored one when it is from 1 to the
// list's width, else `fallback`.
int LoadLineColumnWidth(SettingsStore& settings, int client_width, int fallback);

// The results pane's height: the stored share of the client height when
// there is one, else the stored "High" when from 1 to less than the client
// height, else half of it.
int UpperPaneHeight(SettingsStore& settings, int client_height);
// Stores the panes' heights: "High" and the share.
void StorePaneHeights(SettingsStore& settings, int upper, int lower);

enum class DiscardReason { kContinue, kQuit };

// Before a new selection or quitting: when a row is left that is checked
// and not yet repaired, the user is asked. True when the caller may go on.
// The list is left as it is either way: a new run clears it as it starts,
// so a selection cancelled afterwards loses nothing.
bool ConfirmDiscardResults(const ResultList& rows, DiscardReason reason, Prompter& prompter);

// What a run does with the selected files.
enum class Function : int { kTestUrls = 0, kRemoveComments = 1 };

// The file selection's values and its check-box interlock.
struct FileSelection {
  std::string path;
  Function function = Function::kTestUrls;
  bool all_files = false;
  bool recurse = false;
  bool filter = false;
  // Local links: where root-relative links lead (empty: the folder tested),
  // the site's own URL, and whether what pages load is checked.
  std::string site_root = {};
  std::string site_url = {};
  bool resources = true;
  // A quimbel.toml in the folder tested or above it counts for the run.
  bool project_settings = false;
  // The path is a live site's address: its pages are crawled.
  bool web_address = false;
  bool operator==(const FileSelection&) const = default;
};
enum class ScopeBox { kAllFiles, kRecurse };
// Whether a path as typed is a web address ("http://..." or "https://...",
// any letter case) rather than a file or folder.
bool IsWebAddress(std::string_view path);
// After a click on `clicked` (the box has already toggled itself): recurse
// implies all files.
void ApplyScopeInterlock(FileSelection& selection, ScopeBox clicked);

// The file picker's initial name, built from the stored "Starter": cut
// before its last "/" when it has more than one, end it with "/", then
// "*.*".
std::string BrowseStartName(const std::string& starter);

// The dialog's opening values: "FileSel", the current folder for an empty
// "Starter", and a stored recurse without all files cleared (and stored).
FileSelection LoadFileSelection(SettingsStore& settings, const std::string& current_folder);

// What stands on disk at a path, and what a path in the File Selection
// names given that: the disk is asked once, the rule stays a plain function.
enum class DiskEntry { kNone, kFile, kFolder, kOther };
DiskEntry LookUpPath(const std::string& path);
enum class PathKind { kEmpty, kFile, kFolder, kMissing, kWebAddress, kOther };
PathKind KindOfPath(std::string_view path, DiskEntry entry);
// The short line under the path field: what the path is and, where the
// options do not fit it, what OK will do.
std::string PathKindNote(PathKind kind, const FileSelection& selection);
// The values OK runs with: a folder named while the options ask for a
// file is checked as a folder (its other files, sub-folders as chosen); a
// web address typed without the Web address box is crawled as one.
FileSelection FitSelectionToPath(FileSelection selection, PathKind kind);

// Whether a run's choice becomes the File Selection's next opening values:
// yes for the dialog's OK; no for a drop or a Recent entry, which say
// nothing about what the user wants the dialog to hold.
enum class StoreChoice { kStore, kKeep };

// OK in the dialog: stores the four options, then checks the path. The
// path to run, or nothing after telling the user why not (the option
// values stay stored, "Starter" only changes for a path that exists).
bool AcceptFileSelection(SettingsStore& settings, const FileSelection& selection,
                         Prompter& prompter, StoreChoice store = StoreChoice::kStore);

// View > Theme: the desktop's colours, or Fusion in light or dark. A
// stored value outside the three is the desktop's.
enum class Theme : int { kSystem = 0, kLight = 1, kDark = 2 };
Theme LoadTheme(SettingsStore& settings);

// File > Recent, newest first, without empty entries.
std::vector<std::string> LoadRecentPaths(SettingsStore& settings);
// Puts `path` first; an older entry of it goes, and the ninth drops off.
void AddRecentPath(SettingsStore& settings, const std::string& path);

// The program and arguments that open `file` at `line` in the user's
// editor. `command` is the Preferences field: words apart by blanks (a
// word may be in double quotes), %f the file and %l the line. Empty, it is
// `visual` or else `editor` (the environment's) followed by "+%l %f", or
// without either, the desktop's default application (xdg-open, no line).
std::vector<std::string> EditorCommand(const std::string& command, const std::string& file,
                                       std::size_t line, const char* visual, const char* editor);

}  // namespace quimbel
