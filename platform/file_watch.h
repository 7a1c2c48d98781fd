// FileWatch: tells the run that a file or folder it watches has changed.
// The system's own watches stand behind it: inotify in quimbel-cli
// (platform/inotify_watch.h) and QFileSystemWatcher in the window. What a
// change means (which page, a short settle so one save is one check, a
// save by rename) is decided above, in core/, the same for both.
//
// A change is posted through the MessagePoster the implementation was
// given, as a kPathChanged message whose text is the path that changed: a
// watched file, an entry of a watched folder, or the folder itself when the
// system does not say which entry. Add() and Clear() are called on the
// user-interface thread.
#pragma once

#include <string>

namespace quimbel {

class FileWatch {
 public:
  virtual ~FileWatch() = default;
  // Watches a file, or a folder and its entries (not its sub-folders).
  // Adding a path again re-arms it on whatever file it names now: after a
  // save by rename the old file is gone and the watch with it. False when
  // the system refuses (the path is gone, or no watch is left).
  virtual bool Add(const std::string& path) = 0;
  // Stops every watch. A change already posted may still arrive.
  virtual void Clear() = 0;
};

}  // namespace quimbel
