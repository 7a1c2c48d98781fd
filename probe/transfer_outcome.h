// The outcome code of a probe's transfer: before it starts (a URL that
// cannot be probed at all) and when libcurl ends it. Pure functions apart
// from reading the transfer's timing from its handle; the probe thread's.
#pragma once

#include <curl/curl.h>

#include <optional>
#include <string>

#include "probe/outcome_code.h"

namespace quimbel {

// The outcome a URL gets before any transfer, when it cannot have one: a
// bad port or host, a name that cannot exist. Otherwise nothing, and
// `address` is what to connect to (the host, or its dotted form).
std::optional<OutcomeCode> RefusedBeforeTransfer(const std::string& url, const std::string& host,
                                                 std::string* address);

// What a transfer knew when it ended.
struct TransferFacts {
  bool ended_here = false;         // the worker ended it: enough was read
  bool looked_up_by_name = false;  // its host is a name, not an address
  bool reply_read = false;         // some of a reply came back
};

// The outcome code of a transfer that libcurl ended with `result`.
OutcomeCode TransferOutcome(CURL* easy, CURLcode result, const TransferFacts& facts);

}  // namespace quimbel
