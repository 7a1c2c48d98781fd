// Status: the outcome of a file operation that can fail, with the reason
// a user can act on ("Cannot replace /x/page.html: No space left on
// device"). Cheap to copy; any thread.
#pragma once

#include <string>
#include <string_view>
#include <utility>

namespace quimbel {

class [[nodiscard]] Status {
 public:
  Status() = default;  // success
  static Status Ok() { return Status(); }
  static Status Error(std::string message) { return Status(std::move(message)); }
  // "<action> <path>: <the system's text for error>".
  static Status FromErrno(std::string_view action, std::string_view path, int error);

  bool ok() const { return message_.empty(); }
  explicit operator bool() const { return ok(); }
  // Empty on success.
  const std::string& message() const { return message_; }

 private:
  explicit Status(std::string message) : message_(std::move(message)) {
    if (message_.empty()) message_ = "Unknown error";
  }
  std::string message_;
};

}  // namespace quimbel
