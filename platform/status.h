// Status: the outcome of a file operation that can fail, with the reason
// a user can act on ("Cannot replace /x/page.html: No space left on
// device") and an errno value a caller can branch on (ENOSPC, EROFS,
// ESTALE for a page changed since it was checked, EBUSY for one another
// program holds, ECANCELED for a stop). Cheap to copy; any thread.
#pragma once

#include <cerrno>
#include <string>
#include <string_view>
#include <utility>

namespace quimbel {

class [[nodiscard]] Status {
 public:
  Status() = default;  // success
  static Status Ok() { return Status(); }
  static Status Error(std::string message, int error = EIO) {
    return Status(std::move(message), error);
  }
  // A value or a text that is no good: an option, a pattern, a file's
  // contents (EINVAL).
  static Status Invalid(std::string message) { return Status(std::move(message), EINVAL); }
  // "<action> <path>: <the system's text for error>".
  static Status FromErrno(std::string_view action, std::string_view path, int error);

  bool ok() const { return message_.empty(); }
  explicit operator bool() const { return ok(); }
  // Empty on success.
  const std::string& message() const { return message_; }
  // The errno value of a failure; 0 on success.
  int error() const { return error_; }

 private:
  Status(std::string message, int error) : message_(std::move(message)), error_(error) {
    if (message_.empty()) message_ = "Unknown error";
    if (error_ == 0) error_ = EIO;
  }
  std::string message_;
  int error_ = 0;
};

}  // namespace quimbel
