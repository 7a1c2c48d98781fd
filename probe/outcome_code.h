// Outcome codes: the number every probe ends in. 0 means a reply was read
// (or an ftp connection was made); the others are connection-level failures
// and keys of the report categories. Constants; any thread.
#pragma once

#include <cstdint>

namespace quimbel {

using OutcomeCode = std::uint32_t;

inline constexpr OutcomeCode kReplyRead = 0;
inline constexpr OutcomeCode kUnspecifiedSocketError = 10000;  // never produced
inline constexpr OutcomeCode kInvalidPortOrName = 10001;
inline constexpr OutcomeCode kHostNotFound = 10002;
inline constexpr OutcomeCode kNoSocket = 10003;
inline constexpr OutcomeCode kConnectFailed = 10004;
// Connected, but a secure handshake that never finished.
inline constexpr OutcomeCode kTookTooLong = 10005;
inline constexpr OutcomeCode kSendFailed = 10006;
inline constexpr OutcomeCode kReplyTimedOut = 10007;
// The TLS handshake failed, or the certificate was untrusted, expired or
// for another name.
inline constexpr OutcomeCode kSecureConnectionFailed = 10008;
// A moved link whose moves lead back to a URL they passed, or on past the
// hop limit.
inline constexpr OutcomeCode kRedirectLoop = 10009;
inline constexpr OutcomeCode kTooManyRedirects = 10010;
// The page came, but the place its fragment names is not on it (checked
// only when asked for: other sites' pages).
inline constexpr OutcomeCode kAnchorNotFound = 10011;
// An HTTP/2 stream reset (RST_STREAM, or a GOAWAY that ended it) before
// any reply came: no status the host gave.
inline constexpr OutcomeCode kStreamReset = 10012;

// Local links, checked on disk. Their reasons do not begin with "Error:":
// they are the page's own faults, not passing network trouble.
inline constexpr OutcomeCode kLocalFileNotFound = 10100;
inline constexpr OutcomeCode kLocalAnchorNotFound = 10101;
inline constexpr OutcomeCode kLocalTargetFound = 10199;  // never a row

// A reply that says where the page went: a row with an alternate URL.
inline constexpr bool IsMoveCode(OutcomeCode code) {
  return code == 301 || code == 302 || code == 307 || code == 308;
}

// A reply whose Location a probe follows to learn where the link ends.
inline constexpr bool IsFollowedMove(OutcomeCode code) {
  return IsMoveCode(code) || code == 303;
}

}  // namespace quimbel
