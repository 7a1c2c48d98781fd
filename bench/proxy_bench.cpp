// proxy_bench [ROWS]: the window's list over ROWS rows (default 100,000
// and 1,000,000): milliseconds to fill the list, to sort it by URL, by
// reason and by line, to filter it by a text and to clear the filter, and
// to return to file order. Offscreen; prints one line per step.
#include <QApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <string>

#include "app/main_window.h"
#include "app/result_proxy.h"
#include "app/results_view.h"
#include "core/row_order.h"
#include "core/settings_store.h"
#include "platform/memory_config_store.h"

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const std::vector<int> counts =
      argc > 1 ? std::vector<int>{std::stoi(argv[1])} : std::vector<int>{100000, 1000000};
  for (const int count : counts) {
    quimbel::MemoryConfigStore store;
    quimbel::SettingsStore settings(store);
    quimbel::MainWindow frame(settings);
    frame.resize(1000, 700);
    frame.show();
    quimbel::ResultsView* view = frame.results_view();
    quimbel::ResultList& rows = view->results();
    QElapsedTimer clock;
    const auto step = [&](const char* what, auto act) {
      clock.start();
      act();
      QApplication::processEvents();
      std::printf("%8d rows  %-22s %8lld ms\n", count, what,
                  static_cast<long long>(clock.elapsed()));
    };
    step("fill", [&] {
      for (int i = 0; i < count; ++i) {
        rows.AppendResultRow("http://h" + std::to_string(i * 7919LL % 1000) + ".test/page" +
                                 std::to_string(i) + ".html",
                             static_cast<std::size_t>(i * 31 % 5000));
        rows.SetResultColumn(quimbel::ResultColumn::kReason,
                             i % 3 ? "HTTP Code 404 Not Found" : "Error: Can't Connect to Host");
        rows.SetResultColumn(quimbel::ResultColumn::kSiteName, "Link " + std::to_string(i),
                             "/site/page" + std::to_string(i / 100) + ".html");
      }
    });
    // The ranking alone, which a sort does first.
    step("rank by URL", [&] { quimbel::RankRows(rows, 0); });
    step("rank by reason", [&] { quimbel::RankRows(rows, 1); });
    step("sort by URL", [&] { view->SortByColumn(0); });
    step("sort by URL, reversed", [&] { view->SortByColumn(0); });
    step("sort by reason", [&] { view->SortByColumn(1); });
    step("sort by line", [&] { view->SortByColumn(5); });
    step("sort by URL again", [&] { view->SortByColumn(0); });
    step("filter \"h7.test\"", [&] { view->SetSearchText("h7.test"); });
    step("filter cleared", [&] { view->SetSearchText(""); });
    step("file order", [&] { view->ShowFileOrder(); });
    step("scroll to the end", [&] {
      view->scrollToBottom();
      view->viewport()->repaint();
    });
  }
  return 0;
}
