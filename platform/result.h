// Result<T>: a value, or the Status that says why there is none. The one
// way a function that makes something reports that it could not; a
// function that only does something returns a Status. Any thread.
#pragma once

#include <cassert>
#include <utility>
#include <variant>

#include "platform/status.h"

namespace quimbel {

template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : held_(std::move(value)) {}  // NOLINT(google-explicit-constructor)
  // A failed status only: a Result that is neither value nor failure
  // would be read as a value nobody made.
  Result(Status failure) : held_(std::move(failure)) {  // NOLINT(google-explicit-constructor)
    assert(!std::get<Status>(held_).ok());
  }

  bool ok() const { return std::holds_alternative<T>(held_); }
  explicit operator bool() const { return ok(); }

  T& value() & { return std::get<T>(held_); }
  const T& value() const& { return std::get<T>(held_); }
  T&& value() && { return std::get<T>(std::move(held_)); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  // Ok when there is a value.
  Status status() const { return ok() ? Status::Ok() : std::get<Status>(held_); }
  // Empty when there is a value.
  const std::string& message() const {
    static const std::string kNone;
    return ok() ? kNone : std::get<Status>(held_).message();
  }

 private:
  std::variant<T, Status> held_;
};

}  // namespace quimbel
