// Qt Test suite for the window, its dialogs and its commands, run
// offscreen. What the engine does behind a command is the unit suites'
// part: here each command is wired to it once.
#include <QAbstractItemModelTester>
#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QMenu>
#include <QMimeData>
#include <QPrinter>
#include <QProgressBar>
#include <QPushButton>
#include <QSet>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QtTest>
#include <filesystem>
#include <numeric>

#include "app/filter_veil.h"
#include "app/log_view.h"
#include "app/main_window.h"
#include "app/result_model.h"
#include "app/result_proxy.h"
#include "app/results_printer.h"
#include "app/results_view.h"
#include "app/summary_dock.h"
#include "app/theme.h"
#include "core/row_order.h"
#include "core/status_code_table.h"
#include "dialogs/about_dialog.h"
#include "dialogs/export_dialog.h"
#include "dialogs/file_selection_dialog.h"
#include "dialogs/hyperlink_label.h"
#include "dialogs/message_boxes.h"
#include "dialogs/preferences_dialog.h"
#include "dialogs/progress_window.h"
#include "dialogs/repair_dialogs.h"
#include "export/report_writers.h"
#include "platform/memory_config_store.h"
#include "platform/qsettings_config_store.h"
#include "tests/scripted_server.h"
#include "tests/temp_folder.h"

using namespace quimbel;

namespace {

std::string Anchor(const std::string& url, const std::string& text) {
  return "<a href=\"" + url + "\">" + text + "</a>\n";
}

// Turns the event loop until `done` or the limit; false on the limit.
template <typename Done>
bool Wait(Done done, int limit_ms = 20000) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > limit_ms) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

// Runs `act` on the next modal dialog of type T once it is up.
template <typename T>
void OnNextDialog(std::function<void(T*)> act) {
  QTimer::singleShot(0, [act] {
    if (auto* dialog = dynamic_cast<T*>(QApplication::activeModalWidget())) act(dialog);
  });
}

void AddRow(ResultList& rows, const std::string& url, const std::string& reason,
            const std::string& file, const std::string& alternate = "") {
  rows.AppendResultRow(url);
  rows.SetResultColumn(ResultColumn::kReason, reason);
  rows.SetResultColumn(ResultColumn::kSiteName, "Site", file);
  if (!alternate.empty()) rows.SetResultColumn(ResultColumn::kAlternateUrl, alternate);
}

// A frame whose view has finished a run, so repair is available.
struct Window {
  Window() : settings(store), frame(settings) {
    frame.show();
    // An empty run makes the results "ready" as a finished run would.
    MessageBoxes::shown().clear();
  }
  MemoryConfigStore store;
  SettingsStore settings;
  MainWindow frame;
  ResultsView* view() { return frame.results_view(); }
  void FinishEmptyRun(const testing::TempFolder& folder) {
    const std::string empty = folder.Write("empty.txt", "");
    view()->controller().StartTest(empty, {});
  }
};

}  // namespace

class GuiTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { MessageBoxes::StartRecording(); }
  void init() { MessageBoxes::shown().clear(); }

  // View > Keep Checking: enabled after a test of files, stored, and while
  // on a page saved by rename has its rows replaced; off ends the watch.
  void keepCheckingFollowsSavedPages() {
    Window w;
    QAction* keep = w.frame.action(Command::kKeepChecking);
    QCOMPARE(keep->text(), QString("&Keep Checking"));
    QVERIFY(keep->isCheckable());
    QVERIFY(!keep->isEnabled());  // nothing to watch yet
    testing::TempFolder site;
    const std::string page = site.Write("a.html", Anchor("gone.html", "g"));
    w.view()->controller().StartTest(site.path().string(), {false, true, ExtensionFilter::kOff});
    w.view()->StateChanged();
    QVERIFY(Wait([&] { return !w.view()->running(); }));
    QVERIFY(keep->isEnabled());
    QVERIFY(!w.view()->controller().watch().active());
    QVERIFY(w.frame.watch_pane()->isHidden());
    keep->setChecked(true);
    QCOMPARE(w.settings.Get(settings::kKeepChecking), 1);
    QVERIFY(w.view()->controller().watch().active());
    QVERIFY(w.frame.watch_pane()->isVisible());
    QCOMPARE(w.view()->model()->rowCount(), 1);
    site.Write("a.html.tmp", Anchor("gone.html", "g") + Anchor("nope.html", "n"));
    std::filesystem::rename(page + ".tmp", page);
    QVERIFY(Wait([&] { return w.view()->model()->rowCount() == 2; }));
    QVERIFY(w.frame.log_view()->toPlainText().contains(
        QString::fromStdString("Checked again: " + page + ": URLs tested: 2. URL errors: 2.")));
    keep->setChecked(false);
    QCOMPARE(w.settings.Get(settings::kKeepChecking), 0);
    QVERIFY(!w.view()->controller().watch().active());
    QVERIFY(w.frame.watch_pane()->isHidden());

    // A crawled web address is not watched, and the item says why.
    testing::ScriptedServer server;
    server.On("/", {testing::Behaviour::kReply,
                    "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n<p>page</p>"});
    keep->setChecked(true);
    CrawlOptions crawl;
    crawl.start_urls = {"http://127.0.0.1:" + std::to_string(server.port()) + "/"};
    w.view()->controller().StartCrawl(crawl);
    w.view()->StateChanged();
    QVERIFY(!w.view()->controller().watch().active());
    QVERIFY(Wait([&] { return !w.view()->running(); }));
    QVERIFY(!keep->isEnabled());
    QVERIFY(keep->toolTip().contains("a web address is crawled, not watched"));
    QVERIFY(!w.view()->controller().watch().active());
    QVERIFY(w.frame.watch_pane()->isHidden());
  }

  void menusToolbarAndIdleEnabling() {
    MemoryConfigStore store;
    SettingsStore settings(store);
    MainWindow frame(settings);
    frame.show();
    QCOMPARE(frame.windowTitle(), QString("Quimbel"));
    const std::pair<Command, const char*> texts[] = {
        {Command::kSelectFiles, "&Select File(s)...\tCtrl+O"},
        {Command::kExport, "&Export Results...\tCtrl+S"},
        {Command::kRepair, "Repair Failed &Links...\tF5"},
        {Command::kPrint, "&Print...\tCtrl+P"},
        {Command::kPrintPreview, "Print Pre&view"},
        {Command::kPrintSetup, "P&rint Setup..."},
        {Command::kExit, "E&xit\tCtrl+Q"},
        {Command::kPreferences, "&Preferences...\tF2"},
        {Command::kStop, "&Stop Test\tEsc"},
        {Command::kHelpTopics, "&Help Topics"},
        {Command::kAbout, "&About Quimbel..."},
    };
    for (const auto& [command, text] : texts)
      QCOMPARE(frame.action(command)->text(), QString(text));
    QCOMPARE(frame.action(Command::kSelectFiles)->statusTip(), QString("Select file(s) to test"));
    QCOMPARE(frame.action(Command::kRepair)->toolTip(), QString("Repair"));

    // Toolbar: three separators in their places.
    auto* toolbar = frame.findChild<QToolBar*>();
    // Its own context menu names it as the View menu does.
    QCOMPARE(toolbar->windowTitle(), QString("Toolbar"));
    QCOMPARE(frame.action(Command::kToolbar)->text(), QString("&Toolbar"));
    QStringList order;
    for (QAction* a : toolbar->actions())
      order << (a->isSeparator() ? "|" : a->toolTip());
    QCOMPARE(order, QStringList({"Test File(s)", "Export", "Repair", "|", "Print", "|",
                                 "Preferences", "Stop", "|", "About"}));
    // Every icon is drawn afresh for the screen's scale: at 200 % and 400 %
    // a 16 x 15 button gets 32 x 30 and 64 x 60 pixels of its own, not a
    // small picture blown up (nor nothing, were the vector engine missing).
    std::vector<QIcon> icons{frame.windowIcon()};
    for (QAction* a : toolbar->actions())
      if (!a->isSeparator()) icons.push_back(a->icon());
    for (const QIcon& icon : icons) {
      for (const qreal scale : {2.0, 4.0}) {
        const QImage image = icon.pixmap(QSize(16, 15), scale).toImage();
        // (The program's square icon keeps its shape: 30 x 30 at 200 %.)
        QCOMPARE(image.height(), qRound(15 * scale));
        QVERIFY(image.width() >= image.height() && image.width() <= qRound(16 * scale));
        int drawn = 0;
        for (int y = 0; y < image.height(); ++y)
          for (int x = 0; x < image.width(); ++x)
            drawn += qAlpha(image.pixel(x, y)) > 0;
        QVERIFY(drawn > image.width() * image.height() / 5);
      }
    }

    for (const auto& [command, enabled] : {std::pair{Command::kSelectFiles, true},
                                           {Command::kExport, false},
                                           {Command::kRepair, false},
                                           {Command::kPrint, true},
                                           {Command::kPreferences, true},
                                           {Command::kStop, false}})
      QCOMPARE(frame.action(command)->isEnabled(), enabled);
    QCOMPARE(frame.connection_pane()->text(), QString("Connection Status"));
    QCOMPARE(frame.method_pane()->text(), QString("HTTP Method Status"));
    QVERIFY(frame.summary_pane()->isHidden());  // the prompt's room until a run
    // All six columns, Line included, are in view at the first start.
    int columns = 0;
    for (int i = 0; i < 6; ++i)
      columns += frame.results_view()->header()->sectionSize(i);
    QVERIFY2(columns <= frame.results_view()->viewport()->width(),
             (std::to_string(columns) + " > " +
              std::to_string(frame.results_view()->viewport()->width()))
                 .c_str());
    // A narrow window (a large scale factor) keeps the whole prompt.
    const QSize before = frame.size();
    frame.resize(560, before.height());
    const int panes = frame.connection_pane()->maximumWidth() + frame.method_pane()->maximumWidth();
    QVERIFY(panes + frame.fontMetrics().horizontalAdvance("For Help, press F1") <= 560);
    frame.resize(before);

    // The menu item follows a toolbar hidden from its own context menu.
    toolbar->hide();
    QVERIFY(!frame.action(Command::kToolbar)->isChecked());
    toolbar->show();
    QVERIFY(frame.action(Command::kToolbar)->isChecked());
    // The idle prompt comes back after a menu prompt.
    frame.statusBar()->showMessage("Select file(s) to test");
    frame.statusBar()->clearMessage();
    QCOMPARE(frame.statusBar()->currentMessage(), QString("For Help, press F1"));
    QCOMPARE(frame.results_view()->textElideMode(), Qt::ElideMiddle);
    QCOMPARE(QString::fromStdString(frame.results_view()->run_host().LongDateTime()).left(4),
             QLocale().toString(QDateTime::currentDateTime(), QLocale::LongFormat).left(4));

    // Ctrl+C copies the log's selection once the log was clicked into,
    // though the keyboard focus stays on the list.
    LogView* log = frame.log_view();
    log->Append("first line");
    log->selectAll();
    QTest::mouseClick(log->viewport(), Qt::LeftButton, {}, QPoint(5, 5));
    log->selectAll();
    QApplication::clipboard()->clear();
    QTest::keySequence(frame.results_view(), QKeySequence::Copy);
    QCOMPARE(QApplication::clipboard()->text(), QString("first line\n"));
  }

  void runThroughTheRealEventLoop() {
    testing::ScriptedServer server;
    server.On("/silent/", {testing::Behaviour::kSilence, ""});
    server.On("/ok.htm", {testing::Behaviour::kReply, "HTTP/1.0 200 OK\r\n\r\n"});
    server.On("/moved/",
              {testing::Behaviour::kReply, "HTTP/1.0 302 Found\r\nLocation: /ok.htm\r\n\r\n"});
    const std::string real = "http://127.0.0.1:" + std::to_string(server.port());
    testing::TempFolder site;
    const std::string page = site.Write(
        "index.htm", Anchor(real + "/ok.htm", "Fine") + Anchor(real + "/gone.htm", "Gone") +
                         Anchor(real + "/moved/", "Old") + Anchor(real + "/silent/", "Quiet"));

    testing::TempFolder config;
    QSettingsConfigStore store((config.path() / "Quimbel.conf").string());
    SettingsStore settings(store);
    settings.Set(settings::kTimeout, 5);
    MainWindow frame(settings);
    frame.resize(1400, 600);
    frame.show();
    ResultsView* view = frame.results_view();
    view->commands().ask_file_selection = [&](const FileSelection& values, const std::string&) {
      FileSelection chosen = values;
      chosen.path = site.path().string();
      chosen.all_files = true;
      return std::optional<FileSelection>(chosen);
    };
    frame.action(Command::kSelectFiles)->trigger();
    QVERIFY(view->running());
    QVERIFY(view->progress_dialog() != nullptr);
    QVERIFY(!frame.action(Command::kSelectFiles)->isEnabled());
    QVERIFY(!frame.action(Command::kPreferences)->isEnabled());
    QVERIFY(frame.action(Command::kStop)->isEnabled());

    // While the silent probe waits, the event loop keeps turning.
    int ticks = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(50);
    QVERIFY(Wait([&] {
      return frame.connection_pane()->text().startsWith("Connecting to ") &&
             view->results().size() == 2;
    }));
    const int before = ticks;
    QVERIFY(Wait([&] { return ticks >= before + 10; }, 3000));
    QVERIFY(view->running());

    // Esc in the progress window stops the run; the window cannot just go.
    QTest::keyClick(view->progress_dialog(), Qt::Key_Escape);
    QVERIFY(Wait([&] { return !view->running(); }, 3000));
    QCOMPARE(frame.connection_pane()->text(), QString("Connection Status"));
    QVERIFY(view->progress_dialog() == nullptr);
    QVERIFY(frame.action(Command::kExport)->isEnabled());
    QVERIFY(frame.action(Command::kRepair)->isEnabled());
    QCOMPARE(view->model()->rowCount(), 2);
    QCOMPARE(view->model()->index(0, 0).data().toString(),
             QString::fromStdString(real + "/gone.htm"));
    QCOMPARE(view->model()->index(0, 1).data().toString(), QString("HTTP Code 404 Not Found"));
    QCOMPARE(view->model()->index(1, 4).data().toString(),
             QString::fromStdString(real + "/ok.htm"));
    QCOMPARE(view->model()->index(0, 0).data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
    const QString log = frame.log_view()->toPlainText();
    QVERIFY(log.startsWith("Start of test "));
    QVERIFY(log.contains(QString::fromStdString("\n\nTesting: " + page + "\n")));
    QVERIFY(log.endsWith("Testing Stopped by User\n"));
    QVERIFY(!frame.log_view()->document()->isModified());
    // Nothing stored yet: the columns were fitted to the rows, within the
    // list's width, and a later run leaves them as they are.
    const std::array<int, 5> fitted = view->ColumnWidths();
    QVERIFY(std::accumulate(fitted.begin(), fitted.end(), view->LineColumnWidth()) <=
            view->viewport()->width());
    QVERIFY(fitted[0] >=
            view->fontMetrics().horizontalAdvance(QString::fromStdString(real + "/gone.htm")));
    QVERIFY(fitted[4] >=
            view->fontMetrics().horizontalAdvance(QString::fromStdString(real + "/ok.htm")));
    QVERIFY(fitted[1] != fitted[3]);

    // A second run of the same folder without the silent link ends by itself.
    site.Write("index.htm", Anchor(real + "/ok.htm", "Fine"));
    MessageBoxes::QueueAnswer(true);  // discard the unrepaired rows
    frame.action(Command::kSelectFiles)->trigger();
    QVERIFY(Wait([&] { return !view->running(); }));
    QCOMPARE(frame.connection_pane()->text(), QString("Search Complete"));
    QCOMPARE(frame.method_pane()->text(), QString(""));
    QCOMPARE(view->model()->rowCount(), 0);
    QVERIFY(frame.log_view()->toPlainText().contains("URLs tested: 1. URL errors: 0."));
    QVERIFY(view->ColumnWidths() == fitted);
  }

  // "Use project settings" lays quimbel.toml over the stored link rules
  // for that run only; a bad file is named and nothing runs.
  void projectSettingsCountOnlyWhenChosen() {
    testing::TempFolder site;
    site.Write("page.html",
               "<a href=\"gone.html\">Gone</a>\n<a href=\"drafts/x.html\">Draft</a>\n");
    site.Write("quimbel.toml", "exclude = \"^drafts/\"\n");
    MemoryConfigStore store;
    SettingsStore settings(store);
    MainWindow frame(settings);
    ResultsView* view = frame.results_view();
    bool project = true;
    view->commands().ask_file_selection = [&](const FileSelection& values, const std::string&) {
      FileSelection chosen = values;
      chosen.path = site.path().string();
      chosen.all_files = true;
      chosen.project_settings = project;
      return std::optional<FileSelection>(chosen);
    };
    const auto run = [&] {
      // Discard the rows of the run before.
      if (view->model()->rowCount() > 0) MessageBoxes::QueueAnswer(true);
      frame.action(Command::kSelectFiles)->trigger();
      QVERIFY(Wait([&] { return !view->running(); }));
    };
    run();
    QCOMPARE(view->model()->rowCount(), 1);
    QVERIFY(frame.log_view()->toPlainText().contains("URL errors: 1. URLs skipped: 1."));
    QCOMPARE(settings.Get(settings::kProjectSettings), 1);
    project = false;
    run();
    QCOMPARE(view->model()->rowCount(), 2);
    site.Write("quimbel.toml", "exclude = [\n");
    project = true;
    run();
    QVERIFY(!view->running());
    QCOMPARE(view->model()->rowCount(), 2);  // nothing ran: the last run's rows stay
    QVERIFY(
        MessageBoxes::shown().back().starts_with((site.path() / "quimbel.toml").string() + ":"));
  }

  // The list shown sorted and filtered (bench/proxy_bench times it over a
  // million rows); the rows behind it stay in file order.
  void sortFilterCopyDropAndOpen() {
    MemoryConfigStore store;
    SettingsStore settings(store);
    MainWindow frame(settings);
    ResultsView* view = frame.results_view();
    ResultList& rows = view->results();
    QAbstractItemModel* shown = view->model();
    // Checked through every insert, sort, filter and removal below.
    QAbstractItemModelTester tester(view->proxy(),
                                    QAbstractItemModelTester::FailureReportingMode::QtTest);
    constexpr int kRows = 40;
    for (int i = 0; i < kRows; ++i) {
      rows.AppendResultRow("http://h" + std::to_string(i % 10) + ".test/" + std::to_string(i),
                           static_cast<std::size_t>(kRows - i));
      rows.SetResultColumn(ResultColumn::kReason,
                           i % 2 ? "HTTP Code 404 Not Found" : "Local File Not Found");
      rows.SetResultColumn(ResultColumn::kSiteName, "Text\t" + std::to_string(i),
                           "/site/p" + std::to_string(i / 10) + ".html");
    }
    QCOMPARE(shown->rowCount(), kRows);
    const auto list_row = [&](int shown_row) {
      return *view->proxy()->ListRow(shown->index(shown_row, 0));
    };

    // By reason: "HTTP ..." first, each reason's rows still in file order.
    view->SortByColumn(1);
    QCOMPARE(list_row(0), std::size_t(1));
    QCOMPARE(list_row(1), std::size_t(3));
    QCOMPARE(list_row(kRows / 2), std::size_t(0));
    QCOMPARE(view->header()->sortIndicatorSection(), 1);
    view->SortByColumn(1);  // descending, equal rows still in file order
    QCOMPARE(list_row(0), std::size_t(0));
    QCOMPARE(list_row(1), std::size_t(2));
    view->SortByColumn(1);  // the third click: file order
    QCOMPARE(list_row(0), std::size_t(0));
    QCOMPARE(list_row(kRows - 1), std::size_t(kRows - 1));
    QVERIFY(!view->header()->isSortIndicatorShown());
    view->SortByColumn(ResultTableModel::kLineColumn);  // lines as numbers
    QCOMPARE(list_row(0), std::size_t(kRows - 1));
    frame.action(Command::kFileOrder)->trigger();
    QCOMPARE(list_row(0), std::size_t(0));
    // A row is current, held in its first cell whatever cell was chosen;
    // Home and End go to the first and last row, Left and Right scroll, and
    // Space then toggles the current row's check box.
    view->setCurrentIndex(shown->index(5, 2));
    QCOMPARE(view->currentIndex(), shown->index(5, 0));
    QTest::keyClick(view, Qt::Key_End);
    QCOMPARE(view->currentIndex(), shown->index(kRows - 1, 0));
    QTest::keyClick(view, Qt::Key_Right);
    QTest::keyClick(view, Qt::Key_Space);
    QCOMPARE(view->currentIndex(), shown->index(kRows - 1, 0));
    QCOMPARE(rows.row(kRows - 1).checked, false);
    QTest::keyClick(view, Qt::Key_Space);
    QCOMPARE(rows.row(kRows - 1).checked, true);
    QTest::keyClick(view, Qt::Key_Home);
    QCOMPARE(view->currentIndex(), shown->index(0, 0));

    // Filtering: "h7.test/" is in 4 URLs; case does not count.
    frame.search_field()->setText("H7.TEST/");
    QCOMPARE(shown->rowCount(), 4);
    QCOMPARE(list_row(0), std::size_t(7));
    frame.search_field()->setText("/site/p3.html");
    QCOMPARE(shown->rowCount(), 10);
    // Ctrl+C copies the selected rows as shown, tab-separated, the columns
    // in their order on screen under a header line.
    view->selectionModel()->select(shown->index(1, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    view->selectionModel()->select(shown->index(0, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QCOMPARE(view->SelectedRowsText(),
             QString("URL\tReason\tSite Name\tFile Name\tAlternate URL\tLine\n"
                     "http://h0.test/30\tLocal File Not Found\tText 30\t/site/p3.html\t\t10\n"
                     "http://h1.test/31\tHTTP Code 404 Not Found\tText 31\t/site/p3.html\t\t9\n"));
    view->header()->moveSection(5, 0);  // Line first, as the user dragged it
    QVERIFY(view->SelectedRowsText().startsWith("Line\tURL\tReason"));
    view->header()->moveSection(0, 5);
    QTest::keySequence(view, QKeySequence::Copy);
    QCOMPARE(QGuiApplication::clipboard()->text(), view->SelectedRowsText());

    // Open Page at Line starts the editor and never waits for it.
    settings.Set(settings::kEditorCommand, "my-editor --line %l %f");
    QString program;
    QStringList arguments;
    view->commands().start_program = [&](const QString& p, const QStringList& a) {
      program = p;
      arguments = a;
      return true;
    };
    frame.UpdateCommands();
    QVERIFY(frame.action(Command::kOpenAtLine)->isEnabled());
    frame.action(Command::kOpenAtLine)->trigger();
    QCOMPARE(program, QString("my-editor"));
    QCOMPARE(arguments, QStringList({"--line", "10", "/site/p3.html"}));
    QTest::keyClick(frame.search_field(), Qt::Key_Escape);  // clears the filter
    QCOMPARE(frame.search_field()->text(), QString());
    QCOMPARE(shown->rowCount(), kRows);

    // The summary chart: a click on a bar shows that reason alone.
    frame.action(Command::kSummary)->trigger();
    QVERIFY(!frame.summary_dock()->isHidden());
    const ReasonCounts& counts = frame.summary_dock()->counts();
    QCOMPARE(counts.reasons.size(), std::size_t(2));
    QCOMPARE(counts.reasons[0].first, std::string("Local File Not Found"));
    QCOMPARE(counts.reasons[0].second, std::size_t(kRows / 2));
    frame.summary_dock()->ChooseBar(1);
    QCOMPARE(shown->rowCount(), kRows / 2);
    QCOMPARE(list_row(0), std::size_t(1));
    // The filter says so beside the filter box, and one click clears it.
    QVERIFY(!frame.reason_filter()->isHidden());
    QVERIFY(frame.reason_filter()->text().contains("HTTP Code 404 Not Found"));
    frame.reason_filter()->click();
    QVERIFY(frame.reason_filter()->isHidden());
    QCOMPARE(shown->rowCount(), kRows);
    QCOMPARE(frame.summary_dock()->chosen_reason(), std::nullopt);
    frame.summary_dock()->ChooseBar(1);
    QCOMPARE(shown->rowCount(), kRows / 2);
    frame.summary_dock()->ChooseBar(1);
    QCOMPARE(shown->rowCount(), kRows);
    QVERIFY(frame.reason_filter()->isHidden());
    // Bars that move (a recheck brings a new reason first) keep the chosen
    // reason, not the chosen place.
    frame.summary_dock()->ChooseBar(1);
    ReasonCounts moved = counts;
    moved.reasons.insert(moved.reasons.begin(), {"Error: Can't Connect to Host", 1});
    frame.summary_dock()->Show(moved);
    QCOMPARE(frame.summary_dock()->chosen_reason(),
             std::optional<std::string>("HTTP Code 404 Not Found"));
    frame.summary_dock()->ChooseBar(2);
    QCOMPARE(frame.summary_dock()->chosen_reason(), std::nullopt);
    QCOMPARE(shown->rowCount(), kRows);
    // Long reasons that share their start keep labels that tell them
    // apart: never two that read the same.
    ReasonCounts similar;
    for (const char* reason :
         {"Error: Can't Connect to Host because of a very long explanation here",
          "Error: Can't Connect to Host because of a very long explanation there",
          "Error: Can't Find Named Host", "HTTP Code 431 Request Header Fields Too Large",
          "HTTP Code 511 Network Authentication Required"}) {
      similar.reasons.emplace_back(reason, 1);
    }
    frame.summary_dock()->Show(similar);
    const QStringList labels = frame.summary_dock()->labels();
    QCOMPARE(labels.size(), 5);
    QCOMPARE(QSet<QString>(labels.begin(), labels.end()).size(), 5);
    for (const QString& label : labels)
      QVERIFY2(!label.startsWith("Error:\u2026"), qPrintable(label));
    frame.summary_dock()->Show(counts);

    // Sorted by reason, a row whose reason a recheck changes moves to its
    // new place at once; rows that go leave the others in order, also in
    // the ranks kept for a column sorted by before.
    view->SortByColumn(0);
    view->SortByColumn(1);
    QCOMPARE(list_row(0), std::size_t(1));
    rows.UpdateRow(4, "Error: Can't Connect to Host", 0, "");
    QCOMPARE(list_row(0), std::size_t(4));
    QCOMPARE(list_row(1), std::size_t(1));
    rows.RemoveRow(1);
    QCOMPARE(list_row(0), std::size_t(3));  // the changed row, one place up
    QCOMPARE(list_row(1), std::size_t(2));  // the old row 3
    view->SortByColumn(1);                  // descending: it goes last
    QCOMPARE(list_row(kRows - 2), std::size_t(3));
    view->SortByColumn(0);  // h0.test/0, /10, /20: rows 0, 9, 19 now
    QCOMPARE(list_row(0), std::size_t(0));
    QCOMPARE(list_row(1), std::size_t(9));
    QCOMPARE(list_row(2), std::size_t(19));
    // A row goes while the list is sorted and filtered; the rows that come
    // back when the filter is cleared are placed by the ranks.
    frame.search_field()->setText("h0.test/");
    rows.RemoveRow(0);
    QCOMPARE(shown->rowCount(), 3);
    frame.search_field()->clear();
    QCOMPARE(list_row(0), std::size_t(8));
    QCOMPARE(list_row(1), std::size_t(18));
    QCOMPARE(list_row(3), std::size_t(9));  // h1.test/11
    view->ShowFileOrder();

    // A dropped folder is checked with the stored options, after the
    // question about the rows there are; the summary and Recent follow.
    testing::TempFolder site;
    site.Write("a.html", "<a href=\"gone.html\">Gone</a>\n<a href=\"a.html\">Self</a>\n");
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(site.path().string()))});
    QCOMPARE(MainWindow::DroppedPath(&data), site.path().string());
    MessageBoxes::QueueAnswer(true);  // discard the rows
    QVERIFY(frame.Drop(&data));
    QVERIFY2(Wait([&] { return rows.size() == 1 && !view->running(); }),
             (std::to_string(rows.size()) + " rows; " +
              (MessageBoxes::shown().empty() ? "" : MessageBoxes::shown().back()))
                 .c_str());
    QCOMPARE(rows.row(0).text(ResultColumn::kUrl), std::string("gone.html"));
    QVERIFY(!frame.summary_pane()->isHidden());
    QCOMPARE(frame.summary_pane()->text(),
             QString("2 links checked \u00b7 1 broken \u00b7 0 redirects"));
    QCOMPARE(LoadRecentPaths(settings), std::vector<std::string>{site.path().string()});
    // The drop ran the folder as a folder, but the File Selection opens
    // next time as the user left it.
    QCOMPARE(settings.Get(settings::kAllFiles), 0);
    QCOMPARE(settings.Get(settings::kFileSelStarter), std::string());
    // The counts pane leaves the prompt its whole room.
    frame.show();
    QApplication::processEvents();
    int panes_left = frame.width();
    for (QLabel* pane : {frame.summary_pane(), frame.connection_pane(), frame.method_pane()})
      panes_left = std::min(panes_left, pane->geometry().left());
    QVERIFY2(panes_left >= frame.statusBar()->fontMetrics().horizontalAdvance("For Help, press F1"),
             std::to_string(panes_left).c_str());
    // So does the window at its smallest, the watch's pane shown too.
    frame.watch_pane()->show();
    frame.resize(frame.minimumSizeHint().width(), frame.height());
    QApplication::processEvents();
    panes_left = frame.width();
    for (QLabel* pane :
         {frame.summary_pane(), frame.connection_pane(), frame.method_pane(), frame.watch_pane()})
      panes_left = std::min(panes_left, pane->geometry().left());
    QVERIFY2(panes_left >= frame.statusBar()->fontMetrics().horizontalAdvance("For Help, press F1"),
             (std::to_string(panes_left) + " of " + std::to_string(frame.width())).c_str());
    frame.watch_pane()->hide();
    // A purge's list has nothing to sum up: the pane goes, not stale.
    MessageBoxes::QueueAnswer(true);  // discard the rows
    MessageBoxes::QueueAnswer(true);  // purge
    FileSelection purge = LoadFileSelection(settings, site.path().string());
    purge.path = site.path().string();
    purge.function = Function::kRemoveComments;
    purge.all_files = true;
    view->commands().ask_file_selection = [&](const FileSelection&, const std::string&) {
      return std::optional<FileSelection>(purge);
    };
    frame.show();  // the workers start with the first showing
    view->commands().SelectFiles();
    QVERIFY2(Wait([&] { return !view->running(); }, 5000),
             frame.log_view()->toPlainText().toStdString().c_str());
    QVERIFY(frame.summary_pane()->isHidden());
  }

  void closingAsksAndStoresTheWidths() {
    MemoryConfigStore store;
    SettingsStore settings(store);
    MainWindow frame(settings);
    frame.show();
    ResultList& rows = frame.results_view()->results();
    for (int i = 0; i < 3; ++i)
      rows.AppendResultRow("u" + std::to_string(i));
    rows.SetChecked(0, false);
    rows.SetData(1, 1);
    frame.log_view()->setFocus();  // whichever pane has the focus
    MessageBoxes::QueueAnswer(false);
    QVERIFY(!frame.close());
    QCOMPARE(int(rows.size()), 3);  // nothing goes until something replaces it
    QCOMPARE(MessageBoxes::shown().back(),
             std::string("Not all of the bad URLs have been repaired\n\nDo you want to quit?"));
    QVERIFY(store.values.count({"Grid", "col0"}) == 0);
    MessageBoxes::QueueAnswer(true);
    QVERIFY(frame.close());
    QVERIFY(store.values.count({"Grid", "col4"}) == 1);
  }

  void fileSelectionDialog() {
    FileSelectionDialog dialog(nullptr, {"/site", Function::kTestUrls, false, false, false},
                               "/web/index.htm");
    dialog.recurse_box()->click();
    QVERIFY(dialog.all_files_box()->isChecked());
    dialog.all_files_box()->click();
    QVERIFY(!dialog.recurse_box()->isChecked());
    QString asked;
    dialog.pick_file = [&](QWidget*, const QString& start) {
      asked = "file " + start;
      return QString("/web/chosen.htm");
    };
    dialog.pick_folder = [&](QWidget*, const QString& title) {
      asked = "folder " + title;
      return QString();
    };
    dialog.browse_button()->click();
    QCOMPARE(asked, QString("file /web/*.*"));
    QCOMPARE(dialog.path_field()->text(), QString("/web/chosen.htm"));
    dialog.all_files_box()->click();  // Browse follows the box as shown now
    dialog.browse_button()->click();
    QCOMPARE(asked, QString("folder Folder to Test"));
    QCOMPARE(dialog.path_field()->text(), QString("/web/chosen.htm"));  // cancelled picker
    QCOMPARE(dialog.path_field()->maxLength(), 1000);
    // A web address: nothing of files or folders applies, nor a purge.
    dialog.web_address_box()->click();
    QVERIFY(!dialog.browse_button()->isEnabled());
    QVERIFY(!dialog.all_files_box()->isEnabled());
    QVERIFY(dialog.values().web_address);
    QCOMPARE(dialog.values().function, Function::kTestUrls);
    dialog.web_address_box()->click();
    QVERIFY(dialog.browse_button()->isEnabled());
  }

  // Every dialog fits a 1024x768 screen at a scale of 1.25 (819x614
  // pixels as the program counts them), its buttons in view: a body that
  // needs more room scrolls.
  void dialogsFitASmallScreen() {
    const QSize screen(1024 * 4 / 5, 768 * 4 / 5);
    ReportFilter filter;
    bool visited = false;
    PreferencesDialog preferences(nullptr, filter, 15, false);
    FileSelectionDialog selection(nullptr, {"/site", Function::kTestUrls, false, false, false}, "");
    RepairOptionsDialog repair(nullptr, RepairOptions{});
    ExportDialog export_dialog(nullptr, {"results.txt", ReportFormat::kText});
    AboutDialog about(nullptr, visited, visited);
    RepairFailureDialog failure(nullptr, {"/site/a.html", "http://x.test/", "reason"});
    for (QDialog* dialog : std::initializer_list<QDialog*>{&preferences, &selection, &repair,
                                                           &export_dialog, &about, &failure}) {
      const QSize least = dialog->minimumSizeHint().expandedTo(dialog->minimumSize());
      qInfo() << dialog->metaObject()->className() << least << dialog->sizeHint();
      QVERIFY2(least.width() <= screen.width() && least.height() <= screen.height(),
               qPrintable(QString("%1 needs %2x%3")
                              .arg(dialog->metaObject()->className())
                              .arg(least.width())
                              .arg(least.height())));
    }
  }

  void preferencesPresetsRangeAndStoring() {
    ReportFilter filter;
    PreferencesDialog dialog(nullptr, filter, 15, false);
    auto checked = [&] {
      int n = 0;
      for (int i = 0; i < dialog.categories()->count(); ++i) {
        n += dialog.categories()->item(i)->checkState() == Qt::Checked;
      }
      return n;
    };
    QCOMPARE(dialog.categories()->count(), StatusCodeTable::kCategoryCount);
    QCOMPARE(dialog.categories()->item(0)->text(), QString("HTTP Code 200 OK"));
    QCOMPARE(dialog.categories()->item(43)->text(), QString("HTTP Code 307 Temporary Redirect"));
    QCOMPARE(dialog.categories()->item(65)->text(), QString("Error: Secure Connection Failed"));
    QCOMPARE(dialog.categories()->item(67)->text(), QString("Local Anchor Not Found"));
    QCOMPARE(dialog.categories()->item(69)->text(), QString("Error: Too Many Redirects"));
    QCOMPARE(dialog.categories()->item(70)->text(), QString("Error: Anchor Not Found"));
    QCOMPARE(checked(), 70);  // all but 200
    dialog.PressTypeB();
    // 401-415, 10002, the added client errors but 429, https, local links,
    // moves that lead nowhere, anchors on other sites' pages
    QCOMPARE(checked(), 33);
    QCOMPARE(dialog.parallel(), 32);
    QCOMPARE(dialog.max_redirects(), 10);
    QCOMPARE(dialog.per_host(), 8);
    QCOMPARE(filter.text(), std::string(kTypeBFilter));
    for (const char* refused : {"4", "1001", "ten"}) {
      dialog.timeout_field()->setText(refused);
      dialog.accept();
      QCOMPARE(dialog.result(), int(QDialog::Rejected));
    }
    QCOMPARE(MessageBoxes::shown().size(), std::size_t(3));  // the three refused limits
    dialog.timeout_field()->setText("1000");
    dialog.user_agent_field()->setText("Agent\r\nX-Injected: 1");
    dialog.accept();
    QCOMPARE(dialog.result(), int(QDialog::Rejected));  // no line break in a header
    QCOMPARE(MessageBoxes::shown().back(),
             std::string("The user agent cannot hold control characters."));
    dialog.user_agent_field()->setText(" Agent/2 ");
    // Link rules are checked before they are kept.
    dialog.exclude_field()->setPlainText("^https://ads\\.\n(unclosed");
    dialog.accept();
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    dialog.exclude_field()->setPlainText("^https://ads\\.\n\n/private/");
    dialog.accept_field()->setText("200-");
    dialog.accept();
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    dialog.accept_field()->setText("429, 500-599");
    dialog.accept();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.timeout(), 1000);
    QCOMPARE(dialog.user_agent(), std::string("Agent/2"));

    // Through the view: a preset then Cancel is in force but not stored;
    // OK stores all three.
    MemoryConfigStore store;
    SettingsStore settings(store);
    MainWindow frame(settings);
    OnNextDialog<PreferencesDialog>([](PreferencesDialog* d) {
      d->PressTypeB();
      d->reject();
    });
    frame.results_view()->commands().Preferences();
    QCOMPARE(frame.results_view()->controller().settings().filter.text(),
             std::string(kTypeBFilter));
    QCOMPARE(settings.Get(settings::kFilter), std::string(kDefaultFilter));
    OnNextDialog<PreferencesDialog>([](PreferencesDialog* d) {
      d->timeout_field()->setText("30");
      d->user_agent_field()->setText("Agent/2");
      d->parallel_field()->setValue(300);  // beyond the range: the most it takes
      d->per_host_field()->setValue(2);
      d->exclude_field()->setPlainText("/private/");
      d->accept_field()->setText("429");
      d->accept();
    });
    frame.results_view()->commands().Preferences();
    QCOMPARE(settings.Get(settings::kFilter), std::string(kTypeBFilter));
    QCOMPARE(settings.Get(settings::kTimeout), 30);
    QCOMPARE(settings.Get(settings::kVisible), 0);
    QCOMPARE(settings.Get(settings::kUserAgent), std::string("Agent/2"));
    QCOMPARE(frame.results_view()->controller().settings().user_agent, std::string("Agent/2"));
    QCOMPARE(settings.Get(settings::kParallelProbes), 256);
    QCOMPARE(settings.Get(settings::kPerHost), 2);
    QCOMPARE(frame.results_view()->controller().settings().probe.per_host, 2);
    QCOMPARE(settings.Get(settings::kExclude), std::string("/private/"));
    QCOMPARE(settings.Get(settings::kAccept), std::string("429"));
  }

  // A check of many pages whose links are all on disk needs no reply to
  // wait for: the window still turns while it runs, its progress window
  // shows how far it is, and Esc stops it part way.
  void aBigLocalCheckKeepsTheWindowTurning() {
    testing::TempFolder site;
    for (int page = 0; page < 100; ++page) {
      std::string text;
      for (int link = 0; link < 400; ++link)
        text +=
            "<a href=\"gone/" + std::to_string(page) + "/" + std::to_string(link) + "\">x</a>\n";
      site.Write("p" + std::to_string(page) + ".html", text);
    }
    MemoryConfigStore store;
    SettingsStore settings(store);
    MainWindow frame(settings);
    frame.show();
    ResultsView* view = frame.results_view();
    view->controller().StartTest(site.path().string(), {false, true, ExtensionFilter::kOff});
    int ticks = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(1);
    QVERIFY(Wait([&] {
      return view->progress_dialog() != nullptr &&
             view->progress_dialog()->file_bar()->value() >= 2 && ticks >= 10;
    }));
    QVERIFY(view->running());
    QTest::keyClick(view->progress_dialog(), Qt::Key_Escape);
    QVERIFY(Wait([&] { return !view->running(); }, 3000));
    QVERIFY(view->results().size() > 0);
    QVERIFY(view->results().size() < 40000);
  }

  // A big list is ranked and matched off the event loop; what it shows
  // once settled is what the small list's sort and filter would show, and
  // a row that goes while a job runs leaves nothing stale behind.
  void bigListsSortAndFilterOffTheEventLoop() {
    MemoryConfigStore store;
    SettingsStore settings(store);
    MainWindow frame(settings);
    ResultsView* view = frame.results_view();
    ResultList& rows = view->results();
    ResultProxyModel* proxy = view->proxy();
    constexpr int kRows = 30000;
    for (int i = 0; i < kRows; ++i) {
      rows.AppendResultRow(
          "http://h" + std::to_string(i * 7919 % 100) + ".test/p" + std::to_string(i),
          static_cast<std::size_t>(i % 50));
      rows.SetResultColumn(ResultColumn::kReason,
                           i % 3 ? "HTTP Code 404 Not Found" : "Local File Not Found");
      rows.SetResultColumn(ResultColumn::kSiteName, "Link", "/site/p" + std::to_string(i / 100));
    }
    QVERIFY(Wait([&] { return !proxy->busy(); }));
    QCOMPARE(proxy->rowCount(), kRows);
    const auto settled = [&] { return Wait([&] { return !proxy->busy(); }); };
    const auto matching = [&](const std::string& needle) {
      int count = 0;
      for (const ResultRow& row : rows.rows())
        count += RowMatches(row, needle) ? 1 : 0;
      return count;
    };
    view->SortByColumn(0);
    frame.search_field()->setText("h7");
    frame.search_field()->setText("h7.test/p1");  // cancels the first
    // Until the match is in, the rows shown are veiled, not passed off as
    // matches; once it is in, neither veil nor busy sign is left.
    QVERIFY(proxy->ShowsUnmatchedRows());
    QVERIFY(settled());
    QVERIFY(!proxy->ShowsUnmatchedRows());
    QVERIFY(!view->filter_veil()->busy_shown());
    QCOMPARE(view->viewport()->cursor().shape(), Qt::ArrowCursor);
    QCOMPARE(proxy->rowCount(), matching("h7.test/p1"));
    for (int i = 1; i < proxy->rowCount(); ++i) {
      const std::size_t a = *proxy->ListRow(proxy->index(i - 1, 0));
      const std::size_t b = *proxy->ListRow(proxy->index(i, 0));
      QVERIFY(CompareRows(rows.row(a), rows.row(b), 0) <= 0);
    }
    // A row goes while the wider filter is worked out; the rows a
    // narrower text shows all pass a wider one, so nothing is veiled.
    frame.search_field()->setText("h7.test/");
    QVERIFY(!proxy->ShowsUnmatchedRows());
    rows.RemoveRow(7);
    QVERIFY(settled());
    QCOMPARE(proxy->rowCount(), matching("h7.test/"));
    frame.search_field()->clear();
    view->ShowFileOrder();
    QVERIFY(settled());
    QCOMPARE(proxy->rowCount(), kRows - 1);
    QCOMPARE(*proxy->ListRow(proxy->index(7, 0)), std::size_t(7));
  }

  void resultModelIsAWellBehavedModel() {
    ResultList rows;
    ResultTableModel model(rows);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    for (int i = 0; i < 3; ++i) {
      rows.AppendResultRow("http://x.test/" + std::to_string(i), i == 2 ? 0 : 10 + i);
      rows.SetResultColumn(ResultColumn::kReason, "HTTP Code 404 Not Found");
      rows.SetResultColumn(ResultColumn::kSiteName, "Site", "/w/a.htm");
    }
    // One insertion per row, at its end; never a reset.
    QCOMPARE(inserted.count(), 3);
    QCOMPARE(inserted.at(2).at(1).toInt(), 2);
    QVERIFY(changed.count() >= 3);
    QCOMPARE(model.index(1, 0).data().toString(), QString("http://x.test/1"));
    // The last column is the link's line; an unknown line shows nothing.
    QCOMPARE(model.columnCount(), 6);
    QCOMPARE(model.headerData(5, Qt::Horizontal, Qt::DisplayRole).toString(), QString("Line"));
    QCOMPARE(model.index(1, 5).data().toString(), QString("11"));
    QVERIFY(!model.index(2, 5).data().isValid());
    QVERIFY(model.setData(model.index(1, 0), Qt::Unchecked, Qt::CheckStateRole));
    QVERIFY(!rows.row(1).checked);
    rows.RemoveRow(0);
    QCOMPARE(removed.count(), 1);
    QCOMPARE(model.rowCount(), 2);
    rows.Clear();
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(reset.count() + removed.count() >= 2, true);
  }

  // A page checked again with a link added above the current row keeps
  // the current row, and its selection, on the same link.
  void theCurrentRowFollowsItsLinkWhenRowsComeAbove() {
    Window w;
    ResultList& rows = w.view()->controller().results();
    for (const char* url : {"a", "b", "c"})
      AddRow(rows, url, "HTTP Code 404 Not Found", "/w/a.htm");
    QAbstractItemModel* shown = w.view()->model();
    QVERIFY(Wait([&] { return shown->rowCount() == 3; }));
    w.view()->setCurrentIndex(shown->index(2, 0));
    w.view()->selectionModel()->select(
        shown->index(2, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    std::vector<ResultRow> fresh(4);
    for (std::size_t i = 0; i < fresh.size(); ++i) {
      fresh[i] = rows.row(std::min<std::size_t>(i == 0 ? 0 : i - 1, 2));
      fresh[i].texts.SetUrl(std::string(1, "anbc"[i]));
    }
    rows.ReplaceRows(0, 3, std::move(fresh));
    QVERIFY(Wait([&] { return shown->rowCount() == 4; }));
    QCOMPARE(w.view()->currentIndex().data().toString(), QString("c"));
    const QModelIndexList selected = w.view()->selectionModel()->selectedRows();
    QCOMPARE(selected.size(), 1);
    QCOMPARE(selected.front().data().toString(), QString("c"));
  }

  void progressWindowModes() {
    ProgressWindow test_run(nullptr, false);
    ProgressWindow purge(nullptr, true);
    test_run.show();
    purge.show();
    QVERIFY(test_run.url_part_visible());
    QVERIFY(!purge.url_part_visible());
    const std::string long_path = "/" + std::string(400, 'd') + "/page.htm";
    test_run.Transfer({long_path, "1", "3", "http://x.test/", "X", "2", "9", "", ""});
    QApplication::processEvents();
    QLabel* file = test_run.current_file_label();
    QCOMPARE(file->text(), QString::fromStdString(long_path));
    QVERIFY(!file->wordWrap());
    QVERIFY(file->width() < file->fontMetrics().horizontalAdvance(file->text()));  // clipped
    QVERIFY(test_run.width() < 1200);
  }

  void repairOptionsDialogEnabling() {
    RepairOptionsDialog dialog(nullptr, RepairOptions{});
    QCOMPARE(dialog.type_group()->checkedId(), 0);
    QVERIFY(!dialog.alternate_box()->isEnabled() && !dialog.save_box()->isEnabled());
    QVERIFY(dialog.alternate_box()->isChecked() && dialog.preserve_box()->isChecked());
    QVERIFY(dialog.save_box()->isChecked() && dialog.skip_box()->isChecked());
    QVERIFY(!dialog.remove_comments_box()->isChecked());
    dialog.type_group()->button(1)->click();
    QVERIFY(dialog.alternate_box()->isEnabled() && dialog.preserve_box()->isEnabled() &&
            dialog.remove_comments_box()->isEnabled() && !dialog.save_box()->isEnabled());
    dialog.alternate_box()->click();  // cleared while type 1 applies
    dialog.type_group()->button(2)->click();
    QVERIFY(!dialog.alternate_box()->isEnabled() && dialog.save_box()->isEnabled());
    dialog.type_group()->button(1)->click();
    QVERIFY(!dialog.alternate_box()->isChecked());  // the mark survived the switch
    QCOMPARE(dialog.options().type, RepairType::kReplaceUrl);
  }

  // Sorting and filtering change what is shown, never what is repaired:
  // the same repair of two copies of a site, one shown sorted backwards
  // and filtered, leaves the same pages and the same rows.
  void repairAfterSortingTouchesTheSameRows() {
    std::vector<std::string> pages_after;
    std::vector<std::size_t> rows_after;
    for (const bool sorted : {false, true}) {
      testing::TempFolder folder;
      Window w;
      w.FinishEmptyRun(folder);
      std::vector<std::string> pages;
      ResultList& rows = w.view()->results();
      for (int p = 0; p < 3; ++p) {
        std::string text;
        for (int i = 0; i < 4; ++i)
          text += "<a href=\"http://x.test/" + std::to_string(p) + "/" + std::to_string(i) +
                  "\">L</a>\n";
        pages.push_back(folder.Write("p" + std::to_string(p) + ".htm", text));
        for (int i = 0; i < 4; i += 2)
          AddRow(rows, "http://x.test/" + std::to_string(p) + "/" + std::to_string(i),
                 i == 0 ? "HTTP Code 404 Not Found" : "HTTP Code 410 Gone", pages.back());
      }
      rows.SetChecked(2, false);
      if (sorted) {
        w.view()->SortByColumn(0);
        w.view()->SortByColumn(0);  // descending
        w.frame.search_field()->setText("/1/");
        QCOMPARE(w.view()->model()->rowCount(), 2);
        w.view()->selectAll();
      }
      w.view()->repair_host().ask_options = [](const RepairOptions& stored) {
        RepairOptions options = stored;
        options.type = RepairType::kDisableLine;
        options.saveBadUrls = false;
        return std::optional<RepairOptions>(options);
      };
      bool failed = false;
      w.view()->repair_host().show_failure = [&](const RepairFailure&) { return failed = true; };
      w.frame.UpdateCommands();
      w.frame.action(Command::kRepair)->trigger();
      QVERIFY(!failed);
      std::string all;
      for (const std::string& page : pages)
        all += testing::ReadFile(page);
      pages_after.push_back(all);
      rows_after.push_back(rows.size());
    }
    QCOMPARE(pages_after[1], pages_after[0]);
    QCOMPARE(rows_after[1], rows_after[0]);
    QVERIFY(pages_after[0].find("<!--") != std::string::npos);
  }

  void repairThroughTheWindow() {
    testing::TempFolder folder;
    Window w;
    w.FinishEmptyRun(folder);
    const std::string page = folder.Write("p.htm", "<a href=\"U1\">\n<a href=\"U2\">\n");
    ResultList& rows = w.view()->results();
    AddRow(rows, "U1", "HTTP Code 404 Not Found", page);
    AddRow(rows, "U9", "HTTP Code 404 Not Found", page);
    w.frame.UpdateCommands();
    QVERIFY(w.frame.action(Command::kRepair)->isEnabled());

    // Cancel in the real options dialog stores nothing and changes nothing.
    OnNextDialog<RepairOptionsDialog>([](RepairOptionsDialog* d) { d->reject(); });
    w.frame.action(Command::kRepair)->trigger();
    const auto repair_values = [&] {
      int n = 0;
      for (const auto& [key, value] : w.store.values)
        n += key.first == "Repair";
      return n;
    };
    QCOMPARE(repair_values(), 0);
    QCOMPARE(testing::ReadFile(page), std::string("<a href=\"U1\">\n<a href=\"U2\">\n"));

    // OK stores all six; U9 is not in the file, and the failure dialog's
    // box asks to drop its row.
    OnNextDialog<RepairOptionsDialog>([](RepairOptionsDialog* d) {
      d->type_group()->button(2)->click();
      d->save_box()->setChecked(false);
      d->accept();
    });
    std::string failure;
    w.view()->repair_host().show_failure = [&](const RepairFailure& shown) {
      failure = shown.file + " | " + shown.url;
      return true;
    };
    w.frame.action(Command::kRepair)->trigger();
    QCOMPARE(repair_values(), 6);
    QCOMPARE(w.settings.Get(settings::kRepairType), 2);
    QCOMPARE(failure, page + " | U9");
    QCOMPARE(int(rows.size()), 1);
    QCOMPARE(testing::ReadFile(page), std::string("<a href=\"U2\">\n"));
    QCOMPARE(MessageBoxes::shown().back(),
             "We looked in file\n" + page + "\nbut could not file the URL\nU9");
    QVERIFY(w.frame.action(Command::kRepair)->isEnabled());  // a failure leaves it available

    // Resumed and completed: the command is then unavailable until a run.
    AddRow(rows, "U2", "HTTP Code 404 Not Found", page);
    w.view()->repair_host().ask_options = [](const RepairOptions& stored) {
      return std::optional<RepairOptions>(stored);
    };
    w.frame.action(Command::kRepair)->trigger();
    QCOMPARE(MessageBoxes::shown().back(),
             std::string("All URL repairs completed\n\nRows repaired: 1 in 1 page"));
    QCOMPARE(testing::ReadFile(page), std::string(""));
    // The handled rows are marked, and say what was done with them.
    QAbstractItemModel* shown = w.view()->model();
    for (int row = 0; row < shown->rowCount(); ++row) {
      QVERIFY(!shown->index(row, 0).data(Qt::DecorationRole).value<QIcon>().isNull());
      QVERIFY(shown->index(row, 0)
                  .data(Qt::ToolTipRole)
                  .toString()
                  .endsWith("\nRepaired: its line was removed"));
      QVERIFY(shown->index(row, 1).data(Qt::DecorationRole).isNull());
    }
    QVERIFY(!w.frame.action(Command::kRepair)->isEnabled());
  }

  void exportDialogAndCommand() {
    ExportDialog dialog(nullptr, {"results.txt", ReportFormat::kText});
    QCOMPARE(dialog.path_field()->maxLength(), 200);
    dialog.format_group()->button(1)->click();
    QCOMPARE(dialog.path_field()->text(), QString("results.html"));
    dialog.format_group()->button(0)->click();
    QCOMPARE(dialog.path_field()->text(), QString("results.txt"));
    QString filters, suffix;
    dialog.pick_file = [&](QWidget*, const QString& f, const QString& s, const QString&) {
      filters = f;
      suffix = s;
      return QString("/tmp/picked.txt");
    };
    dialog.Browse();
    QVERIFY(filters.startsWith("Text Files (*.txt)"));
    QCOMPARE(suffix, QString("txt"));
    QCOMPARE(dialog.path_field()->text(), QString("/tmp/picked.txt"));

    testing::TempFolder folder;
    Window w;
    AddRow(w.view()->results(), "U1", "HTTP Code 404 Not Found", "/w/a.htm");
    w.frame.UpdateCommands();
    const std::string existing = folder.Write("old.txt", "keep");
    w.view()->repair_host().ask_export = [&](const ExportChoice&) {
      return std::optional<ExportChoice>(ExportChoice{existing, ReportFormat::kText});
    };
    MessageBoxes::QueueAnswer(false);
    w.frame.action(Command::kExport)->trigger();
    QCOMPARE(MessageBoxes::shown().back(),
             existing + "\nThis file already exists\n\nReplace existing file?");
    QCOMPARE(testing::ReadFile(existing), std::string("keep"));
    MessageBoxes::QueueAnswer(true);
    w.frame.action(Command::kExport)->trigger();
    QCOMPARE(testing::ReadFile(existing),
             std::string("/w/a.htm\n   U1\n      HTTP Code 404 Not Found\n      Site\n"));
  }

  void popupMenuPropertiesAndBrowsing() {
    testing::TempFolder folder;
    Window w;
    ResultsView* view = w.view();
    AddRow(view->results(), "http://a.test/x%20y.htm", "HTTP Code 404 Not Found", "/w/a.htm");
    AddRow(view->results(), "ftp://b.test/", "HTTP Code 301 Moved Permanently", "/w/a.htm",
           "http://b.test/new/");
    AddRow(view->results(), "mailto:someone@a.test", "HTTP Code 404 Not Found", "/w/a.htm");
    QStringList opened;
    view->commands().open_url = [&](const QUrl& url) {
      opened << url.toString();
      return true;
    };
    QMenu* shown_menu = nullptr;
    QPoint shown_at;
    QList<bool> enabled;
    view->show_menu = [&](QMenu* menu, const QPoint& at) {
      shown_menu = menu;
      shown_at = at;
      enabled.clear();
      // The designed three, then the added row commands.
      for (QAction* a : menu->actions().mid(0, 3))
        enabled << a->isEnabled();
    };

    // No row selected: no menu.
    QContextMenuEvent none(QContextMenuEvent::Mouse, QPoint(100, 5),
                           view->viewport()->mapToGlobal(QPoint(100, 5)));
    QApplication::sendEvent(view->viewport(), &none);
    QVERIFY(shown_menu == nullptr);

    view->selectionModel()->select(view->model()->index(0, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    const QRect row0 = view->visualRect(view->model()->index(0, 0));
    QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(140, row0.center().y()),
                            view->viewport()->mapToGlobal(QPoint(140, row0.center().y())));
    QApplication::sendEvent(view->viewport(), &click);
    QVERIFY(shown_menu != nullptr);
    QCOMPARE(shown_at, view->viewport()->mapToGlobal(row0.topLeft() + QPoint(140 - 25, 0)));
    QCOMPARE(enabled, QList<bool>({true, true, false}));

    view->selectionModel()->clearSelection();
    view->selectionModel()->select(view->model()->index(1, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QContextMenuEvent key(QContextMenuEvent::Keyboard, QPoint(0, 0),
                          view->viewport()->mapToGlobal(QPoint(0, 0)));
    QApplication::sendEvent(view->viewport(), &key);
    QCOMPARE(shown_at,
             view->viewport()->mapToGlobal(view->visualRect(view->model()->index(1, 0)).topLeft()));
    QCOMPARE(enabled, QList<bool>({true, true, true}));

    view->commands().GoToUrl();  // ftp opens too
    view->commands().GoToAlternateUrl();
    view->selectionModel()->clearSelection();
    view->selectionModel()->select(view->model()->index(2, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    view->commands().GoToUrl();  // neither http nor ftp: nothing
    QCOMPARE(opened, QStringList({"ftp://b.test/", "http://b.test/new/"}));
    // Nothing to open it with: the user is told, not left waiting.
    view->commands().open_url = [](const QUrl&) { return false; };
    const std::size_t messages = MessageBoxes::shown().size();
    view->commands().GoToAlternateUrl();
    QCOMPARE(MessageBoxes::shown().size(), messages);  // the row has none: nothing was tried
    view->selectionModel()->clearSelection();
    view->selectionModel()->select(view->model()->index(1, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    view->commands().GoToUrl();
    QCOMPARE(MessageBoxes::shown().back(),
             std::string("Cannot open ftp://b.test/: no program took it"));
    view->commands().open_url = [&](const QUrl& url) {
      opened << url.toString();
      return true;
    };

    // Properties go to the cache folder, never over the site's own files.
    const QString previous = QDir::currentPath();
    QDir::setCurrent(QString::fromStdString(folder.path().string()));
    folder.Write("props.txt", "the author's own");
    const QByteArray cache = qgetenv("XDG_CACHE_HOME");
    qputenv("XDG_CACHE_HOME", QByteArray::fromStdString((folder.path() / "cache").string()));
    view->selectionModel()->clearSelection();
    view->selectionModel()->select(view->model()->index(0, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    view->commands().ShowProperties();
    QDir::setCurrent(previous);
    qputenv("XDG_CACHE_HOME", cache);
    QCOMPARE(
        testing::ReadFile((folder.path() / "cache/quimbel/props.txt").string()),
        std::string("http://a.test/x%20y.htm\n\nHTTP Code 404 Not Found\n\nSite\n\n/w/a.htm\n\n"));
    QCOMPARE(testing::ReadFile((folder.path() / "props.txt").string()), "the author's own");
    QVERIFY(opened.last().endsWith("/cache/quimbel/props.txt"));
  }

  // Yes to the question keeps the rows until a run replaces them: a
  // cancelled File Selection loses nothing. A run with nothing broken says
  // so, and leaves the keys with the list.
  void cancelKeepsTheRowsAndASuccessSaysSo() {
    testing::TempFolder site;
    site.Write("a.html", "<a href=\"a.html\">Self</a>\n<a href=\"#top\">Top</a>\n<p id=top>");
    Window w;
    ResultsView* view = w.view();
    QCOMPARE(view->EmptyListText(),
             QString("Select File(s) from the File menu, or drop a folder here"));
    ResultList& rows = view->results();
    AddRow(rows, "U1", "HTTP Code 404 Not Found", "/w/a.htm");
    AddRow(rows, "U2", "HTTP Code 404 Not Found", "/w/a.htm");
    rows.SetChecked(1, false);
    bool cancel = true;
    view->commands().ask_file_selection = [&](const FileSelection& values, const std::string&) {
      if (cancel) return std::optional<FileSelection>();
      FileSelection chosen = values;
      chosen.path = site.path().string();
      chosen.all_files = true;
      return std::optional<FileSelection>(chosen);
    };
    MessageBoxes::QueueAnswer(true);  // U1 is left to repair: the question comes
    w.frame.action(Command::kSelectFiles)->trigger();
    QCOMPARE(MessageBoxes::shown().back(),
             std::string("Not all of the bad URLs have been repaired\n\nDo you want to continue?"));
    QCOMPARE(view->model()->rowCount(), 2);
    QVERIFY(rows.row(0).checked && !rows.row(1).checked);

    cancel = false;
    MessageBoxes::QueueAnswer(true);
    w.frame.log_view()->setFocus();
    w.frame.action(Command::kSelectFiles)->trigger();
    QVERIFY(Wait([&] { return !view->running(); }));
    QCOMPARE(view->model()->rowCount(), 0);
    QCOMPARE(view->EmptyListText(), QString("No broken links in 2 links checked"));
    QCOMPARE(w.frame.focusWidget(), static_cast<QWidget*>(view));
  }

  // The line under the path says what it names as it is typed; OK on a
  // folder while the options ask for a file checks the folder.
  void fileSelectionNamesThePathAndTakesAFolder() {
    testing::TempFolder site;
    const std::string page = site.Write("a.html", "<a href=\"gone.html\">Gone</a>\n");
    FileSelectionDialog dialog(nullptr, {page, Function::kTestUrls, false, false, false}, "");
    QCOMPARE(dialog.path_kind_label()->text(), QString("File"));
    const QString folder = QString::fromStdString(site.path().string());
    const std::pair<QString, QString> typed[] = {
        {folder, "Folder: OK checks the files in it"},
        {folder + "/nothing", "Nothing by that name"},
        {"https://www.example.test/", "Web address: OK crawls the site"},
        {"", "Type a file or folder, or Browse"},
    };
    for (const auto& [text, note] : typed) {
      dialog.path_field()->clear();
      QTest::keyClicks(dialog.path_field(), text);
      QCOMPARE(dialog.path_kind_label()->text(), note);
    }
    // OK on a typed address ticks the box: the address is not forgotten,
    // nor taken for a file that does not exist.
    dialog.path_field()->setText("https://www.example.test/");
    dialog.accept();
    QVERIFY(dialog.values().web_address);
    QCOMPARE(dialog.values().path, std::string("https://www.example.test/"));
    dialog.web_address_box()->click();
    dialog.path_field()->setText(folder);
    dialog.all_files_box()->click();
    QCOMPARE(dialog.path_kind_label()->text(), QString("Folder"));

    // Through the window's own dialog: OK on the folder runs it as one.
    Window w;
    w.settings.Set(settings::kFileSelStarter, page);
    OnNextDialog<FileSelectionDialog>([&](FileSelectionDialog* d) {
      d->path_field()->setText(folder);
      QTest::keyClick(d, Qt::Key_Return);
    });
    w.frame.action(Command::kSelectFiles)->trigger();
    QVERIFY(Wait([&] { return !w.view()->running(); }));
    QVERIFY2(MessageBoxes::shown().empty(),
             MessageBoxes::shown().empty() ? "" : MessageBoxes::shown().back().c_str());
    QCOMPARE(w.view()->model()->rowCount(), 1);
    QCOMPARE(w.settings.Get(settings::kAllFiles), 1);
    QCOMPARE(w.settings.Get(settings::kFileSelStarter), site.path().string());
  }

  // The trusted certificate file and the unsafe switch are kept with the
  // preferences and reach the probes as the command line's do.
  void preferencesCertificates() {
    testing::TempFolder folder;
    const std::string ca = folder.Write("ca.pem", "-----BEGIN CERTIFICATE-----\n");
    Window w;
    OnNextDialog<PreferencesDialog>([&](PreferencesDialog* d) {
      QVERIFY(d->ca_file_field()->text().isEmpty());
      QVERIFY(!d->insecure_box()->isChecked());
      QVERIFY(d->insecure_box()->text().contains("unsafe"));
      d->ca_file_field()->setText(QString::fromStdString(ca + "x"));
      d->accept();  // a file that cannot be read is refused
      QCOMPARE(d->result(), int(QDialog::Rejected));
      QVERIFY(MessageBoxes::shown().back().starts_with("cannot read the CA file " + ca + "x"));
      d->pick_ca_file = [&](QWidget*) { return QString::fromStdString(ca); };
      for (QPushButton* button : d->findChildren<QPushButton*>())
        if (button->text() == "Br&owse...") button->click();
      QCOMPARE(d->ca_file_field()->text(), QString::fromStdString(ca));
      d->insecure_box()->click();
      d->accept();
    });
    w.view()->commands().Preferences();
    QCOMPARE(w.settings.Get(settings::kCaFile), ca);
    QCOMPARE(w.settings.Get(settings::kInsecure), 1);
    // The next run probes with both.
    w.view()->commands().ask_file_selection = [&](const FileSelection& values, const std::string&) {
      FileSelection chosen = values;
      chosen.path = folder.path().string();
      chosen.all_files = true;
      return std::optional<FileSelection>(chosen);
    };
    w.view()->commands().SelectFiles();
    QVERIFY(Wait([&] { return !w.view()->running(); }));
    QCOMPARE(w.view()->controller().settings().probe.ca_file, ca);
    QVERIFY(w.view()->controller().settings().probe.insecure);
    // A CA file gone since: the run does not start, and says why.
    std::filesystem::remove(ca);
    MessageBoxes::shown().clear();
    w.view()->commands().SelectFiles();
    QVERIFY(!w.view()->running());
    QVERIFY(!MessageBoxes::shown().empty() &&
            MessageBoxes::shown().back().starts_with("cannot read the CA file " + ca));
  }

  void themeChoiceIsAppliedAndKept() {
    Window w;
    const QString style = QApplication::style()->name();
    QVERIFY(w.frame.action(Command::kThemeSystem)->isChecked());
    w.frame.action(Command::kThemeDark)->trigger();
    QCOMPARE(QApplication::style()->name().toLower(), QString("fusion"));
    QCOMPARE(QApplication::palette().color(QPalette::Window),
             DarkPalette().color(QPalette::Window));
    QCOMPARE(w.settings.Get(settings::kTheme), 2);
    w.frame.action(Command::kThemeLight)->trigger();
    QVERIFY(QApplication::palette().color(QPalette::Window).lightness() > 128);
    QCOMPARE(w.settings.Get(settings::kTheme), 1);
    {
      // A new window opens in the stored theme, its choice checked.
      MainWindow again(w.settings);
      QVERIFY(again.action(Command::kThemeLight)->isChecked());
    }
    w.frame.action(Command::kThemeSystem)->trigger();
    QCOMPARE(QApplication::style()->name(), style);
    QCOMPARE(w.settings.Get(settings::kTheme), 0);
  }

  void printingSplitsPages() {
    ResultList rows;
    for (int i = 0; i < 3; ++i)
      AddRow(rows, "U" + std::to_string(i), "HTTP Code 404 Not Found", "/w/a.htm");
    const std::vector<std::string> lines = BuildReportLines(rows);
    QCOMPARE(int(lines.size()), 10);
    testing::TempFolder folder;
    const QString pdf = QString::fromStdString((folder.path() / "list.pdf").string());
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdf);
    printer.setPageMargins(QMarginsF(0, 0, 0, 0));
    // A page 6.5 lines high (in hundredths of an inch) holds 4 of them.
    const int h = QFontMetrics(ListingFont()).height() + 5;
    printer.setPageSize(QPageSize(QSizeF(4.0, (6.5 * h) / 100.0), QPageSize::Inch));
    QCOMPARE(LayoutFor(printer).lines_per_page, 4);
    QCOMPARE(PrintListing(printer, lines), 3);
    QFile file(pdf);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray data = file.readAll();
    QCOMPARE(data.count("/Type /Page\n") + data.count("/Type /Page\r") + data.count("/Type /Page "),
             3);
  }

  void hyperlinkLabel() {
    bool visited = false;
    HyperlinkLabel link("quimbel@marrowfen.example", visited);
    link.show();
    QCOMPARE(link.TextColour(), QColor(0, 0, 255));
    QVERIFY(link.font().underline());
    QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
    QApplication::sendEvent(&link, &enter);
    QCOMPARE(link.cursor().shape(), Qt::PointingHandCursor);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&link, &leave);
    QCOMPARE(link.cursor().shape(), Qt::ArrowCursor);

    QString opened;
    link.open_target = [&](const QString& target) {
      opened = target;
      return false;  // the desktop cannot open it
    };
    link.Click();
    QCOMPARE(opened, QString("mailto:quimbel@marrowfen.example"));
    QVERIFY(!visited);
    QCOMPARE(link.TextColour(), QColor(0, 0, 255));
    // During the guard the pointer shape does not change.
    QVERIFY(link.launching());
    QApplication::sendEvent(&link, &enter);
    QCOMPARE(link.cursor().shape(), Qt::ArrowCursor);
    QTRY_VERIFY_WITH_TIMEOUT(!link.launching(), 3000);

    link.open_target = [](const QString&) { return true; };
    link.Click();
    QVERIFY(visited);
    QCOMPARE(link.TextColour(), QColor(128, 0, 128));
    QCOMPARE(link.target(), QString("mailto:quimbel@marrowfen.example"));
    // On a dark window the link is drawn in a lighter colour that can be read.
    QPalette dark = link.palette();
    dark.setColor(QPalette::Window, QColor(45, 45, 45));
    link.setPalette(dark);
    QCOMPARE(link.TextColour(), QColor(HyperlinkLabel::kVisitedOnDark));

    // The flag outlives the About box.
    bool home = false;
    {
      AboutDialog about(nullptr, visited, home);
      QCOMPARE(about.windowTitle(), QString("About Quimbel"));
      QCOMPARE(about.mail_link()->TextColour(), QColor(128, 0, 128));
      QCOMPARE(about.home_link()->TextColour(), QColor(0, 0, 255));
    }
  }
};

QTEST_MAIN(GuiTest)
#include "gui_test.moc"
