#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "core/settings_store.h"
#include "platform/memory_config_store.h"
#include "platform/qsettings_config_store.h"
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
                        {std::string(70, '1'), false},
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

  // A store where nothing can be made.
  QSettingsConfigStore blocked("/proc/quimbel/none.conf");
  EXPECT_EQ(blocked.OpenRoot(), std::nullopt);
  EXPECT_FALSE(blocked.Write("Settings", "Timeout", "3"));
  SettingsStore settings(blocked);
  EXPECT_EQ(settings.Get(settings::kTimeout), 15);
}

}  // namespace
}  // namespace quimbel
