// What a probe's outcome makes of a row: the reply classification of a
// test run and of a recheck alike. Pure apart from the beep and the flag
// of a code without a category; any thread, one outcome at a time.
#pragma once

#include <optional>
#include <string>

#include "core/beeper.h"
#include "core/report_filter.h"
#include "probe/probe_worker.h"

namespace quimbel {

struct Verdict {
  std::string reason;
  OutcomeCode code = 0;
  std::string alternate;
  std::string redirects;  // the chain of a followed move, one URL per line
};

// Nothing when the outcome is good or its category is not reported; else
// the row's reason, code, alternate URL and redirect chain. A code without
// a category sets `unknown_error_seen` and sounds the exclamation beep.
std::optional<Verdict> OutcomeVerdict(const ProbeOutcome& outcome, const ReportFilter& filter,
                                      bool& unknown_error_seen, Beeper& beeper);

}  // namespace quimbel
