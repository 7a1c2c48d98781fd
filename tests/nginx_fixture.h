// NginxServer: a real nginx on a free 127.0.0.1 port, with its own config
// and document root in a temporary folder, stopped by its PID.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>

namespace quimbel::testing {

class NginxServer {
 public:
  // Serves `files` (relative path to contents). Throws when nginx is not
  // installed or does not come up within five seconds.
  explicit NginxServer(const std::map<std::string, std::string>& files);
  ~NginxServer();

  std::uint16_t port() const { return port_; }

 private:
  std::filesystem::path folder_;
  std::uint16_t port_ = 0;
  pid_t pid_ = -1;
};

}  // namespace quimbel::testing
