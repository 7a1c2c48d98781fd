// NginxServer: a real nginx on a free 127.0.0.1 port, with its own config
// and document root in a temporary folder, stopped by its PID.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace quimbel::testing {

// A certificate and its key, in PEM files.
struct TlsIdentity {
  std::filesystem::path certificate;
  std::filesystem::path key;
};

class NginxServer {
 public:
  // Serves `files` (relative path to contents) over http, and over https on
  // one more port per identity; .html pages as text/html. Throws when nginx
  // is not installed or does not come up within five seconds.
  struct Options {
    std::vector<TlsIdentity> identities;
    bool log_requests = false;  // RequestedPaths() lists what was asked for
  };
  explicit NginxServer(const std::map<std::string, std::string>& files)
      : NginxServer(files, Options{}) {}
  NginxServer(const std::map<std::string, std::string>& files, const Options& options);

  // Adds files to those served (a site that names the server's own port).
  void AddFiles(const std::map<std::string, std::string>& files);

  // Every request's target so far, in the order they were served.
  std::vector<std::string> RequestedPaths() const;
  ~NginxServer();

  std::uint16_t port() const { return port_; }
  std::uint16_t tls_port(std::size_t identity) const { return tls_ports_.at(identity); }

 private:
  std::filesystem::path folder_;
  std::uint16_t port_ = 0;
  std::vector<std::uint16_t> tls_ports_;
  pid_t pid_ = -1;
};

// A loopback HTTPS server on Node's http2 module (tests/h2_server.js):
// HTTP/2 where the client offers it, HTTP/1.1 otherwise or with `h1_only`.
// Throws when node is not installed or the server does not come up within
// five seconds.
class H2Server {
 public:
  struct Options {
    int max_streams = 100;  // the concurrent streams its SETTINGS allow
    int delay_ms = 0;       // before each ordinary reply
    bool h1_only = false;
  };
  H2Server(const TlsIdentity& identity, const Options& options);
  ~H2Server();
  H2Server(const H2Server&) = delete;
  H2Server& operator=(const H2Server&) = delete;

  std::uint16_t port() const { return port_; }
  std::string Url(const std::string& path) const {
    return "https://127.0.0.1:" + std::to_string(port_) + path;
  }
  // Its log: "connection N" for each connection, "N PROTOCOL PATH" for each
  // request, in order.
  std::vector<std::string> Log() const;

 private:
  std::filesystem::path folder_;
  std::uint16_t port_ = 0;
  pid_t pid_ = -1;
};

// Certificates made with openssl for a test: a private CA, a leaf it
// signed for 127.0.0.1 and localhost, one that expired yesterday, and one
// for another name. Throws when openssl is missing or fails.
class TestCertificates {
 public:
  TestCertificates();
  ~TestCertificates();
  const std::filesystem::path& ca() const { return ca_; }
  TlsIdentity good, expired, wrong_name;

 private:
  std::filesystem::path folder_;
  std::filesystem::path ca_;
};

}  // namespace quimbel::testing
