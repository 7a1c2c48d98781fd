// The command line of quimbel-cli, read through the run option table, with
// the quimbel.toml under the path checked laid beneath it. quimbel-cli's main thread.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "core/run_options.h"
#include "export/machine_reports.h"
#include "repair/repair_engine.h"

namespace quimbel {

inline constexpr int kExitNoRows = 0;
inline constexpr int kExitRows = 1;
inline constexpr int kExitCannotRun = 2;
inline constexpr int kExitInterrupted = 130;

struct CliOptions {
  std::string path;
  RunOptions run;
  ReportFormat format = ReportFormat::kText;
  std::vector<std::pair<ReportFormat, std::string>> outputs;
  std::optional<RepairType> repair_type;
  std::string config_used;  // the project config whose options were read
  // PATH is a folder named without -a or -r, checked as -r -x: what
  // someone who types "quimbel-cli site/" means.
  bool folder_as_site = false;
};

// Whether a PATH that names nothing on disk was meant as a web address
// ("www.example.org", "example.org/docs"): its first part a host name,
// not a page's file name.
bool LooksLikeWebAddress(std::string_view path);

// The options, or the exit status when there is nothing to run (help,
// version, or a mistake already told on standard error).
std::variant<CliOptions, int> ParseCommandLine(int argc, char** argv);

}  // namespace quimbel
