#include "probe/probe_worker.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <locale.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <deque>
#include <map>
#include <thread>
#include <unordered_map>
#include <vector>

#include "links/html_links.h"
#include "platform/ascii.h"
#include "platform/mutex.h"
#include "probe/reply_parsing.h"

namespace quimbel {
namespace {

using Clock = std::chrono::steady_clock;

// Reading a small body keeps the connection for the next link to the same
// host; a large one costs more than a new connection. Measured with
// bench/probe_bench.sh, which also builds a variant that never reads one.
constexpr curl_off_t kLongestBodyRead = QUIMBEL_LONGEST_BODY_READ;

bool EndsWithInvalidDomain(std::string name) {
  while (!name.empty() && name.back() == '.')
    name.pop_back();
  name = AsciiLowered(std::move(name));
  return name == "invalid" ||
         (name.size() > 8 && name.compare(name.size() - 8, 8, ".invalid") == 0);
}

// True for texts that no resolver could find: too long for the DNS, a label
// over 63 bytes, blanks, control bytes or the characters that end a host in
// a URL. Asking about them would only cost a network round trip. Bytes
// above ASCII are international names, looked up in their ASCII form.
bool CannotBeAHostName(const std::string& name) {
  if (name.size() > 253) return true;
  std::size_t label = 0;
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte == 0x7f) return true;
    if (byte < 0x80 && !std::isalnum(byte) && c != '-' && c != '.' && c != '_') return true;
    label = c == '.' ? 0 : label + 1;
    if (label > 63) return true;
  }
  return false;
}

bool IsIpv6Literal(const std::string& host) {
  if (host.size() < 3 || host.front() != '[' || host.back() != ']') return false;
  in6_addr address{};
  return inet_pton(AF_INET6, host.substr(1, host.size() - 2).c_str(), &address) == 1;
}

// Digit-led names are never looked up: one that is no dotted address
// (in any form inet_aton takes) simply cannot be connected to.
std::optional<std::string> DottedAddress(const std::string& host) {
  in_addr address{};
  if (host.find('\0') != std::string::npos || inet_aton(host.c_str(), &address) == 0) {
    return std::nullopt;
  }
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &address, text, sizeof text);
  return std::string(text);
}

// The outcome a URL gets before any transfer, when it cannot have one: a
// bad port or host, a name that cannot exist.
std::optional<OutcomeCode> RefusedBeforeTransfer(const std::string& url, const std::string& host,
                                                 std::string* address) {
  const Protocol protocol = ProtocolOf(url);
  if (host.empty() || !UrlPort(url, protocol)) return kInvalidPortOrName;
  if (host.front() >= '0' && host.front() <= '9') {
    const auto dotted = DottedAddress(host);
    if (!dotted) return kConnectFailed;
    *address = *dotted;
    return std::nullopt;
  }
  if (host.front() == '[') {
    if (!IsIpv6Literal(host)) return kHostNotFound;
    *address = host;
    return std::nullopt;
  }
  if (CannotBeAHostName(host) || EndsWithInvalidDomain(host)) return kHostNotFound;
  *address = host;
  return std::nullopt;
}

// "scheme://host:port" with an international host name in its ASCII
// (punycode) form, as a proxy must be sent it; unchanged when curl cannot
// convert it.
std::string AsciiOrigin(const std::string& origin) {
  if (std::all_of(origin.begin(), origin.end(), [](unsigned char c) { return c < 0x80; })) {
    return origin;
  }
  std::string result = origin;
  CURLU* url = curl_url();
  char* ascii = nullptr;
  if (curl_url_set(url, CURLUPART_URL, (origin + '/').c_str(), 0) == CURLUE_OK &&
      curl_url_get(url, CURLUPART_URL, &ascii, CURLU_PUNYCODE) == CURLUE_OK) {
    result = ascii;
    if (!result.empty() && result.back() == '/') result.pop_back();
  }
  curl_free(ascii);
  curl_url_cleanup(url);
  return result;
}

bool IsSecureConnectionFailure(CURLcode result) {
  switch (result) {
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ENGINE_INITFAILED:
      return true;
    default:
      return false;
  }
}

// One link being probed: its job, what has come back, and how the
// transfer ended.
struct Transfer {
  std::uint64_t job = 0;
  ProbeJob request;
  ProbeOutcome outcome;
  std::string address;   // what the transfer connects to: the host, or its dotted form
  std::string host_key;  // scheme, host and port: the per-host cap counts these
  std::string target;    // the request target, exactly as written
  CURL* easy = nullptr;
  bool headers_complete = false;
  bool ended_here = false;  // we ended it: enough was read
  bool retried = false;
  // Following the moves of a moved link: `first` holds the first reply,
  // `outcome` the hop under way.
  bool following = false;
  int max_redirects = 0;
  ProbeOutcome first;
  std::vector<std::string> visited;  // every URL of the chain, fragments cut
};

std::string WithoutFragment(std::string url) {
  url.resize(std::min(url.find('#'), url.size()));
  return url;
}

std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  const std::size_t length = size * count;
  std::string& reply = transfer->outcome.reply;
  reply.append(data, std::min(length, kMaxReplyBytes - reply.size()));
  if (reply.size() >= kMaxReplyBytes) {
    transfer->ended_here = true;
    return 0;
  }
  const bool blank =
      (length == 2 && data[0] == '\r' && data[1] == '\n') || (length == 1 && data[0] == '\n');
  if (!blank) return length;
  long status = 0;
  curl_easy_getinfo(transfer->easy, CURLINFO_RESPONSE_CODE, &status);
  if (status >= 100 && status < 200) return length;  // an interim reply; the real one follows
  transfer->headers_complete = true;
  curl_off_t body = -1;
  curl_easy_getinfo(transfer->easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &body);
  if (body >= 0 && body <= kLongestBodyRead) return length;
  transfer->ended_here = true;
  return 0;
}

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  const std::size_t length = size * count;
  if (transfer->headers_complete) return length;  // a small body, read to keep the connection
  // A reply without a status line: its first bytes are what we classify.
  std::string& reply = transfer->outcome.reply;
  reply.append(data, std::min(length, kMaxReplyBytes - reply.size()));
  if (reply.size() < kMaxReplyBytes) return length;
  transfer->ended_here = true;
  return 0;
}

OutcomeCode CodeOf(const Transfer& transfer, CURLcode result) {
  if (transfer.ended_here || result == CURLE_OK) return kReplyRead;
  if (IsSecureConnectionFailure(result)) return kSecureConnectionFailed;
  curl_off_t connect_time = 0;
  curl_easy_getinfo(transfer.easy, CURLINFO_CONNECT_TIME_T, &connect_time);
  long request_size = 0;
  curl_easy_getinfo(transfer.easy, CURLINFO_REQUEST_SIZE, &request_size);
  const bool connected = connect_time > 0 || request_size > 0;
  switch (result) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_URL_MALFORMAT:
      return kHostNotFound;
    case CURLE_COULDNT_CONNECT:
      return kConnectFailed;
    case CURLE_OPERATION_TIMEDOUT: {
      if (connected) return kReplyTimedOut;
      // Out of time before any connection: still looking the name up, or
      // still connecting.
      curl_off_t looked_up = 0;
      curl_easy_getinfo(transfer.easy, CURLINFO_NAMELOOKUP_TIME_T, &looked_up);
      const bool named = transfer.address == transfer.outcome.host;
      return named && looked_up == 0 ? kHostNotFound : kConnectFailed;
    }
    case CURLE_SEND_ERROR:
    case CURLE_OUT_OF_MEMORY:  // a request larger than curl builds (1 MB)
      return transfer.outcome.reply.empty() ? kSendFailed : kReplyRead;
    // The host answered, or closed without a word: whatever came back, if
    // anything, is the reply.
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
    case CURLE_PARTIAL_FILE:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_WRITE_ERROR:
    case CURLE_HTTP2:
      return kReplyRead;
    default:
      return connected ? kReplyRead : kConnectFailed;
  }
}

}  // namespace

// The probe thread and its queues. The thread owns every curl handle;
// other threads only touch what `mutex_` guards, and wake the thread with
// curl_multi_wakeup.
class ProbeWorker::Engine {
 public:
  explicit Engine(MessagePoster& poster) : poster_(poster) {
    static const CURLcode initialised = curl_global_init(CURL_GLOBAL_DEFAULT);
    (void)initialised;
    multi_ = curl_multi_init();
  }

  ~Engine() {
    Stop();
    for (CURL* easy : idle_)
      curl_easy_cleanup(easy);
    curl_multi_cleanup(multi_);
  }

  void Start() {
    if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
  }

  void Configure(const ProbeSettings& settings) {
    MutexLock lock(mutex_);
    settings_ = settings;
    settings_.parallel = std::clamp(settings_.parallel, 1, kMostParallelProbes);
    settings_.per_host = std::clamp(settings_.per_host, 1, kMostParallelProbes);
    settings_.max_redirects = std::clamp(settings_.max_redirects, 0, kMostRedirects);
  }

  std::uint64_t Kick(ProbeJob job) {
    const std::uint64_t number = next_job_++;
    bool first = false;
    {
      MutexLock lock(mutex_);
      first = incoming_.empty();
      incoming_.emplace_back(number, std::move(job));
    }
    // The thread takes the whole queue at once: one wake-up per batch.
    if (first) curl_multi_wakeup(multi_);
    return number;
  }

  void CancelProbe() {
    {
      MutexLock lock(mutex_);
      incoming_.clear();
      ++cancels_;
    }
    curl_multi_wakeup(multi_);
  }

  void Stop() {
    {
      MutexLock lock(mutex_);
      stopping_ = true;
    }
    curl_multi_wakeup(multi_);
    if (thread_.joinable()) thread_.join();
  }

 private:
  void Run() {
    // International host names in pages are UTF-8 whatever the user's
    // locale; curl converts them to their ASCII form by this thread's.
    const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    if (utf8 != static_cast<locale_t>(nullptr)) uselocale(utf8);
    RunTransfers();
    if (utf8 != static_cast<locale_t>(nullptr)) {
      uselocale(LC_GLOBAL_LOCALE);
      freelocale(utf8);
    }
  }

  void RunTransfers() {
    for (;;) {
      std::deque<std::pair<std::uint64_t, ProbeJob>> taken;
      bool cancelled = false;
      {
        MutexLock lock(mutex_);
        if (stopping_) break;
        cancelled = cancels_ != cancels_seen_;
        cancels_seen_ = cancels_;
        taken.swap(incoming_);
        settings_in_force_ = settings_;
      }
      if (cancelled) DropAll();
      for (auto& [number, job] : taken)
        Queue(number, std::move(job));
      StartWaiting();
      int running = 0;
      curl_multi_perform(multi_, &running);
      int left = 0;
      while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
        if (message->msg == CURLMSG_DONE) Finish(message->easy_handle, message->data.result);
      }
      StartWaiting();
      curl_multi_poll(multi_, nullptr, 0, PollMilliseconds(), nullptr);
    }
    DropAll();
  }

  // How long the thread may sleep: until a retry is due, at most a second
  // (curl shortens it for its own timers).
  int PollMilliseconds() const {
    if (retries_.empty()) return 1000;
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(
        retries_.begin()->first - Clock::now());
    return static_cast<int>(std::clamp<long long>(wait.count(), 0, 1000));
  }

  void Queue(std::uint64_t number, ProbeJob job) {
    auto transfer = std::make_unique<Transfer>();
    transfer->job = number;
    transfer->outcome.job = number;
    transfer->outcome.url = std::move(job.url);
    transfer->request = std::move(job);
    transfer->max_redirects = settings_in_force_.max_redirects;
    transfer->visited.push_back(WithoutFragment(transfer->outcome.url));
    if (const auto refused = Aim(*transfer)) {
      transfer->outcome.code = *refused;
      Complete(std::move(transfer));
      return;
    }
    waiting_.push_back(std::move(transfer));
  }

  // Points the transfer at the URL of its outcome: protocol, host, address,
  // per-host key and request target. The outcome it ends in at once when
  // the URL cannot be probed.
  static std::optional<OutcomeCode> Aim(Transfer& transfer) {
    const std::string& url = transfer.outcome.url;
    const Protocol protocol = ProtocolOf(url);
    transfer.outcome.protocol = protocol;
    transfer.outcome.host = UrlHost(url, protocol);
    if (const auto refused = RefusedBeforeTransfer(url, transfer.outcome.host, &transfer.address)) {
      return refused;
    }
    transfer.host_key = std::to_string(static_cast<int>(protocol)) + transfer.address + ':' +
                        std::to_string(*UrlPort(url, protocol));
    transfer.host_key = AsciiLowered(std::move(transfer.host_key));
    transfer.target = UrlPath(url, protocol);
    return std::nullopt;
  }

  // A probe's hop is over: a move is followed, anything else ends the probe.
  void Complete(std::unique_ptr<Transfer> transfer) {
    const ProbeOutcome& now = transfer->outcome;
    const std::optional<std::uint32_t> status =
        now.code == kReplyRead && now.protocol != Protocol::kFtp ? ParseStatusCode(now.reply)
                                                                 : std::nullopt;
    if (status && IsFollowedMove(*status) && transfer->max_redirects > 0) {
      const std::optional<std::string> location = LocationOf(now.reply);
      std::string next = location ? ResolveReference(now.url, *location) : std::string();
      if (!next.empty()) {
        Follow(std::move(transfer), std::move(next));
        return;
      }
    }
    if (!transfer->following) {
      Post(std::move(transfer->outcome));
      return;
    }
    ChainEnd end = ChainEnd::kFailed;
    OutcomeCode code = now.code;
    if (now.code == kReplyRead) {
      if (now.protocol == Protocol::kFtp || (status && *status < 400)) end = ChainEnd::kGood;
      code = status.value_or(0);
    }
    EndChain(std::move(transfer), end, code);
  }

  void Follow(std::unique_ptr<Transfer> transfer, std::string next) {
    if (!transfer->following) {
      transfer->following = true;
      transfer->first = std::move(transfer->outcome);
    }
    std::string key = WithoutFragment(next);
    if (std::find(transfer->visited.begin(), transfer->visited.end(), key) !=
        transfer->visited.end()) {
      EndChain(std::move(transfer), ChainEnd::kFailed, kRedirectLoop);
      return;
    }
    if (transfer->first.redirects.size() >= static_cast<std::size_t>(transfer->max_redirects)) {
      EndChain(std::move(transfer), ChainEnd::kFailed, kTooManyRedirects);
      return;
    }
    transfer->visited.push_back(std::move(key));
    transfer->first.redirects.push_back(next);
    // A move to a mail address or the like ends where a probe cannot go.
    if (!IsProbedUrl(next)) {
      EndChain(std::move(transfer), ChainEnd::kGood, 0);
      return;
    }
    transfer->outcome = ProbeOutcome();
    transfer->outcome.job = transfer->job;
    transfer->outcome.url = std::move(next);
    transfer->retried = false;
    if (const auto refused = Aim(*transfer)) {
      transfer->outcome.code = *refused;
      Complete(std::move(transfer));
      return;
    }
    // Ahead of the links not yet started: the list waits for this one.
    waiting_.push_front(std::move(transfer));
  }

  void EndChain(std::unique_ptr<Transfer> transfer, ChainEnd end, OutcomeCode code) {
    transfer->first.chain_end = end;
    transfer->first.chain_code = end == ChainEnd::kFailed ? code : 0;
    Post(std::move(transfer->first));
  }

  // Starts queued transfers in list order while slots are free, passing
  // over those whose host has all its slots.
  void StartWaiting() {
    const auto now = Clock::now();
    while (!retries_.empty() && retries_.begin()->first <= now) {
      waiting_.push_front(std::move(retries_.begin()->second));
      retries_.erase(retries_.begin());
    }
    const auto parallel = static_cast<std::size_t>(settings_in_force_.parallel);
    for (auto it = waiting_.begin(); it != waiting_.end() && running_.size() < parallel;) {
      int& per_host = per_host_[(*it)->host_key];
      if (per_host >= settings_in_force_.per_host) {
        ++it;
        continue;
      }
      ++per_host;
      Begin(std::move(*it));
      it = waiting_.erase(it);
    }
  }

  CURL* TakeEasy() {
    if (idle_.empty()) return curl_easy_init();
    CURL* easy = idle_.back();
    idle_.pop_back();
    curl_easy_reset(easy);
    return easy;
  }

  void Begin(std::unique_ptr<Transfer> transfer) {
    CURL* easy = TakeEasy();
    transfer->easy = easy;
    transfer->outcome.reply.clear();
    transfer->outcome.unreadable_reply = false;
    transfer->headers_complete = false;
    transfer->ended_here = false;
    Transfer& t = *transfer;
    const Protocol protocol = t.outcome.protocol;
    const std::uint16_t port = *UrlPort(t.outcome.url, protocol);
    std::string address = t.address;
    if (address.find(':') != std::string::npos && address.front() != '[') {
      address = '[' + address + ']';
    }
    const bool secure = protocol == Protocol::kHttps;
    const std::string origin =
        std::string(secure ? "https://" : "http://") + address + ':' + std::to_string(port);
    curl_easy_setopt(easy, CURLOPT_URL, (origin + '/').c_str());
    curl_easy_setopt(easy, CURLOPT_PRIVATE, transfer.get());
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_QUICK_EXIT, 1L);  // a stuck lookup never holds a stop
    const long limit = static_cast<long>(std::max<long long>(1, t.request.time_limit.count()));
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, limit);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, limit);
    if (protocol == Protocol::kFtp) {
      // A connection is all an ftp link gets: no login, no proxy.
      curl_easy_setopt(easy, CURLOPT_CONNECT_ONLY, 1L);
      curl_easy_setopt(easy, CURLOPT_PROXY, "");
    } else {
      const bool proxied = ConfigureProxy(easy, protocol, t.address);
      // Through a proxy that is no tunnel, the request names the whole URL,
      // an international name in its ASCII form.
      const std::string target = proxied && !secure ? AsciiOrigin(origin) + t.target : t.target;
      if (curl_easy_setopt(easy, CURLOPT_REQUEST_TARGET, target.c_str()) != CURLE_OK) {
        // Longer than curl takes: the request cannot go out.
        transfer->outcome.code = kSendFailed;
        Refuse(std::move(transfer));
        return;
      }
      curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
      curl_easy_setopt(easy, CURLOPT_USERAGENT, t.request.user_agent.c_str());
      curl_easy_setopt(easy, CURLOPT_HTTP09_ALLOWED, 1L);
      curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
      curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &OnHeader);
      curl_easy_setopt(easy, CURLOPT_HEADERDATA, transfer.get());
      curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &OnBody);
      curl_easy_setopt(easy, CURLOPT_WRITEDATA, transfer.get());
      if (secure) ConfigureTls(easy);
    }
    curl_multi_add_handle(multi_, easy);
    running_.emplace(easy, std::move(transfer));
  }

  // Whether the environment's proxy applies to this host; curl is told the
  // same, so both agree.
  static bool ConfigureProxy(CURL* easy, Protocol protocol, const std::string& host) {
    const char* proxy = std::getenv(protocol == Protocol::kHttps ? "https_proxy" : "http_proxy");
    if (protocol == Protocol::kHttps && (proxy == nullptr || *proxy == '\0')) {
      proxy = std::getenv("HTTPS_PROXY");
    }
    if (proxy == nullptr || *proxy == '\0') proxy = std::getenv("all_proxy");
    if (proxy == nullptr || *proxy == '\0') proxy = std::getenv("ALL_PROXY");
    if (proxy == nullptr || *proxy == '\0' || IsExemptFromProxy(host)) {
      curl_easy_setopt(easy, CURLOPT_PROXY, "");
      return false;
    }
    curl_easy_setopt(easy, CURLOPT_PROXY, proxy);
    curl_easy_setopt(easy, CURLOPT_NOPROXY, "");
    return true;
  }

  // no_proxy as the usual tools read it: "*", or host names and domain
  // suffixes separated by commas, in any case.
  static bool IsExemptFromProxy(std::string host) {
    const char* list = std::getenv("no_proxy");
    if (list == nullptr || *list == '\0') list = std::getenv("NO_PROXY");
    if (list == nullptr) return false;
    host = AsciiLowered(std::move(host));
    if (host.size() > 2 && host.front() == '[') host = host.substr(1, host.size() - 2);
    std::string_view rest = list;
    while (!rest.empty()) {
      const std::size_t comma = rest.find(',');
      std::string entry(rest.substr(0, comma));
      rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
      entry.erase(std::remove_if(entry.begin(), entry.end(),
                                 [](unsigned char c) { return std::isspace(c) != 0; }),
                  entry.end());
      entry = AsciiLowered(std::move(entry));
      if (entry == "*") return true;
      while (!entry.empty() && entry.front() == '.')
        entry.erase(0, 1);
      if (entry.empty()) continue;
      if (host == entry) return true;
      if (host.size() > entry.size() &&
          host.compare(host.size() - entry.size(), entry.size(), entry) == 0 &&
          host[host.size() - entry.size() - 1] == '.') {
        return true;
      }
    }
    return false;
  }

  void ConfigureTls(CURL* easy) const {
    if (settings_in_force_.insecure) {
      curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 0L);
      curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 0L);
      return;
    }
    if (!settings_in_force_.ca_file.empty()) {
      // The private CA is trusted beside the system's, not instead of it.
      curl_easy_setopt(easy, CURLOPT_CAINFO, settings_in_force_.ca_file.c_str());
      curl_easy_setopt(easy, CURLOPT_CAPATH, "/etc/ssl/certs");
    }
  }

  void Finish(CURL* easy, CURLcode result) {
    const auto found = running_.find(easy);
    if (found == running_.end()) return;
    std::unique_ptr<Transfer> transfer = std::move(found->second);
    running_.erase(found);
    Release(*transfer);
    transfer->outcome.code = CodeOf(*transfer, result);
    transfer->outcome.unreadable_reply =
        transfer->outcome.reply.empty() &&
        (result == CURLE_UNSUPPORTED_PROTOCOL || result == CURLE_WEIRD_SERVER_REPLY);
    Recycle(easy, transfer->outcome.protocol);
    transfer->easy = nullptr;
    // A busy server that names a short wait gets one more try after it.
    if (!transfer->retried && transfer->outcome.code == kReplyRead) {
      const std::optional<std::uint32_t> status = ParseStatusCode(transfer->outcome.reply);
      const std::optional<int> wait = status && (*status == 429 || *status == 503)
                                          ? RetryAfterSeconds(transfer->outcome.reply)
                                          : std::nullopt;
      if (wait && *wait >= 0 && *wait <= kMostRetryAfterSeconds) {
        transfer->retried = true;
        const auto due = Clock::now() + std::chrono::seconds(*wait);
        retries_.emplace(due, std::move(transfer));
        return;
      }
    }
    Complete(std::move(transfer));
  }

  // Ends a transfer that was never added to the multi handle.
  void Refuse(std::unique_ptr<Transfer> transfer) {
    const auto host = per_host_.find(transfer->host_key);
    if (host != per_host_.end() && --host->second <= 0) per_host_.erase(host);
    Recycle(transfer->easy, transfer->outcome.protocol);
    transfer->easy = nullptr;
    Complete(std::move(transfer));
  }

  void Release(const Transfer& transfer) {
    curl_multi_remove_handle(multi_, transfer.easy);
    const auto host = per_host_.find(transfer.host_key);
    if (host != per_host_.end() && --host->second <= 0) per_host_.erase(host);
  }

  // Handles are kept for the next transfers; an ftp one holds a
  // connection of its own that no http transfer may take, so it goes.
  void Recycle(CURL* easy, Protocol protocol) {
    if (protocol == Protocol::kFtp) {
      curl_easy_cleanup(easy);
    } else {
      idle_.push_back(easy);
    }
  }

  void DropAll() {
    for (auto& [easy, transfer] : running_) {
      Release(*transfer);
      Recycle(easy, transfer->outcome.protocol);
    }
    running_.clear();
    per_host_.clear();
    waiting_.clear();
    retries_.clear();
  }

  void Post(ProbeOutcome outcome) {
    const std::uint64_t job = outcome.job;
    const std::int64_t code = outcome.code;
    poster_.Post(WorkerMessage{MessageId::kProbeDone, job, code, {}, std::move(outcome)});
  }

  MessagePoster& poster_;
  CURLM* multi_ = nullptr;
  std::atomic<std::uint64_t> next_job_{1};

  Mutex mutex_;
  std::deque<std::pair<std::uint64_t, ProbeJob>> incoming_ GUARDED_BY(mutex_);
  std::uint64_t cancels_ GUARDED_BY(mutex_) = 0;
  bool stopping_ GUARDED_BY(mutex_) = false;
  ProbeSettings settings_ GUARDED_BY(mutex_);

  // The probe thread's own.
  std::uint64_t cancels_seen_ = 0;
  ProbeSettings settings_in_force_;
  std::deque<std::unique_ptr<Transfer>> waiting_;
  std::unordered_map<CURL*, std::unique_ptr<Transfer>> running_;
  std::unordered_map<std::string, int> per_host_;
  std::multimap<Clock::time_point, std::unique_ptr<Transfer>> retries_;
  std::vector<CURL*> idle_;

  std::thread thread_;  // last: it runs on the members above
};

ProbeWorker::ProbeWorker(MessagePoster& poster) : engine_(std::make_unique<Engine>(poster)) {}

ProbeWorker::~ProbeWorker() = default;

void ProbeWorker::Start() {
  engine_->Start();
}

void ProbeWorker::Configure(const ProbeSettings& settings) {
  engine_->Configure(settings);
}

std::uint64_t ProbeWorker::Kick(ProbeJob job) {
  return engine_->Kick(std::move(job));
}

void ProbeWorker::CancelProbe() {
  engine_->CancelProbe();
}

void ProbeWorker::Stop() {
  engine_->Stop();
}

}  // namespace quimbel
