#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <numeric>
#include <string>

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
  SettingsStoreTest() {
    if (GetParam()) {
      backing_ = std::make_unique<QSettingsConfigStore>((folder_.path() / "q.conf").string());
    } else {
      backing_ = std::make_unique<MemoryConfigStore>();
    }
  }
  testing::TempFolder folder_;
  std::unique_ptr<ConfigStore> backing_;
};

// What a run falls back to where neither the command line nor a config
// file says: the stored preferences, a number out of its option's range as
// its default, a stored code list nobody could type as none, and stored
// patterns one a line, blank lines none.
TEST(StoredRunOptions, ARunFallsBackToWhatPreferencesStored) {
  struct Case {
    std::vector<std::pair<TextSetting, std::string>> texts;
    std::vector<std::pair<IntSetting, int>> numbers;
    std::function<void(const RunOptions&)> check;
  };
  const Case cases[] = {
      {{{settings::kAccept, " 429 , 500-599"}},
       {},
       [](const RunOptions& o) {
         EXPECT_EQ(o.accept, (std::vector<CodeRange>{{429, 429}, {500, 599}}));
       }},
      {{{settings::kAccept, "4O4"}},
       {},
       [](const RunOptions& o) { EXPECT_TRUE(o.accept.empty()); }},
      {{{settings::kExclude, "a\n\n  \nb\r\n"}, {settings::kInclude, "keep"}},
       {},
       [](const RunOptions& o) {
         EXPECT_EQ(o.exclude, (std::vector<std::string>{"a", "b"}));
         EXPECT_EQ(o.include, (std::vector<std::string>{"keep"}));
       }},
      {{},
       {{settings::kParallelProbes, 999}, {settings::kPerHost, 0}, {settings::kRatePerHost, 5}},
       [](const RunOptions& o) {
         EXPECT_EQ(o.parallel, settings::kParallelProbes.default_value);
         EXPECT_EQ(o.per_host, settings::kPerHost.default_value);
         EXPECT_EQ(o.rate, 5);
       }},
      {{},
       {{settings::kIgnoreRobots, 1}, {settings::kCheckFragments, 1}, {settings::kInsecure, 1}},
       [](const RunOptions& o) {
         EXPECT_FALSE(o.crawl.obey_robots);
         EXPECT_TRUE(o.local.check_fragments);
         EXPECT_TRUE(o.insecure);
         EXPECT_TRUE(o.cache_file.empty());
       }},
      {{},
       {{settings::kLinkCache, 1}},
       [](const RunOptions& o) { EXPECT_EQ(o.cache_file, DefaultCacheFile()); }},
  };
  for (const Case& c : cases) {
    MemoryConfigStore backing;
    SettingsStore store(backing);
    for (const auto& [key, text] : c.texts)
      store.Set(key, text);
    for (const auto& [key, number] : c.numbers)
      store.Set(key, number);
    c.check(StoredRunOptions(store));
  }
}

TEST_P(SettingsStoreTest, ValuesRoundTripAsText) {
  SettingsStore store(*backing_);
  // Named settings give their defaults until written.
  EXPECT_EQ(store.Get(settings::kTimeout), 15);
  EXPECT_EQ(store.Get(settings::kExportStarter), "results.txt");
  EXPECT_EQ(store.Get(settings::kRepairSave), 1);

  struct Case {
    const char* stored;
    int expected;  // read with default 99
  };
  const Case cases[] = {
      {"-5", -5},
      {"12abc", 12},
      {"abc", 99},
      {"", 99},
      {" 7", 7},
      {"+3", 3},
      {"-", 99},
      {"99999999999", INT_MAX},
      {"-99999999999", INT_MIN},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored);
    ASSERT_TRUE(store.SetString("Settings", "Timeout", c.stored));
    EXPECT_EQ(store.GetInt("Settings", "Timeout", 99), c.expected);
  }
  ASSERT_TRUE(store.SetInt("Screen", "x", -5));
  EXPECT_EQ(store.GetString("Screen", "x", "none"), "-5");
  EXPECT_EQ(store.GetInt("Screen", "missing", 4), 4);
  EXPECT_EQ(store.GetString("Missing", "x", "dflt"), "dflt");

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

TEST_P(SettingsStoreTest, FirstStartImportsTheOldProfileOnce) {
  const std::string profile = folder_.Write(
      "Quimbel.INI",
      "x=5\r\n[Settings]\r\nTimeout=30\r\n  [ FileSel ]  \r\nStarter= /site/index.htm\r\n"
      "[Repair] extra\r\nType=2\r\n[settings]\nfilter=01\nnoequals\n" +
          std::string(600, 'k') + "=v\n[Grid]\ncol0=" + std::string(530, '7') + "\n");
  SettingsStore store(*backing_);
  StartSettingsStore(store, profile);
  EXPECT_EQ(store.GetString("Settings", "Timeout", ""), "30");
  EXPECT_EQ(store.GetString("Screen", "x", "absent"), "absent");  // before any header
  EXPECT_EQ(store.GetString("FileSel", "Starter", ""), " /site/index.htm");
  // "[Repair] extra" is no header, so Type=2 went to FileSel.
  EXPECT_EQ(store.GetString("Repair", "Type", "absent"), "absent");
  EXPECT_EQ(store.GetString("FileSel", "Type", ""), "2");
  // Names in another letter case land on the program's own.
  EXPECT_EQ(store.GetString("Settings", "Filter", ""), "01");
  // A 530-byte line arrives as two pieces: "col0=" and 519 - 5 sevens, then
  // the rest, which holds no "=".
  EXPECT_EQ(backing_->Read("Grid", "col0").value_or("").size(), 514u);

  // The second start finds the root and leaves the profile alone.
  folder_.Write("Quimbel.INI", "[Settings]\nTimeout=45\n");
  StartSettingsStore(store, profile);
  EXPECT_EQ(store.GetString("Settings", "Timeout", ""), "30");
}

TEST_P(SettingsStoreTest, AHeaderThatCannotBeMadeLosesOnlyItsOwnValues) {
  const std::string profile =
      folder_.Write("Quimbel.INI", "[Settings]\nTimeout=20\n[]\nVisible=1\n[a/b]\nX=1\n[" +
                                       std::string(300, 's') + "]\nY=1\n[FileSel]\nFunction=1\n");
  SettingsStore store(*backing_);
  StartSettingsStore(store, profile);
  EXPECT_EQ(store.GetInt("Settings", "Timeout", 0), 20);
  EXPECT_EQ(store.GetInt("Settings", "Visible", 0), 0);
  EXPECT_EQ(store.GetInt("FileSel", "Function", 0), 1);

  SettingsStore missing(*backing_);
  StartSettingsStore(missing, folder_.path() / "none.INI");  // no file, no harm
}

TEST_P(SettingsStoreTest, FilterOfTheWrongLengthIsResetWithAMessage) {
  SettingsStore store(*backing_);
  struct Case {
    std::string stored;
    bool reset;
  };
  const Case cases[] = {{"", false},
                        {std::string(71, '1'), false},
                        {std::string(42, '1'), true},
                        {std::string(44, '0'), true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored);
    if (!c.stored.empty()) store.Set(settings::kFilter, c.stored);
    testing::RecordingPrompter prompter;
    const ReportFilter filter = LoadReportFilter(store, prompter);
    const std::string expected =
        c.reset || c.stored.empty() ? std::string(kDefaultFilter) : c.stored;
    EXPECT_EQ(filter.text(), expected);
    ASSERT_EQ(prompter.messages.size(), c.reset ? 1u : 0u);
    if (c.reset) {
      EXPECT_EQ(prompter.messages[0], "Setting Filter Codes to Safe Default");
    }
    // Written back only when it was reset.
    EXPECT_EQ(store.GetString("Settings", "Filter", "none"), c.stored.empty() ? "none" : expected);
  }
  // An original 43-character filter is kept, extended and stored so.
  store.Set(settings::kFilter, std::string(43, '0'));
  testing::RecordingPrompter prompter;
  const std::string extended = std::string(43, '0') + std::string(kDefaultFilter.substr(43));
  EXPECT_EQ(LoadReportFilter(store, prompter).text(), extended);
  EXPECT_TRUE(prompter.messages.empty());
  EXPECT_EQ(store.GetString("Settings", "Filter", ""), extended);
}

INSTANTIATE_TEST_SUITE_P(Stores, SettingsStoreTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "QSettings" : "Memory"; });

// A stored number falls back to its option's default outside the option's
// range, the same rule for each; the help names the same default.
TEST(StoredNumber, OutOfTheOptionsRangeMeansItsDefault) {
  struct Case {
    const char* option;
    int stored;
    int expected;
  };
  const Case cases[] = {
      {"parallel", 64, 64},      {"parallel", 0, 32}, {"parallel", 257, 32},
      {"per-host", 1, 1},        {"per-host", -3, 8}, {"max-redirects", 0, 0},
      {"max-redirects", 51, 10}, {"rate", 0, 0},      {"rate", 10001, 0},
  };
  for (const Case& c : cases) {
    MemoryConfigStore store;
    SettingsStore settings(store);
    const OptionSpec& option = *FindOption(c.option);
    ASSERT_NE(option.stored_number, nullptr) << c.option;
    settings.Set(*option.stored_number, c.stored);
    EXPECT_EQ(StoredNumber(settings, c.option), c.expected) << c.option << " " << c.stored;
    if (option.help.find("{default}") != std::string_view::npos) {
      EXPECT_NE(ExpandedHelp(option, "")
                    .find("(default " + std::to_string(option.stored_number->default_value)),
                std::string::npos)
          << c.option;
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
  // A fresh store object sees the value: nothing is held back in a cache.
  EXPECT_EQ(QSettingsConfigStore().Read("FileSel", "Filter"), "1");
  // The command line finds the same file without Qt.
  EXPECT_EQ(UserSettingsFile(), store.file());
  EXPECT_EQ(SettingsFileReader().Read("FileSel", "Filter"), "1");

  // A store where nothing can be made.
  QSettingsConfigStore blocked("/proc/quimbel/none.conf");
  EXPECT_EQ(blocked.OpenRoot(), std::nullopt);
  EXPECT_FALSE(blocked.Write("Settings", "Timeout", "3"));
  SettingsStore settings(blocked);
  EXPECT_EQ(settings.Get(settings::kTimeout), 15);
}

// The command line reads the window's settings without Qt; QSettings itself
// is the judge of what each text means.
TEST(SettingsFileReader, ReadsWhatQSettingsReads) {
  testing::TempFolder folder;
  const std::string written = (folder.path() / "written.conf").string();
  const std::string values[] = {"",
                                "1",
                                "plain",
                                " lead",
                                "trail ",
                                "*.html, *.htm",
                                "a;b",
                                "x=y",
                                "\"quoted\"",
                                "back\\slash",
                                "tab\tline\nfeed\rreturn",
                                "@at",
                                "@@two",
                                "@ByteArray(x)",
                                "\u00e9t\u00e9 \u65e5\u672c",
                                "\x01\x7f"
                                "9",
                                "/home/u/My Site/index.html"};
  QSettingsConfigStore qt_store(written);
  for (std::size_t i = 0; i < std::size(values); ++i) {
    ASSERT_TRUE(qt_store.Write("Section " + std::to_string(i), "Name", values[i]));
  }
  SettingsFileReader reader(written);
  for (std::size_t i = 0; i < std::size(values); ++i) {
    const std::string section = "Section " + std::to_string(i);
    EXPECT_EQ(reader.Read(section, "Name"), values[i]) << i;
    EXPECT_EQ(reader.Read(section, "Name"), qt_store.Read(section, "Name")) << i;
  }

  // Files as an author might edit them by hand.
  struct Case {
    std::string text;
    std::string section;
    std::string name;
  };
  const Case cases[] = {
      {"[FileSel]\nFilter = a, b ,c\n", "FileSel", "Filter"},
      {"; note\n[FileSel]\r\nFilter=1 ; why\r\nOther=2\r\n", "FileSel", "Filter"},
      {"[FileSel]\nFilter=\"a, b\"  \"c\" \n", "FileSel", "Filter"},
      {"[FileSel]\nFilter=x\\\ny\n", "FileSel", "Filter"},
      {"[FileSel]\nFilter=\"one\ntwo\"\n", "FileSel", "Filter"},
      {"[FileSel]\nFilter=\\x41\\102\\q\\x\n", "FileSel", "Filter"},
      {"[FileSel]\nFilter=@Invalid()\n", "FileSel", "Filter"},
      {"[FileSel]\nFilter=@Size(1 2)\n", "FileSel", "Filter"},
      {"[FileSel]\nFilter=@@x, y\n", "FileSel", "Filter"},
      {"[FileSel]\nFilter=a, @Rect(1 2 3 4)\n", "FileSel", "Filter"},
      {"[FileSel]\nFilter=,\n", "FileSel", "Filter"},
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
  for (const Case& c : cases) {
    const std::string file = folder.Write("edited.conf", c.text);
    EXPECT_EQ(SettingsFileReader(file).Read(c.section, c.name),
              QSettingsConfigStore(file).Read(c.section, c.name))
        << c.text;
  }
  EXPECT_EQ(SettingsFileReader((folder.path() / "none.conf").string()).Read("S", "k"),
            std::nullopt);
}

class WindowRulesTest : public ::testing::Test {
 protected:
  WindowRulesTest() : settings_(store_) {}
  MemoryConfigStore store_;
  SettingsStore settings_;
};

TEST_F(WindowRulesTest, PlacementFirstStartAndRejection) {
  // First start on a 1024 x 738 work area: 768 x 553 at 128, 92, stored.
  EXPECT_EQ(LoadPlacement(settings_, 1024, 738), (Placement{128, 92, 768, 553}));
  EXPECT_EQ(settings_.Get(settings::kScreenX), 128);
  EXPECT_EQ(settings_.Get(settings::kScreenCy), 553);

  struct Case {
    Placement stored;
    bool used;
  };
  const Case cases[] = {
      {{1500, 10, 400, 300}, false}, {{10, 10, 400, 300}, true}, {{0, 0, 1280, 1024}, true},
      {{-1, 10, 400, 300}, false},   {{10, 10, 0, 300}, false},  {{10, 10, 1281, 300}, false},
      {{10, 1025, 400, 300}, false},
  };
  for (const Case& c : cases) {
    settings_.Set(settings::kScreenX, c.stored.x);
    settings_.Set(settings::kScreenY, c.stored.y);
    settings_.Set(settings::kScreenCx, c.stored.cx);
    settings_.Set(settings::kScreenCy, c.stored.cy);
    EXPECT_EQ(LoadPlacement(settings_, 1280, 1024) == c.stored, c.used) << c.stored.x;
  }

  // A moved window is kept on the work area.
  StorePlacement(settings_, {-20, -5, 3000, 900}, 1280, 1024);
  EXPECT_EQ(LoadPlacement(settings_, 1280, 1024), (Placement{0, 0, 1280, 900}));
}

TEST_F(WindowRulesTest, ColumnWidthsAndPaneHeight) {
  EXPECT_EQ(LoadColumnWidths(settings_, 450), (std::array<int, 5>{81, 81, 81, 81, 81}));
  StoreColumnWidths(settings_, {100, 100, 100, 100, 100});
  EXPECT_EQ(LoadColumnWidths(settings_, 450), (std::array<int, 5>{81, 81, 81, 81, 81}));
  EXPECT_EQ(LoadColumnWidths(settings_, 500), (std::array<int, 5>{100, 100, 100, 100, 100}));
  StoreColumnWidths(settings_, {0, 100, 100, 100, 100});
  EXPECT_EQ(LoadColumnWidths(settings_, 1000)[1], 180);
  // The "Line" column keeps its own width; a stored set of five is not
  // disturbed by it.
  EXPECT_EQ(LoadLineColumnWidth(settings_, 1000, 70), 70);
  settings_.Set(settings::kGridLineColumn, 90);
  EXPECT_EQ(LoadLineColumnWidth(settings_, 1000, 70), 90);
  EXPECT_EQ(LoadLineColumnWidth(settings_, 80, 70), 70);
  StoreColumnWidths(settings_, {100, 100, 100, 100, 100});
  EXPECT_EQ(LoadColumnWidths(settings_, 500)[2], 100);

  // Only widths the user left behind count as stored; the defaults do
  // not (five alike, as a window closed before any run stores them), nor
  // do widths the rule above rejects.
  EXPECT_FALSE(HasStoredColumnWidths(settings_, 500));
  StoreColumnWidths(settings_, {140, 100, 90, 100, 60});
  EXPECT_TRUE(HasStoredColumnWidths(settings_, 500));
  EXPECT_FALSE(HasStoredColumnWidths(settings_, 450));
  MemoryConfigStore empty_store;
  SettingsStore empty(empty_store);
  EXPECT_FALSE(HasStoredColumnWidths(empty, 1000));

  EXPECT_EQ(UpperPaneHeight(settings_, 601), 300);
  settings_.Set(settings::kScreenHigh, 250);
  EXPECT_EQ(UpperPaneHeight(settings_, 600), 250);
  settings_.Set(settings::kScreenHigh, 600);
  EXPECT_EQ(UpperPaneHeight(settings_, 600), 300);
  // Set in a maximised window, the panes keep their proportion in a normal
  // one: no log pane squeezed to a sliver.
  StorePaneHeights(settings_, 850, 150);
  EXPECT_EQ(settings_.Get(settings::kScreenHigh), 850);
  EXPECT_EQ(UpperPaneHeight(settings_, 453), 385);
}

TEST(FitColumnWidths, NarrowColumnsKeepTheirsAndTheWidestShareTheRest) {
  struct Case {
    std::array<int, 5> wanted;
    int room;
    std::array<int, 5> fitted;
  };
  const Case cases[] = {
      {{300, 150, 80, 200, 100}, 1000, {300, 150, 80, 200, 100}},  // all fit
      {{900, 150, 80, 700, 100}, 1000, {335, 150, 80, 335, 100}},  // two share 670
      {{900, 900, 900, 900, 900}, 1000, {200, 200, 200, 200, 200}},
      {{0, -4, 50, 50, 50}, 100, {1, 1, 32, 32, 32}},  // never 0, so storable
      {{10, 10, 10, 10, 10}, 3, {0, 0, 0, 0, 0}},      // no room: the 9/50 rule
  };
  for (const Case& c : cases) {
    const std::array<int, 5> fitted = FitColumnWidths(c.wanted, c.room);
    EXPECT_EQ(fitted, c.fitted) << c.room << " " << c.wanted[0];
    if (c.room >= 5) {
      EXPECT_LE(std::accumulate(fitted.begin(), fitted.end(), 0), c.room);
    }
  }
}

TEST_F(WindowRulesTest, ConfirmDiscardResults) {
  struct Case {
    const char* name;
    std::vector<std::pair<bool, std::uint32_t>> rows;  // checked, marks
    std::vector<bool> answers;
    DiscardReason reason;
    bool go_on;
    std::vector<std::string> questions;
  };
  const std::string quit = "Not all of the bad URLs have been repaired\n\nDo you want to quit?";
  const std::string cont = "Not all of the bad URLs have been repaired\n\nDo you want to continue?";
  const Case cases[] = {
      Case("no rows", {}, {}, DiscardReason::kQuit, true, {}),
      Case("only settled rows", {{false, 0}, {true, 1}}, {}, DiscardReason::kQuit, true, {}),
      Case("one left, No", {{true, 0}, {false, 0}, {true, 0x00010001}}, {false},
           DiscardReason::kQuit, false, {quit}),
      Case("one left, Yes", {{true, 0}, {false, 0}}, {true}, DiscardReason::kContinue, true,
           {cont}),
      Case("a done file mark alone settles nothing", {{true, 0x00010000}}, {false},
           DiscardReason::kContinue, false, {cont}),
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResultList rows;
    for (const auto& [checked, marks] : c.rows) {
      const std::size_t i = rows.AppendResultRow("u");
      rows.SetChecked(i, checked);
      rows.SetData(i, marks);
    }
    testing::RecordingPrompter prompter;
    prompter.answers.assign(c.answers.begin(), c.answers.end());
    EXPECT_EQ(ConfirmDiscardResults(rows, c.reason, prompter), c.go_on);
    EXPECT_EQ(prompter.questions, c.questions);
    // Whatever the answer, the rows and their marks stay: only a run that
    // starts clears them, and the user may still cancel before one does.
    ASSERT_EQ(rows.size(), c.rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
      EXPECT_EQ(rows.row(i).checked, c.rows[i].first);
      EXPECT_EQ(rows.row(i).data, c.rows[i].second);
    }
  }
}

TEST(PathKind, WhatAPathNamesAndWhatOkMakesOfIt) {
  struct Case {
    std::string path;
    DiskEntry entry;
    PathKind kind;
  };
  const Case cases[] = {
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
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(KindOfPath(c.path, c.entry), c.kind);
  }

  // The disk is asked once for each kind of entry.
  testing::TempFolder folder;
  const std::string file = folder.Write("a.htm", "x");
  EXPECT_EQ(LookUpPath(file), DiskEntry::kFile);
  EXPECT_EQ(LookUpPath(folder.path().string()), DiskEntry::kFolder);
  EXPECT_EQ(LookUpPath(file + "x"), DiskEntry::kNone);
  EXPECT_EQ(LookUpPath("/dev/null"), DiskEntry::kOther);

  // The note under the field, and the values OK runs with.
  struct Fit {
    PathKind kind;
    bool all_files;
    bool web;
    std::string note;
    bool all_files_after;
  };
  const Fit fits[] = {
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
  for (const Fit& f : fits) {
    SCOPED_TRACE(f.note);
    FileSelection selection{"p", Function::kTestUrls, f.all_files, false, true};
    selection.web_address = f.web;
    EXPECT_EQ(PathKindNote(f.kind, selection), f.note);
    FileSelection fitted = FitSelectionToPath(selection, f.kind);
    EXPECT_EQ(fitted.all_files, f.all_files_after);
    // A typed address ticks the box itself: it is never taken for a file.
    EXPECT_EQ(fitted.web_address, f.web || f.kind == PathKind::kWebAddress);
    // Nothing else changes.
    fitted.all_files = selection.all_files;
    fitted.web_address = selection.web_address;
    EXPECT_EQ(fitted, selection);
  }
}

TEST_F(WindowRulesTest, AChoiceKeptOutOfTheStoreLeavesTheDialogsValues) {
  testing::TempFolder folder;
  const std::string file = folder.Write("a.htm", "x");
  testing::RecordingPrompter prompter;
  const FileSelection chosen{file, Function::kTestUrls, false, false, true};
  ASSERT_TRUE(AcceptFileSelection(settings_, chosen, prompter));
  // A dropped folder runs, but the dialog opens next time as it was left.
  const FileSelection dropped{folder.path().string(), Function::kTestUrls, true, false, false};
  EXPECT_TRUE(AcceptFileSelection(settings_, dropped, prompter, StoreChoice::kKeep));
  EXPECT_EQ(LoadFileSelection(settings_, "/current"), chosen);
  EXPECT_FALSE(AcceptFileSelection(settings_, {file + "x"}, prompter, StoreChoice::kKeep));
  EXPECT_EQ(prompter.messages, std::vector<std::string>{"The specified file does not exist"});
  EXPECT_EQ(LoadFileSelection(settings_, "/current"), chosen);
}

TEST_F(WindowRulesTest, ThemeFallsBackToTheDesktops) {
  const std::pair<const char*, Theme> cases[] = {{"0", Theme::kSystem},  {"1", Theme::kLight},
                                                 {"2", Theme::kDark},    {"3", Theme::kSystem},
                                                 {"-1", Theme::kSystem}, {"dark", Theme::kSystem}};
  EXPECT_EQ(LoadTheme(settings_), Theme::kSystem);
  for (const auto& [stored, theme] : cases) {
    settings_.SetString("Settings", "Theme", stored);
    EXPECT_EQ(LoadTheme(settings_), theme) << stored;
  }
}

TEST_F(WindowRulesTest, FileSelectionInterlockBrowseNamesAndChecks) {
  struct Interlock {
    FileSelection before;
    ScopeBox clicked;
    bool all_files, recurse;
  };
  const Interlock interlocks[] = {
      {{"", Function::kTestUrls, false, true, false}, ScopeBox::kRecurse, true, true},
      {{"", Function::kTestUrls, false, true, false}, ScopeBox::kAllFiles, false, false},
      {{"", Function::kTestUrls, true, false, false}, ScopeBox::kAllFiles, true, false},
      {{"", Function::kTestUrls, true, false, false}, ScopeBox::kRecurse, true, false},
  };
  for (const Interlock& c : interlocks) {
    FileSelection s = c.before;
    ApplyScopeInterlock(s, c.clicked);
    EXPECT_EQ(s.all_files, c.all_files);
    EXPECT_EQ(s.recurse, c.recurse);
  }

  EXPECT_EQ(BrowseStartName("/web/index.htm"), "/web/*.*");
  EXPECT_EQ(BrowseStartName("/web"), "/web/*.*");  // a single separator is not cut
  EXPECT_EQ(BrowseStartName("/"), "/*.*");
  EXPECT_EQ(BrowseStartName(""), "*.*");
  EXPECT_EQ(BrowseStartName("/a/b/"), "/a/b/*.*");

  // A stored recurse without all files is cleared, and stored so, at once.
  settings_.Set(settings::kRecurse, 1);
  const FileSelection loaded = LoadFileSelection(settings_, "/current");
  EXPECT_EQ(loaded, (FileSelection{"/current", Function::kTestUrls, false, false, false}));
  EXPECT_EQ(settings_.Get(settings::kRecurse), 0);

  testing::TempFolder folder;
  const std::string file = folder.Write("a.htm", "x");
  testing::RecordingPrompter prompter;
  EXPECT_FALSE(AcceptFileSelection(settings_, {file, Function::kRemoveComments, true, false, true},
                                   prompter));
  EXPECT_EQ(settings_.Get(settings::kFunction), 1);  // options stored before the check
  EXPECT_EQ(settings_.Get(settings::kFileSelStarter), "");
  // Only a readable regular file is a file to check: a fifo would block.
  const std::string fifo = (folder.path() / "fifo.htm").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {file + "x", fifo, std::string("/dev/null")}) {
    EXPECT_FALSE(
        AcceptFileSelection(settings_, {path, Function::kTestUrls, false, false, false}, prompter));
  }
  EXPECT_EQ(prompter.messages,
            (std::vector<std::string>{
                "The chosen directory does not exist\n\n(Your \"Test Other Files\" choice means "
                "you should\nspecify a valid directory path, NOT a file path)",
                "The specified file does not exist", "The specified file does not exist",
                "The specified file does not exist"}));
  EXPECT_TRUE(
      AcceptFileSelection(settings_, {file, Function::kTestUrls, false, false, true}, prompter));
  EXPECT_EQ(settings_.Get(settings::kFileSelStarter), file);

  // The local-link choices are kept with the others; a site root must be a
  // folder.
  const FileSelection local{file, Function::kTestUrls,         false, false, false,
                            file, "https://www.example.test/", false};
  EXPECT_FALSE(AcceptFileSelection(settings_, local, prompter));
  EXPECT_EQ(prompter.messages.back(), "The site root is not a folder");
  FileSelection fixed = local;
  fixed.site_root = folder.path().string();
  EXPECT_TRUE(AcceptFileSelection(settings_, fixed, prompter));
  EXPECT_EQ(LoadFileSelection(settings_, "/current"), fixed);

  // A web address is kept like the others, and must be one.
  FileSelection web{"https://www.example.test/docs/", Function::kTestUrls, false, false, false};
  web.web_address = true;
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

  struct Case {
    std::string command;
    const char* visual;
    const char* editor;
    std::vector<std::string> words;
  };
  const Case cases[] = {
      {"", nullptr, nullptr, {"xdg-open", "/p a/x.html"}},
      {"", "", "vim", {"vim", "+12", "/p a/x.html"}},
      {"  ", "code -g", "vim", {"code", "-g", "+12", "/p a/x.html"}},
      {"kate -l %l %f", "vim", nullptr, {"kate", "-l", "12", "/p a/x.html"}},
      {"code -g %f:%l", nullptr, nullptr, {"code", "-g", "/p a/x.html:12"}},
      {"\"/opt/my editor/bin/ed\" --line=%l \"%f\"",
       nullptr,
       nullptr,
       {"/opt/my editor/bin/ed", "--line=12", "/p a/x.html"}},
      {"emacs +%l%% %f", nullptr, nullptr, {"emacs", "+12%%", "/p a/x.html"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    EXPECT_EQ(EditorCommand(c.command, "/p a/x.html", 12, c.visual, c.editor), c.words);
  }
  // A row without a known line opens at the first.
  EXPECT_EQ(EditorCommand("ed +%l %f", "f", 0, nullptr, nullptr),
            (std::vector<std::string>{"ed", "+1", "f"}));
}

TEST(RowOrder, CompareAndMatch) {
  ResultList rows;
  const auto add = [&](const std::string& url, const std::string& reason, std::size_t line,
                       const std::string& text, const std::string& file) {
    rows.AppendResultRow(url, line);
    rows.SetResultColumn(ResultColumn::kReason, reason);
    rows.SetResultColumn(ResultColumn::kSiteName, text, file);
    return rows.size() - 1;
  };
  const std::size_t a = add("http://B.test/", "HTTP Code 404 Not Found", 9, "Zebra", "/s/a.html");
  const std::size_t b = add("http://a.test/", "Local File Not Found", 10, "apple", "/s/b.html");
  const ResultRow& ra = rows.row(a);
  const ResultRow& rb = rows.row(b);
  EXPECT_GT(CompareRows(ra, rb, 0), 0);  // "b" after "a", whatever the case
  EXPECT_LT(CompareRows(ra, rb, 1), 0);
  EXPECT_GT(CompareRows(ra, rb, 2), 0);
  EXPECT_LT(CompareRows(ra, rb, 3), 0);
  EXPECT_LT(CompareRows(ra, rb, kLineSortColumn), 0);  // 9 before 10: a number
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
    SCOPED_TRACE(typed);
    const std::string needle = SearchNeedle(typed);
    EXPECT_EQ(RowMatches(ra, needle), expected[0]);
    EXPECT_EQ(RowMatches(rb, needle), expected[1]);
  }
}

// A view sorts by ranks instead of texts: a rank must order every pair of
// rows exactly as comparing them would, ties included, on texts that share
// long beginnings, differ only in case or length, or hold a NUL byte.
TEST(RowOrder, RanksOrderAsTheComparisonDoes) {
  ResultList rows;
  const std::string common = "http://www.example.test/a/long/shared/path/";
  const std::vector<std::string> urls = {common + "b",
                                         common + "B",
                                         common + "a",
                                         common,
                                         common + "b",
                                         common + "ba",
                                         "HTTP://x",
                                         "",
                                         "http://x",
                                         std::string("a\0b", 3),
                                         std::string("a\0", 2),
                                         "a",
                                         common + "b/c/d",
                                         common + "b/C/d/e",
                                         "zzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzz",
                                         "\xc3\xa9t\xc3\xa9"};
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
    for (std::size_t i = 0; i < rows.size(); ++i) {
      for (std::size_t j = 0; j < rows.size(); ++j) {
        const int by_text = CompareRows(rows.row(i), rows.row(j), column);
        const int by_rank = ranks[i] < ranks[j] ? -1 : ranks[i] > ranks[j] ? 1 : 0;
        EXPECT_EQ((by_text > 0) - (by_text < 0), by_rank) << i << " " << j;
      }
    }
  }
  EXPECT_TRUE(RankRows(ResultList(), 0).empty());
}

}  // namespace
}  // namespace quimbel
