// The small slice of the POSIX sockets API that a probe needs: name lookup,
// dotted-address conversion, a TCP socket with bounded waits, and a wake
// signal that lets another thread cut such a wait short.
//
// A TcpSocket belongs to the thread that created it; only that thread uses
// or closes it. Other threads reach a waiting socket through its WakeSignal,
// so a descriptor is never closed while its owner may still use the number.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/file_descriptor.h"

namespace quimbel {

enum class WaitResult { kReady, kTimedOut, kWoken, kFailed };

class WakeSignal;
// Waits `limit`, or less when `wake` fires: kTimedOut or kWoken.
WaitResult WaitForWake(const WakeSignal& wake, std::chrono::milliseconds limit);

// A wait's result and, when it is kReady, its value.
template <typename T>
struct WaitResultOf {
  WaitResult result = WaitResult::kFailed;
  std::optional<T> value;
};

// An IPv4 address in network byte order.
struct Ipv4Address {
  std::uint32_t network_order = 0;
};

// Converts a dotted-decimal text ("127.0.0.1", also the short forms the
// classic inet_addr accepts). No name lookup is made.
std::optional<Ipv4Address> ParseDottedAddress(const std::string& text);

// Looks a host name up (hosts file, then DNS). Names under the reserved
// top-level domain "invalid", and texts that cannot be host names at all
// (blanks, control or non-ASCII bytes, over-long names or labels), are
// answered "not found" without a query.
std::optional<Ipv4Address> LookupHost(const std::string& name);

// LookupHost() that waits at most `limit` and ends at once when `wake`
// fires: kReady with the address, kFailed when the name was not found,
// kTimedOut or kWoken. The system resolver cannot be interrupted, so the
// lookup runs on a helper thread that finishes on its own when the wait
// is given up. `resolve` stands in for LookupHost() in tests.
using Resolver = std::optional<Ipv4Address> (*)(const std::string& name);
WaitResultOf<Ipv4Address> LookupHostWithin(const std::string& name, std::chrono::milliseconds limit,
                                           const WakeSignal* wake, Resolver resolve = &LookupHost);

// Wakes one blocking wait of another thread. Level-triggered: once woken,
// every wait returns at once until Clear().
class WakeSignal {
 public:
  WakeSignal();
  ~WakeSignal();
  WakeSignal(const WakeSignal&) = delete;
  WakeSignal& operator=(const WakeSignal&) = delete;

  void Wake();
  void Clear();
  int fd() const { return fd_; }

 private:
  int fd_;
  std::atomic<bool> woken_{false};
};

class TcpSocket {
 public:
  TcpSocket() = default;
  TcpSocket(TcpSocket&&) noexcept = default;
  TcpSocket& operator=(TcpSocket&&) noexcept = default;
  TcpSocket(const TcpSocket&) = delete;
  TcpSocket& operator=(const TcpSocket&) = delete;

  // A new non-blocking IPv4 stream socket; !valid() when none could be made.
  static TcpSocket Create();
  bool valid() const { return fd_.valid(); }

  // Connects, waiting at most `limit`. kReady means connected.
  WaitResult Connect(Ipv4Address address, std::uint16_t port, std::chrono::milliseconds limit,
                     const WakeSignal* wake);

  // Sends all of `pieces` as one stream, waiting at most `limit` in all
  // for room in the socket's buffer; kReady once everything is out.
  WaitResult Send(std::span<const std::string_view> pieces, std::chrono::milliseconds limit,
                  const WakeSignal* wake);

  // Waits at most `limit` for data (or end of stream) to read.
  WaitResult WaitReadable(std::chrono::milliseconds limit, const WakeSignal* wake);

  // One receive call: bytes read, 0 at end of stream, -1 on failure.
  long Receive(char* buffer, std::size_t size);

  void Close();

 private:
  explicit TcpSocket(int fd) : fd_(fd) {}
  // `returned`, when given, receives the events poll reported.
  WaitResult WaitFor(short events, std::chrono::milliseconds limit, const WakeSignal* wake,
                     short* returned = nullptr);

  FileDescriptor fd_;
};

}  // namespace quimbel
