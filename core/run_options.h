// The options of a run, in one table: each option's long and short name,
// the value it takes and its range, its help text, whether quimbel.toml may
// set it, and the stored preference it overrides. The command line, the
// config file and the window all read this table, and one function hands
// the result to a RunController. Pure functions; any thread.
#pragma once

#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/file_collection.h"
#include "core/link_rules.h"
#include "core/local_links.h"
#include "core/report_filter.h"
#include "core/settings_store.h"
#include "crawl/crawler.h"
#include "platform/status.h"

namespace quimbel {

class RunController;

// What a run is set to do. Unset values fall back to the stored
// preferences.
struct RunOptions {
  RunScope scope;
  bool purge = false;
  std::optional<int> timeout;
  std::optional<std::string> filter;  // the report filter's 71 characters
  std::optional<std::string> user_agent;
  std::optional<int> parallel;
  std::optional<int> per_host;
  std::optional<int> streams;  // requests at once on one HTTP/2 connection
  bool http2_prior_knowledge = false;
  std::optional<int> max_redirects;
  std::string ca_file;
  bool insecure = false;
  LocalLinkOptions local;
  std::vector<std::string> exclude;
  std::vector<std::string> include;
  std::vector<CodeRange> accept;
  // A live site: its start addresses, sitemaps, scope and limits.
  CrawlOptions crawl;
  std::optional<int> rate;                 // requests per second to one host
  std::string cache_file;                  // outcomes kept across runs
  std::optional<long long> cache_max_age;  // seconds
  bool history = true;                     // the rows recorded in the history of runs
  bool since_last = false;                 // only the rows new since the last run listed
  bool resume = false;                     // a stopped crawl goes on from the pages it read
  // The command line's own.
  bool quiet = false;
  bool yes = false;
  bool watch = false;  // after the run, keep checking the pages as they are saved
  bool no_config = false;
  bool help = false;
  bool version = false;
  std::string format;                // a machine format's name
  std::vector<std::string> outputs;  // FORMAT=FILE
  std::string text_file;
  std::string html_file;
  std::string repair;       // disable, replace or remove
  std::string config_file;  // --config
  // Which source each list came from: a later source's list replaces an
  // earlier one's rather than adding to it.
  int layer = 0;
  std::map<std::string_view, int> list_layers;
};

enum class OptionKind { kSwitch, kNumber, kText, kPath, kList };
// Whether quimbel.toml may set an option. Actions and files to write are
// refused with a reason; the rest of the command line's own are no keys.
enum class ConfigUse { kKey, kRefused, kNoKey };

struct OptionSpec {
  std::string_view name;
  char short_name;  // 0: none
  OptionKind kind;
  int low;  // a number's range
  int high;
  std::string_view value_name;  // in the help: "SECONDS"
  std::string_view help;        // lines apart by "\n"
  ConfigUse config;
  // The stored preference a run falls back to without the option, if any.
  std::string_view setting;
  // Takes the value (empty for a switch); a one-line problem when it is
  // no good.
  Status (*apply)(RunOptions& options, const std::string& value);
  // A number Preferences also sets: its stored key with the default, and
  // the field's label and tooltip there.
  const IntSetting* stored_number = nullptr;
  std::string_view label = {};
  std::string_view tip = {};
};

std::span<const OptionSpec> RunOptionTable();
const OptionSpec* FindOption(std::string_view name);
const OptionSpec* FindShortOption(char name);
// Applies one option's value, numbers checked against their range.
Status ApplyOption(const OptionSpec& option, const std::string& value, RunOptions& options);
// Where a help text names the report formats: the formats live with their
// writers, which this table does not know.
inline constexpr std::string_view kFormatsMarker = "{formats}";
// The option's help text with `formats` ("text, json ... or html") in the
// marker's place, and a stored number's default in "{default}"'s.
std::string ExpandedHelp(const OptionSpec& option, std::string_view formats);
// The stored value of a number Preferences sets, or its default when the
// stored one is out of the option's range.
int StoredNumber(SettingsStore& settings, const OptionSpec& option);
int StoredNumber(SettingsStore& settings, std::string_view option_name);
// The option lines of the usage text, from the table.
std::string OptionHelp(std::string_view formats);
// "--timeout, ... and --user-agent": the options that fall back to a
// stored preference.
std::string OptionsWithStoredDefaults();

// Ok when the certificate authority file can be read; else why not.
Status CheckCaFile(const std::string& path);

// The stored preferences as options: what a run uses where nothing else
// says.
RunOptions StoredRunOptions(SettingsStore& settings);

// Hands the controller what a test runs with: unset values from the
// stored preferences. A one-line message when the link rules are no good.
Status ConfigureRun(RunController& controller, const RunOptions& options, SettingsStore& settings);
// The report filter a run uses, the accepted codes marked good.
ReportFilter RunFilter(const RunOptions& options, SettingsStore& settings);
int RunTimeout(const RunOptions& options, SettingsStore& settings);

}  // namespace quimbel
