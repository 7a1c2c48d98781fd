#include "platform/text_file.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <filesystem>

#include "platform/beneath.h"
#include "platform/file_faults.h"

namespace quimbel {

FileDescriptor OpenForReading(const std::string& path) {
  if (path.find('\0') != std::string::npos) return FileDescriptor();
  // O_NONBLOCK keeps open() itself from waiting for a fifo's writer; the
  // type check then refuses everything that is not a regular file, whose
  // reads never block anyway.
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  struct stat status {};
  if (!fd.valid() || ::fstat(fd.get(), &status) != 0) return FileDescriptor();
  if (!S_ISREG(status.st_mode)) {
    // errno says why, for a caller that names it.
    errno = S_ISDIR(status.st_mode) ? EISDIR : EINVAL;
    return FileDescriptor();
  }
  const int flags = ::fcntl(fd.get(), F_GETFL);
  if (flags >= 0) ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
  return fd;
}

bool IsRegularFile(const std::string& path) {
  struct stat status {};
  return path.find('\0') == std::string::npos && ::stat(path.c_str(), &status) == 0 &&
         S_ISREG(status.st_mode);
}

bool IsLeftoverTemporary(std::string_view file_name) {
  constexpr std::string_view kOldSuffix = ".t~p";
  return file_name.substr(0, kTemporaryPrefix.size()) == kTemporaryPrefix ||
         (file_name.size() >= kOldSuffix.size() &&
          file_name.substr(file_name.size() - kOldSuffix.size()) == kOldSuffix);
}

Status CheckWritable(const std::string& path) {
  struct stat status {};
  if (path.find('\0') != std::string::npos || ::stat(path.c_str(), &status) != 0) {
    return Status::FromErrno("Cannot replace", path, errno != 0 ? errno : EINVAL);
  }
  if ((status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::access(path.c_str(), W_OK) != 0) {
    return Status::Error("Cannot replace " + path + ": the file is read-only", EROFS);
  }
  return Status::Ok();
}

namespace {

// The last name of a path.
std::string NameOf(const std::string& path) {
  return path.substr(path.rfind('/') + 1);
}

// A buffer of many megabytes is filled once, front to back: huge pages
// spare most of its page faults. Only advice; nothing changes if the
// system says no.
void AdviseHugePages(const char* data, std::size_t size) {
  constexpr std::size_t kHuge = std::size_t{2} << 20;
  if (size < 4 * kHuge) return;
  const auto begin = (reinterpret_cast<std::uintptr_t>(data) + kHuge - 1) & ~(kHuge - 1);
  const auto end = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(kHuge - 1);
  // The aligned start as a pointer into the same buffer, not an integer
  // turned back into one.
  char* aligned = const_cast<char*>(data) + (begin - reinterpret_cast<std::uintptr_t>(data));
  if (end > begin) ::madvise(aligned, end - begin, MADV_HUGEPAGE);
}

}  // namespace

LineReader::LineReader(int fd) : fd_(fd), buffer_(std::make_unique<char[]>(kSize)) {}

bool LineReader::Next(std::string* line, std::string* end) {
  line->clear();
  for (;;) {
    const std::string_view pending(buffer_.get() + begin_, size_ - begin_);
    const std::size_t feed = pending.find('\n');
    if (feed != std::string_view::npos) {
      line->append(pending.substr(0, feed));
      begin_ += feed + 1;
      if (!line->empty() && line->back() == '\r') {
        line->pop_back();
        end->assign("\r\n");
      } else {
        end->assign(1, '\n');
      }
      return true;
    }
    // A line longer than the buffer may be as long as the rest of the
    // file: room for that once costs nothing until it is written, and
    // spares the copies of growing step by step.
    if (!pending.empty() && line->capacity() < kSize * 2) {
      struct stat status {};
      if (::fstat(fd_, &status) == 0 && S_ISREG(status.st_mode)) {
        const off_t at = ::lseek(fd_, 0, SEEK_CUR);
        if (at >= 0 && status.st_size > at) {
          // Capped, so a huge file of merely long lines asks for no more
          // address space than a line could plausibly need.
          constexpr std::size_t kMostAhead = std::size_t{1} << 30;
          line->reserve(line->size() + pending.size() +
                        std::min(kMostAhead, static_cast<std::size_t>(status.st_size - at)));
          AdviseHugePages(line->data(), line->capacity());
        }
      }
    }
    line->append(pending);
    begin_ = size_ = 0;
    const ssize_t got = ::read(fd_, buffer_.get(), kSize);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      failed_ = got < 0;
      end->clear();
      return !failed_ && !line->empty();
    }
    size_ = static_cast<std::size_t>(got);
  }
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t written = ::write(fd, data.data(), data.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

int WriteToStream(int fd, std::string_view data, const std::function<bool()>& cancelled,
                  std::chrono::milliseconds stall) {
  auto last_progress = std::chrono::steady_clock::now();
  while (!data.empty()) {
    if (cancelled && cancelled()) return ECANCELED;
    const ssize_t written = ::write(fd, data.data(), data.size());
    if (written > 0) {
      data.remove_prefix(static_cast<std::size_t>(written));
      last_progress = std::chrono::steady_clock::now();
      continue;
    }
    if (written < 0 && errno == EINTR) continue;
    if (written < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return errno;
    if (std::chrono::steady_clock::now() - last_progress >= stall) return ETIMEDOUT;
    // Short waits, so a cancel is seen soon.
    pollfd ready{fd, POLLOUT, 0};
    ::poll(&ready, 1, 100);
  }
  return 0;
}

ReplacementFile::ReplacementFile(std::string target, FileDescriptor folder, std::string temporary,
                                 FileDescriptor fd)
    : target_(std::move(target)),
      folder_(std::move(folder)),
      temporary_(std::move(temporary)),
      fd_(std::move(fd)) {}

ReplacementFile::ReplacementFile(ReplacementFile&& other) noexcept
    : target_(std::move(other.target_)),
      folder_(std::move(other.folder_)),
      temporary_(std::move(other.temporary_)),
      fd_(std::move(other.fd_)),
      buffer_(std::move(other.buffer_)),
      error_(other.error_),
      done_(other.done_) {
  other.done_ = true;
}

ReplacementFile& ReplacementFile::operator=(ReplacementFile&& other) noexcept {
  if (this != &other) {
    Abandon();
    target_ = std::move(other.target_);
    folder_ = std::move(other.folder_);
    temporary_ = std::move(other.temporary_);
    fd_ = std::move(other.fd_);
    buffer_ = std::move(other.buffer_);
    error_ = other.error_;
    done_ = other.done_;
    other.done_ = true;
  }
  return *this;
}

ReplacementFile::~ReplacementFile() {
  Abandon();
}

std::optional<ReplacementFile> ReplacementFile::CreateBeside(const std::string& target,
                                                             Status* status,
                                                             const std::string& root) {
  const auto fail = [&](int error) -> std::optional<ReplacementFile> {
    if (status) *status = Status::FromErrno("Cannot write a temporary file beside", target, error);
    return std::nullopt;
  };
  if (target.find('\0') != std::string::npos) return fail(EINVAL);
  std::string folder_path = std::filesystem::path(target).parent_path().string();
  if (folder_path.empty()) folder_path = ".";
  Status opened;
  FileDescriptor folder = root.empty() ? OpenFolder(folder_path, &opened)
                                       : OpenFolderBeneath(root, folder_path, &opened);
  if (!folder.valid()) {
    if (status) *status = opened;
    return std::nullopt;
  }
  std::string pattern =
      (std::filesystem::path(folder_path) / (std::string(kTemporaryPrefix) + "XXXXXX")).string();
  if (FileFaults* faults = CurrentFileFaults()) {
    if (const int error = faults->OnCreate(pattern)) return fail(error);
  }
  // A name nobody else holds, created exclusively in the folder held open.
  FileDescriptor fd;
  const std::size_t letters = pattern.size() - 6;
  for (int attempt = 0; attempt < 100 && !fd.valid(); ++attempt) {
    static constexpr std::string_view kAlphabet =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::uint64_t random = 0;
    if (::getentropy(&random, sizeof random) != 0) return fail(errno);
    for (std::size_t i = letters; i < pattern.size(); ++i, random /= kAlphabet.size()) {
      pattern[i] = kAlphabet[random % kAlphabet.size()];
    }
    fd = FileDescriptor(::openat(folder.get(), NameOf(pattern).c_str(),
                                 O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd.valid() && errno != EEXIST) return fail(errno);
  }
  if (!fd.valid()) return fail(EEXIST);
  if (status) *status = Status::Ok();
  return ReplacementFile(target, std::move(folder), pattern, std::move(fd));
}

bool ReplacementFile::Write(std::string_view data) {
  if (error_ != 0 || done_) return false;
  if (FileFaults* faults = CurrentFileFaults()) error_ = faults->OnWrite(temporary_, data.size());
  if (error_ != 0) return false;
  if (buffer_.size() + data.size() <= kBufferSize) {
    buffer_.append(data);
    return true;
  }
  if (!Flush()) return false;
  if (data.size() < kBufferSize) {
    buffer_.append(data);
    return true;
  }
  errno = 0;
  if (!WriteAll(fd_.get(), data)) error_ = errno != 0 ? errno : EIO;
  return error_ == 0;
}

bool ReplacementFile::Flush() {
  if (error_ != 0) return false;
  errno = 0;
  if (!buffer_.empty() && !WriteAll(fd_.get(), buffer_)) error_ = errno != 0 ? errno : EIO;
  buffer_.clear();
  return error_ == 0;
}

Status ReplacementFile::Commit(const struct stat& original, Install install) {
  if (done_) return Status::Error("Cannot replace " + target_ + ": already done");
  Flush();
  int error = error_;
  // A file made by another user or group keeps them; our own new file has
  // our ids, so only a difference needs the change.
  if (error == 0 && (original.st_uid != ::geteuid() || original.st_gid != ::getegid()) &&
      ::fchown(fd_.get(), original.st_uid, original.st_gid) != 0) {
    error = errno;
  }
  if (error == 0 && ::fchmod(fd_.get(), original.st_mode & 07777) != 0) error = errno;
  if (error == 0 && ::fsync(fd_.get()) != 0) error = errno;
  fd_.Close();
  if (error == 0) {
    if (FileFaults* faults = CurrentFileFaults()) error = faults->OnInstall(target_);
  }
  if (error == 0) {
    // A hard link installs the file without ever replacing one that exists.
    const std::string from = NameOf(temporary_);
    const std::string to = NameOf(target_);
    const int result = install == Install::kReplace
                           ? ::renameat(folder_.get(), from.c_str(), folder_.get(), to.c_str())
                           : ::linkat(folder_.get(), from.c_str(), folder_.get(), to.c_str(), 0);
    if (result != 0) error = errno;
  }
  if (error != 0 || install == Install::kKeepExisting) Abandon();
  done_ = true;
  if (error != 0) return Status::FromErrno("Cannot replace", target_, error);
  return Status::Ok();
}

void ReplacementFile::Abandon() {
  if (done_) return;
  fd_.Close();
  ::unlinkat(folder_.get(), NameOf(temporary_).c_str(), 0);
  folder_.Close();
  done_ = true;
}

namespace {
std::atomic<FileFaults*> g_file_faults{nullptr};
}  // namespace

void SetFileFaults(FileFaults* faults) {
  g_file_faults.store(faults);
}

FileFaults* CurrentFileFaults() {
  return g_file_faults.load();
}

}  // namespace quimbel
