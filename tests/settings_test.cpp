#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <numeric>
#include <string>
#include <tuple>

#include "core/row_order.h"
#include "core/run_options.h"
#include "core/settings_store.h"
#include "core/window_rules.h"
#include "crawl/result_cache.h"
#include "platform/memory_config_store.h"
#include "platform/qsettings_config_store.h"
#include "platform/settings_file.h"
#include "tests/recording_prompter.h"
#include "tests/temp_folder.h"

namespace quimbel {
namespace {

// The same behaviour is asked of both stores.
class SettingsStoreTest : public ::testing::TestWithParam<bool> {
 protected:
  testing::TempFolder folder_;
  std::unique_ptr<ConfigStore> backing_ =
      GetParam() ? std::unique_ptr<ConfigStore>(
                       std::make_unique<QSettingsConfigStore>((folder_.path() / "q.conf").string()))
                 : std::make_unique<MemoryConfigStore>();
};

// Where neither command line nor config file says, a run takes the stored preferences: a number
// out of range as its default, a code list nobody could type as none, patterns one a line.
TEST(StoredRunOptions, ARunFallsBackToWhatPreferencesStored) {
  MemoryConfigStore backing;
  SettingsStore store(backing);
  store.Set(settings::kAccept, " 429 , 500-599");
  store.Set(settings::kExclude, "a\n\n  \nb\r\n");
  store.Set(settings::kInclude, "keep");
  store.Set(settings::kParallelProbes, 999);
  store.Set(settings::kPerHost, 0);
  store.Set(settings::kRatePerHost, 5);
  store.Set(settings::kIgnoreRobots, 1);
  store.Set(settings::kCheckFragments, 1);
  store.Set(settings::kInsecure, 1);
  RunOptions o = StoredRunOptions(store);
  EXPECT_EQ(o.accept, (std::vector<CodeRange>{{429, 429}, {500, 599}}));
  EXPECT_EQ(o.exclude, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(o.include, (std::vector<std::string>{"keep"}));
  EXPECT_EQ(
      std::tuple(o.parallel, o.per_host, o.rate),
      std::tuple(settings::kParallelProbes.default_value, settings::kPerHost.default_value, 5));
  EXPECT_EQ(std::tuple(o.crawl.obey_robots, o.local.check_fragments, o.insecure, o.cache_file),
            std::tuple(false, true, true, ""));
  store.Set(settings::kAccept, "4O4");
  store.Set(settings::kLinkCache, 1);
  o = StoredRunOptions(store);
  EXPECT_TRUE(o.accept.empty());
  EXPECT_EQ(o.cache_file, DefaultStoreFile());
}

TEST_P(SettingsStoreTest, ValuesRoundTripAsText) {
  SettingsStore store(*backing_);
  EXPECT_EQ(store.Get(settings::kExportStarter), "results.txt");  // a default until written
  // Each text stored, and the number read back with default 99.
  const std::pair<const char*, int> cases[] = {
      {"abc", 99},   {"-5", -5}, {"", 99},  {"-99999999999", INT_MIN}, {"-", 99},
      {"12abc", 12}, {" 7", 7},  {"+3", 3}, {"99999999999", INT_MAX},
  };
  for (const auto& [stored, expected] : cases) {
    ASSERT_TRUE(store.SetString("Settings", "Timeout", stored));
    EXPECT_EQ(store.GetInt("Settings", "Timeout", 99), expected) << stored;
  }
  ASSERT_TRUE(store.SetInt("Screen", "x", -5));
  EXPECT_EQ(store.GetString("Screen", "x", "none"), "-5");
  // 259 bytes fit the read buffer; 260 and 300 read as missing.
  for (std::size_t length : {259u, 260u, 300u}) {
    store.SetString("FileSel", "Starter", std::string(length, 'p'));
    EXPECT_EQ(store.GetString("FileSel", "Starter", "d"),
              length <= 259 ? std::string(length, 'p') : "d");
  }
  // Texts that an INI file treats specially come back as they went in.
  for (const char* text : {"a,b,c", "x=y;z", "\"quoted\"", "[section]", " padded ", "/a\\b"}) {
    store.SetString("XportSel", "Starter", text);
    EXPECT_EQ(store.GetString("XportSel", "Starter", ""), text);
  }
}

// A header that cannot be made loses only its own values; a missing profile does no harm.
TEST_P(SettingsStoreTest, FirstStartImportsTheOldProfileOnce) {
  const std::string profile =
      folder_.Write("Quimbel.INI",
                    "x=5\r\n[Settings]\r\nTimeout=30\r\n[]\r\nVisible=1\r\n[a/b]\r\nX=1\r\n[" +
                        std::string(300, 's') +
                        "]\r\nY=1\r\n  [ FileSel ]  \r\nStarter= /site/index.htm\r\n"
                        "[Repair] extra\r\nType=2\r\n[settings]\nfilter=01\nnoequals\n" +
                        std::string(600, 'k') + "=v\n[Grid]\ncol0=" + std::string(530, '7') + "\n");
  SettingsStore store(*backing_);
  StartSettingsStore(store, profile);
  EXPECT_EQ(store.GetString("Settings", "Timeout", ""), "30");
  EXPECT_EQ(store.GetString("Screen", "x", "absent"), "absent");  // before any header
  EXPECT_EQ(store.GetInt("Settings", "Visible", 0), 0);
  EXPECT_EQ(store.GetString("FileSel", "Starter", ""), " /site/index.htm");
  EXPECT_EQ(store.GetString("Repair", "Type", "absent"), "absent");  // "[Repair] extra": no header
  EXPECT_EQ(store.GetString("FileSel", "Type", ""), "2");
  EXPECT_EQ(store.GetString("Settings", "Filter", ""), "01");  // another letter case lands on ours
  // A 530-byte line comes as two pieces: "col0=" and 519 - 5 sevens, then the rest, with no "=".
  EXPECT_EQ(backing_->Read("Grid", "col0").value_or("").size(), 514u);
  folder_.Write("Quimbel.INI", "[Settings]\nTimeout=45\n");  // later starts leave the profile alone
  StartSettingsStore(store, profile);
  EXPECT_EQ(store.GetString("Settings", "Timeout", ""), "30");
  StartSettingsStore(store, folder_.path() / "none.INI");
}

TEST_P(SettingsStoreTest, FilterOfTheWrongLengthIsResetWithAMessage) {
  SettingsStore store(*backing_);
  const std::string safe(kDefaultFilter);
  const std::string extended = std::string(43, '0') + safe.substr(43);  // an old, short one
  // The text stored (none when empty), the filter loaded, and whether it was reset.
  const std::tuple<std::string, std::string, bool> cases[] = {
      {"", safe, false},
      {std::string(72, '1'), std::string(72, '1'), false},
      {std::string(42, '1'), safe, true},
      {std::string(43, '0'), extended, false},
  };
  for (const auto& [stored, loaded, reset] : cases) {
    SCOPED_TRACE(stored);
    if (!stored.empty()) store.Set(settings::kFilter, stored);
    testing::RecordingPrompter prompter;
    EXPECT_EQ(LoadReportFilter(store, prompter).text(), loaded);
    EXPECT_EQ(prompter.messages,
              std::vector<std::string>(reset ? 1 : 0, "Setting Filter Codes to Safe Default"));
    // A filter changed on loading is stored so; none stored stays none.
    EXPECT_EQ(store.GetString("Settings", "Filter", "none"), stored.empty() ? "none" : loaded);
  }
}

INSTANTIATE_TEST_SUITE_P(Stores, SettingsStoreTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "QSettings" : "Memory"; });

// Outside its option's range a stored number means the option's default, which the help names.
TEST(StoredNumber, OutOfTheOptionsRangeMeansItsDefault) {
  // The option, the number stored, and the number a run takes.
  const std::tuple<const char*, int, int> cases[] = {
      {"parallel", 64, 64},      {"parallel", 0, 32}, {"parallel", 257, 32},
      {"per-host", 1, 1},        {"per-host", -3, 8}, {"max-redirects", 0, 0},
      {"max-redirects", 51, 10}, {"rate", 0, 0},      {"rate", 10001, 0},
  };
  MemoryConfigStore store;
  SettingsStore settings(store);
  for (const auto& [name, stored, expected] : cases) {
    const OptionSpec& option = *FindOption(name);
    ASSERT_NE(option.stored_number, nullptr) << name;
    settings.Set(*option.stored_number, stored);
    EXPECT_EQ(StoredNumber(settings, name), expected) << name << " " << stored;
    const std::string named = "(default " + std::to_string(option.stored_number->default_value);
    if (option.help.find("{default}") != std::string_view::npos) {
      EXPECT_NE(ExpandedHelp(option, "").find(named), std::string::npos) << name;
    }
  }
}

TEST(QSettingsConfigStore, LivesUnderXdgConfigHomeAndFailsQuietly) {
  testing::TempFolder folder;
  ::setenv("XDG_CONFIG_HOME", folder.path().c_str(), 1);
  QSettingsConfigStore store;
  EXPECT_EQ(store.file(), (folder.path() / "Marrowfen" / "Quimbel.conf").string());
  EXPECT_EQ(store.OpenRoot(), true);
  EXPECT_EQ(store.OpenRoot(), false);
  EXPECT_TRUE(std::filesystem::exists(store.file()));
  EXPECT_TRUE(store.Write("FileSel", "Filter", "1"));
  EXPECT_EQ(UserSettingsFile(), store.file());  // the command line finds the same file, without Qt
  EXPECT_EQ(SettingsFileReader().Read("FileSel", "Filter"), "1");
  QSettingsConfigStore blocked("/proc/quimbel/none.conf");  // nothing can be made there
  EXPECT_EQ(blocked.OpenRoot(), std::nullopt);
  EXPECT_FALSE(blocked.Write("Settings", "Timeout", "3"));
  EXPECT_EQ(SettingsStore(blocked).Get(settings::kTimeout), 15);
}

// The command line reads the window's settings without Qt; QSettings judges what texts mean.
TEST(SettingsFileReader, ReadsWhatQSettingsReads) {
  testing::TempFolder folder;
  const std::string written = (folder.path() / "written.conf").string();
  QSettingsConfigStore qt_store(written);
  int i = 0;
  for (const std::string value :
       {"", "1", "plain", " lead", "trail ", "*.html, *.htm", "a;b", "x=y", "\"quoted\"",
        "back\\slash", "tab\tline\nfeed\rreturn", "@at", "@@two", "@ByteArray(x)",
        "\u00e9t\u00e9 \u65e5\u672c", "\x01\x7f\x39", "/home/u/My Site/index.html"}) {
    const std::string section = "Section " + std::to_string(i++);
    ASSERT_TRUE(qt_store.Write(section, "Name", value));
    EXPECT_EQ(SettingsFileReader(written).Read(section, "Name"), value) << section;
  }
  // Files as an author might edit them by hand, and the section and name read; then Filter lines.
  std::vector<std::tuple<std::string, std::string, std::string>> cases = {
      {"; note\n[FileSel]\r\nFilter=1 ; why\r\nOther=2\r\n", "FileSel", "Filter"},
      {"[S]\nk=1\n[T]\nk=3\n[S]\nk=2\n", "S", "k"},
      {"[S]\n   spaced key   =  v  \n", "S", "spaced key"},
      {"\xEF\xBB\xBF[S]\nk=bom\n", "S", "k"},
      {"[general]\nTop=1\n[%General]\nk=2\n", "General", "k"},
      {"[general]\nTop=1\n", "general", "Top"},
      {"[S]\nk=\"a\" b  \n", "S", "k"},
      {"[S]\n\"x=y\"=1\n", "S", "\"x=y\""},
      {"[A%20B]\nk%3D=1\n", "A B", "k="},
      {"[A]\nB\\C=1\n", "A", "B/C"},
      {"[A\\B]\nC=1\n", "A", "B/C"},
      {"[S]\nk\n[S]\n=x\nk=ok\n", "S", "k"},
      {"[S]\nmissing=1\n", "S", "k"},
      {"[S\nk=1\n", "S", "k"},
  };
  for (const char* value :
       {" = a, b ,c", "=\"a, b\"  \"c\" ", "=x\\\ny", "=\"one\ntwo\"", "=\\x41\\102\\q\\x",
        "=@Invalid()", "=@Size(1 2)", "=@@x, y", "=a, @Rect(1 2 3 4)", "=,"})
    cases.emplace_back("[FileSel]\nFilter" + std::string(value) + "\n", "FileSel", "Filter");
  for (const auto& [text, section, name] : cases) {
    const std::string file = folder.Write("edited.conf", text);
    EXPECT_EQ(SettingsFileReader(file).Read(section, name),
              QSettingsConfigStore(file).Read(section, name))
        << text;
  }
  EXPECT_EQ(SettingsFileReader((folder.path() / "none.conf").string()).Read("S", "k"),
            std::nullopt);
}

class WindowRulesTest : public ::testing::Test {
 protected:
  MemoryConfigStore store_;
  SettingsStore settings_{store_};
};

// What the window opens with: its placement, column widths, pane heights and theme.
TEST_F(WindowRulesTest, PlacementWidthsPanesAndTheme) {
  // First start on a 1024 x 738 work area: 768 x 553 at 128, 92, stored.
  EXPECT_EQ(LoadPlacement(settings_, 1024, 738), (Placement{128, 92, 768, 553}));
  EXPECT_EQ(settings_.Get(settings::kScreenX), 128);
  EXPECT_EQ(settings_.Get(settings::kScreenCy), 553);
  // A stored placement, and whether it is used.
  const std::pair<Placement, bool> cases[] = {
      {{1500, 10, 400, 300}, false}, {{10, 10, 400, 300}, true}, {{0, 0, 1280, 1024}, true},
      {{-1, 10, 400, 300}, false},   {{10, 10, 0, 300}, false},  {{10, 10, 1281, 300}, false},
      {{10, 1025, 400, 300}, false},
  };
  for (const auto& [stored, used] : cases) {
    settings_.Set(settings::kScreenX, stored.x);
    settings_.Set(settings::kScreenY, stored.y);
    settings_.Set(settings::kScreenCx, stored.cx);
    settings_.Set(settings::kScreenCy, stored.cy);
    EXPECT_EQ(LoadPlacement(settings_, 1280, 1024) == stored, used) << stored.x;
  }
  StorePlacement(settings_, {-20, -5, 3000, 900}, 1280, 1024);  // kept on the work area
  EXPECT_EQ(LoadPlacement(settings_, 1280, 1024), (Placement{0, 0, 1280, 900}));
  EXPECT_FALSE(HasStoredColumnWidths(settings_, 1000));  // none yet
  EXPECT_EQ(LoadColumnWidths(settings_, 450), (std::array<int, 5>{81, 81, 81, 81, 81}));
  StoreColumnWidths(settings_, {100, 100, 100, 100, 100});
  EXPECT_EQ(LoadColumnWidths(settings_, 450), (std::array<int, 5>{81, 81, 81, 81, 81}));
  EXPECT_EQ(LoadColumnWidths(settings_, 500), (std::array<int, 5>{100, 100, 100, 100, 100}));
  StoreColumnWidths(settings_, {0, 100, 100, 100, 100});
  EXPECT_EQ(LoadColumnWidths(settings_, 1000)[1], 180);
  EXPECT_EQ(LoadLineColumnWidth(settings_, 1000, 70), 70);  // the Line column's own width
  settings_.Set(settings::kGridLineColumn, 90);
  EXPECT_EQ(LoadLineColumnWidth(settings_, 1000, 70), 90);
  EXPECT_EQ(LoadLineColumnWidth(settings_, 80, 70), 70);
  StoreColumnWidths(settings_, {100, 100, 100, 100, 100});
  EXPECT_EQ(LoadColumnWidths(settings_, 500)[2], 100);
  // Only widths the user left count as stored: not the defaults (five alike), nor rejected ones.
  EXPECT_FALSE(HasStoredColumnWidths(settings_, 500));
  StoreColumnWidths(settings_, {140, 100, 90, 100, 60});
  EXPECT_TRUE(HasStoredColumnWidths(settings_, 500));
  EXPECT_FALSE(HasStoredColumnWidths(settings_, 450));
  EXPECT_EQ(UpperPaneHeight(settings_, 601), 300);
  settings_.Set(settings::kScreenHigh, 250);
  EXPECT_EQ(UpperPaneHeight(settings_, 600), 250);
  settings_.Set(settings::kScreenHigh, 600);
  EXPECT_EQ(UpperPaneHeight(settings_, 600), 300);
  StorePaneHeights(settings_, 850, 150);  // set maximised: in a normal window, no sliver of a log
  EXPECT_EQ(settings_.Get(settings::kScreenHigh), 850);
  EXPECT_EQ(UpperPaneHeight(settings_, 453), 385);
  // A theme the program does not know is the desktop's.
  const std::pair<const char*, Theme> themes[] = {{"0", Theme::kSystem},  {"1", Theme::kLight},
                                                  {"2", Theme::kDark},    {"3", Theme::kSystem},
                                                  {"-1", Theme::kSystem}, {"dark", Theme::kSystem}};
  EXPECT_EQ(LoadTheme(settings_), Theme::kSystem);
  for (const auto& [stored, theme] : themes) {
    settings_.SetString("Settings", "Theme", stored);
    EXPECT_EQ(LoadTheme(settings_), theme) << stored;
  }
}

TEST(FitColumnWidths, NarrowColumnsKeepTheirsAndTheWidestShareTheRest) {
  // The widths wanted, the room, and the widths fitted.
  const std::tuple<std::array<int, 5>, int, std::array<int, 5>> cases[] = {
      {{300, 150, 80, 200, 100}, 1000, {300, 150, 80, 200, 100}},  // all fit
      {{900, 150, 80, 700, 100}, 1000, {335, 150, 80, 335, 100}},  // two share 670
      {{900, 900, 900, 900, 900}, 1000, {200, 200, 200, 200, 200}},
      {{0, -4, 50, 50, 50}, 100, {1, 1, 32, 32, 32}},  // never 0, so storable
      {{10, 10, 10, 10, 10}, 3, {0, 0, 0, 0, 0}},      // no room: the 9/50 rule
  };
  for (const auto& [wanted, room, expected] : cases) {
    const std::array<int, 5> fitted = FitColumnWidths(wanted, room);
    EXPECT_EQ(fitted, expected) << room << " " << wanted[0];
    EXPECT_LE(std::accumulate(fitted.begin(), fitted.end(), 0), room);
  }
}

TEST_F(WindowRulesTest, ConfirmDiscardResults) {
  using Marks = std::vector<std::pair<bool, std::uint32_t>>;  // checked, marks of each row
  const std::string quit = "Not all of the bad URLs have been repaired\n\nDo you want to quit?";
  const std::string cont = "Not all of the bad URLs have been repaired\n\nDo you want to continue?";
  // The rows, the answers given, why, whether to go on, and the questions asked.
  const std::tuple<Marks, std::vector<bool>, DiscardReason, bool, std::vector<std::string>>
      cases[] = {
          {{}, {}, DiscardReason::kQuit, true, {}},                       // no rows
          {{{false, 0}, {true, 1}}, {}, DiscardReason::kQuit, true, {}},  // all settled
          {{{true, 0}, {false, 0}, {true, 0x10001}}, {false}, DiscardReason::kQuit, false, {quit}},
          {{{true, 0}, {false, 0}}, {true}, DiscardReason::kContinue, true, {cont}},
          // A done file mark alone settles nothing.
          {{{true, 0x00010000}}, {false}, DiscardReason::kContinue, false, {cont}},
      };
  for (const auto& [marked, answers, reason, go_on, questions] : cases) {
    ResultList rows;
    for (const auto& [checked, marks] : marked) {
      const std::size_t i = rows.AppendResultRow("u");
      rows.SetChecked(i, checked);
      rows.SetData(i, marks);
    }
    testing::RecordingPrompter prompter;
    prompter.answers.assign(answers.begin(), answers.end());
    EXPECT_EQ(ConfirmDiscardResults(rows, reason, prompter), go_on)
        << ::testing::PrintToString(marked);
    EXPECT_EQ(prompter.questions, questions);
    Marks after;  // whatever the answer, rows and marks stay: only a run clears them
    for (const ResultRow& row : rows.rows())
      after.emplace_back(row.checked, row.data);
    EXPECT_EQ(after, marked);
  }
}

TEST(PathKind, WhatAPathNamesAndWhatOkMakesOfIt) {
  // A path, what the disk has there, and what it names.
  const std::tuple<std::string, DiskEntry, PathKind> cases[] = {
      {"", DiskEntry::kNone, PathKind::kEmpty},
      {"  ", DiskEntry::kFolder, PathKind::kEmpty},
      {"/site/index.htm", DiskEntry::kFile, PathKind::kFile},
      {"/site", DiskEntry::kFolder, PathKind::kFolder},
      {"/site/gone.htm", DiskEntry::kNone, PathKind::kMissing},
      {"/dev/null", DiskEntry::kOther, PathKind::kOther},
      {"https://www.example.test/", DiskEntry::kNone, PathKind::kWebAddress},
      {"HTTP://www.example.test/", DiskEntry::kFolder, PathKind::kWebAddress},
      {"ftp://example.test/", DiskEntry::kNone, PathKind::kMissing},
  };
  for (const auto& [path, entry, kind] : cases)
    EXPECT_EQ(KindOfPath(path, entry), kind) << path;
  testing::TempFolder folder;  // the disk is asked once for each kind of entry
  const std::string file = folder.Write("a.htm", "x");
  EXPECT_EQ(LookUpPath(file), DiskEntry::kFile);
  EXPECT_EQ(LookUpPath(folder.path().string()), DiskEntry::kFolder);
  EXPECT_EQ(LookUpPath(file + "x"), DiskEntry::kNone);
  EXPECT_EQ(LookUpPath("/dev/null"), DiskEntry::kOther);
  // The kind, the all-files and web-address boxes, the note under the field, all files after OK.
  const std::tuple<PathKind, bool, bool, std::string, bool> fits[] = {
      {PathKind::kEmpty, false, false, "Type a file or folder, or Browse", false},
      {PathKind::kFile, false, false, "File", false},
      {PathKind::kFile, true, false, "File: the options above ask for a folder", true},
      {PathKind::kFolder, false, false, "Folder: OK checks the files in it", true},
      {PathKind::kFolder, true, false, "Folder", true},
      {PathKind::kMissing, false, false, "Nothing by that name", false},
      {PathKind::kOther, false, false, "Neither a file nor a folder", false},
      {PathKind::kWebAddress, false, false, "Web address: OK crawls the site", false},
      {PathKind::kWebAddress, false, true, "Web address: the site is crawled from here", false},
      {PathKind::kFolder, false, true, "Not a web address: it starts with http:// or https://",
       false},
  };
  for (const auto& [kind, all_files, web, note, all_files_after] : fits) {
    SCOPED_TRACE(note);
    const FileSelection selection{
        .path = "p", .all_files = all_files, .filter = true, .web_address = web};
    EXPECT_EQ(PathKindNote(kind, selection), note);
    FileSelection fitted = FitSelectionToPath(selection, kind);
    EXPECT_EQ(fitted.all_files, all_files_after);
    // A typed address ticks the box itself: it is never taken for a file.
    EXPECT_EQ(fitted.web_address, web || kind == PathKind::kWebAddress);
    fitted.all_files = selection.all_files;
    fitted.web_address = selection.web_address;
    EXPECT_EQ(fitted, selection);  // nothing else changes
  }
}

TEST_F(WindowRulesTest, FileSelectionInterlockBrowseNamesAndChecks) {
  // The boxes before, the one clicked, and all files and recurse after.
  const std::tuple<FileSelection, ScopeBox, bool, bool> interlocks[] = {
      {{"", Function::kTestUrls, false, true, false}, ScopeBox::kRecurse, true, true},
      {{"", Function::kTestUrls, false, true, false}, ScopeBox::kAllFiles, false, false},
      {{"", Function::kTestUrls, true, false, false}, ScopeBox::kAllFiles, true, false},
      {{"", Function::kTestUrls, true, false, false}, ScopeBox::kRecurse, true, false},
  };
  for (auto [s, clicked, all_files, recurse] : interlocks) {
    ApplyScopeInterlock(s, clicked);
    EXPECT_EQ(std::pair(s.all_files, s.recurse), std::pair(all_files, recurse));
  }

  EXPECT_EQ(BrowseStartName("/web/index.htm"), "/web/*.*");
  EXPECT_EQ(BrowseStartName("/web"), "/web/*.*");  // a single separator is not cut
  EXPECT_EQ(BrowseStartName("/"), "/*.*");
  EXPECT_EQ(BrowseStartName(""), "*.*");
  EXPECT_EQ(BrowseStartName("/a/b/"), "/a/b/*.*");
  settings_.Set(settings::kRecurse, 1);  // without all files: cleared, and stored so
  EXPECT_EQ(LoadFileSelection(settings_, "/current"),
            (FileSelection{"/current", Function::kTestUrls, false, false, false}));
  EXPECT_EQ(settings_.Get(settings::kRecurse), 0);
  testing::TempFolder folder;
  const std::string file = folder.Write("a.htm", "x");
  testing::RecordingPrompter prompter;
  EXPECT_FALSE(AcceptFileSelection(settings_, {file, Function::kRemoveComments, true, false, true},
                                   prompter));
  EXPECT_EQ(settings_.Get(settings::kFunction), 1);  // options stored before the check
  EXPECT_EQ(settings_.Get(settings::kFileSelStarter), "");
  const std::string fifo = (folder.path() / "fifo.htm").string();  // a fifo would block: not a file
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {file + "x", fifo, std::string("/dev/null")})
    EXPECT_FALSE(AcceptFileSelection(settings_, {path}, prompter));
  const FileSelection chosen{file, Function::kTestUrls, false, false, true};
  EXPECT_TRUE(AcceptFileSelection(settings_, chosen, prompter));
  EXPECT_EQ(settings_.Get(settings::kFileSelStarter), file);
  // A dropped folder, a choice kept out of the store, runs; the dialog opens as it was left.
  const FileSelection dropped{folder.path().string(), Function::kTestUrls, true, false, false};
  EXPECT_TRUE(AcceptFileSelection(settings_, dropped, prompter, StoreChoice::kKeep));
  EXPECT_FALSE(AcceptFileSelection(settings_, {file + "x"}, prompter, StoreChoice::kKeep));
  EXPECT_EQ(LoadFileSelection(settings_, "/current"), chosen);
  const std::string missing = "The specified file does not exist";
  EXPECT_EQ(prompter.messages,
            (std::vector<std::string>{
                "The chosen directory does not exist\n\n(Your \"Test Other Files\" choice means "
                "you should\nspecify a valid directory path, NOT a file path)",
                missing, missing, missing, missing}));
  // The local-link choices are kept with the others; a site root must be a folder.
  const FileSelection local{file, Function::kTestUrls,         false, false, false,
                            file, "https://www.example.test/", false};
  EXPECT_FALSE(AcceptFileSelection(settings_, local, prompter));
  EXPECT_EQ(prompter.messages.back(), "The site root is not a folder");
  FileSelection fixed = local;
  fixed.site_root = folder.path().string();
  EXPECT_TRUE(AcceptFileSelection(settings_, fixed, prompter));
  EXPECT_EQ(LoadFileSelection(settings_, "/current"), fixed);
  // A web address is kept like the others, and must be one.
  FileSelection web{.path = "https://www.example.test/docs/", .web_address = true};
  EXPECT_TRUE(AcceptFileSelection(settings_, web, prompter));
  EXPECT_EQ(LoadFileSelection(settings_, "/current"), web);
  for (const char* wrong : {"www.example.test", "ftp://example.test/", "https://", file.c_str()}) {
    web.path = wrong;
    EXPECT_FALSE(AcceptFileSelection(settings_, web, prompter)) << wrong;
    EXPECT_EQ(prompter.messages.back(),
              "The web address must start with http:// or https:// and name a host");
  }
}

TEST_F(WindowRulesTest, RecentPathsAndTheEditorCommand) {
  for (int i = 1; i <= 10; ++i)
    AddRecentPath(settings_, "/site/" + std::to_string(i));
  AddRecentPath(settings_, "/site/5");  // again: to the front, not twice
  EXPECT_EQ(LoadRecentPaths(settings_),
            (std::vector<std::string>{"/site/5", "/site/10", "/site/9", "/site/8", "/site/7",
                                      "/site/6", "/site/4", "/site/3"}));
  // The command set, $VISUAL, $EDITOR, and the words run for line 12 of the page.
  const std::string page = "/p a/x.html";
  const std::tuple<std::string, const char*, const char*, std::vector<std::string>> cases[] = {
      {"", nullptr, nullptr, {"xdg-open", page}},
      {"", "", "vim", {"vim", "+12", page}},
      {"  ", "code -g", "vim", {"code", "-g", "+12", page}},
      {"kate -l %l %f", "vim", nullptr, {"kate", "-l", "12", page}},
      {"code -g %f:%l", nullptr, nullptr, {"code", "-g", "/p a/x.html:12"}},
      {"\"/opt/my ed/ed\" --line=%l \"%f\"",
       nullptr,
       nullptr,
       {"/opt/my ed/ed", "--line=12", page}},
      {"emacs +%l%% %f", nullptr, nullptr, {"emacs", "+12%%", page}},
  };
  for (const auto& [command, visual, editor, words] : cases)
    EXPECT_EQ(EditorCommand(command, page, 12, visual, editor), words) << command;
  // A row without a known line opens at the first.
  EXPECT_EQ(EditorCommand("ed +%l %f", "f", 0, nullptr, nullptr),
            (std::vector<std::string>{"ed", "+1", "f"}));
}

TEST(RowOrder, CompareMatchAndRank) {
  ResultList rows;
  for (const auto& [url, reason, line, text, file] :
       {std::tuple{"http://B.test/", "HTTP Code 404 Not Found", 9, "Zebra", "/s/a.html"},
        {"http://a.test/", "Local File Not Found", 10, "apple", "/s/b.html"}}) {
    rows.AppendResultRow(url, line);
    rows.SetResultColumn(ResultColumn::kReason, reason);
    rows.SetResultColumn(ResultColumn::kSiteName, text, file);
  }
  const ResultRow &ra = rows.row(0), &rb = rows.row(1);
  // "B" after "a" whatever the case, and line 9 before 10, as numbers.
  for (const auto& [column, sign] :
       {std::pair{0, 1}, {1, -1}, {2, 1}, {3, -1}, {kLineSortColumn, -1}})
    EXPECT_EQ(std::clamp(CompareRows(ra, rb, column), -1, 1), sign) << column;
  EXPECT_EQ(CompareRows(ra, ra, 0), 0);
  const std::pair<std::string, std::vector<bool>> searches[] = {
      {"", {true, true}},           {"b.TEST", {true, false}}, {"local file", {false, true}},
      {"zeb", {true, false}},       {"/s/", {true, true}},     {"b.html", {false, true}},
      {"nothing", {false, false}},  {"htt", {true, true}},     {"found", {true, true}},
      {"b.test/x", {false, false}}, {"bra", {true, false}},    {"S/A.HTML", {true, false}},
      {"t/", {true, true}},  // the URL's third '/', after two that fail
      {"tes", {true, true}},        {"b", {true, true}},       {"/B.T", {true, false}},
  };
  for (const auto& [typed, expected] : searches) {
    const std::string needle = SearchNeedle(typed);
    EXPECT_EQ((std::vector<bool>{RowMatches(ra, needle), RowMatches(rb, needle)}), expected)
        << typed;
  }
  // A view sorts by ranks: they must order every pair of rows as comparing them would, ties
  // too, on texts that share long beginnings, differ only in case or length, or hold a NUL.
  rows.Clear();
  const std::string common = "http://www.example.test/a/long/shared/path/";
  std::vector<std::string> urls = {"HTTP://x", "", "http://x", "a", "\xc3\xa9t\xc3\xa9"};
  for (const char* tail : {"b", "B", "a", "", "b", "ba", "b/c/d", "b/C/d/e"})
    urls.push_back(common + tail);
  urls.insert(urls.end(), {std::string("a\0b", 3), std::string("a\0", 2), std::string(32, 'z')});
  const char* const reasons[] = {"HTTP Code 404 Not Found", "Error: Can't Connect to Host",
                                 "http code 404 not found", "HTTP Code 410 Gone"};
  for (std::size_t i = 0; i < urls.size(); ++i) {
    rows.AppendResultRow(urls[i], (i * 7) % 5);
    rows.SetResultColumn(ResultColumn::kReason, reasons[i % 4]);
    rows.SetResultColumn(ResultColumn::kSiteName, urls[(i + 3) % urls.size()],
                         i % 3 ? "/s/a.html" : "/s/A.html");
  }
  for (const int column : {0, 1, 2, 3, 4, kLineSortColumn}) {
    SCOPED_TRACE(column);
    const std::vector<std::uint32_t> ranks = RankRows(rows, column);
    ASSERT_EQ(ranks.size(), rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i)
      for (std::size_t j = 0; j < rows.size(); ++j) {
        const int by_text = CompareRows(rows.row(i), rows.row(j), column);
        const int by_rank = ranks[i] < ranks[j] ? -1 : ranks[i] > ranks[j] ? 1 : 0;
        EXPECT_EQ((by_text > 0) - (by_text < 0), by_rank) << i << " " << j;
      }
  }
  EXPECT_TRUE(RankRows(ResultList(), 0).empty());
}

}  // namespace
}  // namespace quimbel
