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
#include <QPalette>
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

// A dark palette as a dark desktop theme would hand to Qt's Fusion style.
QPalette DarkPalette() {
  QPalette p;
  const QColor window(53, 53, 53), base(35, 35, 35), text(225, 225, 225);
  const QColor dim(128, 128, 128);
  p.setColor(QPalette::Window, window);
  p.setColor(QPalette::WindowText, text);
  p.setColor(QPalette::Base, base);
  p.setColor(QPalette::AlternateBase, window);
  p.setColor(QPalette::ToolTipBase, base);
  p.setColor(QPalette::ToolTipText, text);
  p.setColor(QPalette::Text, text);
  p.setColor(QPalette::Button, window);
  p.setColor(QPalette::ButtonText, text);
  p.setColor(QPalette::Mid, QColor(80, 80, 80));
  p.setColor(QPalette::Highlight, QColor(42, 130, 218));
  p.setColor(QPalette::HighlightedText, Qt::white);
  p.setColor(QPalette::Link, QColor(120, 170, 255));
  p.setColor(QPalette::PlaceholderText, dim);
  for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
    p.setColor(QPalette::Disabled, role, dim);
  return p;
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

  // The same window in Fusion with a dark palette.
  const QString style = QApplication::style()->name();
  QApplication::setStyle("Fusion");
  QApplication::setPalette(DarkPalette());
  Save(&frame, out, "main-window-dark");
  QApplication::setStyle(style);
  QApplication::setPalette(QApplication::style()->standardPalette());

  FileSelection values{site.path().string(), Function::kTestUrls, true, true, true};
  FileSelectionDialog select(&frame, values, "");
  Save(&select, out, "select-files");
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
  ExportDialog export_dialog(&frame, {"/home/user/results.txt", ExportFormat::kText});
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
