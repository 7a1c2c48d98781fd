// Recheck: "Recheck Selected" on its own. The links of some rows are asked
// about again, each distinct request once (a local one is looked up on
// disk at once); when every reply is in, a row whose link is now good goes
// and the others take their new reasons, and the log says which.
//
// It kicks its probes through the function it is given and hears their
// outcomes from its owner, which passes on those of its jobs. User-
// interface thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/local_links.h"
#include "core/outcome_verdict.h"
#include "core/result_list.h"
#include "core/run_host.h"
#include "probe/probe_worker.h"

namespace quimbel {

class Recheck {
 public:
  // Starts a probe of `url`, reading its page when `body` says so; its job.
  using Kick = std::function<std::uint64_t(const std::string& url, BodyWanted body)>;

  // What an outcome makes of its rows: nothing when the link is good.
  using Judge = std::function<std::optional<Verdict>(const ProbeOutcome& outcome)>;

  Recheck(ResultList& results, RunHost& host, Judge judge)
      : results_(results), host_(host), judge_(std::move(judge)) {}

  // Checks the rows again; the local ones against `options`. The recheck may
  // end in the call (every link on disk): then done() is true.
  void Start(const std::vector<std::size_t>& rows, const LocalLinkOptions& options,
             const Kick& kick);
  // Whether `job` is one of this recheck's probes still out.
  bool Owns(std::uint64_t job) const { return jobs_.contains(job); }
  // A probe's outcome; the rows change once the last is in.
  void OnDone(std::uint64_t job, const ProbeOutcome& outcome);
  // Forgets the probes out; the rows stay as they are.
  void Cancel();
  bool done() const { return jobs_.empty(); }

 private:
  void Finish();

  ResultList& results_;
  RunHost& host_;
  Judge judge_;
  // The rows waiting for each probe, and what came back for each row.
  std::unordered_map<std::uint64_t, std::vector<std::size_t>> jobs_;
  std::vector<std::pair<std::size_t, std::optional<Verdict>>> verdicts_;
};

}  // namespace quimbel
