// ProbeWorker: the long-lived probe thread. It drives every transfer of a
// run through one libcurl multi handle, many links in flight at once.
//
// The controller (user-interface thread) hands it URL jobs with Kick(), in
// list order and ahead of the head of its list; the worker starts them in
// that order as the parallel and per-host limits allow, and posts one
// kProbeDone per job, carrying its ProbeOutcome, in whatever order the
// transfers end. The worker keeps its own copy of each job, so the caller
// may change its lists at any time.
//
// Kick(), Configure(), CancelProbe() and Stop() may be called from any
// thread; the destructor stops and joins the thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "links/url_split.h"
#include "platform/worker_message.h"
#include "probe/outcome_code.h"

namespace quimbel {

inline constexpr std::size_t kMaxReplyBytes = 2048;
// A 429 or 503 whose Retry-After asks for at most this many seconds is
// tried once more after that wait; never more than once.
inline constexpr int kMostRetryAfterSeconds = 10;

inline constexpr int kDefaultParallelProbes = 32;
inline constexpr int kMostParallelProbes = 256;
inline constexpr int kDefaultPerHost = 8;
// Requests at once on one HTTP/2 connection; the most a host is sent.
inline constexpr int kDefaultStreams = 100;
inline constexpr int kMostStreams = 1000;
// Moves followed to learn whether a moved link's target lives.
inline constexpr int kDefaultMaxRedirects = 10;
inline constexpr int kMostRedirects = 50;
inline constexpr int kMostRatePerHost = 10000;

// The longest body a fetch keeps: a page beyond it is read up to it.
inline constexpr std::size_t kMostBodyBytes = std::size_t{10} << 20;

// What a probe keeps of the reply's body: nothing (a link is checked by
// its header block), an HTML page's (a crawled page, whose links are read
// next), or any body (robots.txt, a sitemap).
enum class BodyWanted { kNone, kHtml, kAny };

// Whether a Content-Type names an HTML page (text/html or XHTML), in any
// letter case, parameters aside.
bool IsHtmlType(std::string_view content_type);
// Whether a Content-Type is a style sheet's (text/css).
bool IsStyleSheetType(std::string_view content_type);

struct ProbeJob {
  std::string url;
  std::chrono::milliseconds time_limit{15000};  // for the whole probe, lookup to reply
  std::string user_agent;                       // the request's User-Agent
  BodyWanted body = BodyWanted::kNone;
  // A page the crawl reads. A move that ends at such a page hands the crawl
  // its body, so the page's own fetch needs no second request.
  bool crawled_page = false;
};

// Where the moves of a moved link led.
enum class ChainEnd {
  kNotFollowed,  // no move, no Location, or no hop allowed
  kGood,         // the last reply is no error
  kFailed,       // an error reply, a connection failure, a loop or too many hops
};

// What a run may request: a crawled site's robots.txt keeps some of its
// paths from every request, the hops of moved links included. Immutable
// once made; the probe thread reads it.
class RequestPolicy {
 public:
  virtual ~RequestPolicy() = default;
  virtual bool Allows(std::string_view url) const = 0;
};

// How the transfers of the next jobs are made. Defaults are the
// program's.
struct ProbeSettings {
  // Connections at once, 1 to 256 (a request each, or the `streams` of
  // one HTTP/2 connection), and of those, to one host and port.
  int parallel = kDefaultParallelProbes;
  int per_host = kDefaultPerHost;
  std::string ca_file;    // a private CA, trusted beside the system's
  bool insecure = false;  // https without certificate checks
  // Moves followed after a moved link's first reply, each hop within the
  // time limit; 0 to kMostRedirects, and 0 makes one request only.
  int max_redirects = kDefaultMaxRedirects;
  // Requests started per second to one host and port; 0 for no limit.
  int rate_per_host = 0;
  // A move into what this does not allow ends its chain unasked, as a
  // move to a mail address does; null allows every URL.
  std::shared_ptr<const RequestPolicy> policy = nullptr;
  // Requests at once on the one HTTP/2 connection to a host that offers it
  // (ALPN); 1 to kMostStreams.
  int streams = kDefaultStreams;
  // Plain http spoken as HTTP/2 from the first byte, for a host known to.
  bool http2_prior_knowledge = false;

  bool operator==(const ProbeSettings&) const = default;
};

// What a finished probe hands to the reply classification.
struct ProbeOutcome {
  std::uint64_t job = 0;
  std::string url;
  Protocol protocol = Protocol::kHttp;
  std::string host;
  // The status line and header block as received, at most kMaxReplyBytes
  // (for a reply without headers, its first bytes).
  std::string reply;
  // The host answered with a status line that cannot be read as HTTP (no
  // version or no number), so `reply` holds none of it.
  bool unreadable_reply = false;
  bool local = false;  // a local link, checked on disk: no transfer at all
  // The transfer failed for want of a file descriptor: says nothing about
  // the link, and the run cannot go on.
  bool out_of_descriptors = false;
  OutcomeCode code = kReplyRead;
  // The first reply stays above; when it was a move that was followed,
  // the URLs its moves led to, in order, and how the chain ended. A failed
  // chain's `chain_code` is its category: the last status code, a
  // connection failure, kRedirectLoop or kTooManyRedirects (0 for an empty
  // or unreadable last reply).
  std::vector<std::string> redirects;
  ChainEnd chain_end = ChainEnd::kNotFollowed;
  OutcomeCode chain_code = 0;
  // For a job that wanted one: the body of the last reply (a followed
  // chain's end), at most kMostBodyBytes, with its Content-Type. Empty
  // when the reply was an error, or not HTML when HTML was wanted.
  std::string body;
  std::string content_type;
  // The chain ended at a page the run had asked for before, whose body is
  // gone: what the page holds was read then, if it was wanted.
  bool body_withheld = false;
};

class ProbeWorker {
 public:
  explicit ProbeWorker(MessagePoster& poster);
  ~ProbeWorker();
  ProbeWorker(const ProbeWorker&) = delete;
  ProbeWorker& operator=(const ProbeWorker&) = delete;

  void Start();

  // Applies to the jobs started from now on.
  void Configure(const ProbeSettings& settings);

  // Queues one URL and returns the job number its kProbeDone carries.
  std::uint64_t Kick(ProbeJob job);
  // A job answered without a request (a page a stopped crawl read before):
  // its kProbeDone, carrying `outcome`, is posted at once.
  std::uint64_t Answer(ProbeOutcome outcome);

  // Ends every transfer at once and drops every queued job. A kProbeDone
  // already posted may still arrive; its job number tells it apart. The
  // thread keeps waiting for kicks.
  void CancelProbe();

  // A URL is asked for once until the next cancel: a later job for it
  // takes the reply the first one got. After this call, the jobs kicked
  // from now on ask again (a recheck wants today's answer). New settings
  // do the same.
  void ForgetReplies();

  // Ends the thread and joins it. Idempotent.
  void Stop();

 private:
  class Engine;
  std::unique_ptr<Engine> engine_;
};

}  // namespace quimbel
