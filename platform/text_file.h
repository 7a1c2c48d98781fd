// Line-by-line reading and crash-safe rewriting of text files.
//
// LineReader hands out whole lines, each with its own line end ("\n",
// "\r\n", or none for a last line without one), through a fixed buffer:
// memory grows only with the longest line, never with the file.
//
// ReplacementFile collects a file's new text in a temporary file beside it
// and, on Commit(), gives it the old file's permissions, flushes it to disk
// and renames it over the old file in one step: the file is always either
// wholly old or wholly new, even if the program dies halfway. A temporary
// file that was not committed is removed. One thread at a time.
#pragma once

#include <sys/types.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/file_descriptor.h"

namespace quimbel {

// Opens an existing regular file for reading; invalid when it cannot be.
FileDescriptor OpenForReading(const std::string& path);

class LineReader {
 public:
  explicit LineReader(int fd);

  // The next line without its line end, and that end; false at the end of
  // the file or on a read error (see failed()).
  bool Next(std::string* line, std::string* end);
  bool failed() const { return failed_; }

 private:
  static constexpr std::size_t kSize = 1 << 16;
  int fd_;
  std::unique_ptr<char[]> buffer_;
  std::size_t begin_ = 0;
  std::size_t size_ = 0;
  bool failed_ = false;
};

// Writes all of `data`; false on any failure (a full disk included).
bool WriteAll(int fd, std::string_view data);

class ReplacementFile {
 public:
  // A new, empty temporary file `temporary` (replacing any file of that
  // name) that will take the place of `target`. Nothing when it cannot be
  // created.
  static std::optional<ReplacementFile> Create(const std::string& target,
                                               const std::string& temporary);
  // The same, with a fresh uniquely named temporary file beside `target`.
  static std::optional<ReplacementFile> CreateBeside(const std::string& target);

  ReplacementFile(ReplacementFile&&) noexcept;
  ReplacementFile& operator=(ReplacementFile&&) noexcept;
  ~ReplacementFile();

  // False once any write has failed; later writes are skipped.
  bool Write(std::string_view data);
  enum class Install {
    kReplace,       // the new text takes the place of the target
    kKeepExisting,  // the new text becomes the target only if there is none
  };
  // Puts the new text in the target's place. False, with the target
  // untouched and the temporary file removed, when anything failed.
  bool Commit(mode_t mode, Install install = Install::kReplace);
  // Removes the temporary file; the target stays as it was.
  void Abandon();

  const std::string& temporary() const { return temporary_; }

 private:
  ReplacementFile(std::string target, std::string temporary, FileDescriptor fd);

  std::string target_;
  std::string temporary_;
  FileDescriptor fd_;
  bool ok_ = true;
  bool done_ = false;
};

}  // namespace quimbel
