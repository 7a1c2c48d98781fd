#include "platform/status.h"

#include <cstring>

namespace quimbel {

Status Status::FromErrno(std::string_view action, std::string_view path, int error) {
  std::string message(action);
  message += ' ';
  message += path;
  message += ": ";
  message += std::strerror(error);
  return Status(std::move(message), error);
}

}  // namespace quimbel
