// quimbel: the desktop link checker.
#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "app/application.h"
#include "app/main_window.h"
#include "core/product.h"

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
  QApplication application(argc, argv);
  QApplication::setApplicationName("Quimbel");
  QApplication::setOrganizationName("Marrowfen");
  QApplication::setApplicationVersion(QString::fromUtf8(
      quimbel::kProductVersion.data(), static_cast<int>(quimbel::kProductVersion.size())));

  quimbel::Application quimbel;
  quimbel::MainWindow frame(quimbel.settings(), &quimbel.visited);
  frame.show();
  return application.exec();
}
