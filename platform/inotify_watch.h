// InotifyWatch: FileWatch through Linux's inotify, for quimbel-cli. One
// thread of its own reads the events and posts one kPathChanged message
// per event: the file's path for a watched file, the folder's path and the
// entry's name for an entry of a watched folder. Add() and Clear() on one
// thread (the user-interface thread); messages go out from the watch's
// own thread.
#pragma once

#include <map>
#include <string>
#include <thread>

#include "platform/file_descriptor.h"
#include "platform/file_watch.h"
#include "platform/mutex.h"
#include "platform/worker_message.h"

namespace quimbel {

class InotifyWatch : public FileWatch {
 public:
  explicit InotifyWatch(MessagePoster& poster);
  ~InotifyWatch() override;
  InotifyWatch(const InotifyWatch&) = delete;
  InotifyWatch& operator=(const InotifyWatch&) = delete;

  // False as well when inotify itself could not be set up.
  bool Add(const std::string& path) override;
  void Clear() override;

 private:
  void ReadEvents();
  // Posts one message per event in `buffer`.
  void PostEvents(const char* buffer, long length);

  MessagePoster& poster_;
  FileDescriptor inotify_;
  FileDescriptor wake_;  // an eventfd that ends the thread's wait
  Mutex mutex_;
  std::map<int, std::string> paths_ GUARDED_BY(mutex_);  // by watch descriptor
  std::thread thread_;
};

}  // namespace quimbel
