#include "probe/connect.h"

namespace quimbel {

Connection ConnectToHost(const std::string& host, std::optional<std::uint16_t> port,
                         std::chrono::milliseconds limit, const WakeSignal* wake) {
  Connection result;
  if (host.empty() || !port) {
    result.code = kInvalidPortOrName;
    return result;
  }
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + limit;
  std::optional<Ipv4Address> address;
  if (host.front() >= '0' && host.front() <= '9') {
    // Digit-led names are never looked up; one that is no dotted address
    // simply cannot be connected to.
    address = ParseDottedAddress(host);
    if (!address) return result;
  } else {
    // The lookup spends the same time limit as the connection.
    const WaitResultOf<Ipv4Address> found = LookupHostWithin(host, limit, wake);
    if (found.result == WaitResult::kWoken) {
      result.cancelled = true;
      return result;
    }
    if (!found.value) {
      result.code = kHostNotFound;
      return result;
    }
    address = found.value;
  }
  TcpSocket socket = TcpSocket::Create();
  if (!socket.valid()) {
    result.code = kNoSocket;
    return result;
  }
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  const WaitResult connected =
      socket.Connect(*address, *port, std::max(left, std::chrono::milliseconds(0)), wake);
  if (connected != WaitResult::kReady) {
    result.cancelled = connected == WaitResult::kWoken;
    return result;
  }
  result.code = kReplyRead;
  result.socket = std::move(socket);
  return result;
}

}  // namespace quimbel
