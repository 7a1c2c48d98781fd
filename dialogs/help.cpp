#include "dialogs/help.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

namespace quimbel {

QString HelpPagePath() {
  const QString installed =
      QCoreApplication::applicationDirPath() + "/../share/quimbel/quimbel-help.html";
  if (QFileInfo::exists(installed)) return QFileInfo(installed).canonicalFilePath();
  return QStringLiteral(QUIMBEL_SOURCE_DIR "/app/help/quimbel-help.html");
}

bool OpenHelp(int context) {
  QUrl url = QUrl::fromLocalFile(HelpPagePath());
  if (context != kHelpContents) url.setFragment(QString("context-%1").arg(context));
  return QDesktopServices::openUrl(url);
}

}  // namespace quimbel
