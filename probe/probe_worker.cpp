#include "probe/probe_worker.h"

#include <array>
#include <cctype>

#include "probe/connect.h"

namespace quimbel {

std::string FormatRequest(const std::string& path, const std::string& host, std::uint16_t port) {
  // Byte for byte the request the checker has always sent, line ends
  // included: servers that were tested against it answer it the same way.
  std::string request = "GET ";
  request += path;
  request +=
      " HTTP/1.0\nAccept: */*\nAccept-Language: en-au\nAccept-Encoding: gzip, deflate\n"
      "User-Agent: Mozilla/4.0 (compatible; MSIE 4.01; Windows 98)\nHost: ";
  request += host;
  if (port != DefaultPort(Protocol::kHttp)) {
    request += ':';
    request += std::to_string(port);
  }
  request += "\nConnection: Keep-Alive\r\n\r\n";
  return request;
}

ProbeWorker::ProbeWorker(MessagePoster& poster) : poster_(poster) {}

ProbeWorker::~ProbeWorker() {
  Stop();
}

void ProbeWorker::Start() {
  if (thread_.joinable()) return;
  stop_.Reset();
  kick_.Reset();
  thread_ = std::thread([this] { Run(); });
}

std::uint64_t ProbeWorker::Kick(ProbeJob job) {
  std::uint64_t number = 0;
  {
    std::lock_guard lock(mutex_);
    number = next_job_++;
    pending_.emplace(number, std::move(job));
  }
  kick_.Set();
  return number;
}

void ProbeWorker::CancelProbe() {
  std::lock_guard lock(mutex_);
  pending_.reset();
  // Only a probe in flight is woken; the signal is cleared when the next
  // probe starts, under the same lock, so it cannot cut that one short.
  if (busy_) wake_.Wake();
}

void ProbeWorker::Stop() {
  stop_.Set();
  CancelProbe();
  if (thread_.joinable()) thread_.join();
}

void ProbeWorker::Run() {
  while (WaitAny(stop_, kick_) == 1) {
    std::optional<std::pair<std::uint64_t, ProbeJob>> job;
    {
      std::lock_guard lock(mutex_);
      job.swap(pending_);
      kick_.Reset();
      busy_ = job.has_value();
      wake_.Clear();
    }
    if (!job) continue;
    ProbeOutcome outcome = Probe(job->first, job->second);
    {
      std::lock_guard lock(mutex_);
      busy_ = false;
    }
    const std::uint64_t number = outcome.job;
    const std::int64_t code = outcome.code;
    WorkerMessage done{MessageId::kProbeDone, number, code, outcome.url, std::move(outcome)};
    poster_.Post(std::move(done));
  }
}

void ProbeWorker::Post(MessageId id, std::uint64_t job, std::int64_t param, std::string text) {
  poster_.Post(WorkerMessage{id, job, param, std::move(text), {}});
}

ProbeOutcome ProbeWorker::Probe(std::uint64_t job_number, const ProbeJob& job) {
  ProbeOutcome outcome;
  outcome.job = job_number;
  outcome.url = job.url;
  Post(MessageId::kProbeBegun, job_number, 0, outcome.url);

  if (!outcome.url.empty()) {
    const char first = static_cast<char>(std::toupper(static_cast<unsigned char>(outcome.url[0])));
    if (first == 'H') protocol_ = Protocol::kHttp;
    if (first == 'F') protocol_ = Protocol::kFtp;
  }
  outcome.protocol = protocol_;
  outcome.host = UrlHost(outcome.url, protocol_);
  const std::optional<std::uint16_t> port = UrlPort(outcome.url, protocol_);
  const std::string path = UrlPath(outcome.url, protocol_);

  Post(MessageId::kProbeConnecting, job_number, 0, outcome.host);
  Connection connection = ConnectToHost(outcome.host, port, job.time_limit, &wake_);
  Post(MessageId::kProbeConnected, job_number, connection.code, outcome.host);
  if (connection.code != kReplyRead) {
    outcome.code = connection.code;
    outcome.cancelled = connection.cancelled;
    return outcome;
  }
  if (protocol_ == Protocol::kFtp) return outcome;  // a connection is all an ftp link gets

  const std::string request = FormatRequest(path, outcome.host, *port);
  const long sent = connection.socket.Send(request);
  if (sent != static_cast<long>(request.size())) {
    outcome.code = kSendFailed;
    return outcome;
  }
  Post(MessageId::kProbeRequestSent, job_number, sent);

  switch (connection.socket.WaitReadable(job.time_limit, &wake_)) {
    case WaitResult::kTimedOut:
      outcome.code = kReplyTimedOut;
      return outcome;
    case WaitResult::kWoken:
      outcome.code = kReplyTimedOut;
      outcome.cancelled = true;
      return outcome;
    case WaitResult::kReady:
    case WaitResult::kFailed:  // a failed wait still reads; the read then fails
      break;
  }
  std::array<char, kMaxReplyBytes> buffer{};
  const long received = connection.socket.Receive(buffer.data(), buffer.size());
  Post(MessageId::kProbeReplyRead, job_number, received);
  if (received > 0) outcome.reply.assign(buffer.data(), static_cast<std::size_t>(received));
  return outcome;
}

}  // namespace quimbel
