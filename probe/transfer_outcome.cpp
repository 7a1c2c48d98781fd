#include "probe/transfer_outcome.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>

#include "links/url_split.h"
#include "platform/ascii.h"

namespace quimbel {
namespace {

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
  // inet_aton stops at a blank and takes what came before it: "127 0 0 1"
  // would be read as 0.0.0.127, a host the page never named.
  const auto in_number = [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.';
  };
  in_addr address{};
  if (!std::all_of(host.begin(), host.end(), in_number) || inet_aton(host.c_str(), &address) == 0) {
    return std::nullopt;
  }
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &address, text, sizeof text);
  return std::string(text);
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

}  // namespace

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

OutcomeCode TransferOutcome(CURL* easy, CURLcode result, const TransferFacts& facts) {
  if (facts.ended_here || result == CURLE_OK) return kReplyRead;
  if (IsSecureConnectionFailure(result)) return kSecureConnectionFailed;
  // A proxy that refused the tunnel: the host was never reached, and the
  // proxy's answer says nothing about the link.
  long tunnel = 0;
  curl_easy_getinfo(easy, CURLINFO_HTTP_CONNECTCODE, &tunnel);
  if (tunnel >= 300) return kConnectFailed;
  curl_off_t connect_time = 0;
  curl_easy_getinfo(easy, CURLINFO_CONNECT_TIME_T, &connect_time);
  long request_size = 0;
  curl_easy_getinfo(easy, CURLINFO_REQUEST_SIZE, &request_size);
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
      // Connected, but the secure handshake never finished: the host is
      // there and too slow, not unreachable.
      long port = 0;
      curl_easy_getinfo(easy, CURLINFO_PRIMARY_PORT, &port);
      if (port != 0) return kTookTooLong;
      // Out of time before any connection: still looking the name up, or
      // still connecting.
      curl_off_t looked_up = 0;
      curl_easy_getinfo(easy, CURLINFO_NAMELOOKUP_TIME_T, &looked_up);
      const bool named = facts.looked_up_by_name;
      return named && looked_up == 0 ? kHostNotFound : kConnectFailed;
    }
    case CURLE_SEND_ERROR:
    case CURLE_OUT_OF_MEMORY:  // a request larger than curl builds (1 MB)
      return !facts.reply_read ? kSendFailed : kReplyRead;
    // The host answered, or closed without a word: whatever came back, if
    // anything, is the reply.
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
    case CURLE_PARTIAL_FILE:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_WRITE_ERROR:
      return kReplyRead;
    // HTTP/2's framing: a stream or its connection ended by the host. A
    // stream it refused is retried by curl before it comes here.
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
      return facts.reply_read ? kReplyRead : kStreamReset;
    default:
      return connected ? kReplyRead : kConnectFailed;
  }
}

}  // namespace quimbel
