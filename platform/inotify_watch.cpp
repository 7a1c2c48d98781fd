#include "platform/inotify_watch.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

namespace quimbel {
namespace {

// A file is written in place (closed after writing, or written by a
// program that keeps it open), has its mode changed, or is renamed or
// removed under us.
constexpr std::uint32_t kFileEvents =
    IN_CLOSE_WRITE | IN_MODIFY | IN_ATTRIB | IN_MOVE_SELF | IN_DELETE_SELF;
// An entry of a folder is written, created, removed or renamed in or out:
// a save by rename shows here as the page moved to.
constexpr std::uint32_t kFolderEvents =
    IN_CLOSE_WRITE | IN_MODIFY | IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;

}  // namespace

InotifyWatch::InotifyWatch(MessagePoster& poster)
    : poster_(poster),
      inotify_(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK)),
      wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (inotify_.valid() && wake_.valid()) thread_ = std::thread([this] { ReadEvents(); });
}

InotifyWatch::~InotifyWatch() {
  if (thread_.joinable()) {
    const std::uint64_t one = 1;
    // The thread ends at its next wake-up; a full counter wakes it too.
    [[maybe_unused]] const auto written = ::write(wake_.get(), &one, sizeof one);
    thread_.join();
  }
}

bool InotifyWatch::Add(const std::string& path) {
  if (!thread_.joinable()) return false;
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return false;
  const std::uint32_t mask = S_ISDIR(info.st_mode) ? kFolderEvents | IN_ONLYDIR : kFileEvents;
  MutexLock lock(mutex_);
  // The same inode watched again gives the same descriptor back.
  const int wd = ::inotify_add_watch(inotify_.get(), path.c_str(), mask);
  if (wd < 0) return false;
  paths_[wd] = path;
  return true;
}

void InotifyWatch::Clear() {
  MutexLock lock(mutex_);
  for (const auto& [wd, path] : paths_)
    ::inotify_rm_watch(inotify_.get(), wd);
  paths_.clear();
}

void InotifyWatch::ReadEvents() {
  // Aligned for the events' header, and large enough for many of them.
  alignas(inotify_event) char buffer[16 * 1024];
  for (;;) {
    pollfd fds[2] = {{inotify_.get(), POLLIN, 0}, {wake_.get(), POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0) return;
    for (;;) {
      const ssize_t length = ::read(inotify_.get(), buffer, sizeof buffer);
      if (length <= 0) break;
      PostEvents(buffer, length);
    }
  }
}

void InotifyWatch::PostEvents(const char* buffer, long length) {
  std::vector<std::string> changed;
  {
    MutexLock lock(mutex_);
    for (long at = 0; at < length;) {
      inotify_event event{};
      std::memcpy(&event, buffer + at, sizeof event);
      const char* name = buffer + at + sizeof event;
      at += static_cast<long>(sizeof event + event.len);
      const auto found = paths_.find(event.wd);
      if (found == paths_.end()) continue;
      if ((event.mask & IN_IGNORED) != 0) {
        // The file went (removed, or replaced by a rename): its watch with it.
        paths_.erase(found);
        continue;
      }
      const std::string& watched = found->second;
      changed.push_back(event.len > 0 && name[0] != '\0' ? watched + "/" + name : watched);
    }
  }
  // Posted without the lock: the poster may take locks of its own.
  for (std::string& path : changed)
    poster_.Post({MessageId::kPathChanged, 0, 0, std::move(path), {}});
}

}  // namespace quimbel
