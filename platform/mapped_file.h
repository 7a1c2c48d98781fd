// MappedFile: a file's bytes to read in place, for the scans that read a
// page whole. Any thread; an object belongs to the thread that opened it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace quimbel {

// What a page was when it was read: its size, modification time and a hash
// of its bytes. A repair acts on a page only while it is still the same.
struct PageIdentity {
  std::size_t size = 0;
  std::int64_t modified_ns = 0;
  std::size_t hash = 0;
  bool operator==(const PageIdentity&) const = default;
};

// The text of the file at `path`, or nothing when it is no readable regular
// file. Holds no descriptor. A small file is read into a buffer of this
// thread that the next Open() reuses (mapping and unmapping each small
// page would cost more than reading it); a large one is mapped read-only.
class MappedFile {
 public:
  // Why it could not be read goes to `why`, when given, as a Status with
  // the system's text and errno (EISDIR for a folder, EINVAL for anything
  // else that is no regular file).
  static std::optional<MappedFile> Open(const std::string& path, Status* why = nullptr);
  // The same for an open descriptor, read from the start; its offset stays.
  static std::optional<MappedFile> Read(int fd, Status* why = nullptr);
  MappedFile(MappedFile&& other) noexcept;
  MappedFile& operator=(MappedFile&&) = delete;
  ~MappedFile();
  std::string_view text() const { return {data_, size_}; }
  // The identity of the bytes read (hashing them all).
  PageIdentity identity() const;
  // Lets the memory of the bytes before `offset` go, for a reader that is
  // past them: the text stays valid, and a byte read again is read again
  // from the file. Nothing for a small file read into a buffer.
  void Release(std::size_t offset) const;

 private:
  MappedFile(const char* data, std::size_t size, bool mapped, std::int64_t modified)
      : data_(data), size_(size), mapped_(mapped), modified_(modified) {}
  const char* data_ = nullptr;
  std::size_t size_ = 0;
  bool mapped_ = false;
  std::int64_t modified_ = 0;
};

}  // namespace quimbel
