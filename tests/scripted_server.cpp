#include "tests/scripted_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace quimbel::testing {
namespace {

int LoopbackListener(int backlog, std::uint16_t* port, bool ipv6 = false) {
  const int fd = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sockaddr_in6 address6{};
  address6.sin6_family = AF_INET6;
  address6.sin6_addr = in6addr_loopback;
  sockaddr* const bound =
      ipv6 ? reinterpret_cast<sockaddr*>(&address6) : reinterpret_cast<sockaddr*>(&address);
  socklen_t length = ipv6 ? sizeof address6 : sizeof address;
  if (fd < 0 || ::bind(fd, bound, length) != 0 || ::listen(fd, backlog) != 0 ||
      ::getsockname(fd, bound, &length) != 0) {
    if (fd >= 0) ::close(fd);
    throw std::runtime_error(ipv6 ? "cannot listen on ::1" : "cannot listen on 127.0.0.1");
  }
  *port = ntohs(ipv6 ? address6.sin6_port : address.sin_port);
  return fd;
}

// The path of a request line "GET <path> HTTP/1.0": the path may hold
// blanks, so it runs to the last blank of the line.
std::string RequestPath(const std::string& request) {
  const std::string line = request.substr(0, request.find('\n'));
  const std::size_t first = line.find(' ');
  const std::size_t last = line.rfind(' ');
  if (first == std::string::npos || last <= first) return {};
  return line.substr(first + 1, last - first - 1);
}

}  // namespace

ScriptedServer::ScriptedServer(bool ipv6) {
  listener_ = LoopbackListener(512, &port_, ipv6);
  stop_ = ::eventfd(0, EFD_CLOEXEC);
  thread_ = std::thread([this] { Serve(); });
}

ScriptedServer::~ScriptedServer() {
  const std::uint64_t one = 1;
  [[maybe_unused]] ssize_t written = ::write(stop_, &one, sizeof one);
  thread_.join();
  Reap(true);
  for (const int fd : parked_)
    ::close(fd);
  ::close(listener_);
  ::close(stop_);
}

void ScriptedServer::On(const std::string& path, Script script) {
  std::lock_guard lock(mutex_);
  scripts_[path] = std::move(script);
}

std::vector<std::string> ScriptedServer::Requests() {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::vector<std::string> ScriptedServer::Paths() {
  std::vector<std::string> paths;
  for (const std::string& request : Requests())
    paths.push_back(RequestPath(request));
  return paths;
}

void ScriptedServer::Serve() {
  for (;;) {
    pollfd fds[2] = {{listener_, POLLIN, 0}, {stop_, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) continue;
    if (fds[1].revents & POLLIN) return;
    const int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    Reap(false);
    if (connection < 0) continue;
    auto done = std::make_shared<std::atomic<bool>>(false);
    workers_.push_back({std::thread([this, connection, done] {
                          Handle(connection);
                          *done = true;
                        }),
                        done});
  }
}

void ScriptedServer::Reap(bool all) {
  for (auto it = workers_.begin(); it != workers_.end();) {
    if (all || *it->done) {
      it->thread.join();
      it = workers_.erase(it);
    } else {
      ++it;
    }
  }
}

void ScriptedServer::Handle(int connection) {
  ++connections_;
  for (bool first = true; HandleOne(connection, first); first = false) {
  }
}

bool ScriptedServer::HandleOne(int connection, bool first) {
  // Read until the blank line that ends the header, the client's close, or
  // ten seconds: enough for any probe (a request of megabytes under a
  // sanitizer too), bounded for a broken one.
  std::string request;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  std::size_t searched = 0;  // the end of the header is looked for in new bytes only
  while (request.find("\r\n\r\n", searched) == std::string::npos) {
    searched = request.size() < 3 ? 0 : request.size() - 3;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd fds[2] = {{connection, POLLIN, 0}, {stop_, POLLIN, 0}};
    if (left.count() <= 0 || ::poll(fds, 2, static_cast<int>(left.count())) <= 0) break;
    if (fds[1].revents & POLLIN) break;
    char buffer[1 << 16];
    const ssize_t got = ::recv(connection, buffer, sizeof buffer, 0);
    if (got <= 0) break;
    request.append(buffer, static_cast<std::size_t>(got));
  }
  if (!first && request.find("\r\n\r\n") == std::string::npos) {
    // The client closed the connection it kept, or never finished asking.
    ::close(connection);
    return false;
  }
  Script script{Behaviour::kReply, "HTTP/1.0 404 Not Found\r\n\r\n"};
  {
    std::lock_guard lock(mutex_);
    requests_.push_back(request);
    if (auto found = scripts_.find(RequestPath(request)); found != scripts_.end()) {
      script = found->second;
      if (!script.then.empty()) found->second.reply = script.then;
    }
  }
  // A request counts as open from when it is in until its reply goes out,
  // so a client that waits for each reply never has two open.
  const int now = ++at_once_;
  for (int most = most_at_once_; now > most && !most_at_once_.compare_exchange_weak(most, now);) {
  }
  if (script.delay.count() > 0) {
    pollfd stop{stop_, POLLIN, 0};
    ::poll(&stop, 1, static_cast<int>(script.delay.count()));
  }
  --at_once_;
  switch (script.behaviour) {
    case Behaviour::kReply:
      // The client may close after its one read; a failed send is fine.
      ::send(connection, script.reply.data(), script.reply.size(), MSG_NOSIGNAL);
      ::close(connection);
      break;
    case Behaviour::kSilence: {
      std::lock_guard lock(mutex_);
      parked_.push_back(connection);
      break;
    }
    case Behaviour::kCloseWithoutReply:
      ::close(connection);
      break;
    case Behaviour::kKeepAlive:
      if (::send(connection, script.reply.data(), script.reply.size(), MSG_NOSIGNAL) < 0) {
        ::close(connection);
        break;
      }
      return true;
  }
  return false;
}

std::uint16_t RefusedPort() {
  std::uint16_t port = 0;
  ::close(LoopbackListener(1, &port));
  return port;
}

StalledListener::StalledListener() {
  listener_ = LoopbackListener(0, &port_);
  // Linux queues backlog + 1 finished handshakes and then drops further
  // SYNs, so a few connections that complete fill the queue; the first one
  // that does not complete within a moment proves it is full.
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port_);
  for (int attempt = 0; attempt < 16; ++attempt) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    fillers_.push_back(fd);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) continue;
    pollfd pending{fd, POLLOUT, 0};
    if (::poll(&pending, 1, 200) == 0) return;  // this one hangs: the queue is full
  }
  throw std::runtime_error("could not fill the listen queue");
}

StalledListener::~StalledListener() {
  for (const int fd : fillers_)
    ::close(fd);
  ::close(listener_);
}

}  // namespace quimbel::testing
