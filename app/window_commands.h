// WindowCommands: what the window's menus, toolbar and row popup do with a
// run and its rows: select files, preferences, stop, export, repair,
// print, recheck, and the per-row commands. Each command checks its own
// enabling rule, so a stale shortcut does nothing. User-interface thread
// only.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

#include "core/run_controller.h"
#include "core/settings_store.h"
#include "core/window_rules.h"

class QPrinter;
class QUrl;

namespace quimbel {

class ResultsView;
class WindowRepairHost;

class WindowCommands {
 public:
  WindowCommands(ResultsView& view, RunController& controller, SettingsStore& settings,
                 WindowRepairHost& repair_host);
  ~WindowCommands();
  WindowCommands(const WindowCommands&) = delete;
  WindowCommands& operator=(const WindowCommands&) = delete;

  void SelectFiles();
  // Checks a file or folder with the stored File Selection options, after
  // the usual question about the rows there are (a drop, File > Recent).
  void CheckPath(const std::string& path);
  void Preferences();
  void StopTest();
  void Export();
  void Repair();
  void Print();
  void PrintPreview();
  void PrintSetup();
  // "Recheck Selected": the selected rows' links probed again.
  void RecheckSelected();

  // Per-row commands, on the first selected row.
  // "Open Page at Line": the row's page in the editor.
  void OpenPageAtLine();
  void ShowProperties();
  void GoToUrl();
  void GoToAlternateUrl();
  // Opens a text that starts with "HTTP" or "FTP" (any case) in the browser.
  void OpenResultUrl(std::string_view text) const;

  // Enabling rules.
  bool CanSelectFiles() const;
  bool CanExport() const;
  bool CanRepair() const;
  bool CanPrint() const;
  bool CanEditPreferences() const;
  bool CanStop() const;
  bool CanRecheck() const;

  // Seams for the desktop and the file selection dialog.
  std::function<bool(const QUrl&)> open_url;
  // Starts a program without waiting for it.
  std::function<bool(const QString&, const QStringList&)> start_program;
  std::function<std::optional<FileSelection>(const FileSelection&, const std::string& starter)>
      ask_file_selection;

 private:
  // Starts what the file selection chose; `store` says whether the
  // choice is kept for the dialog's next opening.
  void StartChosen(const FileSelection& chosen, Prompter& prompter, StoreChoice store);
  // Hands a URL to the desktop; says so when nothing opened it.
  void Open(const QUrl& url) const;
  // Hands the controller what the next test runs with: the preferences,
  // the file selection's local link options and, when chosen, the project
  // config's options. False after telling the user why it cannot run.
  // `crawl`, when given, gets the crawl options a project config sets.
  bool ApplyRunPreferences(const FileSelection& chosen, Prompter& prompter,
                           CrawlOptions* crawl = nullptr);
  // "Parallel probes", "Per host" and "Redirects followed" for the next runs.
  void ApplyProbeCounts(int parallel, int per_host, int max_redirects);
  void StorePreferences(const class PreferencesDialog& dialog);

  ResultsView& view_;
  RunController& controller_;
  SettingsStore& settings_;
  WindowRepairHost& repair_host_;
  ReportFilter filter_;  // edited in place by the Preferences dialog
  int timeout_seconds_;
  bool visible_;
  std::unique_ptr<QPrinter> printer_;
};

}  // namespace quimbel
