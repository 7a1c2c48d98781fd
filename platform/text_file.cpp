#include "platform/text_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

namespace quimbel {

FileDescriptor OpenForReading(const std::string& path) {
  if (path.find('\0') != std::string::npos) return FileDescriptor();
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat status {};
  if (!fd.valid() || ::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
    return FileDescriptor();
  }
  return fd;
}

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

ReplacementFile::ReplacementFile(std::string target, std::string temporary, FileDescriptor fd)
    : target_(std::move(target)), temporary_(std::move(temporary)), fd_(std::move(fd)) {}

ReplacementFile::ReplacementFile(ReplacementFile&& other) noexcept
    : target_(std::move(other.target_)),
      temporary_(std::move(other.temporary_)),
      fd_(std::move(other.fd_)),
      ok_(other.ok_),
      done_(other.done_) {
  other.done_ = true;
}

ReplacementFile& ReplacementFile::operator=(ReplacementFile&& other) noexcept {
  if (this != &other) {
    Abandon();
    target_ = std::move(other.target_);
    temporary_ = std::move(other.temporary_);
    fd_ = std::move(other.fd_);
    ok_ = other.ok_;
    done_ = other.done_;
    other.done_ = true;
  }
  return *this;
}

ReplacementFile::~ReplacementFile() {
  Abandon();
}

std::optional<ReplacementFile> ReplacementFile::Create(const std::string& target,
                                                       const std::string& temporary) {
  if (temporary.find('\0') != std::string::npos) return std::nullopt;
  ::unlink(temporary.c_str());
  FileDescriptor fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (!fd.valid()) return std::nullopt;
  return ReplacementFile(target, temporary, std::move(fd));
}

std::optional<ReplacementFile> ReplacementFile::CreateBeside(const std::string& target) {
  std::string pattern = (std::filesystem::path(target).parent_path() / ".~quimbel-XXXXXX").string();
  FileDescriptor fd(::mkostemp(pattern.data(), O_CLOEXEC));
  if (!fd.valid()) return std::nullopt;
  return ReplacementFile(target, pattern, std::move(fd));
}

bool ReplacementFile::Write(std::string_view data) {
  if (ok_) ok_ = WriteAll(fd_.get(), data);
  return ok_;
}

bool ReplacementFile::Commit(mode_t mode, Install install) {
  if (done_) return false;
  ok_ = ok_ && ::fchmod(fd_.get(), mode & 07777) == 0 && ::fsync(fd_.get()) == 0;
  fd_.Close();
  // A hard link installs the file without ever replacing one that exists.
  const bool installed =
      ok_ && (install == Install::kReplace ? ::rename(temporary_.c_str(), target_.c_str()) == 0
                                           : ::link(temporary_.c_str(), target_.c_str()) == 0);
  if (!installed || install == Install::kKeepExisting) {
    Abandon();
    return installed;
  }
  done_ = true;
  return true;
}

void ReplacementFile::Abandon() {
  if (done_) return;
  fd_.Close();
  ::unlink(temporary_.c_str());
  done_ = true;
}

}  // namespace quimbel
