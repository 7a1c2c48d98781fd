#include "tests/nginx_fixture.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#include "tests/scripted_server.h"

extern char** environ;

namespace quimbel::testing {
namespace {

constexpr const char* kNginx = "/usr/sbin/nginx";

// The arguments as posix_spawn takes them; `args` must outlive them.
std::vector<char*> Argv(std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (auto& arg : args)
    argv.push_back(arg.data());
  argv.push_back(nullptr);
  return argv;
}

void WriteFile(const std::filesystem::path& path, const std::string& contents) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << contents;
}

bool Accepts(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return ok;
}

}  // namespace

NginxServer::NginxServer(const std::map<std::string, std::string>& files, const Options& options) {
  if (::access(kNginx, X_OK) != 0) {
    throw std::runtime_error("nginx is not installed (apt-get install nginx-light)");
  }
  char pattern[] = "/tmp/quimbel-nginx-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
  folder_ = pattern;
  for (const auto& [name, contents] : files)
    WriteFile(folder_ / "www" / name, contents);

  // Free ports now; nginx takes them a moment later. Each must differ: two
  // servers on one port would share its TLS setting, and the system may
  // hand out a just-closed port again.
  std::set<std::uint16_t> taken;
  const auto free_port = [&] {
    for (;;) {
      const std::uint16_t port = RefusedPort();
      if (taken.insert(port).second) return port;
    }
  };
  port_ = free_port();
  const std::string dir = folder_.string();
  std::string servers = "  server {\n    listen 127.0.0.1:" + std::to_string(port_) +
                        ";\n    root " + dir + "/www;\n  }\n";
  for (const TlsIdentity& identity : options.identities) {
    tls_ports_.push_back(free_port());
    servers += "  server {\n    listen 127.0.0.1:" + std::to_string(tls_ports_.back()) +
               " ssl;\n    ssl_certificate " + identity.certificate.string() +
               ";\n    ssl_certificate_key " + identity.key.string() + ";\n    root " + dir +
               "/www;\n  }\n";
  }
  WriteFile(folder_ / "nginx.conf",
            "daemon off;\nmaster_process off;\npid " + dir + "/nginx.pid;\nerror_log " + dir +
                "/error.log;\nevents { worker_connections 256; }\nhttp {\n" +
                (options.log_requests ? "  log_format paths '$request_uri';\n  access_log " + dir +
                                            "/access.log paths;\n"
                                      : std::string("  access_log off;\n")) +
                "  types { text/html html htm; text/xml xml; text/plain txt; image/png png; "
                "text/css css; }\n"
                "  client_body_temp_path " +
                dir + "/body;\n" + servers + "}\n");

  std::vector<std::string> args = {
      kNginx, "-p", dir, "-e", dir + "/error.log", "-c", dir + "/nginx.conf"};
  std::vector<char*> argv = Argv(args);
  if (::posix_spawn(&pid_, kNginx, nullptr, nullptr, argv.data(), environ) != 0) {
    throw std::runtime_error("cannot start nginx");
  }
  for (int attempt = 0; attempt < 100; ++attempt) {
    bool all = Accepts(port_);
    for (const std::uint16_t port : tls_ports_)
      all = all && Accepts(port);
    if (all) return;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      throw std::runtime_error("nginx exited at start; see " + dir + "/error.log");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ::kill(pid_, SIGTERM);
  ::waitpid(pid_, nullptr, 0);
  pid_ = -1;
  throw std::runtime_error("nginx did not come up within five seconds");
}

void NginxServer::AddFiles(const std::map<std::string, std::string>& files) {
  for (const auto& [name, contents] : files)
    WriteFile(folder_ / "www" / name, contents);
}

std::vector<std::string> NginxServer::RequestedPaths() const {
  std::vector<std::string> paths;
  std::ifstream log(folder_ / "access.log");
  for (std::string line; std::getline(log, line);)
    paths.push_back(line);
  return paths;
}

NginxServer::~NginxServer() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

H2Server::H2Server(const TlsIdentity& identity, const Options& options) {
  char pattern[] = "/tmp/quimbel-h2-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
  folder_ = pattern;
  static constexpr const char* kNode = "/usr/bin/node";
  if (::access(kNode, X_OK) != 0) throw std::runtime_error("node is not installed");
  std::vector<std::string> args = {kNode,
                                   QUIMBEL_SOURCE_DIR "/tests/h2_server.js",
                                   identity.certificate.string(),
                                   identity.key.string(),
                                   (folder_ / "log").string(),
                                   "--max-streams",
                                   std::to_string(options.max_streams),
                                   "--delay",
                                   std::to_string(options.delay_ms)};
  if (options.h1_only) args.emplace_back("--h1-only");
  std::vector<char*> argv = Argv(args);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const std::string port_file = (folder_ / "port").string();
  posix_spawn_file_actions_addopen(&actions, 1, port_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  const int spawned = ::posix_spawn(&pid_, kNode, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw std::runtime_error("cannot start node");
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::ifstream in(port_file);
    int port = 0;
    if (in >> port && port > 0) {
      port_ = static_cast<std::uint16_t>(port);
      return;
    }
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      throw std::runtime_error("the HTTP/2 server exited at start");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ::kill(pid_, SIGTERM);
  ::waitpid(pid_, nullptr, 0);
  pid_ = -1;
  throw std::runtime_error("the HTTP/2 server did not come up within five seconds");
}

H2Server::~H2Server() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

std::vector<std::string> H2Server::Log() const {
  std::vector<std::string> lines;
  std::ifstream log(folder_ / "log");
  for (std::string line; std::getline(log, line);)
    lines.push_back(line);
  return lines;
}

TestCertificates::TestCertificates() {
  char pattern[] = "/tmp/quimbel-certs-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
  folder_ = pattern;
  const std::string dir = folder_.string();
  ca_ = folder_ / "ca.pem";
  const auto leaf = [&](const std::string& name, const std::string& names, int days) {
    WriteFile(folder_ / (name + ".ext"), "subjectAltName=" + names + "\n");
    const std::string base = dir + "/" + name;
    const std::string command =
        "(openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout " + base +
        ".key -out " + base + ".csr -subj /CN=" + name + " && openssl x509 -req -in " + base +
        ".csr -CA " + dir + "/ca.pem -CAkey " + dir + "/ca.key -CAcreateserial -days " +
        std::to_string(days) + " -extfile " + base + ".ext -out " + base + ".pem)";
    if (std::system((command + " >/dev/null 2>&1").c_str()) != 0) {
      throw std::runtime_error("openssl could not make the " + name + " certificate");
    }
    return TlsIdentity{base + ".pem", base + ".key"};
  };
  const std::string make_ca =
      "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout " + dir +
      "/ca.key -out " + dir + "/ca.pem -days 2 -subj '/CN=Quimbel Test CA' >/dev/null 2>&1";
  if (std::system(make_ca.c_str()) != 0) throw std::runtime_error("openssl could not make a CA");
  good = leaf("good", "IP:127.0.0.1,DNS:localhost", 2);
  expired = leaf("expired", "IP:127.0.0.1,DNS:localhost", -1);
  wrong_name = leaf("wrong", "DNS:wrong.test", 2);
}

TestCertificates::~TestCertificates() {
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

}  // namespace quimbel::testing
