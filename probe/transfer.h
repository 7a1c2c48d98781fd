// Transfer: one link being probed by the probe thread, from its first
// request to the end of its redirect chain, and the libcurl callbacks that
// fill its reply. The probe thread's alone.
#pragma once

#include <curl/curl.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "probe/probe_worker.h"

namespace quimbel {

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
  bool keeping_body = false;  // the reply's body is wanted and kept in `outcome.body`
  bool ended_here = false;    // we ended it: enough was read
  std::size_t body_read = 0;  // bytes of a body not kept, read to keep the connection
  // When the head of the reply came in, for a body not kept.
  std::optional<std::chrono::steady_clock::time_point> head_at;
  bool retried = false;
  // This hop's request is the run's for its URL: others wait for its reply.
  bool asking = false;
  // When the link's (or the hop's) time is up: set when it first starts, so
  // a wait for a retry counts against it.
  std::optional<std::chrono::steady_clock::time_point> deadline;
  bool no_descriptor = false;  // a socket could not be opened: EMFILE or ENFILE
  // Its host answers over HTTP/2: the transfer waits for a connection
  // being made to it rather than opening one more.
  bool multiplexed = false;

  // Before each request (a hop, a retry): nothing of an earlier reply
  // stays.
  void ForgetReply();
  // Following the moves of a moved link: `first` holds the first reply,
  // `outcome` the hop under way.
  bool following = false;
  int max_redirects = 0;
  ProbeOutcome first;
  std::vector<std::string> visited;  // every URL of the chain, fragments cut
};

// The URL without its fragment: what a chain compares to find a loop.
std::string WithoutFragment(std::string url);

// CURLOPT_HEADERFUNCTION and CURLOPT_WRITEFUNCTION for a Transfer: the
// header block, or a reply without one, is kept up to kMaxReplyBytes; a
// body is kept when the job wants it (up to kMostBodyBytes), and otherwise
// read only when it is small enough to keep the connection.
std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user);
std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user);
// libcurl's progress callback: ends a body read only to keep the
// connection once it has taken longer than a new connection would.
int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t);

// CURLOPT_OPENSOCKETFUNCTION for a Transfer: opens the socket as curl
// would, noting when the process has no descriptor left, which curl does
// not tell apart from a refused connection.
curl_socket_t OnOpenSocket(void* user, curlsocktype purpose, curl_sockaddr* address);

// Whether the process has no descriptor left right now.
bool OutOfDescriptors();

}  // namespace quimbel
