// Every stored value of the program: its section, its name and the value a
// read gives when nothing (usable) is stored. Constants; any thread.
#pragma once

#include <string_view>

#include "core/report_filter.h"

namespace quimbel {

struct IntSetting {
  std::string_view section;
  std::string_view name;
  int default_value;
};

struct TextSetting {
  std::string_view section;
  std::string_view name;
  std::string_view default_value;
};

namespace settings {

// Main window placement and the results pane's height.
inline constexpr IntSetting kScreenX{"Screen", "x", 0};
inline constexpr IntSetting kScreenY{"Screen", "y", 0};
inline constexpr IntSetting kScreenCx{"Screen", "cx", 0};
inline constexpr IntSetting kScreenCy{"Screen", "cy", 0};
inline constexpr IntSetting kScreenHigh{"Screen", "High", 0};
// The upper pane's share of the two, in thousandths (0: none stored), so a
// pane set in a maximised window keeps its proportion in a normal one; and
// whether the window was maximised when it was last closed.
inline constexpr IntSetting kScreenHighShare{"Screen", "HighShare", 0};
inline constexpr IntSetting kScreenMaximized{"Screen", "Maximized", 0};
// View > Keep Checking: the pages of each test of files watched after it.
inline constexpr IntSetting kKeepChecking{"View", "KeepChecking", 0};

// Column widths "col0" to "col4"; their default depends on the list's width.
inline constexpr std::string_view kGridSection = "Grid";
inline constexpr std::string_view kGridColumns[] = {"col0", "col1", "col2", "col3", "col4"};
// The "Line" column's width, apart from the five: it came later, and a
// stored set of five widths keeps its meaning.
inline constexpr IntSetting kGridLineColumn{"Grid", "col5", 0};

inline constexpr TextSetting kFilter{"Settings", "Filter", kDefaultFilter};
inline constexpr IntSetting kVisible{"Settings", "Visible", 0};
inline constexpr IntSetting kTimeout{"Settings", "Timeout", 15};
// What probes call themselves; empty: Quimbel's own name and version.
inline constexpr TextSetting kUserAgent{"Settings", "UserAgent", ""};
// Links probed at once (1 to 256), and of those at most how many to one
// host (1 to 256).
inline constexpr IntSetting kParallelProbes{"Settings", "ParallelProbes", 32};
inline constexpr IntSetting kPerHost{"Settings", "PerHost", 8};
// Requests at once on one HTTP/2 connection (1 to 1000).
inline constexpr IntSetting kStreams{"Settings", "Streams", 100};
// Moves followed to see where a moved link ends (0 to 50; 0: one request).
inline constexpr IntSetting kMaxRedirects{"Settings", "MaxRedirects", 10};
// Requests started per second to one host (0 to 10000; 0: no limit).
inline constexpr IntSetting kRatePerHost{"Settings", "RatePerHost", 0};
// Whether the window keeps other sites' link outcomes for a day, in the
// user's cache folder.
inline constexpr IntSetting kLinkCache{"Settings", "LinkCache", 0};
// Whether each test records its rows, to mark those new since the last run
// of the same folder or site.
inline constexpr IntSetting kHistory{"Settings", "History", 1};
// Link rules: exclude and include patterns one a line, accepted codes.
inline constexpr TextSetting kExclude{"Settings", "Exclude", ""};
inline constexpr TextSetting kInclude{"Settings", "Include", ""};
inline constexpr TextSetting kAccept{"Settings", "Accept", ""};
// https: a certificate authority file (PEM) trusted beside the system's,
// and whether certificates go unchecked (unsafe; for a test server).
inline constexpr TextSetting kCaFile{"Settings", "CaFile", ""};
inline constexpr IntSetting kInsecure{"Settings", "Insecure", 0};
// Whether a crawl requests what the site's robots.txt disallows (for an
// author's own site).
inline constexpr IntSetting kIgnoreRobots{"Settings", "IgnoreRobots", 0};
// Whether an anchor on another site's page is looked for in that page.
inline constexpr IntSetting kCheckFragments{"Settings", "CheckFragments", 0};
// The window's colours: 0 the desktop's, 1 light, 2 dark.
inline constexpr IntSetting kTheme{"Settings", "Theme", 0};

inline constexpr TextSetting kFileSelStarter{"FileSel", "Starter", ""};
inline constexpr IntSetting kFunction{"FileSel", "Function", 0};
inline constexpr IntSetting kRecurse{"FileSel", "Recurse", 0};
inline constexpr IntSetting kAllFiles{"FileSel", "AllFiles", 0};
inline constexpr IntSetting kFileSelFilter{"FileSel", "Filter", 0};
inline constexpr TextSetting kSiteRoot{"FileSel", "SiteRoot", ""};
inline constexpr TextSetting kSiteUrl{"FileSel", "SiteUrl", ""};
inline constexpr IntSetting kResources{"FileSel", "Resources", 1};
inline constexpr IntSetting kProjectSettings{"FileSel", "ProjectSettings", 0};
// The path is the address of a live site, crawled, rather than a file or folder.
inline constexpr IntSetting kWebAddress{"FileSel", "WebAddress", 0};
// File > Recent: the last paths checked, newest first.
inline constexpr TextSetting kRecentPaths[] = {{"Recent", "Path1", ""}, {"Recent", "Path2", ""},
                                               {"Recent", "Path3", ""}, {"Recent", "Path4", ""},
                                               {"Recent", "Path5", ""}, {"Recent", "Path6", ""},
                                               {"Recent", "Path7", ""}, {"Recent", "Path8", ""}};
// "Open Page at Line": a command with %f (the page) and %l (the line).
inline constexpr TextSetting kEditorCommand{"Settings", "Editor", ""};

inline constexpr IntSetting kRepairType{"Repair", "Type", 0};
inline constexpr IntSetting kRepairSave{"Repair", "Save", 1};
inline constexpr IntSetting kRepair302{"Repair", "302", 1};
inline constexpr IntSetting kRepairPreserve{"Repair", "Preserve", 1};
inline constexpr IntSetting kRepairPurge{"Repair", "Purge", 0};
inline constexpr IntSetting kRepairIgnore{"Repair", "Ignore", 1};

inline constexpr TextSetting kExportStarter{"XportSel", "Starter", "results.txt"};
inline constexpr IntSetting kExportText{"XportSel", "Text", 0};

}  // namespace settings
}  // namespace quimbel
