// ProbeWorker: the long-lived thread that probes one URL per kick.
//
// The controller (user-interface thread) calls Kick() with the URL and the
// time limit; the worker posts kProbeBegun ... kProbeDone for that job, the
// last one carrying a ProbeOutcome. The worker keeps its own copy of the
// job, so the caller may change its lists at any time.
//
// Kick(), CancelProbe() and Stop() may be called from any thread; the
// destructor stops and joins the thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "links/url_split.h"
#include "platform/tcp_socket.h"
#include "platform/worker_message.h"
#include "platform/worker_thread.h"
#include "probe/outcome_code.h"

namespace quimbel {

inline constexpr std::size_t kMaxReplyBytes = 2048;
// A 429 or 503 whose Retry-After asks for at most this many seconds is
// tried once more after that wait; never more than once.
inline constexpr int kMostRetryAfterSeconds = 10;

struct ProbeJob {
  std::string url;
  std::chrono::milliseconds time_limit{15000};  // for the whole probe, lookup to reply
  std::string user_agent;                       // the request's User-Agent
};

// What a finished probe hands to the reply classification.
struct ProbeOutcome {
  std::uint64_t job = 0;
  std::string url;
  Protocol protocol = Protocol::kHttp;
  std::string host;
  std::string reply;  // at most kMaxReplyBytes, as received
  OutcomeCode code = kReplyRead;
  bool cancelled = false;  // CancelProbe() or Stop() cut the probe short
};

// The request sent for an http URL: an HTTP/1.1 GET of the path exactly as
// written, with CR LF line ends, "Host" (":port" only when the port is not
// the protocol's default), "User-Agent" and "Accept: */*".
std::string FormatRequest(std::string_view path, const std::string& host, std::uint16_t port,
                          std::string_view user_agent);
// What follows the path in that request.
std::string RequestAfterPath(const std::string& host, std::uint16_t port,
                             std::string_view user_agent);

class ProbeWorker {
 public:
  explicit ProbeWorker(MessagePoster& poster);
  ~ProbeWorker();
  ProbeWorker(const ProbeWorker&) = delete;
  ProbeWorker& operator=(const ProbeWorker&) = delete;

  void Start();

  // Hands one URL to the worker and returns the job number its messages
  // carry. A kick given while a probe runs waits for that probe to end; a
  // second such kick replaces the first.
  std::uint64_t Kick(ProbeJob job);

  // Ends the running probe early (its kProbeDone says cancelled) and drops
  // a job not yet started. The thread keeps waiting for kicks.
  void CancelProbe();

  // Ends the thread and joins it. Idempotent.
  void Stop();

 private:
  ProbeOutcome Probe(std::uint64_t job_number, ProbeJob job);
  // One connect, request and read into `outcome`.
  void Attempt(std::uint64_t job_number, const ProbeJob& job, ProbeOutcome& outcome);
  void Post(MessageId id, std::uint64_t job, std::int64_t param, std::string text = {});

  MessagePoster& poster_;
  WakeSignal wake_;
  std::atomic<std::uint64_t> next_job_{1};
  Protocol protocol_ = Protocol::kHttp;  // worker thread only; kept between probes
  WorkerThread thread_;                  // last: it runs jobs that use the members above
};

}  // namespace quimbel
