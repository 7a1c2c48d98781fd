#include "cli/cli_run.h"

#include <unistd.h>
#include <csignal>

#include <atomic>
#include <iostream>
#include <thread>

#include "cli/cli_host.h"
#include "cli/cli_options.h"
#include "cli/cli_reports.h"
#include "core/message_loop.h"
#include "core/run_controller.h"
#include "core/settings_store.h"
#include "core/window_rules.h"
#include "export/report_writers.h"
#include "links/url_resolver.h"
#include "platform/inotify_watch.h"
#include "platform/product.h"
#include "platform/read_only_config_store.h"
#include "platform/settings_file.h"

namespace quimbel {
namespace {

// The checks the file selection makes before a run, with its messages;
// the store it would record the choice in is read-only here.
bool PathExists(const CliOptions& options, ConfigStore& config, CliHost& host) {
  ReadOnlyConfigStore read_only(config);
  SettingsStore settings(read_only);
  const RunOptions& run = options.run;
  const FileSelection selection{options.path,
                                run.purge ? Function::kRemoveComments : Function::kTestUrls,
                                run.scope.all_files,
                                run.scope.recurse,
                                run.scope.filter == ExtensionFilter::kHtmlOnly,
                                run.local.site_root,
                                run.local.site_url,
                                run.local.resources};
  return AcceptFileSelection(settings, selection, host);
}

// Whether the PATH names something to check; a hint for a web address
// typed without its scheme, and a log line for a folder named alone.
bool ReadyToCheck(const CliOptions& options, ConfigStore& config, CliHost& host) {
  if (!PathExists(options, config, host)) {
    if (LooksLikeWebAddress(options.path)) {
      std::cerr << "quimbel: to check a web address, begin it with https:// or http:// ("
                << "https://" << options.path << ")\n";
    }
    return false;
  }
  if (options.folder_as_site) {
    host.LogAppend(options.path +
                   " is a folder: its HTML-like files are checked, in all its "
                   "sub-folders, as -r -x does\r\n");
  }
  return true;
}

// Ctrl+C (and, while pages are watched, SIGTERM), turned into a task on
// the loop by a thread that waits for it, and into a flag for the repair,
// which runs without the loop. The signals must be blocked in every thread.
class InterruptWatch {
 public:
  InterruptWatch(MessageLoop& loop, const sigset_t& set, std::function<void()> on_interrupt)
      : thread_([this, &loop, set, on_interrupt = std::move(on_interrupt)] {
          const timespec tick{0, 100'000'000};
          while (!done_) {
            if (sigtimedwait(&set, nullptr, &tick) > 0 && !done_) {
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
  InterruptWatch(const InterruptWatch&) = delete;
  InterruptWatch& operator=(const InterruptWatch&) = delete;
  bool interrupted() const { return interrupted_; }

 private:
  std::atomic<bool> done_{false};
  std::atomic<bool> interrupted_{false};
  std::thread thread_;
};

// What the reports say about the run beside its rows.
RunFacts FactsOf(const CliOptions& options, const RunController& controller,
                 SettingsStore& settings) {
  const RunOptions& run = options.run;
  const ProbeSettings& probe = controller.settings().probe;
  RunFacts facts;
  facts.version = kProductVersionLine;
  // A password in a start address goes to its server, not into reports.
  facts.path = WithoutPassword(options.path.empty() ? run.crawl.start_urls.front() : options.path);
  facts.recurse = run.scope.recurse;
  facts.all_files = run.scope.all_files;
  facts.html_only = run.scope.filter == ExtensionFilter::kHtmlOnly;
  facts.timeout_seconds = RunTimeout(run, settings);
  facts.parallel = probe.parallel;
  facts.per_host = probe.per_host;
  facts.max_redirects = probe.max_redirects;
  facts.filter = controller.settings().filter.text();
  facts.accept = CodeListText(run.accept);
  facts.exclude = run.exclude;
  facts.include = run.include;
  facts.local = controller.test().local_options();
  facts.history = controller.test().history_kept();
  facts.fixed = controller.test().fixed_since_last();
  return facts;
}

// --since-last: the rows new since the last whole run are the listing;
// what the comparison found is said even when the log is not shown.
void KeepOnlyNewRows(const CliOptions& options, RunController& controller, const RunFacts& facts) {
  if (!options.run.since_last || options.run.purge || !facts.history) return;
  controller.results().RemoveRowsIf([](const ResultRow& row) { return !row.new_since_last; });
  if (!controller.test().history_compared()) {
    std::cerr << "quimbel: no whole run of " << facts.path
              << " before this one to compare with: every row is new\n";
  } else if (options.run.quiet && facts.fixed) {
    std::cerr << "quimbel: since the last run: " << controller.results().size() << " new, "
              << *facts.fixed << " fixed\n";
  }
}

// Whether a report asks for every link checked, not only the rows.
bool RecordsCheckedLinks(const CliOptions& options) {
  bool record = NeedsCheckedLinks(options.format);
  for (const auto& [format, file] : options.outputs)
    record = record || NeedsCheckedLinks(format);
  return record;
}

// Keeps checking the pages of the test as they are saved, each page's
// rows listed again on standard output, until Ctrl+C or SIGTERM. False when
// there was nothing to watch or the listing could not be written.
bool KeepChecking(RunController& controller, MessageLoop& loop, CliHost& host,
                  MessagePoster& poster, const InterruptWatch& interrupt) {
  InotifyWatch files(poster);
  if (!controller.StartWatch(files)) {
    std::cerr << "quimbel: there are no pages to watch\n";
    return false;
  }
  host.LogAppend("Watching the pages for changes; Ctrl+C ends the watch.");
  bool written = true;
  host.on_page_checked = [&](const std::string&, std::size_t first, std::size_t count) {
    WriteTextReportRows(std::cout, controller.results(), first, count);
    if (!std::cout.flush()) written = false;
  };
  while (!interrupt.interrupted() && written)
    loop.Run(MessageLoop::Clock::now() + std::chrono::milliseconds(50));
  controller.StopWatch();
  host.on_page_checked = nullptr;
  if (!written) std::cerr << "quimbel: cannot write the listing to standard output\n";
  return written;
}

// The signals that stop a run, blocked. They are taken by the interrupt
// thread alone: blocked before any thread starts, every thread inherits
// the mask. A watch runs until it is told to stop, by a terminal or by a
// service manager.
sigset_t BlockInterrupts(bool watch) {
  sigset_t interrupt;
  sigemptyset(&interrupt);
  sigaddset(&interrupt, SIGINT);
  if (watch) sigaddset(&interrupt, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &interrupt, nullptr);
  return interrupt;
}

void StartRun(const CliOptions& options, RunController& controller) {
  if (options.run.purge) {
    // Naming --purge on the command line is the confirmation.
    controller.StartPurge(options.path, options.run.scope, PurgeConfirmation::kGiven);
  } else if (!options.run.crawl.start_urls.empty()) {
    controller.StartCrawl(options.run.crawl);
  } else {
    controller.StartTest(options.path, options.run.scope);
  }
}

// Whether Ctrl+C stopped the command. One that comes once the run has
// ended, while its reports are written, stops it only where it cut something
// asked for: otherwise the run is whole, as its report says.
bool StoppedByCtrlC(bool stopped_in_run, bool interrupted, const ReportOutcome& outcome) {
  return stopped_in_run || (interrupted && (!outcome.repaired || !outcome.written));
}

int RunWith(const CliOptions& options) {
  const sigset_t interrupt = BlockInterrupts(options.run.watch);

  // The stored preferences are read, never written.
  SettingsFileReader config;
  SettingsStore settings(config);
  if (!options.run.filter && LoadFilterText(settings.Get(settings::kFilter)).reset_to_default) {
    std::cerr << "quimbel: " << kSafeDefaultMessage << "\n";
  }
  MessageLoop loop;
  CliHost host(loop, std::cerr, options.run.quiet, ::isatty(STDERR_FILENO) == 1);
  const bool crawl = !options.run.crawl.start_urls.empty();
  if (!crawl && !ReadyToCheck(options, config, host)) return kExitCannotRun;

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
               message.id == MessageId::kPurgeFileDone || message.id == MessageId::kPathChanged;
      });
  controller = std::make_unique<RunController>(host, poster);
  // The controller's probe thread posts through `poster` until the
  // controller joins it: the controller goes first, whatever path returns.
  const struct ControllerFirst {
    std::unique_ptr<RunController>& controller;
    ~ControllerFirst() { controller.reset(); }
  } controller_first{controller};
  host.on_timer = [&](int id) {
    controller->OnTimer(id);
    if (!controller->running()) loop.Quit();
  };
  // The options were checked when read, but a CA file may have gone since.
  if (const Status configured = ConfigureRun(*controller, options.run, settings); !configured) {
    std::cerr << "quimbel: " << configured.message() << "\n";
    return kExitCannotRun;
  }
  controller->settings().record_links = RecordsCheckedLinks(options);
  controller->settings().options_file = options.config_used;
  controller->settings().keep_outcomes = options.run.watch;
  controller->SetUp();

  InterruptWatch watch(loop, interrupt, [&] {
    if (controller->running()) controller->StopTest();
    loop.Quit();
  });
  const auto started = std::chrono::system_clock::now();
  StartRun(options, *controller);
  while (controller->running())
    loop.Run(MessageLoop::Clock::now() + std::chrono::milliseconds(50));

  RunFacts facts = FactsOf(options, *controller, settings);
  facts.started = started;
  facts.ended = std::chrono::system_clock::now();
  facts.stopped = watch.interrupted();
  KeepOnlyNewRows(options, *controller, facts);
  const auto interrupted = [&watch] { return watch.interrupted(); };
  ReportOutcome outcome;
  if (!options.run.purge) {
    const RunReport report{facts, controller->results(), controller->test().file_records(),
                           UserDisplayName(), FormatLongDateTime(facts.ended)};
    outcome = WriteTestReports(options, report, *controller, config, host.failed(), interrupted);
  }
  if (StoppedByCtrlC(facts.stopped, watch.interrupted(), outcome)) return kExitInterrupted;
  if (host.failed() || !outcome.repaired || !outcome.written ||
      controller->purge().failures() > 0 || controller->test().pages_not_checked() > 0) {
    return kExitCannotRun;
  }
  // A watch ends only when it is told to: its status is the rows' then.
  if (options.run.watch && !KeepChecking(*controller, loop, host, poster, watch)) {
    return kExitCannotRun;
  }
  return controller->results().empty() ? kExitNoRows : kExitRows;
}

}  // namespace

int RunCli(int argc, char** argv) {
  auto parsed = ParseCommandLine(argc, argv);
  if (const int* status = std::get_if<int>(&parsed)) return *status;
  return RunWith(std::get<CliOptions>(parsed));
}

}  // namespace quimbel
