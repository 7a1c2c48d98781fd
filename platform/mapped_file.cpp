#include "platform/mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>

#include "platform/text_file.h"

namespace quimbel {

namespace {

std::nullopt_t Failed(Status* why, int error) {
  if (why != nullptr) *why = Status::Error(std::strerror(error), error);
  return std::nullopt;
}

}  // namespace

std::optional<MappedFile> MappedFile::Open(const std::string& path, Status* why) {
  errno = 0;
  const FileDescriptor file = OpenForReading(path);
  if (!file.valid()) return Failed(why, errno != 0 ? errno : EINVAL);
  return Read(file.get(), why);
}

std::optional<MappedFile> MappedFile::Read(int fd, Status* why) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) return Failed(why, errno);
  if (!S_ISREG(info.st_mode)) return Failed(why, S_ISDIR(info.st_mode) ? EISDIR : EINVAL);
  const auto size = static_cast<std::size_t>(info.st_size);
  const std::int64_t modified =
      static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec;
  constexpr std::size_t kLargestRead = 4 << 20;
  if (size <= kLargestRead) {
    // Grown, never cleared: every byte handed out was read.
    thread_local std::unique_ptr<char[]> buffer;
    thread_local std::size_t capacity = 0;
    if (size > capacity) {
      buffer.reset(new char[size]);
      capacity = size;
    }
    // From the start, whatever the descriptor's offset, which stays put.
    std::size_t got = 0;
    while (got < size) {
      const ssize_t n = ::pread(fd, buffer.get() + got, size - got, static_cast<off_t>(got));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return Failed(why, errno);
      if (n == 0) break;  // shorter than it was: what is there
      got += static_cast<std::size_t>(n);
    }
    return MappedFile(buffer.get(), got, false, modified);
  }
  void* data = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  if (data == MAP_FAILED) return Failed(why, errno);
  ::madvise(data, size, MADV_SEQUENTIAL);
  return MappedFile(static_cast<const char*>(data), size, true, modified);
}

PageIdentity MappedFile::identity() const {
  return {size_, modified_, std::hash<std::string_view>()(text())};
}

MappedFile::MappedFile(MappedFile&& other) noexcept
    : data_(other.data_), size_(other.size_), mapped_(other.mapped_), modified_(other.modified_) {
  other.mapped_ = false;
}

MappedFile::~MappedFile() {
  if (mapped_) ::munmap(const_cast<char*>(data_), size_);
}

void MappedFile::Release(std::size_t offset) const {
  if (!mapped_) return;
  static const auto kPage = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  const std::size_t whole = std::min(offset, size_) / kPage * kPage;
  if (whole > 0) ::madvise(const_cast<char*>(data_), whole, MADV_DONTNEED);
}

}  // namespace quimbel
