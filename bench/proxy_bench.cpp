// proxy_bench [ROWS]: the real window over ROWS rows (default 1,000,000:
// 1,000 pages of 1,000 broken links). Rows arrive as a run adds them, in
// small posted steps; then the list is sorted by each kind of column,
// filtered by typing a text letter by letter, cleared, and scrolled. For
// each step: the milliseconds until its result is shown, and the longest
// the event loop was kept from turning (a 5 ms ticker's longest gap). Also
// the rows a second at the start and at the end of the fill, and the peak
// memory. Offscreen unless QT_QPA_PLATFORM says otherwise.
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QScrollBar>
#include <QTimer>
#include <cstdio>
#include <string>

#include "app/main_window.h"
#include "app/result_proxy.h"
#include "app/results_view.h"
#include "core/row_order.h"
#include "core/settings_store.h"
#include "platform/memory_config_store.h"
#include "platform/memory_release.h"

namespace {

// The longest gap between two ticks since the last Take().
class StallMeter {
 public:
  StallMeter() {
    clock_.start();
    QObject::connect(&ticker_, &QTimer::timeout, [this] { Tick(); });
    ticker_.start(5);
  }
  long long Take() {
    Tick();
    const long long longest = longest_;
    longest_ = 0;
    return longest;
  }

 private:
  void Tick() {
    const long long now = clock_.elapsed();
    longest_ = std::max(longest_, now - last_);
    last_ = now;
  }
  QTimer ticker_;
  QElapsedTimer clock_;
  long long last_ = 0;
  long long longest_ = 0;
};

// The memory in use now, in MiB.
double ResidentMiB() {
  long pages = 0;
  long resident = 0;
  if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(statm);
  }
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1048576.0;
}

void Spin(int ms) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms)
    QApplication::processEvents(QEventLoop::AllEvents, 5);
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  quimbel::ReturnLargeBlocksToSystem();  // as the window's main() does
  QApplication app(argc, argv);
  const int count = argc > 1 ? std::stoi(argv[1]) : 1000000;
  quimbel::MemoryConfigStore store;
  quimbel::SettingsStore settings(store);
  quimbel::MainWindow frame(settings);
  frame.resize(1000, 700);
  frame.show();
  quimbel::ResultsView* view = frame.results_view();
  quimbel::ResultList& rows = view->results();
  quimbel::ResultProxyModel* proxy = view->proxy();
  StallMeter stalls;
  const auto settle = [&] {
    while (proxy->busy())
      QApplication::processEvents(QEventLoop::AllEvents, 5);
    QApplication::processEvents();
  };
  const auto report = [&](const char* what, long long ms) {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%8d rows  %-28s %7lld ms  longest stall %5lld ms  %4.0f MiB (peak %4.0f)\n", count,
                what, ms, stalls.Take(), ResidentMiB(),
                static_cast<double>(usage.ru_maxrss) / 1024);
    std::fflush(stdout);
  };

  // The fill: steps of ten rows, each through the event loop as the
  // run's messages come.
  constexpr int kStep = 10;
  constexpr int kWindow = 10000;
  QElapsedTimer clock;
  long long first_ms = 0;
  long long last_start = 0;
  int added = 0;
  clock.start();
  stalls.Take();
  while (added < count) {
    for (int i = added; i < std::min(count, added + kStep); ++i) {
      rows.AppendResultRow("http://h" + std::to_string(i * 7919LL % 1000) + ".test/page" +
                               std::to_string(i) + ".html",
                           static_cast<std::size_t>(i * 31 % 5000));
      rows.SetResultColumn(quimbel::ResultColumn::kReason,
                           i % 3 ? "HTTP Code 404 Not Found" : "Error: Can't Connect to Host");
      rows.SetResultColumn(quimbel::ResultColumn::kSiteName, "Link " + std::to_string(i),
                           "/site/page" + std::to_string(i / 1000) + ".html");
    }
    added = std::min(count, added + kStep);
    if (added == kWindow) first_ms = clock.elapsed();
    if (added == count - kWindow) last_start = clock.elapsed();
    QApplication::processEvents();
  }
  settle();
  const long long fill_ms = clock.elapsed();
  const long long last_ms = fill_ms - last_start;
  report("fill", fill_ms);
  std::printf("%8d rows  rows/s first %d: %.0f, last %d: %.0f (ratio %.2f)\n", count, kWindow,
              kWindow * 1000.0 / std::max(1LL, first_ms), kWindow,
              kWindow * 1000.0 / std::max(1LL, last_ms),
              static_cast<double>(first_ms) / static_cast<double>(std::max(1LL, last_ms)));

  const auto step = [&](const char* what, auto act) {
    stalls.Take();
    clock.start();
    act();
    settle();
    report(what, clock.elapsed());
  };
  step("sort by URL", [&] { view->SortByColumn(0); });
  step("sort by URL, reversed", [&] { view->SortByColumn(0); });
  step("sort by reason", [&] { view->SortByColumn(1); });
  step("sort by line", [&] { view->SortByColumn(5); });
  step("sort by URL again", [&] { view->SortByColumn(0); });
  // A user who looks at the list a few seconds before the first click:
  // the columns are ranked on the side meanwhile.
  view->ShowFileOrder();
  settle();
  Spin(8000);
  stalls.Take();
  step("sort by link text, after 8 s", [&] { view->SortByColumn(2); });
  step("sort by file, after 8 s", [&] { view->SortByColumn(3); });

  // Typing, a letter every 40 ms: the longest a letter's own handling
  // took, and the time from the last letter to the rows shown.
  const std::string typed = "h7.test/page1";
  long long longest_key = 0;
  stalls.Take();
  for (std::size_t i = 1; i <= typed.size(); ++i) {
    QElapsedTimer key;
    key.start();
    frame.search_field()->setText(QString::fromStdString(typed.substr(0, i)));
    longest_key = std::max(longest_key, key.elapsed());
    if (i < typed.size()) Spin(40);
  }
  clock.start();
  settle();
  report("filter typed, to its rows", clock.elapsed());
  std::printf("%8d rows  longest keystroke %lld ms, %d rows shown\n", count, longest_key,
              proxy->rowCount());
  step("filter \"h7.test\" at once", [&] { frame.search_field()->setText("h7.test"); });
  step("filter cleared", [&] { frame.search_field()->clear(); });
  step("file order", [&] { view->ShowFileOrder(); });
  step("scroll to the end", [&] {
    for (int i = 0; i < 50; ++i) {
      view->verticalScrollBar()->triggerAction(QAbstractSlider::SliderPageStepAdd);
      QApplication::processEvents();
    }
    view->scrollToBottom();
  });
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("%8d rows  peak memory %.0f MiB\n", count,
              static_cast<double>(usage.ru_maxrss) / 1024);
  return 0;
}
