#include "core/run_options.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "core/run_controller.h"
#include "core/settings_keys.h"

namespace quimbel {

Status CheckCaFile(const std::string& path) {
  if (::access(path.c_str(), R_OK) != 0) {
    const int error = errno;
    return Status::Error("cannot read the CA file " + path + ": " + std::strerror(error), error);
  }
  return Status::Ok();
}

namespace {

// A whole number from `low` to `high`, or nothing.
std::optional<int> NumberIn(const std::string& text, int low, int high) {
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno != 0 || value < low || value > high) {
    return std::nullopt;
  }
  return static_cast<int>(value);
}

// "90", "90s", "30m", "12h" or "1d" in seconds; nothing for anything else.
std::optional<long long> ParseAge(const std::string& text) {
  if (text.empty()) return std::nullopt;
  long long unit = 1;
  std::string number = text;
  switch (text.back()) {
    case 's':
      unit = 1;
      number.pop_back();
      break;
    case 'm':
      unit = 60;
      number.pop_back();
      break;
    case 'h':
      unit = 3600;
      number.pop_back();
      break;
    case 'd':
      unit = 86400;
      number.pop_back();
      break;
    default:
      break;
  }
  const std::optional<int> value = NumberIn(number, 0, 1000000);
  if (!value) return std::nullopt;
  return *value * unit;
}

// The list an option adds to; emptied first when this source is a later
// one than the list's items came from.
std::vector<std::string>& ListOf(RunOptions& options, std::string_view name,
                                 std::vector<std::string>& list) {
  const auto [found, added] = options.list_layers.try_emplace(name, options.layer);
  if (!added && found->second != options.layer) {
    list.clear();
    found->second = options.layer;
  }
  return list;
}

Status SetFilter(RunOptions& options, const std::string& value) {
  const LoadedFilter loaded = LoadFilterText(value);
  if (loaded.reset_to_default || value.find_first_not_of("01") != std::string::npos) {
    return Status::Invalid(
        "the filter must be 72 (or 43, 65, 66, 68, 70 or 71) characters of 0 and 1");
  }
  options.filter = loaded.filter.text();
  return Status::Ok();
}

Status SetCaFile(RunOptions& options, const std::string& value) {
  if (Status readable = CheckCaFile(value); !readable) return readable;
  options.ca_file = value;
  return Status::Ok();
}

Status SetRoot(RunOptions& options, const std::string& value) {
  std::error_code error;
  if (!std::filesystem::is_directory(value, error))
    return Status::Invalid("the site root is no folder: " + value);
  options.local.site_root = value;
  return Status::Ok();
}

Status SetAccept(RunOptions& options, const std::string& value) {
  Result<std::vector<CodeRange>> codes = ParseCodeList(value);
  if (!codes) return codes.status();
  options.accept = std::move(codes).value();
  return Status::Ok();
}

Status SetRepair(RunOptions& options, const std::string& value) {
  if (value != "disable" && value != "replace" && value != "remove") {
    return Status::Invalid("the repair type is disable, replace or remove");
  }
  options.repair = value;
  return Status::Ok();
}

Status SetUserAgent(RunOptions& options, const std::string& value) {
  if (!IsUsableUserAgent(value))
    return Status::Invalid("the user agent must be text without control characters");
  options.user_agent = value;
  return Status::Ok();
}

Status SetScope(RunOptions& options, const std::string& value) {
  if (value != "path" && value != "host") return Status::Invalid("the scope is path or host");
  options.crawl.scope = value == "host" ? ScopeMode::kHost : ScopeMode::kPath;
  return Status::Ok();
}

Status AddStartUrl(RunOptions& options, const std::string& value) {
  if (!PageKey(value)) return Status::Invalid("a start address is an http or https URL: " + value);
  ListOf(options, "start-url", options.crawl.start_urls).push_back(value);
  return Status::Ok();
}

Status AddSitemap(RunOptions& options, const std::string& value) {
  if (!PageKey(value))
    return Status::Invalid("a sitemap address is an http or https URL: " + value);
  ListOf(options, "sitemap", options.crawl.sitemaps).push_back(value);
  return Status::Ok();
}

Status SetCacheMaxAge(RunOptions& options, const std::string& value) {
  const auto seconds = ParseAge(value);
  if (!seconds)
    return Status::Invalid(
        "the cache age is a number of seconds, or of minutes, hours or days (30m, 12h, 1d)");
  options.cache_max_age = *seconds;
  return Status::Ok();
}

// Switches and plain values, one line each.
#define QUIMBEL_SET(expression)                       \
  [](RunOptions& o, const std::string& v) -> Status { \
    (void)v;                                          \
    expression;                                       \
    return Status::Ok();                              \
  }

using K = OptionKind;
using C = ConfigUse;

// clang-format off
const OptionSpec kOptions[] = {
  {"all-files", 'a', K::kSwitch, 0, 0, "", "PATH is a folder: take all its files", C::kKey, "",
   QUIMBEL_SET(o.scope.all_files = true)},
  {"recurse", 'r', K::kSwitch, 0, 0, "", "take the files of all sub-folders too (implies -a)",
   C::kKey, "", QUIMBEL_SET(o.scope.recurse = o.scope.all_files = true)},
  {"html-only", 'x', K::kSwitch, 0, 0, "", "only files with an HTML-like or Markdown extension", C::kKey, "",
   QUIMBEL_SET(o.scope.filter = ExtensionFilter::kHtmlOnly)},
  {"purge", 0, K::kSwitch, 0, 0, "", "remove the HTML comments instead of testing links",
   C::kKey, "", QUIMBEL_SET(o.purge = true)},
  {"timeout", 't', K::kNumber, 5, 1000, "SECONDS", "time limit for slow hosts, 5 to 1000",
   C::kKey, "Timeout", QUIMBEL_SET(o.timeout = std::atoi(v.c_str()))},
  {"filter", 0, K::kText, 0, 0, "STRING",
   "the report filter: 72 characters of 0 and 1 (43, 65,\n"
   "66, 68, 70 or 71 are taken too, the added categories reported)", C::kKey, "Filter", SetFilter},
  {"parallel", 'j', K::kNumber, 1, kMostParallelProbes, "N",
   "probe up to N links at once, 1 to 256 (default {default})", C::kKey, "ParallelProbes",
   QUIMBEL_SET(o.parallel = std::atoi(v.c_str())), &settings::kParallelProbes,
   "&Parallel probes:", "How many links are probed at once (1 probes one at a time)"},
  {"per-host", 0, K::kNumber, 1, kMostParallelProbes, "N",
   "of those, at most N to one host, 1 to 256 (default {default})", C::kKey, "PerHost",
   QUIMBEL_SET(o.per_host = std::atoi(v.c_str())), &settings::kPerHost, "Per &host:",
   "Of those, how many may go to one host at once"},
  {"streams", 0, K::kNumber, 1, kMostStreams, "N",
   "at most N requests at once on the one HTTP/2 connection\n"
   "to a host that offers it, 1 to 1000 (default {default})", C::kKey, "Streams",
   QUIMBEL_SET(o.streams = std::atoi(v.c_str())), &settings::kStreams, "HTTP/2 &streams:",
   "How many requests may share one HTTP/2 connection to a host"},
  {"http2-prior-knowledge", 0, K::kSwitch, 0, 0, "",
   "speak HTTP/2 to http:// hosts from the first byte (https\n"
   "takes HTTP/2 wherever the host offers it)", C::kKey, "",
   QUIMBEL_SET(o.http2_prior_knowledge = true)},
  {"max-redirects", 0, K::kNumber, 0, kMostRedirects, "N",
   "follow at most N moves to see where a moved link\n"
   "ends, 0 to 50 (default {default}; 0: one request only)", C::kKey, "MaxRedirects",
   QUIMBEL_SET(o.max_redirects = std::atoi(v.c_str())), &settings::kMaxRedirects,
   "&Redirects followed:",
   "How many moves are followed to see where a moved link ends (0 asks once and reports the "
   "move)"},
  {"user-agent", 0, K::kText, 0, 0, "TEXT", "the User-Agent the probes send", C::kKey,
   "UserAgent", SetUserAgent},
  {"ca-file", 0, K::kPath, 0, 0, "FILE", "trust the certificate authority in FILE too (PEM)",
   C::kKey, "", SetCaFile},
  {"insecure", 0, K::kSwitch, 0, 0, "", "check https links without checking certificates",
   C::kKey, "", QUIMBEL_SET(o.insecure = true)},
  {"root", 0, K::kPath, 0, 0, "DIR",
   "the site root that links starting with / lead into\n"
   "(default: the folder checked, or the file's folder)", C::kKey, "", SetRoot},
  {"site-url", 0, K::kText, 0, 0, "URL", "links that start with URL are files under the root",
   C::kKey, "", QUIMBEL_SET(o.local.site_url = v)},
  {"no-resources", 0, K::kSwitch, 0, 0, "",
   "leave images, scripts, style sheets and frames alone", C::kKey, "",
   QUIMBEL_SET(o.local.resources = false)},
  {"start-url", 0, K::kList, 0, 0, "URL",
   "check the live site at URL, crawling its pages\n(repeatable; "
   "a PATH with http:// or https:// is one too)", C::kNoKey, "", AddStartUrl},
  {"sitemap", 0, K::kList, 0, 0, "URL", "crawl the pages the sitemap at URL names (repeatable)",
   C::kKey, "", AddSitemap},
  {"scope", 0, K::kText, 0, 0, "SCOPE",
   "the pages a crawl follows: path (under the start\n"
   "address, the default) or host (all of its host)", C::kKey, "", SetScope},
  {"depth", 0, K::kNumber, 0, 1000000, "N", "follow links at most N pages deep (default: no limit)",
   C::kKey, "", QUIMBEL_SET(o.crawl.depth = std::atoi(v.c_str()))},
  {"max-pages", 0, K::kNumber, 1, 10000000, "N", "crawl at most N pages (default 100000)", C::kKey,
   "", QUIMBEL_SET(o.crawl.max_pages = static_cast<std::size_t>(std::atoll(v.c_str())))},
  {"ignore-robots", 0, K::kSwitch, 0, 0, "",
   "request what the crawled site's robots.txt disallows\n"
   "too (for checking a site of your own)", C::kKey, "",
   QUIMBEL_SET(o.crawl.obey_robots = false)},
  {"check-fragments", 0, K::kSwitch, 0, 0, "",
   "look for the #place of a link to another site in its\n"
   "page (ids a page makes in script are not seen)", C::kKey, "",
   QUIMBEL_SET(o.local.check_fragments = true)},
  {"rate", 0, K::kNumber, 0, kMostRatePerHost, "N", "at most N requests a second to one host (0: no limit)",
   C::kKey, "RatePerHost", QUIMBEL_SET(o.rate = std::atoi(v.c_str())), &settings::kRatePerHost,
   "Requests a &second per host:", "At most this many requests a second to any one host"},
  {"cache", 0, K::kPath, 0, 0, "FILE",
   "keep the outcomes of links to other sites in FILE and\n"
   "reuse them in the next runs", C::kRefused, "", QUIMBEL_SET(o.cache_file = v)},
  {"cache-max-age", 0, K::kText, 0, 0, "AGE",
   "probe again what the cache holds for longer than AGE\n"
   "(seconds, or 30m, 12h, 1d; default 1d)", C::kKey, "", SetCacheMaxAge},
  {"no-history", 0, K::kSwitch, 0, 0, "",
   "keep no record of this run's rows (by default the last\n"
   "30 runs of each PATH or site are kept, beside the cache)", C::kKey, "",
   QUIMBEL_SET(o.history = false)},
  {"since-last", 0, K::kSwitch, 0, 0, "",
   "list only the rows that are new since the last whole\n"
   "run of the same PATH or site, and say how many were fixed", C::kKey, "",
   QUIMBEL_SET(o.since_last = true)},
  {"resume", 0, K::kSwitch, 0, 0, "",
   "go on with a crawl of the same start addresses that was\n"
   "stopped, without fetching again the pages it read", C::kNoKey, "",
   QUIMBEL_SET(o.resume = true)},
  {"hawk", 0, K::kSwitch, 0, 0, "", "report every defect (code 200 is not a defect)", C::kKey,
   "", QUIMBEL_SET(o.filter = std::string(kDefaultFilter))},
  {"one-eye", 0, K::kSwitch, 0, 0, "", "report only the very worst offenders", C::kKey, "",
   QUIMBEL_SET(o.filter = std::string(kTypeBFilter))},
  {"exclude", 0, K::kList, 0, 0, "REGEX",
   "skip links that match REGEX (repeatable; RE2 syntax:\n"
   "ECMAScript's without look-around or back-references)", C::kKey, "",
   QUIMBEL_SET(ListOf(o, "exclude", o.exclude).push_back(v))},
  {"include", 0, K::kList, 0, 0, "REGEX", "but check those that match REGEX too (repeatable)",
   C::kKey, "", QUIMBEL_SET(ListOf(o, "include", o.include).push_back(v))},
  {"accept", 0, K::kText, 0, 0, "CODES", "codes that are good too, such as 200,204,429,500-599",
   C::kKey, "", SetAccept},
  {"format", 0, K::kText, 0, 0, "FORMAT",
   "what goes to standard output, one of\n{formats}\n"
   "(text, the listing, by default)", C::kKey, "", QUIMBEL_SET(o.format = v)},
  {"output", 0, K::kList, 0, 0, "FORMAT=FILE", "also write FORMAT to FILE (repeatable)",
   C::kRefused, "", QUIMBEL_SET(ListOf(o, "output", o.outputs).push_back(v))},
  {"text", 0, K::kPath, 0, 0, "FILE", "also write the text listing to FILE", C::kRefused, "",
   QUIMBEL_SET(o.text_file = v)},
  {"html", 0, K::kPath, 0, 0, "FILE", "also write the HTML report to FILE", C::kRefused, "",
   QUIMBEL_SET(o.html_file = v)},
  {"config", 0, K::kPath, 0, 0, "FILE",
   "read options from FILE instead of the quimbel.toml\n"
   "found in the folder checked or above it (up to a\n"
   "repository's root or your home; only your own file)", C::kNoKey, "",
   QUIMBEL_SET(o.config_file = v)},
  {"no-config", 0, K::kSwitch, 0, 0, "", "read no quimbel.toml", C::kNoKey, "",
   QUIMBEL_SET(o.no_config = true)},
  {"repair", 0, K::kText, 0, 0, "TYPE",
   "then repair the listed rows: disable, replace or remove\n"
   "the line (the other repair options are the stored ones)", C::kRefused, "", SetRepair},
  {"yes", 0, K::kSwitch, 0, 0, "", "answer Yes to the repair's questions (default: No)",
   C::kRefused, "", QUIMBEL_SET(o.yes = true)},
  {"watch", 0, K::kSwitch, 0, 0, "",
   "after the run, keep checking each page as it is saved\n"
   "and list its rows again, until Ctrl+C (text only)", C::kRefused, "",
   QUIMBEL_SET(o.watch = true)},
  {"quiet", 'q', K::kSwitch, 0, 0, "", "no log lines and no progress display", C::kKey, "",
   QUIMBEL_SET(o.quiet = true)},
  {"help", 'h', K::kSwitch, 0, 0, "", "show this help", C::kNoKey, "",
   QUIMBEL_SET(o.help = true)},
  {"version", 0, K::kSwitch, 0, 0, "", "show the version", C::kNoKey, "",
   QUIMBEL_SET(o.version = true)},
};
// clang-format on
#undef QUIMBEL_SET

// What a number out of its range is told.
std::string NumberProblem(const OptionSpec& option) {
  if (option.name == "timeout") return "the timeout must be a number of seconds from 5 to 1000";
  if (option.name == "parallel") return "the parallel probes must be 1 to 256";
  if (option.name == "per-host") return "the probes per host must be 1 to 256";
  return "the redirects followed must be " + std::to_string(option.low) + " to " +
         std::to_string(option.high);
}

}  // namespace

std::span<const OptionSpec> RunOptionTable() {
  return kOptions;
}

const OptionSpec* FindOption(std::string_view name) {
  for (const OptionSpec& option : kOptions) {
    if (option.name == name) return &option;
  }
  return nullptr;
}

const OptionSpec* FindShortOption(char name) {
  for (const OptionSpec& option : kOptions) {
    if (name != 0 && option.short_name == name) return &option;
  }
  return nullptr;
}

Status ApplyOption(const OptionSpec& option, const std::string& value, RunOptions& options) {
  if (option.kind == OptionKind::kNumber && !NumberIn(value, option.low, option.high)) {
    return Status::Invalid(NumberProblem(option));
  }
  return option.apply(options, value);
}

std::string ExpandedHelp(const OptionSpec& option, std::string_view formats) {
  std::string text(option.help);
  const auto put = [&text](std::string_view marker, std::string_view with) {
    for (std::size_t at = 0; (at = text.find(marker, at)) != std::string::npos;) {
      text.replace(at, marker.size(), with);
      at += with.size();
    }
  };
  put(kFormatsMarker, formats);
  if (option.stored_number != nullptr)
    put("{default}", std::to_string(option.stored_number->default_value));
  return text;
}

std::string OptionHelp(std::string_view formats) {
  constexpr std::size_t kHelpColumn = 24;
  std::string text;
  for (const OptionSpec& option : kOptions) {
    std::string head = option.short_name != 0 ? std::string("  -") + option.short_name + ", --"
                                              : std::string("      --");
    head += option.name;
    if (!option.value_name.empty()) head += " " + std::string(option.value_name);
    head += head.size() < kHelpColumn ? std::string(kHelpColumn - head.size(), ' ') : "  ";
    const std::string expanded = ExpandedHelp(option, formats);
    std::string_view help = expanded;
    for (std::size_t end; (end = help.find('\n')) != std::string_view::npos;) {
      text += head + std::string(help.substr(0, end)) + "\n";
      head = std::string(kHelpColumn, ' ');
      help.remove_prefix(end + 1);
    }
    text += head + std::string(help) + "\n";
  }
  return text;
}

std::string OptionsWithStoredDefaults() {
  std::vector<std::string> names;
  for (const OptionSpec& option : kOptions) {
    if (!option.setting.empty()) names.push_back("--" + std::string(option.name));
  }
  std::string text;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) text += i + 1 == names.size() ? " and " : ", ";
    text += names[i];
  }
  return text;
}

}  // namespace quimbel
