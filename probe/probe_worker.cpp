#include "probe/probe_worker.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "probe/connect.h"
#include "probe/reply_parsing.h"

namespace quimbel {

std::string FormatRequest(std::string_view path, const std::string& host, std::uint16_t port,
                          std::string_view user_agent) {
  std::string request = "GET ";
  request += path;
  request += RequestAfterPath(host, port, user_agent);
  return request;
}

std::string RequestAfterPath(const std::string& host, std::uint16_t port,
                             std::string_view user_agent) {
  // Every line ends in CR LF: current servers (Node.js among them) refuse
  // a request whose header lines end in a bare line feed.
  std::string request = " HTTP/1.1\r\nHost: ";
  request += host;
  if (port != DefaultPort(Protocol::kHttp)) {
    request += ':';
    request += std::to_string(port);
  }
  request += "\r\nUser-Agent: ";
  request += user_agent;
  request += "\r\nAccept: */*\r\n\r\n";
  return request;
}

// A probe taken from the queue must not see a wake meant for the one
// before it.
ProbeWorker::ProbeWorker(MessagePoster& poster)
    : poster_(poster), thread_([this] { wake_.Clear(); }) {}

ProbeWorker::~ProbeWorker() {
  Stop();
}

void ProbeWorker::Start() {
  thread_.Start();
}

std::uint64_t ProbeWorker::Kick(ProbeJob job) {
  const std::uint64_t number = next_job_++;
  thread_.Kick([this, number, job = std::move(job)]() mutable {
    ProbeOutcome outcome = Probe(number, std::move(job));
    const std::int64_t code = outcome.code;
    // The URL travels once, in the outcome: a link can be huge.
    poster_.Post(WorkerMessage{MessageId::kProbeDone, number, code, {}, std::move(outcome)});
  });
  return number;
}

void ProbeWorker::CancelProbe() {
  thread_.DropPending([this] { wake_.Wake(); });
}

void ProbeWorker::Stop() {
  thread_.Stop([this] { wake_.Wake(); });
}

void ProbeWorker::Post(MessageId id, std::uint64_t job, std::int64_t param, std::string text) {
  poster_.Post(WorkerMessage{id, job, param, std::move(text), {}});
}

ProbeOutcome ProbeWorker::Probe(std::uint64_t job_number, ProbeJob job) {
  ProbeOutcome outcome;
  outcome.job = job_number;
  outcome.url = std::move(job.url);
  // Only for display: a URL of many megabytes is not copied into messages.
  constexpr std::size_t kShownLength = 1 << 16;
  Post(MessageId::kProbeBegun, job_number, 0, outcome.url.substr(0, kShownLength));

  if (!outcome.url.empty()) {
    const char first = static_cast<char>(std::toupper(static_cast<unsigned char>(outcome.url[0])));
    if (first == 'H') protocol_ = Protocol::kHttp;
    if (first == 'F') protocol_ = Protocol::kFtp;
  }
  outcome.protocol = protocol_;
  outcome.host = UrlHost(outcome.url, protocol_);
  Attempt(job_number, job, outcome);
  // A busy server that names a short wait gets one more try after it.
  const std::optional<std::uint32_t> status =
      outcome.code == kReplyRead ? ParseStatusCode(outcome.reply) : std::nullopt;
  if (status && (*status == 429 || *status == 503)) {
    const std::optional<int> wait = RetryAfterSeconds(outcome.reply);
    if (wait && *wait <= kMostRetryAfterSeconds) {
      if (WaitForWake(wake_, std::chrono::seconds(*wait)) == WaitResult::kWoken) {
        outcome.cancelled = true;
        return outcome;
      }
      outcome.reply.clear();
      Attempt(job_number, job, outcome);
    }
  }
  return outcome;
}

void ProbeWorker::Attempt(std::uint64_t job_number, const ProbeJob& job, ProbeOutcome& outcome) {
  const std::optional<std::uint16_t> port = UrlPort(outcome.url, protocol_);
  // The path stays a piece of the URL: the request goes out in pieces.
  const UrlPathPieces path = UrlPathView(outcome.url, protocol_);

  Post(MessageId::kProbeConnecting, job_number, 0, outcome.host);
  // One time limit for the whole attempt, lookup to last byte, so a link
  // never holds the run for more than it.
  const auto deadline = std::chrono::steady_clock::now() + job.time_limit;
  const auto left = [&deadline] {
    return std::max(std::chrono::milliseconds(0),
                    std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now()));
  };
  Connection connection = ConnectToHost(outcome.host, port, job.time_limit, &wake_);
  Post(MessageId::kProbeConnected, job_number, connection.code, outcome.host);
  if (connection.code != kReplyRead) {
    outcome.code = connection.code;
    outcome.cancelled = connection.cancelled;
    return;
  }
  if (protocol_ == Protocol::kFtp) return;  // a connection is all an ftp link gets

  const std::string after = RequestAfterPath(outcome.host, *port, job.user_agent);
  const std::string_view pieces[] = {"GET ", path.text, path.slash_added ? "/" : "", after};
  const WaitResult sent = connection.socket.Send(pieces, left(), &wake_);
  if (sent != WaitResult::kReady) {
    // Out of time with the request still going out: the host is too slow.
    outcome.code = sent == WaitResult::kTimedOut ? kReplyTimedOut : kSendFailed;
    outcome.cancelled = sent == WaitResult::kWoken;
    return;
  }
  std::size_t request_size = 0;
  for (const std::string_view piece : pieces)
    request_size += piece.size();
  Post(MessageId::kProbeRequestSent, job_number, static_cast<std::int64_t>(request_size));

  switch (connection.socket.WaitReadable(left(), &wake_)) {
    case WaitResult::kTimedOut:
      outcome.code = kReplyTimedOut;
      return;
    case WaitResult::kWoken:
      outcome.code = kReplyTimedOut;
      outcome.cancelled = true;
      return;
    case WaitResult::kReady:
    case WaitResult::kFailed:  // a failed wait still reads; the read then fails
      break;
  }
  std::array<char, kMaxReplyBytes> buffer{};
  const long received = connection.socket.Receive(buffer.data(), buffer.size());
  Post(MessageId::kProbeReplyRead, job_number, received);
  if (received > 0) outcome.reply.assign(buffer.data(), static_cast<std::size_t>(received));
}

}  // namespace quimbel
