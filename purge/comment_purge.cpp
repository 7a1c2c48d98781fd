#include "purge/comment_purge.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <memory>

namespace quimbel {
namespace {

constexpr std::string_view kOpen = "<!--";
constexpr std::string_view kClose = "-->";

int CountOpenings(std::string_view text) {
  int count = 0;
  for (std::size_t at = text.find(kOpen); at != std::string_view::npos;
       at = text.find(kOpen, at + kOpen.size())) {
    ++count;
  }
  return count;
}

// Reads a file line by line, each line with its own line end ("\n",
// "\r\n", or none for the last), through a buffer of fixed size.
class LineReader {
 public:
  explicit LineReader(int fd) : fd_(fd) {}

  // False at the end of the file; `failed()` tells a read error apart.
  bool Next(std::string* line, std::string* end) {
    line->clear();
    for (;;) {
      const std::string_view pending(buffer_.get() + begin_, size_ - begin_);
      const std::size_t feed = pending.find('\n');
      if (feed != std::string_view::npos) {
        *line += pending.substr(0, feed);
        begin_ += feed + 1;
        *end = "\n";
        if (!line->empty() && line->back() == '\r') {
          line->pop_back();
          *end = "\r\n";
        }
        return true;
      }
      *line += pending;
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
  bool failed() const { return failed_; }

 private:
  static constexpr std::size_t kSize = 1 << 16;
  int fd_;
  std::unique_ptr<char[]> buffer_ = std::make_unique<char[]>(kSize);
  std::size_t begin_ = 0;
  std::size_t size_ = 0;
  bool failed_ = false;
};

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t written = ::write(fd, data.data(), data.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

class Closer {
 public:
  explicit Closer(int fd) : fd_(fd) {}
  ~Closer() {
    if (fd_ >= 0) ::close(fd_);
  }
  Closer(const Closer&) = delete;
  Closer& operator=(const Closer&) = delete;

 private:
  int fd_;
};

}  // namespace

bool CommentFilter::FilterLine(std::string_view line, std::string* out) {
  std::string text(line);
  for (;;) {
    if (text.empty()) {
      out->clear();
      return true;  // empty lines always stay, inside a comment too
    }
    if (in_comment_) {
      const std::size_t close = text.find(kClose);
      if (close == std::string::npos) {
        // Every "<!--" inside an open comment counts, and the line goes.
        comments_ += CountOpenings(text);
        return false;
      }
      comments_ += CountOpenings(std::string_view(text).substr(0, close));
      text.erase(0, close + kClose.size());
      in_comment_ = false;
      if (text.empty()) {
        out->clear();
        return true;  // the closing line is written even when nothing is left
      }
      continue;
    }
    const std::size_t open = text.find(kOpen);
    if (open == std::string::npos) {
      *out = std::move(text);
      return true;
    }
    if (text.find("DOCTYPE") != std::string::npos) {
      *out = std::move(text);  // a document type line stays whole, opening nothing
      return true;
    }
    ++comments_;
    // The close is sought from the opening itself, so "<!-->" is whole.
    const std::size_t close = text.find(kClose, open);
    if (close == std::string::npos) {
      in_comment_ = true;
      text.erase(open);
      *out = std::move(text);
      return true;
    }
    text.erase(open, close + kClose.size() - open);
  }
}

PurgeResult PurgeFileComments(const std::string& path) {
  PurgeResult result;
  // Rewrite the file a link points to, not the link.
  char resolved_buffer[PATH_MAX];
  if (path.find('\0') != std::string::npos ||
      ::realpath(path.c_str(), resolved_buffer) == nullptr) {
    return result;
  }
  const std::string resolved = resolved_buffer;
  const int input = ::open(resolved.c_str(), O_RDONLY | O_CLOEXEC);
  if (input < 0) return result;
  Closer close_input(input);
  struct stat status {};
  if (::fstat(input, &status) != 0 || !S_ISREG(status.st_mode)) return result;
  // A read-only file is not ours to replace, even though the folder would
  // allow the rename; the write bits decide even for the superuser.
  if ((status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 ||
      ::access(resolved.c_str(), W_OK) != 0) {
    return result;
  }

  const std::filesystem::path target(resolved);
  std::string temporary = (target.parent_path() / ".~urlfile-XXXXXX").string();
  const int output = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (output < 0) return result;
  bool ok = true;
  {
    Closer close_output(output);
    LineReader reader(input);
    CommentFilter filter;
    std::string line, end, kept;
    while (ok && reader.Next(&line, &end)) {
      if (filter.FilterLine(line, &kept)) ok = WriteAll(output, kept) && WriteAll(output, end);
    }
    ok = ok && !reader.failed() && ::fchmod(output, status.st_mode & 07777) == 0 &&
         ::fsync(output) == 0;
    result.comments = filter.comments();
  }
  if (!ok || ::rename(temporary.c_str(), resolved.c_str()) != 0) {
    ::unlink(temporary.c_str());
    result.comments = 0;
    return result;
  }
  result.rewritten = true;
  return result;
}

}  // namespace quimbel
