// local_rows_bench [PAGES] [LINKS]: the real window checking a folder of
// PAGES pages (default 1,000) of LINKS links each (default 1,000), every
// link to a file that is not there, so each is a "Local File Not Found"
// row: a million rows by default, none of them needing the network. Then
// Esc in the middle of a second run, select-all, a re-run to its end, and
// a filter typed letter by letter. For each step: the milliseconds until
// its result is shown and the longest the event loop was kept from turning
// (a 5 ms ticker's longest gap); the memory in use and the peak. Offscreen
// unless QT_QPA_PLATFORM says otherwise; bench/window_bench.sh runs it in
// a real window under Xvfb with a window manager.
#include <sys/resource.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTimer>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/main_window.h"
#include "app/result_proxy.h"
#include "app/results_view.h"
#include "core/settings_store.h"
#include "platform/memory_config_store.h"
#include "platform/memory_release.h"

namespace {

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
    if (named_ && now - last_ > 150) std::printf("stall of %lld ms at %lld ms\n", now - last_, now);
    longest_ = std::max(longest_, now - last_);
    last_ = now;
  }
  QTimer ticker_;
  QElapsedTimer clock_;
  // QUIMBEL_NAME_STALLS=1 prints each stall over 150 ms as it happens.
  const bool named_ = qEnvironmentVariableIsSet("QUIMBEL_NAME_STALLS");
  long long last_ = 0;
  long long longest_ = 0;
};

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

std::filesystem::path MakeSite(int pages, int links) {
  const std::filesystem::path root =
      std::filesystem::temp_directory_path() / ("quimbel-local-rows-" + std::to_string(getpid()));
  std::filesystem::create_directories(root);
  for (int page = 0; page < pages; ++page) {
    char name[32];
    std::snprintf(name, sizeof name, "p%05d.html", page);
    std::ofstream out(root / name);
    out << "<html><body>\n";
    for (int link = 0; link < links; ++link)
      out << "<a href=\"gone/p" << page << "/l" << link << ".html\">Link " << link << "</a>\n";
    out << "</body></html>\n";
  }
  return root;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  quimbel::ReturnLargeBlocksToSystem();
  QApplication app(argc, argv);
  const int pages = argc > 1 ? std::stoi(argv[1]) : 1000;
  const int links = argc > 2 ? std::stoi(argv[2]) : 1000;
  const std::filesystem::path site = MakeSite(pages, links);
  quimbel::MemoryConfigStore store;
  quimbel::SettingsStore settings(store);
  quimbel::MainWindow frame(settings);
  frame.resize(1000, 700);
  frame.show();
  quimbel::ResultsView* view = frame.results_view();
  quimbel::ResultProxyModel* proxy = view->proxy();
  StallMeter stalls;
  const long long rows_wanted = static_cast<long long>(pages) * links;
  const auto report = [&](const char* what, long long ms) {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%8lld rows  %-30s %7lld ms  longest stall %5lld ms  %4.0f MiB (peak %4.0f)\n",
                rows_wanted, what, ms, stalls.Take(), ResidentMiB(),
                static_cast<double>(usage.ru_maxrss) / 1024);
    std::fflush(stdout);
  };
  const auto settle = [&] {
    while (view->running() || proxy->busy())
      QApplication::processEvents(QEventLoop::AllEvents, 5);
    QApplication::processEvents();
  };
  const auto start = [&] {
    view->controller().StartTest(site.string(), {false, true, quimbel::ExtensionFilter::kOff});
  };
  QElapsedTimer clock;
  const auto step = [&](const char* what, auto act) {
    stalls.Take();
    clock.start();
    act();
    settle();
    report(what, clock.elapsed());
  };

  step("check, to its last row", start);
  std::printf("%8lld rows  %d rows listed\n", rows_wanted, proxy->rowCount());

  // Stop (Esc) a second into a second run, from a timer as a key comes:
  // the time from the moment it was due to the run's end.
  stalls.Take();
  clock.start();
  start();
  std::printf("%8lld rows  a run's start over the last one's rows: %lld ms\n", rows_wanted,
              clock.elapsed());
  clock.start();
  QTimer::singleShot(1000, [&] { frame.action(quimbel::Command::kStop)->trigger(); });
  Spin(1100);
  settle();
  report("Esc a second into a re-run", clock.elapsed() - 1000);

  step("select all", [&] { view->selectAll(); });
  step("re-run, to its last row", start);

  const std::string typed = "gone/p7/l1";
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
  std::printf("%8lld rows  longest keystroke %lld ms, %d rows shown\n", rows_wanted, longest_key,
              proxy->rowCount());
  step("filter cleared", [&] { frame.search_field()->clear(); });
  std::filesystem::remove_all(site);
  return 0;
}
