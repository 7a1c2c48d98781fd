// The steps of a probe between its hops: where a transfer is pointed, and
// whether a move leads on or ends the chain (a loop, too many moves, or a
// place no probe can go). Probe thread only.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <utility>

#include "probe/host_pacing.h"
#include "probe/probe_worker.h"
#include "probe/transfer.h"

namespace quimbel {

// Points the transfer at the URL of its outcome: protocol, host, address,
// per-host key and request target. The outcome it ends in at once when the
// URL cannot be probed.
std::optional<OutcomeCode> AimTransfer(Transfer& transfer);

// Makes the transfer the next hop of its chain, to `next`: the first
// reply is kept, the hop gets the whole time limit. How the chain ends
// instead, when it does: a move where `policy` (if any) allows no request
// ends well there, unasked, as a move to a mail address does.
std::optional<std::pair<ChainEnd, OutcomeCode>> TakeNextHop(Transfer& transfer, std::string next,
                                                            const RequestPolicy* policy = nullptr);

// A busy server (429 or 503) that names a short wait gets one more try
// after it, within the link's time limit: when, or nothing. A 429 pauses
// its host in `pacing` for every link to it, not only this one.
std::optional<std::chrono::steady_clock::time_point> RetryDue(Transfer& transfer,
                                                              HostPacing& pacing);

}  // namespace quimbel
