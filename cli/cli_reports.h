// What quimbel-cli leaves behind after a test: the listing on standard
// output, the repair when asked for, and the report files.
// quimbel-cli's main thread, once the run is over.
#pragma once

#include <functional>

#include "cli/cli_options.h"
#include "core/run_controller.h"
#include "export/machine_reports.h"
#include "platform/config_store.h"

namespace quimbel {

struct ReportOutcome {
  bool repaired = true;  // no repair asked for, or it completed
  bool written = true;   // every listing and file complete
};

// Writes the listing, repairs when asked (never after a stop or a failed
// run) and writes the report files. `interrupted` says whether Ctrl+C came.
ReportOutcome WriteTestReports(const CliOptions& options, const RunReport& report,
                               RunController& controller, ConfigStore& config, bool run_failed,
                               const std::function<bool()>& interrupted);

}  // namespace quimbel
