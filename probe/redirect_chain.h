// The steps of a probe between its hops: where a transfer is pointed, and
// whether a move leads on or ends the chain (a loop, too many moves, or a
// place no probe can go). Probe thread only.
#pragma once

#include <optional>
#include <string>
#include <utility>

#include "probe/probe_worker.h"
#include "probe/transfer.h"

namespace quimbel {

// Points the transfer at the URL of its outcome: protocol, host, address,
// per-host key and request target. The outcome it ends in at once when the
// URL cannot be probed.
std::optional<OutcomeCode> AimTransfer(Transfer& transfer);

// Makes the transfer the next hop of its chain, to `next`: the first
// reply is kept, the hop gets the whole time limit. How the chain ends
// instead, when it does.
std::optional<std::pair<ChainEnd, OutcomeCode>> TakeNextHop(Transfer& transfer, std::string next);

}  // namespace quimbel
