// ConnectToHost: the connect step of a probe. Runs on the probe worker.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/tcp_socket.h"
#include "probe/outcome_code.h"

namespace quimbel {

struct Connection {
  OutcomeCode code = kConnectFailed;
  TcpSocket socket;        // connected when code is 0
  bool cancelled = false;  // the wake signal cut the attempt short
};

// Connects to `host` at `port` (no port: the URL named an invalid one).
// Empty host or invalid port 10001; a name starting with a digit is taken as
// a dotted address without lookup; lookup failure 10002 (the lookup
// spends the same time limit as the connection, and running out of it is a
// failure too); no socket 10003;
// refused, unreachable, not an address, out of time or woken 10004.
Connection ConnectToHost(const std::string& host, std::optional<std::uint16_t> port,
                         std::chrono::milliseconds limit, const WakeSignal* wake);

}  // namespace quimbel
