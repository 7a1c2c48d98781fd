#include "platform/mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "platform/text_file.h"

namespace quimbel {

std::optional<MappedFile> MappedFile::Open(const std::string& path) {
  FileDescriptor file = OpenForReading(path);
  if (!file.valid()) return std::nullopt;
  struct stat info {};
  if (::fstat(file.get(), &info) != 0) return std::nullopt;
  const auto size = static_cast<std::size_t>(info.st_size);
  constexpr std::size_t kLargestRead = 4 << 20;
  if (size <= kLargestRead) {
    // Grown, never cleared: every byte handed out was read.
    thread_local std::unique_ptr<char[]> buffer;
    thread_local std::size_t capacity = 0;
    if (size > capacity) {
      buffer.reset(new char[size]);
      capacity = size;
    }
    std::size_t got = 0;
    while (got < size) {
      const ssize_t n = ::read(file.get(), buffer.get() + got, size - got);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return std::nullopt;
      if (n == 0) break;  // shorter than it was: what is there
      got += static_cast<std::size_t>(n);
    }
    return MappedFile(buffer.get(), got, false);
  }
  void* data = ::mmap(nullptr, static_cast<std::size_t>(info.st_size), PROT_READ, MAP_PRIVATE,
                      file.get(), 0);
  if (data == MAP_FAILED) return std::nullopt;
  ::madvise(data, size, MADV_SEQUENTIAL);
  return MappedFile(static_cast<const char*>(data), size, true);
}

MappedFile::MappedFile(MappedFile&& other) noexcept
    : data_(other.data_), size_(other.size_), mapped_(other.mapped_) {
  other.mapped_ = false;
}

MappedFile::~MappedFile() {
  if (mapped_) ::munmap(const_cast<char*>(data_), size_);
}

}  // namespace quimbel
