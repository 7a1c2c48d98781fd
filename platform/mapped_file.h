// MappedFile: a file's bytes to read in place, for the scans that read a
// page whole. Any thread; an object belongs to the thread that opened it.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quimbel {

// The text of the file at `path`, or nothing when it is no readable regular
// file. Holds no descriptor. A small file is read into a buffer of this
// thread that the next Open() reuses (mapping and unmapping each small
// page would cost more than reading it); a large one is mapped read-only.
class MappedFile {
 public:
  static std::optional<MappedFile> Open(const std::string& path);
  MappedFile(MappedFile&& other) noexcept;
  MappedFile& operator=(MappedFile&&) = delete;
  ~MappedFile();
  std::string_view text() const { return {data_, size_}; }

 private:
  MappedFile(const char* data, std::size_t size, bool mapped)
      : data_(data), size_(size), mapped_(mapped) {}
  const char* data_ = nullptr;
  std::size_t size_ = 0;
  bool mapped_ = false;
};

}  // namespace quimbel
