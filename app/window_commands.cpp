#include "app/window_commands.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>
#include <cstdlib>
#include <filesystem>

#include "app/results_printer.h"
#include "app/results_view.h"
#include "app/window_repair_host.h"
#include "core/project_config.h"
#include "core/run_options.h"
#include "dialogs/file_selection_dialog.h"
#include "dialogs/message_boxes.h"
#include "dialogs/preferences_dialog.h"
#include "export/export_command.h"
#include "export/report_fields.h"
#include "export/report_writers.h"
#include "repair/repair_engine.h"

namespace quimbel {

WindowCommands::WindowCommands(ResultsView& view, RunController& controller,
                               SettingsStore& settings, WindowRepairHost& repair_host)
    : view_(view),
      controller_(controller),
      settings_(settings),
      repair_host_(repair_host),
      printer_(std::make_unique<QPrinter>(QPrinter::HighResolution)) {
  // The preferences in force from the start.
  WidgetPrompter prompter(&view_);
  filter_ = LoadReportFilter(settings_, prompter);
  timeout_seconds_ = settings_.Get(settings::kTimeout);
  visible_ = settings_.Get(settings::kVisible) != 0;
  controller_.settings().filter = filter_;
  controller_.settings().timeout = std::chrono::seconds(timeout_seconds_);
  controller_.settings().visible = visible_;
  controller_.settings().user_agent = RunUserAgent(settings_.Get(settings::kUserAgent));
  ApplyProbeCounts(StoredNumber(settings_, "parallel"), StoredNumber(settings_, "per-host"),
                   StoredNumber(settings_, "max-redirects"));

  open_url = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
  start_program = [](const QString& program, const QStringList& arguments) {
    return QProcess::startDetached(program, arguments);
  };
  ask_file_selection = [this](const FileSelection& values,
                              const std::string& starter) -> std::optional<FileSelection> {
    FileSelectionDialog dialog(&view_, values, starter);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.values();
  };
}

WindowCommands::~WindowCommands() = default;

bool WindowCommands::CanSelectFiles() const {
  return !view_.running();
}

bool WindowCommands::CanExport() const {
  return !view_.running() && !controller_.results().empty();
}

bool WindowCommands::CanRepair() const {
  return controller_.results_ready() && !controller_.results().empty() &&
         !controller_.repair_completed();
}

bool WindowCommands::CanPrint() const {
  return !view_.running();
}

bool WindowCommands::CanEditPreferences() const {
  return !view_.running();
}

bool WindowCommands::CanStop() const {
  return view_.running();
}

bool WindowCommands::CanRecheck() const {
  return !view_.running() && !view_.SelectedListRows().empty();
}

void WindowCommands::SelectFiles() {
  WidgetPrompter prompter(&view_);
  if (!ConfirmDiscardResults(controller_.results(), DiscardReason::kContinue, prompter)) return;
  const FileSelection stored = LoadFileSelection(settings_, QDir::currentPath().toStdString());
  const std::optional<FileSelection> chosen =
      ask_file_selection(stored, settings_.Get(settings::kFileSelStarter));
  if (!chosen) return;
  StartChosen(*chosen, prompter, StoreChoice::kStore);
}

void WindowCommands::CheckPath(const std::string& path) {
  if (view_.running()) return;
  WidgetPrompter prompter(&view_);
  if (!ConfirmDiscardResults(controller_.results(), DiscardReason::kContinue, prompter)) return;
  FileSelection chosen = LoadFileSelection(settings_, path);
  chosen.path = path;
  chosen.function = Function::kTestUrls;
  // A recent entry says by itself whether it is a web address.
  chosen.web_address = IsWebAddress(path);
  std::error_code error;
  chosen.all_files = !chosen.web_address && std::filesystem::is_directory(path, error);
  if (!chosen.all_files) chosen.recurse = false;
  // The folder runs; the File Selection keeps what the user chose there.
  StartChosen(chosen, prompter, StoreChoice::kKeep);
}

void WindowCommands::StartChosen(const FileSelection& chosen, Prompter& prompter,
                                 StoreChoice store) {
  controller_.SetFunction(chosen.function);
  if (!AcceptFileSelection(settings_, chosen, prompter, store)) return;
  AddRecentPath(settings_, chosen.path);
  const RunScope scope{chosen.recurse, chosen.all_files,
                       chosen.filter ? ExtensionFilter::kHtmlOnly : ExtensionFilter::kOff};
  if (chosen.web_address) {
    // A live site is only ever checked: its pages are not ours to change.
    CrawlOptions crawl;
    if (!ApplyRunPreferences(chosen, prompter, &crawl)) return;
    crawl.start_urls = {chosen.path};
    controller_.StartCrawl(crawl);
  } else if (chosen.function == Function::kTestUrls) {
    if (!ApplyRunPreferences(chosen, prompter)) return;
    controller_.StartTest(chosen.path, scope);
  } else if (chosen.function == Function::kRemoveComments) {
    controller_.StartPurge(chosen.path, scope);
  }
  view_.StateChanged();
}

void WindowCommands::Preferences() {
  const ProbeSettings& probe = controller_.settings().probe;
  PreferencesDialog dialog(&view_, filter_, timeout_seconds_, visible_,
                           {
                               .user_agent = settings_.Get(settings::kUserAgent),
                               .parallel = probe.parallel,
                               .per_host = probe.per_host,
                               .max_redirects = probe.max_redirects,
                               .streams = StoredNumber(settings_, "streams"),
                               .exclude = settings_.Get(settings::kExclude),
                               .include = settings_.Get(settings::kInclude),
                               .accept = settings_.Get(settings::kAccept),
                               .editor = settings_.Get(settings::kEditorCommand),
                               .rate = StoredNumber(settings_, "rate"),
                               .cache = settings_.Get(settings::kLinkCache) != 0,
                               .history = settings_.Get(settings::kHistory) != 0,
                               .ignore_robots = settings_.Get(settings::kIgnoreRobots) != 0,
                               .ca_file = settings_.Get(settings::kCaFile),
                               .insecure = settings_.Get(settings::kInsecure) != 0,
                               .check_fragments = settings_.Get(settings::kCheckFragments) != 0,
                           });
  const bool ok = dialog.exec() == QDialog::Accepted;
  // A preset stays in force even after Cancel; only OK stores.
  controller_.settings().filter = filter_;
  if (ok) StorePreferences(dialog);
}

void WindowCommands::StorePreferences(const PreferencesDialog& dialog) {
  timeout_seconds_ = dialog.timeout();
  visible_ = dialog.visible();
  settings_.Set(settings::kTimeout, timeout_seconds_);
  settings_.Set(settings::kVisible, visible_ ? 1 : 0);
  settings_.Set(settings::kFilter, filter_.text());
  settings_.Set(settings::kUserAgent, dialog.user_agent());
  settings_.Set(settings::kParallelProbes, dialog.parallel());
  settings_.Set(settings::kPerHost, dialog.per_host());
  settings_.Set(settings::kMaxRedirects, dialog.max_redirects());
  settings_.Set(settings::kRatePerHost, dialog.rate());
  settings_.Set(settings::kStreams, dialog.streams());
  settings_.Set(settings::kLinkCache, dialog.cache() ? 1 : 0);
  settings_.Set(settings::kHistory, dialog.history() ? 1 : 0);
  settings_.Set(settings::kIgnoreRobots, dialog.ignore_robots() ? 1 : 0);
  settings_.Set(settings::kCheckFragments, dialog.check_fragments() ? 1 : 0);
  settings_.Set(settings::kExclude, dialog.exclude());
  settings_.Set(settings::kInclude, dialog.include());
  settings_.Set(settings::kAccept, dialog.accepted_codes());
  settings_.Set(settings::kEditorCommand, dialog.editor_command());
  settings_.Set(settings::kCaFile, dialog.ca_file());
  settings_.Set(settings::kInsecure, dialog.insecure() ? 1 : 0);
  controller_.settings().user_agent = RunUserAgent(dialog.user_agent());
  controller_.settings().timeout = std::chrono::seconds(timeout_seconds_);
  controller_.settings().visible = visible_;
  ApplyProbeCounts(dialog.parallel(), dialog.per_host(), dialog.max_redirects());
}

bool WindowCommands::ApplyRunPreferences(const FileSelection& chosen, Prompter& prompter,
                                         CrawlOptions* crawl) {
  // From the store, not the controller: a project's counts last one run.
  RunOptions options = StoredRunOptions(settings_);
  options.filter = filter_.text();
  options.timeout = timeout_seconds_;
  options.local = {chosen.site_root, chosen.site_url, chosen.resources};
  controller_.settings().options_file = {};
  Status configured;
  if (chosen.project_settings) {
    // A web address has no folder: the project is the one the window was started in.
    const std::string folder = chosen.web_address ? std::string(".") : chosen.path;
    if (const auto file = FindProjectConfig(folder)) {
      Result<ProjectConfig> loaded = LoadProjectConfig(*file);
      configured = loaded ? ApplyConfigOptions(*loaded, options) : loaded.status();
      if (loaded) controller_.settings().options_file = *file;
    }
  }
  if (configured) configured = ConfigureRun(controller_, options, settings_);
  if (crawl != nullptr) *crawl = options.crawl;
  if (!configured) prompter.ShowMessage(configured.message(), MessageIcon::kExclamation);
  return configured.ok();
}

void WindowCommands::ApplyProbeCounts(int parallel, int per_host, int max_redirects) {
  ProbeSettings probe = controller_.settings().probe;
  probe.parallel = parallel;
  probe.per_host = per_host;
  probe.max_redirects = max_redirects;
  controller_.settings().probe = probe;
}

void WindowCommands::StopTest() {
  if (!CanStop()) return;
  controller_.StopTest();
  view_.StateChanged();
}

void WindowCommands::Export() {
  if (!CanExport()) return;
  ExportResults(controller_.results(), settings_, repair_host_);
}

void WindowCommands::Repair() {
  if (!CanRepair()) return;
  if (RunRepairCommand(controller_.results(), controller_.test().unknown_error_seen(), settings_,
                       repair_host_)
          .completed) {
    controller_.SetRepairCompleted(true);
  }
  view_.StateChanged();
}

void WindowCommands::Print() {
  if (!CanPrint()) return;
  QPrintDialog dialog(printer_.get(), &view_);
  if (dialog.exec() == QDialog::Accepted) {
    PrintListing(*printer_, BuildReportLines(controller_.results()));
  }
}

void WindowCommands::PrintPreview() {
  if (!CanPrint()) return;
  QPrintPreviewDialog preview(printer_.get(), &view_);
  QObject::connect(&preview, &QPrintPreviewDialog::paintRequested, &view_, [this](QPrinter* to) {
    PrintListing(*to, BuildReportLines(controller_.results()));
  });
  preview.exec();
}

void WindowCommands::PrintSetup() {
  if (!CanPrint()) return;
  QPageSetupDialog dialog(printer_.get(), &view_);
  dialog.exec();
}

void WindowCommands::RecheckSelected() {
  if (!CanRecheck()) return;
  controller_.StartRecheck(view_.SelectedListRows());
  view_.StateChanged();
}

void WindowCommands::OpenPageAtLine() {
  const auto row = view_.FirstSelectedRow();
  if (!row) return;
  const ResultRow& r = controller_.results().row(*row);
  if (!r.target().empty() && r.source().empty()) {
    // A page fetched from the web, with no file known to hold its line:
    // the page itself, in the browser.
    OpenResultUrl(r.file());
    return;
  }
  const std::string& name = r.source().empty() ? r.file() : r.source();
  const std::string file = QFileInfo(QString::fromStdString(name)).absoluteFilePath().toStdString();
  const std::vector<std::string> command =
      EditorCommand(settings_.Get(settings::kEditorCommand), file, r.line, std::getenv("VISUAL"),
                    std::getenv("EDITOR"));
  if (command.empty()) return;
  QStringList arguments;
  for (std::size_t i = 1; i < command.size(); ++i)
    arguments << QString::fromStdString(command[i]);
  // Started and left alone: the window never waits for the editor.
  if (!start_program(QString::fromStdString(command[0]), arguments)) {
    MessageBoxes::Show(&view_, "Cannot start the editor " + command[0], MessageIcon::kExclamation);
  }
}

void WindowCommands::OpenResultUrl(std::string_view text) const {
  const QString url = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  const QString upper = url.toUpper();
  if (!upper.startsWith("HTTP") && !upper.startsWith("FTP")) return;
  Open(QUrl(url));
}

void WindowCommands::Open(const QUrl& url) const {
  // The desktop may have no browser or no program for the file's type:
  // a click that does nothing would leave the user guessing.
  if (open_url(url)) return;
  const QString shown = url.isLocalFile() ? url.toLocalFile() : url.toDisplayString();
  MessageBoxes::Show(&view_, "Cannot open " + shown.toStdString() + ": no program took it",
                     MessageIcon::kExclamation);
}

void WindowCommands::GoToUrl() {
  const auto row = view_.FirstSelectedRow();
  if (!row) return;
  const ResultRow& r = controller_.results().row(*row);
  // A crawled page's link opens where it leads.
  if (const std::string& target = r.target(); !target.empty()) {
    OpenResultUrl(target);
    return;
  }
  // A local link opens its file, or the folder it should be in.
  if (r.text(ResultColumn::kReason).rfind("Local ", 0) == 0) {
    if (const auto path =
            LocalLinkOpenPath(std::string(r.url()), r.file(), controller_.test().local_options())) {
      Open(QUrl::fromLocalFile(QString::fromStdString(*path)));
    }
    return;
  }
  OpenResultUrl(r.text(ResultColumn::kUrl));
}

void WindowCommands::GoToAlternateUrl() {
  if (const auto row = view_.FirstSelectedRow()) {
    OpenResultUrl(controller_.results().row(*row).text(ResultColumn::kAlternateUrl));
  }
}

void WindowCommands::ShowProperties() {
  const auto row = view_.FirstSelectedRow();
  if (!row) return;
  // Written as they stand (a "%" in a URL is only a character here), in
  // the user's cache folder: never over a props.txt of the author's site.
  const std::string text = PropertiesText(controller_.results().row(*row));
  const QString folder =
      QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + "/quimbel";
  QDir().mkpath(folder);
  const QString path = folder + "/props.txt";
  if (const Status written = WriteReportText(QFile::encodeName(path).toStdString(), text);
      !written) {
    MessageBoxes::Show(&view_, written.message(), MessageIcon::kExclamation);
    return;
  }
  Open(QUrl::fromLocalFile(path));
}

}  // namespace quimbel
