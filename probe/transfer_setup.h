// How one hop of a transfer is put to libcurl: where it connects, the
// request it sends, its time limits, proxies and certificate trust.
// Probe thread only.
#pragma once

#include <curl/curl.h>

#include "probe/probe_worker.h"
#include "probe/transfer.h"

namespace quimbel {

// Sets every option of `easy` for the transfer's next hop, which must end
// by its deadline. False when the request cannot go out (a target longer
// than curl takes).
bool SetUpTransfer(CURL* easy, Transfer& transfer, const ProbeSettings& settings);

}  // namespace quimbel
