// quimbel-cli: the link checker without a window, for scripts and CI.
//
// It runs the same engine as the window: the log lines go to standard
// error, the listing of the rows to standard output. The exit status says
// 0 for no row, 1 for at least one, 2 when the run could not be made, and
// 130 when Ctrl+C stopped it.
#include <getopt.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli_host.h"
#include "cli/cli_repair_host.h"
#include "core/link_rules.h"
#include "core/message_loop.h"
#include "core/project_config.h"
#include "core/run_controller.h"
#include "core/settings_store.h"
#include "core/window_rules.h"
#include "export/export_command.h"
#include "export/machine_reports.h"
#include "export/report_writers.h"
#include "platform/qsettings_config_store.h"
#include "platform/read_only_config_store.h"
#include "repair/repair_engine.h"

namespace quimbel {
namespace {

constexpr int kExitNoRows = 0;
constexpr int kExitRows = 1;
constexpr int kExitCannotRun = 2;
constexpr int kExitInterrupted = 130;

constexpr const char* kUsage =
    "usage: quimbel-cli [options] PATH\n"
    "\n"
    "Checks the http, https and ftp links of the anchor tags in PATH (one file, or a\n"
    "folder with --all-files) and lists the ones the report filter reports.\n"
    "\n"
    "  -a, --all-files       PATH is a folder: take all its files\n"
    "  -r, --recurse         take the files of all sub-folders too (implies -a)\n"
    "  -x, --html-only       only files with an HTML-like extension\n"
    "      --purge           remove the HTML comments instead of testing links\n"
    "  -t, --timeout SECONDS time limit for slow hosts, 5 to 1000\n"
    "      --filter STRING   the report filter: 70 characters of 0 and 1 (43, 65,\n"
    "                        66 or 68 are taken too, the added categories reported)\n"
    "  -j, --parallel N      probe up to N links at once, 1 to 256 (default 32)\n"
    "      --per-host N      of those, at most N to one host, 1 to 256 (default 8)\n"
    "      --max-redirects N follow at most N moves to see where a moved link\n"
    "                        ends, 0 to 50 (default 10; 0: one request only)\n"
    "      --user-agent TEXT the User-Agent the probes send\n"
    "      --ca-file FILE    trust the certificate authority in FILE too (PEM)\n"
    "      --insecure        check https links without checking certificates\n"
    "      --root DIR        the site root that links starting with / lead into\n"
    "                        (default: the folder checked, or the file's folder)\n"
    "      --site-url URL    links that start with URL are files under the root\n"
    "      --no-resources    leave images, scripts, style sheets and frames alone\n"
    "      --hawk            report every defect (code 200 is not a defect)\n"
    "      --one-eye         report only the very worst offenders\n"
    "      --exclude REGEX   skip links that match REGEX (repeatable; RE2 syntax:\n"
    "                        ECMAScript's without look-around or back-references)\n"
    "      --include REGEX   but check those that match REGEX too (repeatable)\n"
    "      --accept CODES    codes that are good too, such as 200,204,429,500-599\n"
    "      --format FORMAT   what goes to standard output: text (the listing),\n"
    "                        json, junit, github, markdown or csv\n"
    "      --output FORMAT=FILE  also write FORMAT to FILE (repeatable)\n"
    "      --text FILE       also write the text listing to FILE\n"
    "      --html FILE       also write the HTML report to FILE\n"
    "      --config FILE     read options from FILE instead of the quimbel.toml\n"
    "                        found in the folder checked or above it (up to a\n"
    "                        repository's root or your home; only your own file)\n"
    "      --no-config       read no quimbel.toml\n"
    "      --repair TYPE     then repair the listed rows: disable, replace or remove\n"
    "                        the line (the other repair options are the stored ones)\n"
    "      --yes             answer Yes to the repair's questions (default: No)\n"
    "  -q, --quiet           no log lines and no progress display\n"
    "  -h, --help            show this help\n"
    "      --version         show the version\n"
    "\n"
    "Options on the command line override those of the config file. Without\n"
    "--timeout, --filter, --parallel and --per-host the stored preferences are\n"
    "used. http_proxy, https_proxy and no_proxy are honoured.\n"
    "Exit status: 0 no row listed, 1 rows listed, 2 could not run (or the repair\n"
    "did not complete), 130 stopped.\n";

struct Options {
  std::string path;
  RunScope scope;
  bool purge = false;
  std::optional<int> timeout;
  std::optional<std::string> filter;
  std::string text_file;
  std::string html_file;
  std::optional<RepairType> repair_type;
  bool yes = false;
  bool quiet = false;
  std::optional<std::string> user_agent;
  std::optional<int> parallel;
  std::optional<int> per_host;
  std::optional<int> max_redirects;
  std::string ca_file;
  bool insecure = false;
  LocalLinkOptions local;
  MachineFormat format = MachineFormat::kText;
  std::vector<std::pair<MachineFormat, std::string>> outputs;
  std::vector<std::string> excludes;
  std::vector<std::string> includes;
  std::vector<CodeRange> accepted;
  std::string config_file;  // --config
  bool no_config = false;
  std::string config_used;  // the project config whose options were read
};

// A whole number from `low` to `high`, or nothing.
std::optional<int> NumberIn(const char* text, int low, int high) {
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text, &end, 10);
  if (*text == '\0' || *end != '\0' || errno != 0 || value < low || value > high) {
    return std::nullopt;
  }
  return static_cast<int>(value);
}

int UsageError(const std::string& problem) {
  std::cerr << "quimbel: " << problem << "\n" << kUsage;
  return kExitCannotRun;
}

// A mistake in a value that is clear on its own line.
int ValueError(const std::string& problem) {
  std::cerr << "quimbel: " << problem << "\n";
  return kExitCannotRun;
}

// Parses the arguments; an exit status when there is nothing to run. The
// first `from_config` arguments after the program name came from the config
// file: a repeatable option given on the command line replaces their list.
std::optional<int> Parse(int argc, char** argv, Options* options, int from_config = 0) {
  enum {
    kPurge = 1000,
    kFilter,
    kHawk,
    kOneEye,
    kText,
    kHtml,
    kVersion,
    kRepair,
    kYes,
    kAgent,
    kPerHost,
    kMaxRedirects,
    kCaFile,
    kInsecure,
    kRoot,
    kSiteUrl,
    kNoResources,
    kExclude,
    kInclude,
    kAccept,
    kFormat,
    kOutput,
    kConfig,
    kNoConfig
  };
  static const option kLong[] = {
      {"all-files", no_argument, nullptr, 'a'},
      {"recurse", no_argument, nullptr, 'r'},
      {"html-only", no_argument, nullptr, 'x'},
      {"purge", no_argument, nullptr, kPurge},
      {"timeout", required_argument, nullptr, 't'},
      {"filter", required_argument, nullptr, kFilter},
      {"hawk", no_argument, nullptr, kHawk},
      {"one-eye", no_argument, nullptr, kOneEye},
      {"text", required_argument, nullptr, kText},
      {"html", required_argument, nullptr, kHtml},
      {"quiet", no_argument, nullptr, 'q'},
      {"help", no_argument, nullptr, 'h'},
      {"version", no_argument, nullptr, kVersion},
      {"repair", required_argument, nullptr, kRepair},
      {"yes", no_argument, nullptr, kYes},
      {"user-agent", required_argument, nullptr, kAgent},
      {"parallel", required_argument, nullptr, 'j'},
      {"per-host", required_argument, nullptr, kPerHost},
      {"max-redirects", required_argument, nullptr, kMaxRedirects},
      {"ca-file", required_argument, nullptr, kCaFile},
      {"insecure", no_argument, nullptr, kInsecure},
      {"root", required_argument, nullptr, kRoot},
      {"site-url", required_argument, nullptr, kSiteUrl},
      {"no-resources", no_argument, nullptr, kNoResources},
      {"exclude", required_argument, nullptr, kExclude},
      {"include", required_argument, nullptr, kInclude},
      {"accept", required_argument, nullptr, kAccept},
      {"format", required_argument, nullptr, kFormat},
      {"output", required_argument, nullptr, kOutput},
      {"config", required_argument, nullptr, kConfig},
      {"no-config", no_argument, nullptr, kNoConfig},
      {nullptr, 0, nullptr, 0},
  };
  opterr = 0;
  optind = 0;              // a second parse starts afresh
  std::set<int> replaced;  // repeatable options the command line gave anew
  const auto list_of = [&](int option, auto& list) -> decltype(list) {
    if (optind > from_config + 1 && replaced.insert(option).second) list.clear();
    return list;
  };
  for (int c; (c = getopt_long(argc, argv, "arxt:j:qh", kLong, nullptr)) != -1;) {
    switch (c) {
      case 'a':
        options->scope.all_files = true;
        break;
      case 'r':
        options->scope.recurse = options->scope.all_files = true;
        break;
      case 'x':
        options->scope.filter = ExtensionFilter::kHtmlOnly;
        break;
      case kPurge:
        options->purge = true;
        break;
      case 't':
        options->timeout = NumberIn(optarg, 5, 1000);
        if (!options->timeout) {
          return UsageError("the timeout must be a number of seconds from 5 to 1000");
        }
        break;
      case kFilter: {
        const std::string filter = optarg;
        const LoadedFilter loaded = LoadFilterText(filter);
        if (loaded.reset_to_default || filter.find_first_not_of("01") != std::string::npos) {
          return UsageError("the filter must be 70 (or 43, 65, 66 or 68) characters of 0 and 1");
        }
        options->filter = loaded.filter.text();
        break;
      }
      case kHawk:
        options->filter = std::string(kDefaultFilter);
        break;
      case kOneEye:
        options->filter = std::string(kTypeBFilter);
        break;
      case kText:
        options->text_file = optarg;
        break;
      case kHtml:
        options->html_file = optarg;
        break;
      case kRepair: {
        const std::string type = optarg;
        if (type == "disable") {
          options->repair_type = RepairType::kDisableLine;
        } else if (type == "replace") {
          options->repair_type = RepairType::kReplaceUrl;
        } else if (type == "remove") {
          options->repair_type = RepairType::kRemoveLine;
        } else {
          return UsageError("the repair type is disable, replace or remove");
        }
        break;
      }
      case kYes:
        options->yes = true;
        break;
      case kAgent:
        if (!IsUsableUserAgent(optarg)) {
          return UsageError("the user agent must be text without control characters");
        }
        options->user_agent = optarg;
        break;
      case 'j':
        options->parallel = NumberIn(optarg, 1, kMostParallelProbes);
        if (!options->parallel) return UsageError("the parallel probes must be 1 to 256");
        break;
      case kPerHost:
        options->per_host = NumberIn(optarg, 1, kMostParallelProbes);
        if (!options->per_host) return UsageError("the probes per host must be 1 to 256");
        break;
      case kMaxRedirects:
        options->max_redirects = NumberIn(optarg, 0, kMostRedirects);
        if (!options->max_redirects) return UsageError("the redirects followed must be 0 to 50");
        break;
      case kCaFile:
        if (::access(optarg, R_OK) != 0) {
          return UsageError(std::string("cannot read the CA file ") + optarg + ": " +
                            std::strerror(errno));
        }
        options->ca_file = optarg;
        break;
      case kInsecure:
        options->insecure = true;
        break;
      case kRoot: {
        std::error_code error;
        if (!std::filesystem::is_directory(optarg, error)) {
          return UsageError(std::string("the site root is no folder: ") + optarg);
        }
        options->local.site_root = optarg;
        break;
      }
      case kSiteUrl:
        options->local.site_url = optarg;
        break;
      case kNoResources:
        options->local.resources = false;
        break;
      case kExclude:
        list_of(kExclude, options->excludes).push_back(optarg);
        break;
      case kInclude:
        list_of(kInclude, options->includes).push_back(optarg);
        break;
      case kAccept: {
        auto codes = ParseCodeList(optarg);
        if (auto* error = std::get_if<std::string>(&codes)) return ValueError(*error);
        options->accepted = std::get<std::vector<CodeRange>>(std::move(codes));
        break;
      }
      case kFormat: {
        const auto format = MachineFormatNamed(optarg);
        if (!format) {
          return ValueError(std::string("unknown format \"") + optarg +
                            "\": text, json, junit, github, markdown or csv");
        }
        options->format = *format;
        break;
      }
      case kOutput: {
        const std::string item = optarg;
        const std::size_t equals = item.find('=');
        const auto format =
            equals == std::string::npos ? std::nullopt : MachineFormatNamed(item.substr(0, equals));
        if (!format || equals + 1 == item.size()) {
          return ValueError(
              "--output takes FORMAT=FILE, FORMAT one of text, json, junit, "
              "github, markdown or csv: " +
              item);
        }
        list_of(kOutput, options->outputs).emplace_back(*format, item.substr(equals + 1));
        break;
      }
      case kConfig:
        options->config_file = optarg;
        break;
      case kNoConfig:
        options->no_config = true;
        break;
      case 'q':
        options->quiet = true;
        break;
      case 'h':
        std::cout << kUsage;
        return kExitNoRows;
      case kVersion:
        std::cout << "quimbel-cli (" << kProductVersionLine << ")\n";
        return kExitNoRows;
      default:
        return UsageError(std::string("unknown option ") + argv[optind - 1]);
    }
  }
  if (optind != argc - 1) return UsageError("name exactly one PATH");
  if (options->repair_type && options->purge)
    return UsageError("--repair needs a test run, not --purge");
  options->path = argv[optind];
  if (auto rules = LinkRules::Make(options->excludes, options->includes);
      std::holds_alternative<std::string>(rules)) {
    return ValueError(std::get<std::string>(rules));
  }
  return std::nullopt;
}

// Parses the command line and the project config under it: the config's
// options first, so that the command line's override them.
std::optional<int> ParseWithConfig(int argc, char** argv, Options* options) {
  if (const auto status = Parse(argc, argv, options)) return status;
  if (options->no_config) return std::nullopt;
  std::optional<std::string> file;
  if (!options->config_file.empty()) {
    file = options->config_file;
  } else {
    file = FindProjectConfig(options->path);
  }
  if (!file) return std::nullopt;
  auto loaded = LoadProjectConfig(*file);
  if (auto* error = std::get_if<std::string>(&loaded)) return ValueError(*error);
  const ProjectConfig& config = std::get<ProjectConfig>(loaded);
  std::vector<std::string> texts;
  for (const auto& [name, value] : config.options)
    texts.push_back("--" + name + (value.empty() ? "" : "=" + value));
  std::vector<char*> arguments = {argv[0]};
  for (std::string& text : texts)
    arguments.push_back(text.data());
  const int from_config = static_cast<int>(texts.size());
  for (int i = 1; i < argc; ++i)
    arguments.push_back(argv[i]);
  arguments.push_back(nullptr);
  *options = Options();
  if (const auto status =
          Parse(static_cast<int>(arguments.size()) - 1, arguments.data(), options, from_config)) {
    std::cerr << "quimbel: (with the options of " << *file << ")\n";
    return status;
  }
  options->config_used = *file;
  return std::nullopt;
}

// The checks the file selection makes before a run, with its messages;
// the store it would record the choice in is read-only here.
bool PathExists(const Options& options, ConfigStore& config, CliHost& host) {
  ReadOnlyConfigStore read_only(config);
  SettingsStore settings(read_only);
  const FileSelection selection{options.path,
                                options.purge ? Function::kRemoveComments : Function::kTestUrls,
                                options.scope.all_files,
                                options.scope.recurse,
                                options.scope.filter == ExtensionFilter::kHtmlOnly,
                                options.local.site_root,
                                options.local.site_url,
                                options.local.resources};
  return AcceptFileSelection(settings, selection, host);
}

// Ctrl+C, turned into a task on the loop by a thread that waits for it,
// and into a flag for the repair, which runs without the loop.
class InterruptWatch {
 public:
  explicit InterruptWatch(MessageLoop& loop, std::function<void()> on_interrupt)
      : thread_([this, &loop, on_interrupt = std::move(on_interrupt)] {
          sigset_t set;
          sigemptyset(&set);
          sigaddset(&set, SIGINT);
          const timespec tick{0, 100'000'000};
          while (!done_) {
            if (sigtimedwait(&set, nullptr, &tick) == SIGINT && !done_) {
              interrupted_ = true;
              loop.PostTask(on_interrupt);
            }
          }
        }) {}
  ~InterruptWatch() {
    done_ = true;
    // Ends the wait at once rather than at the next tick.
    pthread_kill(thread_.native_handle(), SIGINT);
    thread_.join();
  }
  bool interrupted() const { return interrupted_; }

 private:
  std::atomic<bool> done_{false};
  std::atomic<bool> interrupted_{false};
  std::thread thread_;
};

// Writes the --text and --html files, but for those an export already
// wrote. Each takes the place of an old file only when complete.
bool WriteReports(const Options& options, const ResultList& rows,
                  const std::set<std::string>& written, const std::function<bool()>& cancelled) {
  const auto write = [&](const std::string& path, ExportFormat format) {
    if (path.empty() || written.count(path)) return true;
    const Status status =
        format == ExportFormat::kText
            ? WriteReportFile(path, format, rows, "", "", cancelled)
            : WriteReportFile(path, format, rows, UserDisplayName(),
                              FormatLongDateTime(std::chrono::system_clock::now()), cancelled);
    if (!status) std::cerr << "quimbel: file write error: " << status.message() << '\n';
    return status.ok();
  };
  const bool text = write(options.text_file, ExportFormat::kText);
  const bool html = write(options.html_file, ExportFormat::kHtml);
  return text && html;
}

int Run(int argc, char** argv) {
  Options options;
  if (const auto status = ParseWithConfig(argc, argv, &options)) return *status;

  // SIGINT is taken by the watch thread alone: block it before any thread
  // starts, so every thread inherits the mask.
  sigset_t interrupt;
  sigemptyset(&interrupt);
  sigaddset(&interrupt, SIGINT);
  pthread_sigmask(SIG_BLOCK, &interrupt, nullptr);

  // The stored preferences are read, never written.
  QSettingsConfigStore config;
  SettingsStore settings(config);
  ReportFilter filter;
  if (options.filter) {
    filter = ReportFilter(*options.filter);
  } else {
    LoadedFilter loaded = LoadFilterText(settings.Get(settings::kFilter));
    if (loaded.reset_to_default) std::cerr << "quimbel: " << kSafeDefaultMessage << "\n";
    filter = loaded.filter;
  }
  filter.Accept(options.accepted);
  int timeout = options.timeout.value_or(settings.Get(settings::kTimeout));
  if (timeout < 1) timeout = settings::kTimeout.default_value;

  MessageLoop loop;
  CliHost host(loop, std::cerr, options.quiet, ::isatty(STDERR_FILENO) == 1);
  if (!PathExists(options, config, host)) return kExitCannotRun;

  std::unique_ptr<RunController> controller;
  // The status bar messages show nothing here: they need not wake the loop.
  LoopPoster poster(
      loop,
      [&](const WorkerMessage& message) {
        controller->HandleMessage(message);
        // The run is over: the loop need not wait for its next turn.
        if (!controller->running()) loop.Quit();
      },
      [](const WorkerMessage& message) {
        return message.id == MessageId::kProbeDone || message.id == MessageId::kPurgeFileStarted ||
               message.id == MessageId::kPurgeFileDone;
      });
  controller = std::make_unique<RunController>(host, poster);
  host.on_timer = [&](int id) {
    controller->OnTimer(id);
    if (!controller->running()) loop.Quit();
  };
  controller->SetFilter(filter);
  controller->SetTimeout(std::chrono::seconds(timeout));
  controller->SetUserAgent(options.user_agent.value_or(settings.Get(settings::kUserAgent)));
  ProbeSettings probe;
  probe.parallel = options.parallel.value_or(StoredProbeCount(settings, settings::kParallelProbes));
  probe.per_host = options.per_host.value_or(StoredProbeCount(settings, settings::kPerHost));
  probe.max_redirects = options.max_redirects.value_or(StoredMaxRedirects(settings));
  probe.ca_file = options.ca_file;
  probe.insecure = options.insecure;
  controller->SetProbeSettings(probe);
  controller->SetLocalLinkOptions(options.local);
  controller->SetLinkRules(
      std::get<LinkRules>(LinkRules::Make(options.excludes, options.includes)));
  bool record_links = NeedsCheckedLinks(options.format);
  for (const auto& [format, file] : options.outputs)
    record_links = record_links || NeedsCheckedLinks(format);
  controller->SetRecordCheckedLinks(record_links);
  controller->SetOptionsFile(options.config_used);
  controller->SetUp();

  InterruptWatch watch(loop, [&] {
    if (controller->running()) controller->StopTest();
    loop.Quit();
  });

  RunFacts facts;
  facts.started = std::chrono::system_clock::now();
  if (options.purge) {
    // Naming --purge on the command line is the confirmation.
    controller->StartPurge(options.path, options.scope, PurgeConfirmation::kGiven);
  } else {
    controller->StartTest(options.path, options.scope);
  }
  while (controller->running())
    loop.Run(MessageLoop::Clock::now() + std::chrono::milliseconds(50));

  facts.ended = std::chrono::system_clock::now();
  facts.version = kProductVersionLine;
  facts.path = options.path;
  facts.recurse = options.scope.recurse;
  facts.all_files = options.scope.all_files;
  facts.html_only = options.scope.filter == ExtensionFilter::kHtmlOnly;
  facts.timeout_seconds = timeout;
  facts.parallel = probe.parallel;
  facts.per_host = probe.per_host;
  facts.max_redirects = probe.max_redirects;
  facts.filter = filter.text();
  facts.accept = CodeListText(options.accepted);
  facts.exclude = options.excludes;
  facts.include = options.includes;
  facts.local = controller->run_local_link_options();
  facts.stopped = watch.interrupted();
  ResultList& rows = controller->results();
  const RunReport report{facts, rows, controller->file_records()};
  bool repaired = true;
  bool written = true;
  std::set<std::string> exported;
  if (!options.purge) {
    WriteMachineReport(std::cout, options.format, report);
    // A listing that did not reach its reader is a run that did not work.
    if (!std::cout.flush()) {
      std::cerr << "quimbel: cannot write the listing to standard output\n";
      written = false;
    }
    if (options.repair_type && !watch.interrupted() && !host.failed() && !rows.empty()) {
      // The stored repair options are used but never changed from here.
      ReadOnlyConfigStore read_only(config);
      SettingsStore repair_settings(read_only);
      CliRepairHost repair_host(std::cerr, options.yes, *options.repair_type, options.text_file,
                                options.html_file, [&watch] { return watch.interrupted(); });
      const RepairOutcome outcome =
          RunRepairCommand(rows, controller->unknown_error_seen(), repair_settings, repair_host);
      repaired = outcome.completed;
      // A remove-type repair with Save on must leave its export behind.
      if (outcome.export_result != ExportResult::kNotAsked &&
          outcome.export_result != ExportResult::kWritten) {
        written = false;
      }
      for (const ResultRow& row : rows.rows()) {
        if (row.RowDone() != 0) {
          std::cerr << "quimbel: " << (row.checked ? "handled " : "left as it is ")
                    << row.text(ResultColumn::kUrl) << " in " << row.text(ResultColumn::kFileName)
                    << '\n';
        }
      }
      exported = repair_host.exported();
    }
    const auto interrupted = [&watch] { return watch.interrupted(); };
    if (!WriteReports(options, rows, exported, interrupted)) written = false;
    for (const auto& [format, file] : options.outputs) {
      std::ostringstream text;
      WriteMachineReport(text, format, report);
      if (const Status status = WriteReportText(file, text.view(), interrupted); !status) {
        std::cerr << "quimbel: file write error: " << status.message() << '\n';
        written = false;
      }
    }
  }
  if (watch.interrupted()) return kExitInterrupted;
  if (host.failed() || !repaired || !written || controller->purge_failures() > 0) {
    return kExitCannotRun;
  }
  return rows.empty() ? kExitNoRows : kExitRows;
}

}  // namespace
}  // namespace quimbel

int main(int argc, char** argv) {
  // Nothing is meant to throw; if something does, say what in one line
  // rather than abort.
  try {
    return quimbel::Run(argc, argv);
  } catch (const std::exception& failure) {
    std::cerr << "quimbel: unexpected failure: " << failure.what() << '\n';
  } catch (...) {
    std::cerr << "quimbel: unexpected failure\n";
  }
  return quimbel::kExitCannotRun;
}
