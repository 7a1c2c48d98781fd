// quimbel: the desktop link checker.
#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "app/application.h"
#include "app/main_window.h"
#include "platform/memory_release.h"
#include "platform/product.h"
#include "probe/curl_library.h"

namespace {

// Nothing is meant to throw out of an event handler; if something does, the
// program says what in one line and ends with status 2, rather than abort
// or go on in a state nobody planned for.
class GuardedApplication : public QApplication {
 public:
  using QApplication::QApplication;

  bool notify(QObject* receiver, QEvent* event) override {
    try {
      return QApplication::notify(receiver, event);
    } catch (const std::exception& failure) {
      Fail(failure.what());
    } catch (...) {
      Fail("an unknown exception");
    }
    return false;
  }

 private:
  void Fail(const char* what) {
    if (failed_) return;
    failed_ = true;
    const QString line =
        QString("quimbel: unexpected failure: %1").arg(QString::fromLocal8Bit(what));
    std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
    QMessageBox::critical(
        nullptr, QString::fromUtf8(quimbel::kProductName.data(), quimbel::kProductName.size()),
        line);
    QCoreApplication::exit(2);
  }

  bool failed_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  // Without a display Qt would only abort; say what to do instead.
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") && !platform) {
    std::fprintf(stderr,
                 "quimbel: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set).\n"
                 "Start it from a desktop session, or check links without a window with\n"
                 "quimbel-cli (quimbel-cli --help).\n");
    return 1;
  }
  // libcurl's global state, before Qt or the engine starts a thread.
  if (!quimbel::InitialiseCurl()) {
    std::fprintf(stderr, "quimbel: libcurl could not be set up; no link can be checked.\n");
    return 2;
  }
  quimbel::ReturnLargeBlocksToSystem();
  GuardedApplication application(argc, argv);
  QApplication::setApplicationName(
      QString::fromUtf8(quimbel::kProductName.data(), quimbel::kProductName.size()));
  QApplication::setOrganizationName(
      QString::fromUtf8(quimbel::kOrganization.data(), quimbel::kOrganization.size()));
  QApplication::setApplicationVersion(QString::fromUtf8(
      quimbel::kProductVersion.data(), static_cast<int>(quimbel::kProductVersion.size())));
  QGuiApplication::setDesktopFileName(
      QString::fromUtf8(quimbel::kDesktopId.data(), static_cast<int>(quimbel::kDesktopId.size())));

  quimbel::Application quimbel;
  quimbel::MainWindow frame(quimbel.settings(), &quimbel.visited);
  if (frame.StartsMaximized()) {
    frame.showMaximized();
  } else {
    frame.show();
  }
  return QApplication::exec();
}
