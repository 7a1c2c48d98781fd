// Line-by-line reading and crash-safe rewriting of text files.
//
// LineReader hands out whole lines, each with its own line end ("\n",
// "\r\n", or none for a last line without one), through a fixed buffer:
// memory grows only with the longest line, never with the file.
//
// ReplacementFile collects a file's new text in a temporary file beside it
// and, on Commit(), gives it the old file's owner, group and permissions,
// flushes it to disk and renames it over the old file in one step: the file
// is always either wholly old or wholly new, even if the program dies
// halfway. Each temporary file has a fresh name and is created exclusively,
// so two programs working on one folder never share one; a temporary file
// that was not committed is removed by the object that made it, and by
// nothing else. One thread at a time.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/file_descriptor.h"
#include "platform/status.h"

namespace quimbel {

// Opens an existing regular file for reading; invalid when it cannot be.
// Never blocks on a fifo or device: those are refused unopened.
FileDescriptor OpenForReading(const std::string& path);

// True for a regular file (links followed); a fifo, device, folder or
// missing path is not one.
bool IsRegularFile(const std::string& path);

// The file name prefix of every temporary file Quimbel makes.
inline constexpr std::string_view kTemporaryPrefix = ".~quimbel-";

// True for a name (without folder) that a Quimbel run left behind when it
// was interrupted: its own temporary files, and the ".t~p" files of older
// versions. Such files are never taken as input.
bool IsLeftoverTemporary(std::string_view file_name);

// Whether the file at `path` may be replaced: it has a write bit and we
// may write it. A file without any write bit is refused even for the
// superuser, whom access() would let through.
Status CheckWritable(const std::string& path);

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

// Writes all of `data` to a pipe or device opened with O_NONBLOCK, waiting
// for room as long as the reader takes some within `stall`, and giving up
// at once when `cancelled` says so. 0, or the errno of the failure
// (ETIMEDOUT for a reader that stopped, ECANCELED for a cancel).
int WriteToStream(int fd, std::string_view data, const std::function<bool()>& cancelled,
                  std::chrono::milliseconds stall);

class ReplacementFile {
 public:
  // A fresh, exclusively created temporary file beside `target` that will
  // take its place. Nothing, with the reason in `status`, when it cannot
  // be created. With a `root`, the target's folder must lie inside it (see
  // OpenFolderBeneath), EXDEV otherwise; the folder is held open from now
  // on, so a link swapped in on the way later cannot redirect the write.
  static std::optional<ReplacementFile> CreateBeside(const std::string& target,
                                                     Status* status = nullptr,
                                                     const std::string& root = {});

  ReplacementFile(ReplacementFile&&) noexcept;
  ReplacementFile& operator=(ReplacementFile&&) noexcept;
  ~ReplacementFile();

  // False once any write has failed; later writes are skipped.
  bool Write(std::string_view data);
  enum class Install {
    kReplace,       // the new text takes the place of the target
    kKeepExisting,  // the new text becomes the target only if there is none
  };
  // Puts the new text in the target's place with the permissions, owner
  // and group of `original`. On failure the target is untouched, the
  // temporary file removed, and the reason returned.
  Status Commit(const struct stat& original, Install install = Install::kReplace);
  // Removes the temporary file; the target stays as it was.
  void Abandon();

  const std::string& temporary() const { return temporary_; }

 private:
  ReplacementFile(std::string target, FileDescriptor folder, std::string temporary,
                  FileDescriptor fd);

  // Writes what is buffered; false (with error_ set) on failure.
  bool Flush();

  static constexpr std::size_t kBufferSize = 1 << 16;
  std::string target_;
  FileDescriptor folder_;  // the folder of target and temporary file, for the *at() calls
  std::string temporary_;
  FileDescriptor fd_;
  std::string buffer_;  // small writes gather here; one system call per 64 KiB
  int error_ = 0;       // of the first failed write
  bool done_ = false;
};

}  // namespace quimbel
