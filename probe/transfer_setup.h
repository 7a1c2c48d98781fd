// How one hop of a transfer is put to libcurl: where it connects, the
// request it sends, its time limits, proxies and certificate trust.
// Probe thread only.
#pragma once

#include <curl/curl.h>

#include <chrono>

#include "probe/probe_worker.h"
#include "probe/transfer.h"

namespace quimbel {

// Sets every option of `easy` for the transfer's next hop, which must end
// by its deadline. False when the request cannot go out (a target longer
// than curl takes).
// What is left of the link's time limit for its next hop, at least a
// millisecond (curl reads 0 as no limit). The clock starts at the hop's
// first try: a retry after Retry-After spends from the same deadline, a
// redirect starts it afresh.
std::chrono::milliseconds HopTimeLimit(Transfer& transfer);

bool SetUpTransfer(CURL* easy, Transfer& transfer, const ProbeSettings& settings);

}  // namespace quimbel
