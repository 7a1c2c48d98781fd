// Qt Test suite for the window's repair, export, printing, per-row commands
// and About box: run offscreen.
#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QPrinter>
#include <QRadioButton>
#include <QTimer>
#include <QtTest>
#include <fstream>
#include <iterator>

#include "app/main_window.h"
#include "app/results_printer.h"
#include "app/results_view.h"
#include "dialogs/about_dialog.h"
#include "dialogs/export_dialog.h"
#include "dialogs/hyperlink_label.h"
#include "dialogs/message_boxes.h"
#include "dialogs/repair_dialogs.h"
#include "export/report_writers.h"
#include "platform/memory_config_store.h"
#include "tests/temp_folder.h"

using namespace quimbel;

namespace {

void AddRow(ResultList& rows, const std::string& url, const std::string& reason,
            const std::string& file, const std::string& alternate = "") {
  rows.AppendResultRow(url);
  rows.SetResultColumn(ResultColumn::kReason, reason);
  rows.SetResultColumn(ResultColumn::kSiteName, "Site", file);
  if (!alternate.empty()) rows.SetResultColumn(ResultColumn::kAlternateUrl, alternate);
}

template <typename T>
void OnNextDialog(std::function<void(T*)> act) {
  QTimer::singleShot(0, [act] {
    if (auto* dialog = dynamic_cast<T*>(QApplication::activeModalWidget())) act(dialog);
  });
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

class GuiRepairTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { MessageBoxes::StartRecording(); }

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
    QCOMPARE(MessageBoxes::shown().back(), std::string("All URL repairs completed"));
    QCOMPARE(testing::ReadFile(page), std::string(""));
    QVERIFY(!w.frame.action(Command::kRepair)->isEnabled());
  }

  void exportDialogAndCommand() {
    ExportDialog dialog(nullptr, {"results.txt", ExportFormat::kText});
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
      return std::optional<ExportChoice>(ExportChoice{existing, ExportFormat::kText});
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

QTEST_MAIN(GuiRepairTest)
#include "gui_repair_test.moc"
