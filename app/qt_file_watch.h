// QtFileWatch: FileWatch through QFileSystemWatcher, for the window. A
// changed file posts its path; a changed folder posts the folder's, since
// Qt does not say which entry changed. User-interface thread only.
#pragma once

#include <QFileSystemWatcher>
#include <string>

#include "platform/file_watch.h"
#include "platform/worker_message.h"

namespace quimbel {

class QtFileWatch : public FileWatch {
 public:
  explicit QtFileWatch(MessagePoster& poster);

  bool Add(const std::string& path) override;
  void Clear() override;

 private:
  MessagePoster& poster_;
  QFileSystemWatcher watcher_;
};

}  // namespace quimbel
