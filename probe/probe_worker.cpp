#include "probe/probe_worker.h"

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <deque>
#include <map>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "links/html_links.h"
#include "links/url_resolver.h"
#include "platform/ascii.h"
#include "platform/clock.h"
#include "platform/mutex.h"
#include "platform/thread_locale.h"
#include "probe/curl_library.h"
#include "probe/host_connections.h"
#include "probe/host_pacing.h"
#include "probe/proxy_rules.h"
#include "probe/redirect_chain.h"
#include "probe/reply_parsing.h"
#include "probe/request_ledger.h"
#include "probe/transfer.h"
#include "probe/transfer_outcome.h"
#include "probe/transfer_setup.h"

namespace quimbel {

// The probe thread and its queues. The thread owns every curl handle;
// other threads only touch what `mutex_` guards, and wake the thread with
// curl_multi_wakeup.
class ProbeWorker::Engine {
 public:
  explicit Engine(MessagePoster& poster) : poster_(poster) {
    InitialiseCurl();
    multi_ = curl_multi_init();
    curl_multi_setopt(multi_, CURLMOPT_PIPELINING, CURLPIPE_MULTIPLEX);
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
    settings_.streams = std::clamp(settings_.streams, 1, kMostStreams);
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
    // A lost wake-up costs at most the poll's second.
    if (first) Wake();
    return number;
  }

  std::uint64_t Answer(ProbeOutcome outcome) {
    outcome.job = next_job_++;
    const std::uint64_t number = outcome.job;
    Post(std::move(outcome));
    return number;
  }

  void CancelProbe() {
    {
      MutexLock lock(mutex_);
      incoming_.clear();
      ++cancels_;
    }
    Wake();
  }

  void ForgetReplies() {
    MutexLock lock(mutex_);
    ++forgets_;
  }

  void Stop() {
    {
      MutexLock lock(mutex_);
      stopping_ = true;
    }
    Wake();
    if (thread_.joinable()) thread_.join();
  }

 private:
  // Wakes the probe thread from its poll. One that fails costs the
  // thread's next sleep instead: it polls without waiting once.
  void Wake() {
    if (curl_multi_wakeup(multi_) != CURLM_OK) missed_wake_ = true;
  }

  void Run() {
    // International host names in pages are UTF-8 whatever the user's
    // locale; curl converts them to their ASCII form by this thread's.
    const ScopedThreadLocale utf8(utf8_);
    RunTransfers();
  }

  void RunTransfers() {
    for (;;) {
      std::deque<std::pair<std::uint64_t, ProbeJob>> taken;
      bool cancelled = false;
      bool forget = false;
      {
        MutexLock lock(mutex_);
        if (stopping_) break;
        cancelled = cancels_ != cancels_seen_;
        cancels_seen_ = cancels_;
        forget = forgets_ != forgets_seen_ || !(settings_in_force_ == settings_);
        forgets_seen_ = forgets_;
        taken.swap(incoming_);
        settings_in_force_ = settings_;
      }
      if (cancelled) DropAll();
      // Replies got with other settings (another CA, no hops) say nothing
      // of what these would get.
      if (forget) ledger_.ForgetReplies();
      for (auto& [number, job] : taken)
        Queue(number, std::move(job));
      StartWaiting();
      int running = 0;
      // A failed perform or poll leaves every transfer where it was; the
      // pause keeps a lasting failure from spinning this thread.
      bool failed = curl_multi_perform(multi_, &running) != CURLM_OK;
      int left = 0;
      while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
        if (message->msg == CURLMSG_DONE) Finish(message->easy_handle, message->data.result);
      }
      StartWaiting();
      failed =
          curl_multi_poll(multi_, nullptr, 0, PollMilliseconds(), nullptr) != CURLM_OK || failed;
      if (failed) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    DropAll();
  }

  // How long the thread may sleep: until a retry is due, at most a second
  // (curl shortens it for its own timers).
  int PollMilliseconds() {
    if (missed_wake_.exchange(false)) return 0;
    std::optional<SteadyTime> due = pacing_.TakeNextDue();
    if (!retries_.empty()) due = std::min(due.value_or(SteadyTime::max()), retries_.begin()->first);
    if (!due) return 1000;
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(*due - SteadyNow());
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
    if (const auto refused = AimTransfer(*transfer)) {
      transfer->outcome.code = *refused;
      Complete(std::move(transfer));
      return;
    }
    Ask(std::move(transfer), Place::kBack);
  }

  enum class Place { kFront, kBack };

  // The transfer's request, unless the run has asked for its URL already:
  // then it waits for that reply, or takes it.
  void Ask(std::unique_ptr<Transfer> transfer, Place place) {
    const RequestLedger::Turn turn = ledger_.Take(transfer);
    if (turn == RequestLedger::Turn::kAnswered) Complete(std::move(transfer));
    if (turn != RequestLedger::Turn::kAsk) return;  // answered, or waiting in the ledger
    place == Place::kFront ? waiting_.push_front(std::move(transfer))
                           : waiting_.push_back(std::move(transfer));
  }

  // A hop's reply is in: the transfers that waited for the same URL go on
  // with it too.
  void Complete(std::unique_ptr<Transfer> transfer) {
    std::vector<std::unique_ptr<Transfer>> waited;
    if (transfer->asking) waited = ledger_.Answered(*transfer);
    CompleteHop(std::move(transfer));
    for (auto& other : waited)
      CompleteHop(std::move(other));
  }

  // A probe's hop is over: a move is followed, anything else ends the probe.
  void CompleteHop(std::unique_ptr<Transfer> transfer) {
    const ProbeOutcome& now = transfer->outcome;
    const std::optional<std::uint32_t> status =
        now.code == kReplyRead && now.protocol != Protocol::kFtp ? ParseStatusCode(now.reply)
                                                                 : std::nullopt;
    if (status && IsFollowedMove(*status) && transfer->max_redirects > 0) {
      const std::optional<std::string> location = LocationOf(now.reply);
      std::string next =
          location ? ResolveUrl(now.url, *location).value_or(std::string()) : std::string();
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
    if (const auto end = TakeNextHop(*transfer, std::move(next), settings_in_force_.policy.get())) {
      EndChain(std::move(transfer), end->first, end->second);
      return;
    }
    if (const auto refused = AimTransfer(*transfer)) {
      transfer->outcome.code = *refused;
      Complete(std::move(transfer));
      return;
    }
    // Ahead of the links not yet started: the list waits for this one.
    Ask(std::move(transfer), Place::kFront);
  }

  void EndChain(std::unique_ptr<Transfer> transfer, ChainEnd end, OutcomeCode code) {
    transfer->first.chain_end = end;
    transfer->first.chain_code = end == ChainEnd::kFailed ? code : 0;
    // A fetched page's body is the chain end's.
    transfer->first.body = std::move(transfer->outcome.body);
    transfer->first.content_type = std::move(transfer->outcome.content_type);
    transfer->first.body_withheld = transfer->outcome.body_withheld;
    Post(std::move(transfer->first));
  }

  // Starts queued transfers in list order while slots are free, passing
  // over those whose host has all its slots.
  void StartWaiting() {
    const auto now = SteadyNow();
    while (!retries_.empty() && retries_.begin()->first <= now) {
      waiting_.push_front(std::move(retries_.begin()->second));
      retries_.erase(retries_.begin());
    }
    const auto parallel = static_cast<std::size_t>(settings_in_force_.parallel);
    pacing_.SetRate(settings_in_force_.rate_per_host);
    // curl opens at most --per-host connections to a host, and puts at most
    // --streams requests on one HTTP/2 connection.
    curl_multi_setopt(multi_, CURLMOPT_MAX_HOST_CONNECTIONS,
                      static_cast<long>(settings_in_force_.per_host));
    curl_multi_setopt(multi_, CURLMOPT_MAX_CONCURRENT_STREAMS,
                      static_cast<long>(settings_in_force_.streams));
    hosts_.SetLimits(settings_in_force_.per_host, settings_in_force_.streams);
    for (const auto& [easy, running] : running_) {
      if (running->headers_complete) Learn(*running);
    }
    std::size_t slots = hosts_.Connections();
    for (auto it = waiting_.begin();
         it != waiting_.end() && (slots < parallel || hosts_.AnyMultiplexed());) {
      const std::string& host_key = (*it)->host_key;
      const HostConnections::Opening opening = hosts_.Open(host_key, MayMultiplex(**it), now);
      if (!opening.fits || (opening.new_connection && slots >= parallel) ||
          !pacing_.MayStart((*it)->host_key, now)) {
        ++it;
        continue;
      }
      slots += opening.new_connection ? 1 : 0;
      hosts_.Started(host_key, now);
      (*it)->multiplexed = opening.multiplexed;
      pacing_.Started((*it)->host_key, now);
      Begin(std::move(*it));
      it = waiting_.erase(it);
    }
  }

  // Whether a transfer's host may answer over HTTP/2.
  bool MayMultiplex(const Transfer& transfer) const {
    return transfer.outcome.protocol == Protocol::kHttps ||
           (transfer.outcome.protocol == Protocol::kHttp &&
            settings_in_force_.http2_prior_knowledge);
  }

  // Notes how a transfer's host answered, once its reply's head is in; a
  // transfer that got no reply tells nothing.
  void Learn(const Transfer& transfer) {
    long version = 0;
    curl_easy_getinfo(transfer.easy, CURLINFO_HTTP_VERSION, &version);
    hosts_.Learn(transfer.host_key, version);
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
    transfer->ForgetReply();
    if (!SetUpTransfer(easy, *transfer, settings_in_force_)) {
      transfer->outcome.code = kSendFailed;
      Refuse(std::move(transfer));
      return;
    }
    if (curl_multi_add_handle(multi_, easy) != CURLM_OK) {
      // Never started: the link is not at fault, the run cannot go on.
      transfer->outcome.code = kNoSocket;
      transfer->outcome.out_of_descriptors = true;
      Refuse(std::move(transfer));
      return;
    }
    running_.emplace(easy, std::move(transfer));
  }

  void Finish(CURL* easy, CURLcode result) {
    const auto found = running_.find(easy);
    if (found == running_.end()) return;
    std::unique_ptr<Transfer> transfer = std::move(found->second);
    running_.erase(found);
    Learn(*transfer);
    const bool reusable = Release(*transfer);
    // Once a reply's head is in, a body read only to keep the connection
    // cannot change what the link is.
    const bool head_in = transfer->headers_complete && !transfer->keeping_body;
    transfer->outcome.code = TransferOutcome(
        easy, result,
        {transfer->ended_here || head_in, transfer->address == transfer->outcome.host,
         !transfer->outcome.reply.empty()});
    // A lookup that failed for want of a descriptor looks like an unknown
    // name; the process's state now tells.
    transfer->outcome.out_of_descriptors =
        result != CURLE_OK &&
        (transfer->no_descriptor || (result == CURLE_COULDNT_RESOLVE_HOST && OutOfDescriptors()));
    transfer->outcome.unreadable_reply =
        transfer->outcome.reply.empty() &&
        (result == CURLE_UNSUPPORTED_PROTOCOL || result == CURLE_WEIRD_SERVER_REPLY);
    Recycle(easy, transfer->outcome.protocol, reusable);
    transfer->easy = nullptr;
    if (transfer->outcome.code == kReplyRead && Retried(transfer)) return;
    // An HTTP/2 connection that went away (a GOAWAY, a close) under a
    // request it never answered: asked once more, as a browser does. A
    // stream the host itself reset is its answer.
    const bool unanswered = transfer->outcome.reply.empty() && !transfer->retried &&
                            (result == CURLE_HTTP2 || result == CURLE_RECV_ERROR ||
                             result == CURLE_SEND_ERROR || result == CURLE_GOT_NOTHING);
    if (unanswered && hosts_.Multiplexed(transfer->host_key)) {
      transfer->retried = true;
      retries_.emplace(SteadyNow(), std::move(transfer));
      return;
    }
    Complete(std::move(transfer));
  }

  // A busy server that names a short wait gets one more try after it. A
  // host that says it has too much to do (429) gets a pause from every
  // link to it, not only from this one; the other hosts go on.
  bool Retried(std::unique_ptr<Transfer>& transfer) {
    const auto due = RetryDue(*transfer, pacing_);
    if (!due) return false;
    retries_.emplace(*due, std::move(transfer));
    return true;
  }

  // Ends a transfer that was never added to the multi handle.
  void Refuse(std::unique_ptr<Transfer> transfer) {
    hosts_.Ended(transfer->host_key);
    Recycle(transfer->easy, transfer->outcome.protocol);
    transfer->easy = nullptr;
    Complete(std::move(transfer));
  }

  // Takes the transfer out of the multi handle; false when curl kept it,
  // and the handle must not serve another transfer.
  bool Release(const Transfer& transfer) {
    const bool removed = curl_multi_remove_handle(multi_, transfer.easy) == CURLM_OK;
    hosts_.Ended(transfer.host_key);
    return removed;
  }

  // Handles are kept for the next transfers; an ftp one holds a
  // connection of its own that no http transfer may take, so it goes.
  void Recycle(CURL* easy, Protocol protocol, bool reusable = true) {
    if (protocol == Protocol::kFtp || !reusable) {
      curl_easy_cleanup(easy);
    } else {
      idle_.push_back(easy);
    }
  }

  void DropAll() {
    for (auto& [easy, transfer] : running_) {
      Recycle(easy, transfer->outcome.protocol, Release(*transfer));
    }
    running_.clear();
    hosts_.Clear();
    waiting_.clear();
    retries_.clear();
    pacing_.Clear();
    ledger_.Clear();
  }

  void Post(ProbeOutcome outcome) {
    const std::uint64_t job = outcome.job;
    const std::int64_t code = outcome.code;
    poster_.Post(WorkerMessage{MessageId::kProbeDone, job, code, {}, std::move(outcome)});
  }

  MessagePoster& poster_;
  // Made here, on the thread that makes the worker, and only used by its
  // own thread.
  Utf8Locale utf8_;
  CURLM* multi_ = nullptr;
  std::atomic<std::uint64_t> next_job_{1};
  std::atomic<bool> missed_wake_{false};

  Mutex mutex_;
  std::deque<std::pair<std::uint64_t, ProbeJob>> incoming_ GUARDED_BY(mutex_);
  std::uint64_t cancels_ GUARDED_BY(mutex_) = 0;
  std::uint64_t forgets_ GUARDED_BY(mutex_) = 0;
  bool stopping_ GUARDED_BY(mutex_) = false;
  ProbeSettings settings_ GUARDED_BY(mutex_);

  // The probe thread's own.
  std::uint64_t cancels_seen_ = 0;
  std::uint64_t forgets_seen_ = 0;
  ProbeSettings settings_in_force_;
  std::deque<std::unique_ptr<Transfer>> waiting_;
  std::unordered_map<CURL*, std::unique_ptr<Transfer>> running_;
  HostConnections hosts_;
  std::multimap<SteadyTime, std::unique_ptr<Transfer>> retries_;
  HostPacing pacing_;
  RequestLedger ledger_;
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

std::uint64_t ProbeWorker::Answer(ProbeOutcome outcome) {
  return engine_->Answer(std::move(outcome));
}

void ProbeWorker::CancelProbe() {
  engine_->CancelProbe();
}

void ProbeWorker::ForgetReplies() {
  engine_->ForgetReplies();
}

void ProbeWorker::Stop() {
  engine_->Stop();
}

}  // namespace quimbel
