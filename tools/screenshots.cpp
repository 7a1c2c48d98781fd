// quimbel-screenshots OUTDIR: renders the main window after a run over a
// small site, each dialog and the progress window to PNG files, offscreen,
// for review. The site's links point at a scripted server on 127.0.0.1.
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QStyle>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "app/log_view.h"
#include "app/main_window.h"
#include "app/results_printer.h"
#include "app/results_view.h"
#include "app/summary_dock.h"
#include "app/theme.h"
#include "dialogs/about_dialog.h"
#include "dialogs/export_dialog.h"
#include "dialogs/file_selection_dialog.h"
#include "dialogs/message_boxes.h"
#include "dialogs/preferences_dialog.h"
#include "dialogs/progress_window.h"
#include "dialogs/repair_dialogs.h"
#include "export/report_writers.h"
#include "platform/memory_config_store.h"
#include "tests/scripted_server.h"
#include "tests/temp_folder.h"

using namespace quimbel;

namespace {

void Save(QWidget* widget, const QString& folder, const QString& name, int turns = 5) {
  widget->show();
  // A size change can take a few turns to settle through nested layouts
  // (a running progress window gets one: the run may end meanwhile).
  for (int i = 0; i < turns; ++i)
    QApplication::processEvents();
  const QString path = folder + "/" + name + ".png";
  if (!widget->grab().save(path)) std::cerr << "cannot write " << path.toStdString() << "\n";
  std::cout << path.toStdString() << "\n";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: quimbel-screenshots OUTDIR\n";
    return 2;
  }
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  // The print preview asks the printing system for printers, which looks
  // its server's name up; a socket path needs no lookup, and nothing
  // leaves the machine.
  setenv("CUPS_SERVER", "/nonexistent/quimbel-screenshots-cups.sock", 1);
  QApplication application(argc, argv);
  QApplication::setApplicationName("Quimbel");
  const QString out = QDir(argv[1]).absolutePath();
  QDir().mkpath(out);
  MessageBoxes::StartRecording();

  testing::ScriptedServer server;
  // A move that ends well, on this server: no traffic goes anywhere else.
  server.On("/moved",
            {testing::Behaviour::kReply, "HTTP/1.0 301 Moved\r\nLocation: /new/\r\n\r\n"});
  server.On("/new/", {testing::Behaviour::kReply, "HTTP/1.0 200 OK\r\n\r\n"});
  server.On("/ok.htm", {testing::Behaviour::kReply, "HTTP/1.0 200 OK\r\n\r\n"});
  const std::string base = "http://127.0.0.1:" + std::to_string(server.port());
  testing::TempFolder site;
  std::string page;
  for (int i = 0; i < 12; ++i) {
    page += "<a href=\"" + base + "/missing/page" + std::to_string(i) + ".htm\">Missing page " +
            std::to_string(i) + "</a>\n";
  }
  page += "<a href=\"" + base + "/moved\">Our old address</a>\n";
  page += "<a href=\"http://no-such-host.invalid/\">A host that is gone</a>\n";
  page += "<a href=\"" + base + "/ok.htm\">Fine</a>\n";
  site.Write("index.htm", page);
  site.Write("about/team.htm", "<a href=\"" + base + "/team.htm\">The team</a>");

  MemoryConfigStore store;
  SettingsStore settings(store);
  settings.Set(settings::kScreenCx, 1100);
  settings.Set(settings::kScreenCy, 700);
  MainWindow frame(settings);
  frame.resize(1100, 700);
  frame.show();
  ResultsView* view = frame.results_view();
  view->commands().ask_file_selection = [&](const FileSelection& values, const std::string&) {
    FileSelection chosen = values;
    chosen.path = site.path().string();
    chosen.all_files = chosen.recurse = true;
    chosen.function = Function::kTestUrls;
    return std::optional<FileSelection>(chosen);
  };
  view->commands().SelectFiles();
  if (view->progress_dialog()) Save(view->progress_dialog(), out, "progress", 1);
  QElapsedTimer clock;
  clock.start();
  while (view->running() && clock.elapsed() < 20000)
    QApplication::processEvents(QEventLoop::AllEvents, 50);
  Save(&frame, out, "main-window");

  // Sorted by reason and narrowed by the filter box, with the summary dock.
  frame.action(Command::kSummary)->trigger();
  view->SortByColumn(1);
  frame.search_field()->setText("page1");
  Save(&frame, out, "sorted-filtered-summary");
  frame.search_field()->clear();
  // A bar chosen in the summary: highlighted, and named beside the filter.
  frame.summary_dock()->ChooseBar(0);
  Save(&frame, out, "summary-reason-chosen");
  frame.summary_dock()->ClearChoice();
  view->ShowFileOrder();

  // Two pages are back: a recheck of the first three rows drops them.
  server.On("/missing/page0.htm", {testing::Behaviour::kReply, "HTTP/1.0 200 OK\r\n\r\n"});
  server.On("/missing/page1.htm", {testing::Behaviour::kReply, "HTTP/1.0 200 OK\r\n\r\n"});
  view->selectionModel()->select(
      QItemSelection(view->model()->index(0, 0), view->model()->index(2, 0)),
      QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  frame.action(Command::kRecheck)->trigger();
  clock.start();
  while (view->running() && clock.elapsed() < 20000)
    QApplication::processEvents(QEventLoop::AllEvents, 50);
  Save(&frame, out, "recheck");

  // A repair that comments the bad lines out: the rows it handled are
  // marked.
  view->repair_host().ask_options = [](const RepairOptions&) {
    return std::optional<RepairOptions>(RepairOptions{RepairType::kDisableLine});
  };
  view->selectionModel()->clearSelection();
  frame.action(Command::kRepair)->trigger();
  Save(&frame, out, "repair-handled");
  // What the repair said it did, as its closing box shows it.
  if (!MessageBoxes::shown().empty()) {
    QMessageBox summary(QMessageBox::Information, QApplication::applicationName(),
                        QString::fromStdString(MessageBoxes::shown().back()), QMessageBox::Ok,
                        &frame);
    Save(&summary, out, "repair-summary");
  }

  // The same window in View > Theme > Dark: Fusion with a dark palette.
  frame.action(Command::kThemeDark)->trigger();
  Save(&frame, out, "main-window-dark");
  frame.action(Command::kThemeSystem)->trigger();

  // A run with nothing broken says so (the summary closed: it has nothing
  // to chart).
  frame.action(Command::kSummary)->trigger();
  testing::TempFolder good_site;
  good_site.Write("index.htm", "<a href=\"" + base +
                                   "/ok.htm\">Fine</a>\n"
                                   "<a href=\"index.htm\">Home</a>\n");
  view->commands().ask_file_selection = [&](const FileSelection& values, const std::string&) {
    FileSelection chosen = values;
    chosen.path = good_site.path().string();
    chosen.all_files = true;
    chosen.recurse = false;
    return std::optional<FileSelection>(chosen);
  };
  // Yes to going on though the repair left a row as it was.
  MessageBoxes::QueueAnswer(true);
  view->commands().SelectFiles();
  clock.start();
  while (view->running() && clock.elapsed() < 20000)
    QApplication::processEvents(QEventLoop::AllEvents, 50);
  Save(&frame, out, "no-broken-links");

  // A crawl of a slow site, stopped a second in: the window says it was
  // stopped and how far it got.
  std::string start_page;
  for (int i = 0; i < 30; ++i) {
    const std::string path = "/site/p" + std::to_string(i) + ".html";
    start_page += "<a href=\"" + path + "\">Page " + std::to_string(i) + "</a>\n";
    server.On(path, {testing::Behaviour::kReply,
                     "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n<a href=\"/gone/" +
                         std::to_string(i) + "\">Gone</a>",
                     std::chrono::milliseconds(400)});
  }
  server.On("/site/", {testing::Behaviour::kReply,
                       "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n" + start_page});
  view->commands().ask_file_selection = [&](const FileSelection& values, const std::string&) {
    FileSelection chosen = values;
    chosen.path = base + "/site/";
    chosen.web_address = true;
    return std::optional<FileSelection>(chosen);
  };
  view->commands().SelectFiles();
  clock.start();
  while (view->running() && clock.elapsed() < 1500)
    QApplication::processEvents(QEventLoop::AllEvents, 50);
  frame.action(Command::kStop)->trigger();
  Save(&frame, out, "stopped-crawl");

  FileSelection values{site.path().string(), Function::kTestUrls, true, true, true};
  FileSelectionDialog select(&frame, values, "");
  Save(&select, out, "select-files");
  // A folder typed while the options ask for a file: the line under the
  // path says what OK will do.
  FileSelectionDialog typed(&frame, {site.path().string(), Function::kTestUrls, false, false, true},
                            "");
  Save(&typed, out, "select-files-folder");
  ReportFilter filter;
  PreferencesDialog preferences(&frame, filter, 15, false);
  Save(&preferences, out, "preferences");
  RepairOptionsDialog repair(&frame,
                             RepairOptions{RepairType::kReplaceUrl, true, true, true, true, false});
  Save(&repair, out, "repair-options");
  RepairFailureDialog failure(
      &frame, {site.path().string() + "/index.htm", base + "/missing/page3.htm",
               "Cannot replace " + site.path().string() + "/index.htm: the file is read-only"});
  Save(&failure, out, "repair-failure");
  ExportDialog export_dialog(&frame, {"/home/user/results.txt", ReportFormat::kText});
  Save(&export_dialog, out, "export");
  VisitedLinks visited;
  visited.home = true;
  AboutDialog about(&frame, visited.mail, visited.home);
  Save(&about, out, "about");
  // The print preview of the listing.
  QPrinter printer(QPrinter::HighResolution);
  QPrintPreviewWidget preview(&printer);
  QObject::connect(&preview, &QPrintPreviewWidget::paintRequested, [&](QPrinter* target) {
    PrintListing(*target, BuildReportLines(view->results()));
  });
  preview.resize(700, 900);
  preview.updatePreview();
  preview.fitInView();
  Save(&preview, out, "print-preview");
  ProgressWindow purge_progress(&frame, true);
  purge_progress.Transfer({site.path().string() + "/index.htm", "1", "2", "", "", "", "", "", ""});
  Save(&purge_progress, out, "progress-purge");
  return 0;
}
