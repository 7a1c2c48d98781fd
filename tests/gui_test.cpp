// The window, its dialogs and commands, offscreen: each command is wired to the engine once.
#include <QAbstractBarSeries>
#include <QBarSet>
#include <QChartView>
#include <QPrinter>
#include <QtTest>
#include <QtWidgets>
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
  return QTest::qWaitFor(done, limit_ms);
}

// Runs `act` on the next modal dialog of type T once it is up.
template <typename T>
void OnNextDialog(std::function<void(T*)> act) {
  QTimer::singleShot(0, [act] {
    if (auto* dialog = dynamic_cast<T*>(QApplication::activeModalWidget())) act(dialog);
  });
}

void AddRow(ResultList& rows, const std::string& url, const std::string& reason,
            const std::string& file, const std::string& alternate = "", std::size_t line = 0,
            const std::string& text = "Site") {
  rows.AppendResultRow(url, line);
  rows.SetResultColumn(ResultColumn::kReason, reason);
  rows.SetResultColumn(ResultColumn::kSiteName, text, file);
  if (!alternate.empty()) rows.SetResultColumn(ResultColumn::kAlternateUrl, alternate);
}

void SelectOnly(ResultsView* view, int row) {
  view->selectionModel()->select(view->model()->index(row, 0),
                                 QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

// The File Selection answered with every file in `path`.
void AnswerFolder(ResultsView* view, const std::string& path, bool project_settings = false,
                  Function function = Function::kTestUrls) {
  view->commands().ask_file_selection = [=](FileSelection chosen, const std::string&) {
    chosen.path = path;
    chosen.all_files = true;
    chosen.project_settings = project_settings;
    chosen.function = function;
    return std::optional<FileSelection>(chosen);
  };
}

struct Window {
  explicit Window(bool shown = true) : settings(store), frame(settings) {
    if (shown) frame.show();
    MessageBoxes::shown().clear();
  }
  MemoryConfigStore store;
  SettingsStore settings;
  MainWindow frame;
  ResultsView* view() { return frame.results_view(); }
  // An empty run makes the results "ready", so repair is available, as a finished run would.
  void FinishEmptyRun(const testing::TempFolder& folder) {
    view()->controller().StartTest(folder.Write("empty.txt", ""), {});
  }
};

}  // namespace

class GuiTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { MessageBoxes::StartRecording(); }
  void init() { MessageBoxes::shown().clear(); }

  // With the history kept, a second test of a folder marks its new rows in bold, and "New only"
  // shows them alone.
  void newRowsAreMarkedAndFilterable() {
    testing::TempFolder site;
    const QByteArray cache = qgetenv("XDG_CACHE_HOME");
    qputenv("XDG_CACHE_HOME", QByteArray::fromStdString((site.path() / "cache").string()));
    Window w;
    w.view()->controller().settings().history = true;
    const auto test = [&](const std::string& body) {
      site.Write("a.html", body);
      w.view()->controller().StartTest(site.path().string(), {false, true, ExtensionFilter::kOff});
      w.view()->StateChanged();
      return Wait([&] { return !w.view()->running(); });
    };
    QVERIFY(test(Anchor("gone.html", "g")));
    QVERIFY(!w.frame.new_only()->isVisible());  // nothing to compare with yet
    QVERIFY(test(Anchor("gone.html", "g") + Anchor("nope.html", "n")));
    QVERIFY(w.frame.new_only()->isVisible());
    QAbstractItemModel* shown = w.view()->model();
    QCOMPARE(shown->rowCount(), 2);
    const auto bold = [&](int row) {
      return shown->data(shown->index(row, 0), Qt::FontRole).value<QFont>().bold();
    };
    QCOMPARE(std::pair(bold(0), bold(1)), std::pair(false, true));
    w.frame.new_only()->click();
    QVERIFY(Wait([&] { return shown->rowCount() == 1; }));
    QCOMPARE(shown->data(shown->index(0, 0)).toString(), QString("nope.html"));
    qputenv("XDG_CACHE_HOME", cache);
  }

  // Keep Checking: on after a test of files, a page saved by rename has its rows replaced.
  void keepCheckingFollowsSavedPages() {
    Window w;
    QAction* keep = w.frame.action(Command::kKeepChecking);
    QCOMPARE(std::tuple(keep->text(), keep->isCheckable(), keep->isEnabled()),
             std::tuple(QString("&Keep Checking"), true, false));  // nothing to watch yet
    testing::TempFolder site;
    const std::string page = site.Write("a.html", Anchor("gone.html", "g"));
    w.view()->controller().StartTest(site.path().string(), {false, true, ExtensionFilter::kOff});
    w.view()->StateChanged();
    QVERIFY(Wait([&] { return !w.view()->running(); }));
    QVERIFY(keep->isEnabled());
    const auto watching = [&] {
      return std::pair(w.view()->controller().watch().active(), w.frame.watch_pane()->isVisible());
    };
    QCOMPARE(watching(), std::pair(false, false));
    keep->setChecked(true);
    QCOMPARE(w.settings.Get(settings::kKeepChecking), 1);
    QCOMPARE(watching(), std::pair(true, true));
    QCOMPARE(w.view()->model()->rowCount(), 1);
    site.Write("a.html.tmp", Anchor("gone.html", "g") + Anchor("nope.html", "n"));
    std::filesystem::rename(page + ".tmp", page);
    QVERIFY(Wait([&] { return w.view()->model()->rowCount() == 2; }));
    keep->setChecked(false);
    QCOMPARE(w.settings.Get(settings::kKeepChecking), 0);
    QCOMPARE(watching(), std::pair(false, false));
    testing::ScriptedServer server;  // a crawled web address is not watched; the item says why
    server.On("/", "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n<p>page</p>");
    keep->setChecked(true);
    CrawlOptions crawl;
    crawl.start_urls = {"http://127.0.0.1:" + std::to_string(server.port()) + "/"};
    w.view()->controller().StartCrawl(crawl);
    w.view()->StateChanged();
    QVERIFY(!w.view()->controller().watch().active());
    QVERIFY(Wait([&] { return !w.view()->running(); }));
    QVERIFY(!keep->isEnabled());
    QVERIFY(keep->toolTip().contains("a web address is crawled, not watched"));
    QCOMPARE(watching(), std::pair(false, false));
  }

  void menusToolbarAndIdleEnabling() {
    Window w;
    MainWindow& frame = w.frame;
    QCOMPARE(frame.windowTitle(), QString("Quimbel"));
    QStringList texts;
    QList<bool> enabled;
    for (Command command :
         {Command::kSelectFiles, Command::kExport, Command::kRepair, Command::kPrint,
          Command::kPrintPreview, Command::kPrintSetup, Command::kExit, Command::kPreferences,
          Command::kStop, Command::kHelpTopics, Command::kAbout}) {
      texts << frame.action(command)->text();
      enabled << frame.action(command)->isEnabled();
    }
    QCOMPARE(enabled,
             QList<bool>({true, false, false, true, true, true, true, true, false, true, true}));
    QCOMPARE(texts,
             QStringList({"&Select File(s)...\tCtrl+O", "&Export Results...\tCtrl+S",
                          "Repair Failed &Links...\tF5", "&Print...\tCtrl+P", "Print Pre&view",
                          "P&rint Setup...", "E&xit\tCtrl+Q", "&Preferences...\tF2",
                          "&Stop Test\tEsc", "&Help Topics", "&About Quimbel..."}));
    QCOMPARE(frame.action(Command::kSelectFiles)->statusTip(), QString("Select file(s) to test"));
    QCOMPARE(frame.action(Command::kRepair)->toolTip(), QString("Repair"));
    auto* toolbar = frame.findChild<QToolBar*>();  // separators in place; named as in the View menu
    QCOMPARE(toolbar->windowTitle(), QString("Toolbar"));
    QCOMPARE(frame.action(Command::kToolbar)->text(), QString("&Toolbar"));
    QStringList order;
    for (QAction* a : toolbar->actions())
      order << (a->isSeparator() ? "|" : a->toolTip());
    QCOMPARE(order, QStringList({"Test File(s)", "Export", "Repair", "|", "Print", "|",
                                 "Preferences", "Stop", "|", "About"}));
    std::vector<QIcon> icons{frame.windowIcon()};  // icons drawn afresh per scale, not blown up
    for (QAction* a : toolbar->actions())
      if (!a->isSeparator()) icons.push_back(a->icon());
    for (const QIcon& icon : icons)
      for (const qreal scale : {2.0, 4.0}) {
        const QImage image = icon.pixmap(QSize(16, 15), scale).toImage();
        QCOMPARE(image.height(), qRound(15 * scale));  // the square program icon: 30 x 30 at 200 %
        QVERIFY(image.width() >= image.height() && image.width() <= qRound(16 * scale));
        int drawn = 0;
        for (int y = 0; y < image.height(); ++y)
          for (int x = 0; x < image.width(); ++x)
            drawn += qAlpha(image.pixel(x, y)) > 0;
        QVERIFY(drawn > image.width() * image.height() / 5);
      }
    QCOMPARE(frame.connection_pane()->text(), QString("Connection Status"));
    QCOMPARE(frame.method_pane()->text(), QString("HTTP Method Status"));
    QVERIFY(frame.summary_pane()->isHidden());  // the prompt's room until a run
    // All six columns, Line included, are in view at the first start.
    QVERIFY(frame.results_view()->header()->length() <= frame.results_view()->viewport()->width());
    const QSize before = frame.size();  // a narrow window (a big scale) keeps the whole prompt
    frame.resize(560, before.height());
    const int panes = frame.connection_pane()->maximumWidth() + frame.method_pane()->maximumWidth();
    QVERIFY(panes + frame.fontMetrics().horizontalAdvance("For Help, press F1") <= 560);
    frame.resize(before);
    toolbar->hide();  // the menu item follows a toolbar hidden from its own context menu
    QVERIFY(!frame.action(Command::kToolbar)->isChecked());
    toolbar->show();
    QVERIFY(frame.action(Command::kToolbar)->isChecked());
    frame.statusBar()->showMessage("Select file(s) to test");
    frame.statusBar()->clearMessage();
    QCOMPARE(frame.statusBar()->currentMessage(), QString("For Help, press F1"));
    QCOMPARE(frame.results_view()->textElideMode(), Qt::ElideMiddle);
    QCOMPARE(QString::fromStdString(frame.results_view()->run_host().LongDateTime()).left(4),
             QLocale().toString(QDateTime::currentDateTime(), QLocale::LongFormat).left(4));
    LogView* log = frame.log_view();  // Ctrl+C copies a clicked log's selection, focus on the list
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
    server.On("/ok.htm", "HTTP/1.0 200 OK\r\n\r\n");
    server.On("/moved/", "HTTP/1.0 302 Found\r\nLocation: /ok.htm\r\n\r\n");
    const std::string real = "http://127.0.0.1:" + std::to_string(server.port());
    testing::TempFolder site;
    site.Write("index.htm", Anchor(real + "/ok.htm", "Fine") + Anchor(real + "/gone.htm", "Gone") +
                                Anchor(real + "/moved/", "Old") +
                                Anchor(real + "/silent/", "Quiet"));
    testing::TempFolder config;
    QSettingsConfigStore store((config.path() / "Quimbel.conf").string());
    SettingsStore settings(store);
    settings.Set(settings::kTimeout, 5);
    MainWindow frame(settings);
    frame.resize(1400, 600);
    frame.show();
    ResultsView* view = frame.results_view();
    AnswerFolder(view, site.path().string());
    frame.action(Command::kSelectFiles)->trigger();
    QVERIFY(view->running() && view->progress_dialog() != nullptr);
    QVERIFY(!frame.action(Command::kSelectFiles)->isEnabled() &&
            !frame.action(Command::kPreferences)->isEnabled() &&
            frame.action(Command::kStop)->isEnabled());
    int ticks = 0;  // while the silent probe waits, the event loop keeps turning
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
    QVERIFY(frame.action(Command::kExport)->isEnabled() &&
            frame.action(Command::kRepair)->isEnabled());
    const QString gone = QString::fromStdString(real + "/gone.htm");
    const QString ok = QString::fromStdString(real + "/ok.htm");
    QCOMPARE(view->model()->rowCount(), 2);
    QCOMPARE(view->model()->index(0, 0).data().toString(), gone);
    QCOMPARE(view->model()->index(0, 1).data().toString(), QString("HTTP Code 404 Not Found"));
    QCOMPARE(view->model()->index(1, 4).data().toString(), ok);
    QCOMPARE(view->model()->index(0, 0).data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
    QVERIFY(frame.log_view()->toPlainText().endsWith("Testing Stopped by User\n"));
    QVERIFY(!frame.log_view()->document()->isModified());
    // With none stored, the columns were fitted to the rows; a later run leaves them so.
    const std::array<int, 5> fitted = view->ColumnWidths();
    QVERIFY(std::accumulate(fitted.begin(), fitted.end(), view->LineColumnWidth()) <=
            view->viewport()->width());
    QVERIFY(fitted[0] >= view->fontMetrics().horizontalAdvance(gone));
    QVERIFY(fitted[4] >= view->fontMetrics().horizontalAdvance(ok) && fitted[1] != fitted[3]);
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

  // "Use project settings" lays quimbel.toml over the stored rules; a bad one stops the run.
  void projectSettingsCountOnlyWhenChosen() {
    testing::TempFolder site;
    site.Write("page.html", Anchor("gone.html", "Gone") + Anchor("drafts/x.html", "Draft"));
    site.Write("quimbel.toml", "exclude = \"^drafts/\"\n");
    Window w(false);
    ResultsView* view = w.view();
    const auto run = [&](bool project) {
      AnswerFolder(view, site.path().string(), project);
      if (view->model()->rowCount() > 0) MessageBoxes::QueueAnswer(true);  // discard them
      w.frame.action(Command::kSelectFiles)->trigger();
      QVERIFY(Wait([&] { return !view->running(); }));
    };
    run(true);
    QCOMPARE(view->model()->rowCount(), 1);
    QCOMPARE(w.settings.Get(settings::kProjectSettings), 1);
    run(false);
    QCOMPARE(view->model()->rowCount(), 2);
    site.Write("quimbel.toml", "exclude = [\n");
    run(true);
    QVERIFY(!view->running());
    QCOMPARE(view->model()->rowCount(), 2);  // nothing ran: the last run's rows stay
    QVERIFY(
        MessageBoxes::shown().back().starts_with((site.path() / "quimbel.toml").string() + ":"));
  }

  // The list shown sorted and filtered; the rows behind it stay in file order.
  void sortFilterCopyDropAndOpen() {
    Window w(false);
    MainWindow& frame = w.frame;
    ResultsView* view = frame.results_view();
    ResultList& rows = view->results();
    QAbstractItemModel* shown = view->model();
    // Checked through every insert, sort, filter and removal below.
    QAbstractItemModelTester tester(view->proxy(),
                                    QAbstractItemModelTester::FailureReportingMode::QtTest);
    constexpr int kRows = 40;
    for (int i = 0; i < kRows; ++i)
      AddRow(rows, "http://h" + std::to_string(i % 10) + ".test/" + std::to_string(i),
             i % 2 ? "HTTP Code 404 Not Found" : "Local File Not Found",
             "/site/p" + std::to_string(i / 10) + ".html", "", kRows - i,
             "Text\t" + std::to_string(i));
    QCOMPARE(shown->rowCount(), kRows);
    using Rows = std::vector<std::size_t>;
    const auto list_rows = [&](std::initializer_list<int> at) {
      Rows found;
      for (const int shown_row : at)
        found.push_back(*view->proxy()->ListRow(shown->index(shown_row, 0)));
      return found;
    };
    view->SortByColumn(1);  // by reason: "HTTP ..." first, each reason's rows in file order
    QCOMPARE(list_rows({0, 1, kRows / 2}), (Rows{1, 3, 0}));
    QCOMPARE(view->header()->sortIndicatorSection(), 1);
    view->SortByColumn(1);  // descending, equal rows still in file order
    QCOMPARE(list_rows({0, 1}), (Rows{0, 2}));
    view->SortByColumn(1);  // the third click: file order
    QCOMPARE(list_rows({0, kRows - 1}), (Rows{0, kRows - 1}));
    QVERIFY(!view->header()->isSortIndicatorShown());
    view->SortByColumn(ResultTableModel::kLineColumn);  // lines as numbers
    QCOMPARE(list_rows({0}), Rows{kRows - 1});
    frame.action(Command::kFileOrder)->trigger();
    QCOMPARE(list_rows({0}), Rows{0});
    view->setCurrentIndex(shown->index(5, 2));  // held in its first cell: Space after Right toggles
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
    frame.search_field()->setText("/SITE/P3.HTML");  // case does not count
    QCOMPARE(shown->rowCount(), 10);
    SelectOnly(view, 1);  // Ctrl+C copies the selected rows as shown, columns in screen order
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
    w.settings.Set(settings::kEditorCommand, "my-editor --line %l %f");
    QStringList started;
    view->commands().start_program = [&](const QString& program, const QStringList& arguments) {
      started = QStringList{program} + arguments;
      return true;
    };
    frame.UpdateCommands();
    QVERIFY(frame.action(Command::kOpenAtLine)->isEnabled());
    frame.action(Command::kOpenAtLine)->trigger();
    QCOMPARE(started, QStringList({"my-editor", "--line", "10", "/site/p3.html"}));
    QTest::keyClick(frame.search_field(), Qt::Key_Escape);  // clears the filter
    QCOMPARE(frame.search_field()->text(), QString());
    QCOMPARE(shown->rowCount(), kRows);
    frame.action(Command::kSummary)->trigger();  // a chart bar clicked shows that reason alone
    QVERIFY(!frame.summary_dock()->isHidden());
    const ReasonCounts& counts = frame.summary_dock()->counts();
    QCOMPARE(counts.reasons.size(), std::size_t(2));
    QCOMPARE(counts.reasons[0],
             std::pair(std::string("Local File Not Found"), std::size_t(kRows / 2)));
    // A click on the lowest bar: the chart draws the last reason there.
    auto* chart = frame.summary_dock()->findChild<QChartView*>()->chart();
    emit qobject_cast<QAbstractBarSeries*>(chart->series().at(0))->barSets().at(0)->clicked(0);
    QCOMPARE(shown->rowCount(), kRows / 2);
    QCOMPARE(list_rows({0}), Rows{1});
    QVERIFY(!frame.reason_filter()->isHidden());  // said beside the filter box; a click clears it
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
    frame.summary_dock()->ChooseBar(1);  // bars that move keep the chosen reason, not the place
    ReasonCounts moved = counts;
    moved.reasons.insert(moved.reasons.begin(), {"Error: Can't Connect to Host", 1});
    frame.summary_dock()->Show(moved);
    QCOMPARE(frame.summary_dock()->chosen_reason(),
             std::optional<std::string>("HTTP Code 404 Not Found"));
    frame.summary_dock()->ChooseBar(2);
    QCOMPARE(frame.summary_dock()->chosen_reason(), std::nullopt);
    QCOMPARE(shown->rowCount(), kRows);
    ReasonCounts similar;  // long reasons that share their start keep labels apart
    for (const char* reason :
         {"Error: Can't Connect to Host because of a very long explanation here",
          "Error: Can't Connect to Host because of a very long explanation there",
          "Error: Can't Find Named Host", "HTTP Code 431 Request Header Fields Too Large",
          "HTTP Code 511 Network Authentication Required"})
      similar.reasons.emplace_back(reason, 1);
    frame.summary_dock()->Show(similar);
    const QStringList labels = frame.summary_dock()->labels();
    QCOMPARE(labels.size(), 5);
    QCOMPARE(QSet<QString>(labels.begin(), labels.end()).size(), 5);
    for (const QString& label : labels)
      QVERIFY2(!label.startsWith("Error:\u2026"), qPrintable(label));
    frame.summary_dock()->Show(counts);
    view->SortByColumn(0);  // a rechecked row moves at once; removals keep rest and ranks in order
    view->SortByColumn(1);
    QCOMPARE(list_rows({0}), Rows{1});
    rows.UpdateRow(4, "Error: Can't Connect to Host", 0, "");
    QCOMPARE(list_rows({0, 1}), (Rows{4, 1}));
    rows.RemoveRow(1);
    QCOMPARE(list_rows({0, 1}), (Rows{3, 2}));  // the changed row one place up, then the old 3
    view->ShowFileOrder();
    testing::TempFolder site;  // a dropped folder runs as stored; summary and Recent follow
    site.Write("a.html", Anchor("gone.html", "Gone") + Anchor("a.html", "Self"));
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(site.path().string()))});
    MessageBoxes::QueueAnswer(true);  // discard the rows
    QVERIFY(frame.Drop(&data));
    QVERIFY(Wait([&] { return rows.size() == 1 && !view->running(); }));
    QCOMPARE(rows.row(0).text(ResultColumn::kUrl), std::string("gone.html"));
    QVERIFY(!frame.summary_pane()->isHidden());
    QCOMPARE(frame.summary_pane()->text(),
             QString("2 links checked \u00b7 1 broken \u00b7 0 redirects"));
    QCOMPARE(LoadRecentPaths(w.settings), std::vector<std::string>{site.path().string()});
    QCOMPARE(w.settings.Get(settings::kAllFiles), 0);  // ran as a folder; the dialog opens as left
    QCOMPARE(w.settings.Get(settings::kFileSelStarter), std::string());
    frame.show();  // the panes leave the prompt its room, even in the smallest window
    for (const bool smallest : {false, true}) {
      frame.watch_pane()->setVisible(smallest);
      if (smallest) frame.resize(frame.minimumSizeHint().width(), frame.height());
      QApplication::processEvents();
      int panes_left = frame.width();
      for (QLabel* pane :
           {frame.summary_pane(), frame.connection_pane(), frame.method_pane(), frame.watch_pane()})
        if (pane->isVisible()) panes_left = std::min(panes_left, pane->geometry().left());
      QVERIFY(panes_left >=
              frame.statusBar()->fontMetrics().horizontalAdvance("For Help, press F1"));
    }
    frame.watch_pane()->hide();
    // A purge's list has nothing to sum up: the pane goes, not stale.
    MessageBoxes::QueueAnswer(true);  // discard the rows
    MessageBoxes::QueueAnswer(true);  // purge
    AnswerFolder(view, site.path().string(), false, Function::kRemoveComments);
    view->commands().SelectFiles();
    QVERIFY(Wait([&] { return !view->running(); }, 5000));
    QVERIFY(frame.summary_pane()->isHidden());
  }

  void fileSelectionDialogBrowsesNamesAndTakesAFolder() {
    FileSelectionDialog dialog(nullptr, {"/site"}, "/web/index.htm");
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
    dialog.web_address_box()->click();  // a web address: no files, folders or purge apply
    QVERIFY(!dialog.browse_button()->isEnabled() && !dialog.all_files_box()->isEnabled());
    QCOMPARE(std::pair(dialog.values().web_address, dialog.values().function),
             std::pair(true, Function::kTestUrls));
    dialog.web_address_box()->click();
    QVERIFY(dialog.browse_button()->isEnabled());
    testing::TempFolder site;  // the note under the path follows the typing; OK checks a folder
    const std::string page = site.Write("a.html", Anchor("gone.html", "Gone"));
    FileSelectionDialog named(nullptr, {page}, "");
    QCOMPARE(named.path_kind_label()->text(), QString("File"));
    const QString folder = QString::fromStdString(site.path().string());
    named.path_field()->clear();
    QTest::keyClicks(named.path_field(), folder);
    QCOMPARE(named.path_kind_label()->text(), QString("Folder: OK checks the files in it"));
    named.all_files_box()->click();
    QCOMPARE(named.path_kind_label()->text(), QString("Folder"));
    Window w;  // through the window's own dialog: OK on the folder runs it as one
    w.settings.Set(settings::kFileSelStarter, page);
    OnNextDialog<FileSelectionDialog>([&](FileSelectionDialog* d) {
      d->path_field()->setText(folder);
      QTest::keyClick(d, Qt::Key_Return);
    });
    w.frame.action(Command::kSelectFiles)->trigger();
    QVERIFY(Wait([&] { return !w.view()->running(); }));
    QCOMPARE(MessageBoxes::shown(), std::vector<std::string>());
    QCOMPARE(w.view()->model()->rowCount(), 1);
    QCOMPARE(w.settings.Get(settings::kAllFiles), 1);
    QCOMPARE(w.settings.Get(settings::kFileSelStarter), site.path().string());
  }

  // Every dialog fits a 1024x768 screen at a scale of 1.25, its buttons in view.
  void dialogsFitASmallScreen() {
    const QSize screen(1024 * 4 / 5, 768 * 4 / 5);
    ReportFilter filter;
    bool visited = false;
    PreferencesDialog preferences(nullptr, filter, 15, false);
    FileSelectionDialog selection(nullptr, {"/site"}, "");
    RepairOptionsDialog repair(nullptr, RepairOptions{});
    ExportDialog export_dialog(nullptr, {"results.txt", ReportFormat::kText});
    AboutDialog about(nullptr, visited, visited);
    RepairFailureDialog failure(nullptr, {"/site/a.html", "http://x.test/", "reason"});
    for (QDialog* dialog : std::initializer_list<QDialog*>{&preferences, &selection, &repair,
                                                           &export_dialog, &about, &failure}) {
      const QSize least = dialog->minimumSizeHint().expandedTo(dialog->minimumSize());
      QVERIFY2(least.boundedTo(screen) == least, dialog->metaObject()->className());
    }
  }

  void preferencesPresetsRangeCertificatesAndStoring() {
    ReportFilter filter;
    PreferencesDialog dialog(nullptr, filter, 15, false);
    auto checked = [&] {
      int n = 0;
      for (int i = 0; i < dialog.categories()->count(); ++i)
        n += dialog.categories()->item(i)->checkState() == Qt::Checked;
      return n;
    };
    const auto refused = [&] {
      dialog.accept();
      return dialog.result() == QDialog::Rejected;
    };
    // The categories in the table's order (its texts are the unit suite's part).
    QCOMPARE(dialog.categories()->count(), StatusCodeTable::kCategoryCount);
    for (int i = 0; i < StatusCodeTable::kCategoryCount; ++i)
      QCOMPARE(dialog.categories()->item(i)->text().toStdString(),
               std::string(StatusCodeTable::Categories()[std::size_t(i)].reason));
    QCOMPARE(checked(), 71);  // all but 200
    dialog.PressTypeB();
    // 401-415, 10002, client errors but 429, https, local links, dead moves, far anchors, resets
    QCOMPARE(checked(), 34);
    QCOMPARE(
        std::tuple(dialog.parallel(), dialog.max_redirects(), dialog.per_host(), dialog.streams()),
        std::tuple(32, 10, 8, 100));
    QCOMPARE(filter.text(), std::string(kTypeBFilter));
    for (const char* limit : {"4", "1001", "ten"}) {
      dialog.timeout_field()->setText(limit);
      QVERIFY(refused());
    }
    QCOMPARE(MessageBoxes::shown().size(), std::size_t(3));  // the three refused limits
    dialog.timeout_field()->setText("1000");
    dialog.user_agent_field()->setText("Agent\r\nX-Injected: 1");
    QVERIFY(refused());  // no line break in a header
    QCOMPARE(MessageBoxes::shown().back(),
             std::string("The user agent cannot hold control characters."));
    dialog.user_agent_field()->setText(" Agent/2 ");
    // Link rules are checked before they are kept.
    dialog.exclude_field()->setPlainText("^https://ads\\.\n(unclosed");
    QVERIFY(refused());
    dialog.exclude_field()->setPlainText("^https://ads\\.\n\n/private/");
    dialog.accept_field()->setText("200-");
    QVERIFY(refused());
    dialog.accept_field()->setText("429, 500-599");
    QVERIFY(!refused());
    QCOMPARE(dialog.timeout(), 1000);
    QCOMPARE(dialog.user_agent(), std::string("Agent/2"));
    Window w;  // through the view: a preset then Cancel is in force, not stored; OK stores all
    OnNextDialog<PreferencesDialog>([](PreferencesDialog* d) {
      d->PressTypeB();
      d->reject();
    });
    w.view()->commands().Preferences();
    QCOMPARE(w.view()->controller().settings().filter.text(), std::string(kTypeBFilter));
    QCOMPARE(w.settings.Get(settings::kFilter), std::string(kDefaultFilter));
    OnNextDialog<PreferencesDialog>([](PreferencesDialog* d) {
      d->timeout_field()->setText("30");
      d->user_agent_field()->setText("Agent/2");
      d->parallel_field()->setValue(300);  // beyond the range: the most it takes
      d->per_host_field()->setValue(2);
      d->streams_field()->setValue(20);
      d->exclude_field()->setPlainText("/private/");
      d->accept_field()->setText("429");
      d->accept();
    });
    w.view()->commands().Preferences();
    QCOMPARE(w.settings.Get(settings::kFilter), std::string(kTypeBFilter));
    QCOMPARE(w.settings.Get(settings::kTimeout), 30);
    QCOMPARE(w.settings.Get(settings::kVisible), 0);
    QCOMPARE(w.settings.Get(settings::kUserAgent), std::string("Agent/2"));
    QCOMPARE(w.view()->controller().settings().user_agent, std::string("Agent/2"));
    QCOMPARE(w.settings.Get(settings::kParallelProbes), 256);
    QCOMPARE(w.settings.Get(settings::kPerHost), 2);
    QCOMPARE(w.view()->controller().settings().probe.per_host, 2);
    QCOMPARE(w.settings.Get(settings::kStreams), 20);
    QCOMPARE(w.settings.Get(settings::kExclude), std::string("/private/"));
    QCOMPARE(w.settings.Get(settings::kAccept), std::string("429"));
    testing::TempFolder folder;  // the CA file and the unsafe switch: stored, and reach the probes
    const std::string ca = folder.Write("ca.pem", "-----BEGIN CERTIFICATE-----\n");
    OnNextDialog<PreferencesDialog>([&](PreferencesDialog* d) {
      QVERIFY(d->ca_file_field()->text().isEmpty() && !d->insecure_box()->isChecked());
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
    AnswerFolder(w.view(), folder.path().string());
    w.view()->commands().SelectFiles();
    QVERIFY(Wait([&] { return !w.view()->running(); }));
    QCOMPARE(w.view()->controller().settings().probe.ca_file, ca);
    QVERIFY(w.view()->controller().settings().probe.insecure);
    std::filesystem::remove(ca);  // a CA file gone since: the run does not start, and says why
    MessageBoxes::shown().clear();
    w.view()->commands().SelectFiles();
    QVERIFY(!w.view()->running());
    QVERIFY(!MessageBoxes::shown().empty() &&
            MessageBoxes::shown().back().starts_with("cannot read the CA file " + ca));
  }

  // The progress window clips a long path; a check of links all on disk, with no reply to wait
  // for, still lets the window turn, shows how far it is, and stops on Esc.
  void progressWindowAndABigLocalCheck() {
    ProgressWindow test_run(nullptr, false), purge(nullptr, true);
    test_run.show();
    purge.show();
    QVERIFY(test_run.url_part_visible() && !purge.url_part_visible());
    const std::string long_path = "/" + std::string(400, 'd') + "/page.htm";
    test_run.Transfer({long_path, "1", "3", "http://x.test/", "X", "2", "9", "", ""});
    QApplication::processEvents();
    QLabel* file = test_run.current_file_label();
    QCOMPARE(file->text(), QString::fromStdString(long_path));
    QVERIFY(!file->wordWrap());
    QVERIFY(file->width() < file->fontMetrics().horizontalAdvance(file->text()));  // clipped
    QVERIFY(test_run.width() < 1200);
    testing::TempFolder site;
    for (int page = 0; page < 100; ++page) {
      std::string text;
      for (int link = 0; link < 400; ++link)
        text += Anchor("gone/" + std::to_string(page) + "/" + std::to_string(link), "x");
      site.Write("p" + std::to_string(page) + ".html", text);
    }
    Window w;
    ResultsView* view = w.view();
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
    QVERIFY(view->results().size() > 0 && view->results().size() < 40000);
  }

  // A big list is ranked and matched off the event loop, and a row gone meanwhile leaves no trace.
  void bigListsSortAndFilterOffTheEventLoop() {
    Window w(false);
    ResultsView* view = w.view();
    ResultList& rows = view->results();
    ResultProxyModel* proxy = view->proxy();
    constexpr int kRows = 30000;
    for (int i = 0; i < kRows; ++i)
      AddRow(rows, "http://h" + std::to_string(i * 7919 % 100) + ".test/p" + std::to_string(i),
             i % 3 ? "HTTP Code 404 Not Found" : "Local File Not Found",
             "/site/p" + std::to_string(i / 100), "", i % 50, "Link");
    QVERIFY(Wait([&] { return !proxy->busy(); }));
    QCOMPARE(proxy->rowCount(), kRows);
    const auto settled = [&] { return Wait([&] { return !proxy->busy(); }); };
    const auto matching = [&](const std::string& needle) {
      return int(
          std::ranges::count_if(rows.rows(), [&](auto& row) { return RowMatches(row, needle); }));
    };
    view->SortByColumn(0);
    w.frame.search_field()->setText("h7");
    w.frame.search_field()->setText("h7.test/p1");  // cancels the first
    QVERIFY(proxy->ShowsUnmatchedRows());           // until the match is in, rows shown are veiled
    QVERIFY(settled());
    QVERIFY(!proxy->ShowsUnmatchedRows() && !view->filter_veil()->busy_shown());
    QCOMPARE(view->viewport()->cursor().shape(), Qt::ArrowCursor);
    QCOMPARE(proxy->rowCount(), matching("h7.test/p1"));
    for (int i = 1; i < proxy->rowCount(); ++i)
      QVERIFY(CompareRows(rows.row(*proxy->ListRow(proxy->index(i - 1, 0))),
                          rows.row(*proxy->ListRow(proxy->index(i, 0))), 0) <= 0);
    w.frame.search_field()->setText("h7.test/");  // a narrower text's rows all pass: none veiled
    QVERIFY(!proxy->ShowsUnmatchedRows());
    rows.RemoveRow(7);
    QVERIFY(settled());
    QCOMPARE(proxy->rowCount(), matching("h7.test/"));
    w.frame.search_field()->clear();
    view->ShowFileOrder();
    QVERIFY(settled());
    QCOMPARE(proxy->rowCount(), kRows - 1);
    QCOMPARE(*proxy->ListRow(proxy->index(7, 0)), std::size_t(7));
  }

  void resultModelBehavesAndTheCurrentRowFollowsItsLink() {
    ResultList rows;
    ResultTableModel model(rows);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    for (int i = 0; i < 3; ++i)
      AddRow(rows, "http://x.test/" + std::to_string(i), "HTTP Code 404 Not Found", "/w/a.htm", "",
             i == 2 ? 0 : 10 + i);
    // One insertion per row, at its end; never a reset.
    QCOMPARE(std::pair(inserted.count(), inserted.at(2).at(1).toInt()), std::pair(qsizetype(3), 2));
    QVERIFY(changed.count() >= 3);
    QCOMPARE(model.index(1, 0).data().toString(), QString("http://x.test/1"));
    QCOMPARE(model.columnCount(), 6);  // the last column is the line; an unknown one shows nothing
    QCOMPARE(model.headerData(5, Qt::Horizontal, Qt::DisplayRole).toString(), QString("Line"));
    QCOMPARE(model.index(1, 5).data().toString(), QString("11"));
    QVERIFY(!model.index(2, 5).data().isValid());
    QVERIFY(model.setData(model.index(1, 0), Qt::Unchecked, Qt::CheckStateRole));
    QVERIFY(!rows.row(1).checked);
    rows.RemoveRow(0);
    QCOMPARE(std::pair(removed.count(), model.rowCount()), std::pair(qsizetype(1), 2));
    rows.Clear();
    QVERIFY(model.rowCount() == 0 && reset.count() + removed.count() >= 2);
    Window w;  // rows coming above the current row leave it, and the selection, on its link
    ResultList& listed = w.view()->controller().results();
    for (const char* url : {"a", "b", "c"})
      AddRow(listed, url, "HTTP Code 404 Not Found", "/w/a.htm");
    QAbstractItemModel* shown = w.view()->model();
    QVERIFY(Wait([&] { return shown->rowCount() == 3; }));
    w.view()->setCurrentIndex(shown->index(2, 0));
    SelectOnly(w.view(), 2);
    std::vector<ResultRow> fresh(4);
    for (std::size_t i = 0; i < fresh.size(); ++i) {
      fresh[i] = listed.row(std::min<std::size_t>(i == 0 ? 0 : i - 1, 2));
      fresh[i].texts.SetUrl(std::string(1, "anbc"[i]));
    }
    listed.ReplaceRows(0, 3, std::move(fresh));
    QVERIFY(Wait([&] { return shown->rowCount() == 4; }));
    QCOMPARE(w.view()->currentIndex().data().toString(), QString("c"));
    const QModelIndexList selected = w.view()->selectionModel()->selectedRows();
    QCOMPARE(selected.size(), 1);
    QCOMPARE(selected.front().data().toString(), QString("c"));
  }

  void repairOptionsWindowAndSorting() {
    // Which boxes a type enables is RepairOptions' part; here each box reaches its own option.
    RepairOptionsDialog dialog(nullptr, RepairOptions{});
    QVERIFY(!dialog.alternate_box()->isEnabled() && !dialog.save_box()->isEnabled());
    dialog.type_group()->button(1)->click();
    QVERIFY(dialog.alternate_box()->isEnabled() && !dialog.save_box()->isEnabled());
    dialog.alternate_box()->click();  // cleared while type 1 applies
    dialog.preserve_box()->click();
    dialog.type_group()->button(2)->click();
    QVERIFY(!dialog.alternate_box()->isEnabled() && dialog.save_box()->isEnabled());
    dialog.type_group()->button(1)->click();  // the marks survive the switch
    QVERIFY(dialog.options() ==
            (RepairOptions{RepairType::kReplaceUrl, true, false, true, false, false}));
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
      return int(
          std::ranges::count_if(w.store.values, [](auto& v) { return v.first.first == "Repair"; }));
    };
    QCOMPARE(repair_values(), 0);
    // OK stores all six; U9 is not in the file, and the failure dialog drops its row.
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
    QCOMPARE(std::pair(repair_values(), w.settings.Get(settings::kRepairType)), std::pair(6, 2));
    QCOMPARE(failure, page + " | U9");
    QCOMPARE(int(rows.size()), 1);
    QCOMPARE(testing::ReadFile(page), std::string("<a href=\"U2\">\n"));
    QVERIFY(w.frame.action(Command::kRepair)->isEnabled());  // a failure leaves it available
    // Resumed and completed: the command is then unavailable until a run.
    AddRow(rows, "U2", "HTTP Code 404 Not Found", page);
    w.view()->repair_host().ask_options = [](auto stored) { return std::optional(stored); };
    w.frame.action(Command::kRepair)->trigger();
    QCOMPARE(MessageBoxes::shown().back(),
             std::string("All URL repairs completed\n\nRows repaired: 1 in 1 page"));
    QCOMPARE(testing::ReadFile(page), std::string(""));
    QAbstractItemModel* shown = w.view()->model();  // handled rows are marked with what was done
    for (int row = 0; row < shown->rowCount(); ++row) {
      const QModelIndex url = shown->index(row, 0);
      QVERIFY(!url.data(Qt::DecorationRole).value<QIcon>().isNull());
      QVERIFY(url.data(Qt::ToolTipRole).toString().endsWith("\nRepaired: its line was removed"));
      QVERIFY(shown->index(row, 1).data(Qt::DecorationRole).isNull());
    }
    QVERIFY(!w.frame.action(Command::kRepair)->isEnabled());
    // Sorting and filtering change what is shown, never what is repaired.
    std::vector<std::pair<std::string, std::size_t>> after;  // the pages and the rows left
    for (const bool sorted : {false, true}) {
      testing::TempFolder site;
      Window copy;
      copy.FinishEmptyRun(site);
      std::vector<std::string> pages;
      ResultList& listed = copy.view()->results();
      for (int p = 0; p < 3; ++p) {
        const std::string base = "http://x.test/" + std::to_string(p) + "/";
        std::string text;
        for (int i = 0; i < 4; ++i)
          text += Anchor(base + std::to_string(i), "L");
        pages.push_back(site.Write("p" + std::to_string(p) + ".htm", text));
        AddRow(listed, base + "0", "HTTP Code 404 Not Found", pages.back());
        AddRow(listed, base + "2", "HTTP Code 410 Gone", pages.back());
      }
      listed.SetChecked(2, false);
      if (sorted) {
        copy.view()->SortByColumn(0);
        copy.view()->SortByColumn(0);  // descending
        copy.frame.search_field()->setText("/1/");
        QCOMPARE(copy.view()->model()->rowCount(), 2);
        copy.view()->selectAll();
      }
      copy.view()->repair_host().ask_options = [](RepairOptions options) {
        options.type = RepairType::kDisableLine;
        options.saveBadUrls = false;
        return std::optional(options);
      };
      bool failed = false;
      copy.view()->repair_host().show_failure = [&](const RepairFailure&) { return failed = true; };
      copy.frame.UpdateCommands();
      copy.frame.action(Command::kRepair)->trigger();
      QVERIFY(!failed);
      std::string all;
      for (const std::string& page : pages)
        all += testing::ReadFile(page);
      after.emplace_back(all, listed.size());
    }
    QCOMPARE(after[1], after[0]);
    QVERIFY(after[0].first.find("<!--") != std::string::npos);
  }

  void exportAndPrintTheResults() {
    ExportDialog dialog(nullptr, {"results.txt", ReportFormat::kText});
    QCOMPARE(dialog.path_field()->maxLength(), 200);
    dialog.format_group()->button(1)->click();  // the names are SwitchExportExtension's
    QCOMPARE(dialog.path_field()->text(), QString("results.html"));
    QStringList asked;  // the filters and the suffix
    dialog.pick_file = [&](QWidget*, auto& filters, auto& suffix, auto&) {
      asked = {filters, suffix};
      return QString("/tmp/picked.txt");
    };
    dialog.Browse();
    QVERIFY(asked[0].startsWith("HTML Files (*.html)"));  // as the format chosen
    QCOMPARE(asked[1], QString("html"));
    QCOMPARE(dialog.path_field()->text(), QString("/tmp/picked.txt"));
    testing::TempFolder folder;
    Window w;
    AddRow(w.view()->results(), "U1", "HTTP Code 404 Not Found", "/w/a.htm");
    w.frame.UpdateCommands();
    const std::string existing = folder.Write("old.txt", "keep");
    w.view()->repair_host().ask_export = [&](const ExportChoice&) {
      return std::optional<ExportChoice>(ExportChoice{existing, ReportFormat::kText});
    };
    MessageBoxes::QueueAnswer(true);  // a No keeps the file: ExportTest's part
    w.frame.action(Command::kExport)->trigger();
    QCOMPARE(MessageBoxes::shown().back(),
             existing + "\nThis file already exists\n\nReplace existing file?");
    QCOMPARE(testing::ReadFile(existing),
             std::string("/w/a.htm\n   U1\n      HTTP Code 404 Not Found\n      Site\n"));
    ResultList rows;
    for (int i = 0; i < 3; ++i)
      AddRow(rows, "U" + std::to_string(i), "HTTP Code 404 Not Found", "/w/a.htm");
    const std::vector<std::string> lines = BuildReportLines(rows);
    QCOMPARE(int(lines.size()), 10);
    const std::string pdf = (folder.path() / "list.pdf").string();
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFileName(QString::fromStdString(pdf));
    printer.setPageMargins(QMarginsF(0, 0, 0, 0));
    // A page 6.5 lines high (in hundredths of an inch) holds 4 of them.
    const int h = QFontMetrics(ListingFont()).height() + 5;
    printer.setPageSize(QPageSize(QSizeF(4.0, (6.5 * h) / 100.0), QPageSize::Inch));
    QCOMPARE(LayoutFor(printer).lines_per_page, 4);
    QCOMPARE(PrintListing(printer, lines), 3);
    const QByteArray data = QByteArray::fromStdString(testing::ReadFile(pdf));
    QCOMPARE(data.count("/Type /Page\n") + data.count("/Type /Page\r") + data.count("/Type /Page "),
             3);
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
    const auto record = [&](const QUrl& url) {
      opened << url.toString();
      return true;
    };
    view->commands().open_url = record;
    QMenu* shown_menu = nullptr;
    QPoint shown_at;
    QList<bool> enabled;
    view->show_menu = [&](QMenu* menu, const QPoint& at) {
      shown_menu = menu;
      shown_at = at;
      enabled.clear();
      for (QAction* a : menu->actions().mid(0, 3))  // the designed three, not the row commands
        enabled << a->isEnabled();
    };
    const auto ask_menu = [&](QContextMenuEvent::Reason reason, const QPoint& at) {
      QContextMenuEvent event(reason, at, view->viewport()->mapToGlobal(at));
      QApplication::sendEvent(view->viewport(), &event);
    };
    ask_menu(QContextMenuEvent::Mouse, QPoint(100, 5));  // no row selected: no menu
    QVERIFY(shown_menu == nullptr);
    SelectOnly(view, 0);
    const QRect row0 = view->visualRect(view->model()->index(0, 0));
    ask_menu(QContextMenuEvent::Mouse, QPoint(140, row0.center().y()));
    QVERIFY(shown_menu != nullptr);
    QCOMPARE(shown_at, view->viewport()->mapToGlobal(row0.topLeft() + QPoint(140 - 25, 0)));
    QCOMPARE(enabled, QList<bool>({true, true, false}));
    SelectOnly(view, 1);
    ask_menu(QContextMenuEvent::Keyboard, QPoint(0, 0));
    QCOMPARE(shown_at,
             view->viewport()->mapToGlobal(view->visualRect(view->model()->index(1, 0)).topLeft()));
    QCOMPARE(enabled, QList<bool>({true, true, true}));
    view->commands().GoToUrl();  // ftp opens too
    view->commands().GoToAlternateUrl();
    SelectOnly(view, 2);
    view->commands().GoToUrl();  // neither http nor ftp: nothing
    QCOMPARE(opened, QStringList({"ftp://b.test/", "http://b.test/new/"}));
    // Nothing to open it with: the user is told, not left waiting.
    view->commands().open_url = [](const QUrl&) { return false; };
    const std::size_t messages = MessageBoxes::shown().size();
    view->commands().GoToAlternateUrl();
    QCOMPARE(MessageBoxes::shown().size(), messages);  // the row has none: nothing was tried
    SelectOnly(view, 1);
    view->commands().GoToUrl();
    QCOMPARE(MessageBoxes::shown().back(),
             std::string("Cannot open ftp://b.test/: no program took it"));
    view->commands().open_url = record;
    // Properties go to the cache folder, never over the site's own files.
    const QString previous = QDir::currentPath();
    QDir::setCurrent(QString::fromStdString(folder.path().string()));
    folder.Write("props.txt", "the author's own");
    const QByteArray cache = qgetenv("XDG_CACHE_HOME");
    qputenv("XDG_CACHE_HOME", QByteArray::fromStdString((folder.path() / "cache").string()));
    SelectOnly(view, 0);
    view->commands().ShowProperties();
    QDir::setCurrent(previous);
    qputenv("XDG_CACHE_HOME", cache);
    QCOMPARE(
        testing::ReadFile(folder.path() / "cache/quimbel/props.txt"),
        std::string("http://a.test/x%20y.htm\n\nHTTP Code 404 Not Found\n\nSite\n\n/w/a.htm\n\n"));
    QCOMPARE(testing::ReadFile(folder.path() / "props.txt"), "the author's own");
    QVERIFY(opened.last().endsWith("/cache/quimbel/props.txt"));
  }

  // A cancelled File Selection loses no rows; a run with nothing broken says so.
  void unrepairedRowsStayUntilReplaced() {
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
    view->commands().ask_file_selection = [](const FileSelection&, const std::string&) {
      return std::optional<FileSelection>();  // cancelled
    };
    MessageBoxes::QueueAnswer(true);  // U1 is left to repair: the question comes
    w.frame.action(Command::kSelectFiles)->trigger();
    QCOMPARE(MessageBoxes::shown().back(),
             std::string("Not all of the bad URLs have been repaired\n\nDo you want to continue?"));
    QCOMPARE(view->model()->rowCount(), 2);  // their marks stay: ConfirmDiscardResults' part
    AnswerFolder(view, site.path().string());
    MessageBoxes::QueueAnswer(true);
    w.frame.log_view()->setFocus();
    w.frame.action(Command::kSelectFiles)->trigger();
    QVERIFY(Wait([&] { return !view->running(); }));
    QCOMPARE(view->model()->rowCount(), 0);
    QCOMPARE(view->EmptyListText(), QString("No broken links in 2 links checked"));
    QCOMPARE(w.frame.focusWidget(), static_cast<QWidget*>(view));
    for (int i = 0; i < 3; ++i)  // closing asks too, and stores the widths only once it goes
      rows.AppendResultRow("u" + std::to_string(i));
    rows.SetChecked(0, false);
    rows.SetData(1, 1);
    w.frame.log_view()->setFocus();  // whichever pane has the focus
    MessageBoxes::QueueAnswer(false);
    QVERIFY(!w.frame.close());
    QCOMPARE(int(rows.size()), 3);  // nothing goes until something replaces it
    QCOMPARE(MessageBoxes::shown().back(),
             std::string("Not all of the bad URLs have been repaired\n\nDo you want to quit?"));
    QVERIFY(w.store.values.count({"Grid", "col0"}) == 0);
    MessageBoxes::QueueAnswer(true);
    QVERIFY(w.frame.close() && w.store.values.count({"Grid", "col4"}) == 1);
  }

  void themeChoiceAndHyperlinkColours() {
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
    // A new window opens in the stored theme, its choice checked.
    QVERIFY(MainWindow(w.settings).action(Command::kThemeLight)->isChecked());
    w.frame.action(Command::kThemeSystem)->trigger();
    QCOMPARE(QApplication::style()->name(), style);
    QCOMPARE(w.settings.Get(settings::kTheme), 0);
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
    QVERIFY(link.launching());  // during the guard the pointer shape does not change
    QApplication::sendEvent(&link, &enter);
    QCOMPARE(link.cursor().shape(), Qt::ArrowCursor);
    QTRY_VERIFY_WITH_TIMEOUT(!link.launching(), 3000);
    link.open_target = [](const QString&) { return true; };
    link.Click();
    QVERIFY(visited);
    QCOMPARE(link.TextColour(), QColor(128, 0, 128));
    QCOMPARE(link.target(), QString("mailto:quimbel@marrowfen.example"));
    QPalette dark = link.palette();  // on a dark window the link is drawn lighter, to be read
    dark.setColor(QPalette::Window, QColor(45, 45, 45));
    link.setPalette(dark);
    QCOMPARE(link.TextColour(), QColor(HyperlinkLabel::kVisitedOnDark));
    bool home = false;
    AboutDialog about(nullptr, visited, home);  // the flag outlives the About box
    QCOMPARE(about.windowTitle(), QString("About Quimbel"));
    QCOMPARE(about.mail_link()->TextColour(), QColor(128, 0, 128));
    QCOMPARE(about.home_link()->TextColour(), QColor(0, 0, 255));
  }
};

QTEST_MAIN(GuiTest)
#include "gui_test.moc"
