#include "app/qt_file_watch.h"

namespace quimbel {

QtFileWatch::QtFileWatch(MessagePoster& poster) : poster_(poster) {
  const auto post = [this](const QString& path) {
    poster_.Post({MessageId::kPathChanged, 0, 0, path.toStdString(), {}});
  };
  QObject::connect(&watcher_, &QFileSystemWatcher::fileChanged, &watcher_, post);
  QObject::connect(&watcher_, &QFileSystemWatcher::directoryChanged, &watcher_, post);
}

bool QtFileWatch::Add(const std::string& path) {
  const QString name = QString::fromStdString(path);
  // Watched again: after a save by rename the watch held the old file.
  if (watcher_.files().contains(name)) watcher_.removePath(name);
  return watcher_.directories().contains(name) || watcher_.addPath(name);
}

void QtFileWatch::Clear() {
  const QStringList watched = watcher_.files() + watcher_.directories();
  if (!watched.isEmpty()) watcher_.removePaths(watched);
}

}  // namespace quimbel
