#include "probe/connect.h"

namespace quimbel {

Connection ConnectToHost(const std::string& host, std::optional<std::uint16_t> port,
                         std::chrono::milliseconds limit, const WakeSignal* wake) {
  Connection result;
  if (host.empty() || !port) {
    result.code = kInvalidPortOrName;
    return result;
  }
  std::optional<Ipv4Address> address;
  if (host.front() >= '0' && host.front() <= '9') {
    // Digit-led names are never looked up; one that is no dotted address
    // simply cannot be connected to.
    address = ParseDottedAddress(host);
    if (!address) return result;
  } else {
    address = LookupHost(host);
    if (!address) {
      result.code = kHostNotFound;
      return result;
    }
  }
  TcpSocket socket = TcpSocket::Create();
  if (!socket.valid()) {
    result.code = kNoSocket;
    return result;
  }
  const WaitResult connected = socket.Connect(*address, *port, limit, wake);
  if (connected != WaitResult::kReady) {
    result.cancelled = connected == WaitResult::kWoken;
    return result;
  }
  result.code = kReplyRead;
  result.socket = std::move(socket);
  return result;
}

}  // namespace quimbel
