#include "platform/beneath.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string_view>

namespace quimbel {
namespace {

constexpr int kFolderFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;

std::string RealPath(const std::string& path) {
  char resolved[PATH_MAX];
  if (path.find('\0') != std::string::npos || ::realpath(path.c_str(), resolved) == nullptr) {
    return {};
  }
  return resolved;
}

// `relative` under the folder `root_fd`, one name at a time: no name may be
// a link or "..", so nothing can lead elsewhere.
FileDescriptor OpenStepByStep(int root_fd, std::string_view relative) {
  FileDescriptor at(::fcntl(root_fd, F_DUPFD_CLOEXEC, 0));
  while (at.valid() && !relative.empty()) {
    const std::size_t slash = relative.find('/');
    const std::string name(relative.substr(0, slash));
    relative.remove_prefix(slash == std::string_view::npos ? relative.size() : slash + 1);
    if (name.empty() || name == ".") continue;
    if (name == "..") {
      errno = EXDEV;
      return FileDescriptor();
    }
    at = FileDescriptor(::openat(at.get(), name.c_str(), kFolderFlags | O_NOFOLLOW));
  }
  return at;
}

}  // namespace

FileDescriptor OpenFolderBeneath(const std::string& root, const std::string& folder,
                                 Status* status) {
  const auto fail = [&](int error) {
    *status = Status::FromErrno("Cannot open the folder", folder, error);
    return FileDescriptor();
  };
  const std::string real_root = RealPath(root);
  if (real_root.empty()) return fail(errno != 0 ? errno : EINVAL);
  const std::string real = RealPath(folder);
  if (real.empty()) return fail(errno != 0 ? errno : EINVAL);
  const bool at_root = real == real_root;
  const std::string prefix = real_root == "/" ? real_root : real_root + "/";
  if (!at_root && real.compare(0, prefix.size(), prefix) != 0) {
    *status = Status::Error(folder + " leads out of " + root, EXDEV);
    return FileDescriptor();
  }
  const FileDescriptor root_fd(::open(real_root.c_str(), kFolderFlags));
  if (!root_fd.valid()) return fail(errno);
  const std::string relative = at_root ? "." : real.substr(prefix.size());
  open_how how{};
  how.flags = kFolderFlags;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
  FileDescriptor opened(
      static_cast<int>(::syscall(SYS_openat2, root_fd.get(), relative.c_str(), &how, sizeof how)));
  // Older kernels, and sandboxes that filter the call, do without it.
  if (!opened.valid() && (errno == ENOSYS || errno == EPERM)) {
    opened = OpenStepByStep(root_fd.get(), relative);
  }
  if (!opened.valid()) {
    if (errno == EXDEV || errno == ELOOP) {
      *status = Status::Error(folder + " leads out of " + root, EXDEV);
      return FileDescriptor();
    }
    return fail(errno);
  }
  *status = Status::Ok();
  return opened;
}

FileDescriptor OpenFolder(const std::string& folder, Status* status) {
  FileDescriptor opened(
      folder.find('\0') == std::string::npos ? ::open(folder.c_str(), kFolderFlags) : -1);
  if (!opened.valid()) {
    *status = Status::FromErrno("Cannot open the folder", folder, errno != 0 ? errno : EINVAL);
  } else {
    *status = Status::Ok();
  }
  return opened;
}

}  // namespace quimbel
