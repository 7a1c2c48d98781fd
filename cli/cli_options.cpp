#include "cli/cli_options.h"

#include <getopt.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <iostream>

#include "core/file_collection.h"
#include "core/project_config.h"
#include "core/window_rules.h"
#include "platform/product.h"

namespace quimbel {
namespace {

constexpr const char* kUsageHead =
    "usage: quimbel-cli [options] PATH\n"
    "\n"
    "Checks the links of the pages in PATH (a file, or a folder's HTML-like files\n"
    "in all its sub-folders): anchors and what each page loads, srcset candidates,\n"
    "refreshes, SVG hrefs and style sheet references, and lists the ones the report\n"
    "filter reports. Markdown pages (.md, .markdown) are read as GitHub reads them:\n"
    "their links, images, references, autolinks and HTML, and their headings' ids.\n"
    "PATH may be the address of a live site (http:// or https://): its pages are\n"
    "crawled, and each is checked as a file would be.\n"
    "\n";
constexpr const char* kUsageTail =
    "http_proxy, https_proxy and no_proxy are honoured.\n"
    "Exit status: 0 no row listed, 1 rows listed, 2 could not run (or the repair\n"
    "did not complete), 130 stopped.\n";

std::string Usage() {
  // The sentence is wrapped at 80 columns, however many options it names.
  std::string text = "Options on the command line override those of the config file. Without " +
                     OptionsWithStoredDefaults() + " the stored preferences are used.";
  std::string wrapped;
  std::size_t column = 0;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = std::min(text.find(' ', at), text.size());
    const std::size_t length = end - at;
    if (column > 0 && column + 1 + length > 80) {
      wrapped += '\n';
      column = 0;
    } else if (column > 0) {
      wrapped += ' ';
      ++column;
    }
    wrapped.append(text, at, length);
    column += length;
    at = end + 1;
  }
  return kUsageHead + OptionHelp(ReportFormatChoices()) + "\n" + wrapped + "\n" + kUsageTail;
}

int UsageError(const std::string& problem) {
  std::cerr << "quimbel: " << problem << "\n" << Usage();
  return kExitCannotRun;
}

// A mistake in a value that is clear on its own line.
int ValueError(const std::string& problem) {
  std::cerr << "quimbel: " << problem << "\n";
  return kExitCannotRun;
}

using Given = std::vector<std::pair<const OptionSpec*, std::string>>;

// The options as given, in order, and the one PATH; an exit status for a
// name that is no option.
std::variant<std::pair<Given, std::string>, int> ReadArguments(int argc, char** argv) {
  std::vector<option> longs;
  std::string shorts;
  for (const OptionSpec& entry : RunOptionTable()) {
    const int has_value = entry.kind == OptionKind::kSwitch ? no_argument : required_argument;
    const int index = static_cast<int>(&entry - RunOptionTable().data());
    longs.push_back({entry.name.data(), has_value, nullptr, 1000 + index});
    if (entry.short_name != 0) shorts += std::string(1, entry.short_name) + (has_value ? ":" : "");
  }
  longs.push_back({nullptr, 0, nullptr, 0});
  opterr = 0;
  optind = 0;
  Given given;
  for (int c; (c = getopt_long(argc, argv, shorts.c_str(), longs.data(), nullptr)) != -1;) {
    const OptionSpec* entry = c >= 1000 ? &RunOptionTable()[static_cast<std::size_t>(c - 1000)]
                                        : FindShortOption(static_cast<char>(c));
    if (c == '?' || entry == nullptr) {
      return UsageError(std::string("unknown option ") + argv[optind - 1]);
    }
    given.emplace_back(entry, optarg != nullptr ? optarg : "");
  }
  return std::pair{std::move(given), optind == argc - 1 ? std::string(argv[optind]) : ""};
}

// Applies what the command line gave; an exit status for a bad value.
std::optional<int> ApplyGiven(const Given& given, RunOptions& options) {
  for (const auto& [entry, value] : given) {
    if (Status applied = ApplyOption(*entry, value, options); !applied) {
      // A bad code list is clear on its own; the rest come with the usage.
      return entry->name == "accept" ? ValueError(applied.message())
                                     : UsageError(applied.message());
    }
    if (options.help) {
      std::cout << Usage();
      return kExitNoRows;
    }
    if (options.version) {
      std::cout << "quimbel-cli (" << kProductVersionLine << ")\n";
      return kExitNoRows;
    }
  }
  return std::nullopt;
}

// The project config under the path, laid beneath the command line.
std::optional<int> LayConfigBeneath(const Given& given, CliOptions& options) {
  const RunOptions& run = options.run;
  if (run.no_config) return std::nullopt;
  const std::optional<std::string> file =
      run.config_file.empty()
          ? FindProjectConfig(options.path.empty() || IsWebAddress(options.path) ? "."
                                                                                 : options.path)
          : run.config_file;
  if (!file) return std::nullopt;
  const Result<ProjectConfig> loaded = LoadProjectConfig(*file);
  if (!loaded) return ValueError(loaded.message());
  RunOptions layered;
  if (Status applied = ApplyConfigOptions(*loaded, layered); !applied) {
    return ValueError(applied.message());
  }
  ++layered.layer;  // the command line's lists replace the config's
  if (const auto status = ApplyGiven(given, layered)) return status;
  options.run = std::move(layered);
  options.config_used = *file;
  return std::nullopt;
}

// The command line's own values: formats, outputs, the repair.
std::optional<int> TakeCommandLineValues(CliOptions& options) {
  const RunOptions& run = options.run;
  if (!run.format.empty()) {
    const auto format = ReportFormatNamed(run.format);
    if (!format) {
      return ValueError("unknown format \"" + run.format + "\": " + ReportFormatChoices());
    }
    options.format = *format;
  }
  for (const std::string& item : run.outputs) {
    const std::size_t equals = item.find('=');
    const auto format =
        equals == std::string::npos ? std::nullopt : ReportFormatNamed(item.substr(0, equals));
    if (!format || equals + 1 == item.size()) {
      return ValueError("--output takes FORMAT=FILE, FORMAT one of " + ReportFormatChoices() +
                        ": " + item);
    }
    options.outputs.emplace_back(*format, item.substr(equals + 1));
  }
  if (run.repair == "disable") options.repair_type = RepairType::kDisableLine;
  if (run.repair == "replace") options.repair_type = RepairType::kReplaceUrl;
  if (run.repair == "remove") options.repair_type = RepairType::kRemoveLine;
  if (const Result<LinkRules> rules = LinkRules::Make(run.exclude, run.include); !rules) {
    return ValueError(rules.message());
  }
  return std::nullopt;
}

// A watch follows files on disk and lists their rows again as they change:
// a report that is one document (JSON, JUnit, ...) has no place for that.
std::optional<int> CheckWatch(const CliOptions& options) {
  const RunOptions& run = options.run;
  if (!run.watch) return std::nullopt;
  if (options.format != ReportFormat::kText) {
    return UsageError("--watch lists the rows of each page saved as text; --format " + run.format +
                      " writes one report (use --output FORMAT=FILE for it)");
  }
  if (!run.crawl.start_urls.empty()) return UsageError("--watch follows files, not a live site");
  if (run.purge) return UsageError("--watch needs a test run, not --purge");
  return std::nullopt;
}

// A report must never take the place of a page it reports on, nor be
// found missing a folder only after the whole run.
std::optional<int> CheckReportTargets(const CliOptions& options) {
  std::vector<std::string> targets = {options.run.text_file, options.run.html_file};
  for (const auto& [format, file] : options.outputs)
    targets.push_back(file);
  std::error_code error;
  const bool folder = std::filesystem::is_directory(options.path, error);
  const std::filesystem::path checked =
      options.path.empty() ? std::filesystem::path()
                           : std::filesystem::weakly_canonical(options.path, error);
  for (const std::string& target : targets) {
    if (target.empty()) continue;
    const std::filesystem::path path(target);
    const std::filesystem::path parent = path.has_parent_path() ? path.parent_path() : ".";
    if (!std::filesystem::is_directory(parent, error)) {
      return ValueError("cannot write " + target + ": its folder does not exist");
    }
    if (options.path.empty() || !options.run.crawl.start_urls.empty()) continue;
    if (!folder && std::filesystem::equivalent(path, options.path, error)) {
      return ValueError("cannot write " + target + ": it is the page being checked");
    }
    const std::filesystem::path where = std::filesystem::weakly_canonical(path, error);
    const auto [end, inside] =
        std::mismatch(checked.begin(), checked.end(), where.begin(), where.end());
    if (folder && !error && end == checked.end() && HasHtmlExtension(target)) {
      return ValueError("cannot write " + target + ": it would be one of the pages checked");
    }
  }
  return std::nullopt;
}

}  // namespace

std::variant<CliOptions, int> ParseCommandLine(int argc, char** argv) {
  auto read = ReadArguments(argc, argv);
  if (const int* status = std::get_if<int>(&read)) return *status;
  auto& [given, path] = std::get<std::pair<Given, std::string>>(read);
  CliOptions options;
  if (const auto status = ApplyGiven(given, options.run)) return *status;
  auto& starts = options.run.crawl.start_urls;
  if (IsWebAddress(path)) {
    // A PATH that is an address is the first start address.
    if (!PageKey(path)) return ValueError("cannot read the address " + path);
    starts.insert(starts.begin(), path);
  } else if (path.empty() && starts.empty()) {
    return UsageError("name exactly one PATH");
  }
  options.path = path;
  if (!starts.empty() && options.run.purge) {
    return UsageError("--purge changes files, not a live site");
  }
  if (const auto status = LayConfigBeneath(given, options)) return *status;
  if (!options.run.repair.empty() && options.run.purge) {
    return UsageError("--repair needs a test run, not --purge");
  }
  if (const auto status = TakeCommandLineValues(options)) return *status;
  if (const auto status = CheckWatch(options)) return *status;
  std::error_code error;
  if (starts.empty() && std::filesystem::is_directory(options.path, error)) {
    // "site/" names the folder: its pages are named without a doubled "/".
    while (options.path.size() > 1 && options.path.back() == '/')
      options.path.pop_back();
    RunScope& scope = options.run.scope;
    if (!scope.all_files && !scope.recurse && !options.run.purge) {
      scope.all_files = scope.recurse = true;
      scope.filter = ExtensionFilter::kHtmlOnly;
      options.folder_as_site = true;
    }
  }
  if (const auto status = CheckReportTargets(options)) return *status;
  return options;
}

bool LooksLikeWebAddress(std::string_view path) {
  const std::string_view host = path.substr(0, path.find('/'));
  const std::size_t dot = host.rfind('.');
  if (host.empty() || dot == std::string_view::npos || dot + 1 == host.size()) return false;
  if (HasHtmlExtension(host)) return false;
  return std::all_of(host.begin(), host.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '.' || c == '-' || c == ':';
  });
}

}  // namespace quimbel
