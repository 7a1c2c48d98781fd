// ScriptedServer: an HTTP-ish server on 127.0.0.1 for probe tests. Each
// request path gets a scripted behaviour; every connection's received bytes
// are recorded. Each connection is served on a thread of its own, so
// delayed replies overlap; bounded waits everywhere.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quimbel::testing {

enum class Behaviour {
  kReply,              // send `reply`, then close
  kSilence,            // keep the connection open, send nothing
  kCloseWithoutReply,  // close at once
  kKeepAlive,          // send `reply`, then read the next request on the connection
};

struct Script {
  Behaviour behaviour = Behaviour::kReply;
  std::string reply;
  std::chrono::milliseconds delay{0};  // before the reply
  std::string then = "";               // when set, the reply to every later request
};

class ScriptedServer {
 public:
  // On ::1 when `ipv6`; throws where there is no such loopback address.
  explicit ScriptedServer(bool ipv6 = false);
  ~ScriptedServer();

  std::uint16_t port() const { return port_; }
  // Unscripted paths get "HTTP/1.0 404 Not Found".
  void On(const std::string& path, Script script);
  // Sends `reply` to requests for `path`, then closes.
  void On(const std::string& path, std::string reply) {
    On(path, Script{Behaviour::kReply, std::move(reply)});
  }
  // The bytes of each connection's request, in order of arrival.
  std::vector<std::string> Requests();
  // The path of each request, in order of arrival.
  std::vector<std::string> Paths();
  // The most requests that were waiting for their replies at one time.
  int MostAtOnce() const { return most_at_once_; }
  // The connections accepted so far.
  int Connections() const { return connections_; }

 private:
  struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  void Serve();
  void Handle(int connection);
  // Reads and answers one request (the connection's first, or one after a
  // kept reply); true when the connection stays open for the next.
  bool HandleOne(int connection, bool first);
  void Reap(bool all);

  int listener_ = -1;
  int stop_ = -1;  // eventfd that ends Serve()
  std::uint16_t port_ = 0;
  std::mutex mutex_;
  std::map<std::string, Script> scripts_;  // guarded by mutex_
  std::vector<std::string> requests_;      // guarded by mutex_
  std::vector<int> parked_;                // silent connections; guarded by mutex_
  std::atomic<int> at_once_{0};
  std::atomic<int> most_at_once_{0};
  std::atomic<int> connections_{0};
  std::list<Worker> workers_;  // server thread only
  std::thread thread_;
};

// A loopback port with nothing listening on it.
std::uint16_t RefusedPort();

// A loopback listener that never accepts and whose queue is full, so a new
// connection attempt to it never completes.
class StalledListener {
 public:
  StalledListener();
  ~StalledListener();
  std::uint16_t port() const { return port_; }

 private:
  int listener_ = -1;
  std::uint16_t port_ = 0;
  std::vector<int> fillers_;
};

}  // namespace quimbel::testing
