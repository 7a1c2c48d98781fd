#include "probe/transfer.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/ascii.h"
#include "platform/clock.h"

namespace quimbel {
namespace {

// Reading a small body keeps the connection for the next link to the same
// host; a large one costs more than a new connection. Measured with
// bench/probe_bench.sh, which also builds a variant that never reads one
// (a bound below 0).
constexpr curl_off_t kLongestBodyRead = QUIMBEL_LONGEST_BODY_READ;

// Whether the body of this reply is kept: the job wants it, the reply is
// no error and no move, and for a page it is HTML or a style sheet.
bool WantsBody(Transfer& transfer, long status) {
  const BodyWanted wanted = transfer.request.body;
  if (wanted == BodyWanted::kNone || status < 200 || status >= 300) return false;
  const char* type = nullptr;
  curl_easy_getinfo(transfer.easy, CURLINFO_CONTENT_TYPE, &type);
  transfer.outcome.content_type = type != nullptr ? type : "";
  return wanted == BodyWanted::kAny || IsHtmlType(transfer.outcome.content_type) ||
         IsStyleSheetType(transfer.outcome.content_type);
}

}  // namespace

namespace {
std::string MediaType(std::string_view content_type) {
  return AsciiLowered(std::string(TrimAsciiBlanks(content_type.substr(0, content_type.find(';')))));
}
}  // namespace

bool IsHtmlType(std::string_view content_type) {
  const std::string type = MediaType(content_type);
  return type == "text/html" || type == "application/xhtml+xml";
}

bool IsStyleSheetType(std::string_view content_type) {
  return MediaType(content_type) == "text/css";
}

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
  if (status >= 100 && status < 200) {
    // An interim reply (100 Continue, 103 Early Hints): the real one
    // follows, and it is the one the link is judged by.
    reply.clear();
    return length;
  }
  transfer->headers_complete = true;
  if (WantsBody(*transfer, status)) {
    transfer->keeping_body = true;
    return length;
  }
  // A body of unknown length (chunked, or ended by a close) is read on too,
  // as far as the bound: most dynamic pages are sent that way, and ending
  // them after the headers would cost each link a new connection.
  curl_off_t body = -1;
  curl_easy_getinfo(transfer->easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &body);
  if (kLongestBodyRead >= 0 && body <= kLongestBodyRead) {
    transfer->head_at = SteadyNow();
    return length;
  }
  transfer->ended_here = true;
  return 0;
}

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  const std::size_t length = size * count;
  if (transfer->keeping_body) {
    std::string& body = transfer->outcome.body;
    body.append(data, std::min(length, kMostBodyBytes - body.size()));
    if (body.size() < kMostBodyBytes) return length;
    // Longer than any page worth reading: what has come is what is read.
    transfer->ended_here = true;
    return 0;
  }
  if (transfer->headers_complete) {
    // A small body is read to keep the connection; past the bound, a new
    // connection costs less than the rest.
    transfer->body_read += length;
    if (kLongestBodyRead >= 0 && transfer->body_read <= static_cast<std::size_t>(kLongestBodyRead))
      return length;
    transfer->ended_here = true;
    return 0;
  }
  // A reply without a status line: its first bytes are what we classify.
  std::string& reply = transfer->outcome.reply;
  reply.append(data, std::min(length, kMaxReplyBytes - reply.size()));
  if (reply.size() < kMaxReplyBytes) return length;
  transfer->ended_here = true;
  return 0;
}

void Transfer::ForgetReply() {
  outcome.reply.clear();
  outcome.unreadable_reply = false;
  outcome.body.clear();
  outcome.content_type.clear();
  headers_complete = false;
  keeping_body = false;
  ended_here = false;
  body_read = 0;
  head_at.reset();
}

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  // A body that keeps coming (a stream) or stops coming is not worth its
  // connection: the link's status is in.
  constexpr auto kLongestBodyWait = std::chrono::seconds(1);
  auto* transfer = static_cast<Transfer*>(user);
  if (!transfer->head_at || SteadyNow() - *transfer->head_at < kLongestBodyWait) return 0;
  transfer->ended_here = true;
  return 1;
}

curl_socket_t OnOpenSocket(void* user, curlsocktype /*purpose*/, curl_sockaddr* address) {
  const int fd = ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
  if (fd < 0 && (errno == EMFILE || errno == ENFILE)) {
    static_cast<Transfer*>(user)->no_descriptor = true;
  }
  return fd < 0 ? CURL_SOCKET_BAD : fd;
}

bool OutOfDescriptors() {
  const int fd = ::fcntl(0, F_DUPFD_CLOEXEC, 0);
  if (fd >= 0) {
    ::close(fd);
    return false;
  }
  return errno == EMFILE || errno == ENFILE;
}

}  // namespace quimbel
