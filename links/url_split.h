// Splitting a probed URL into the host to connect to, the port, and the
// path to request. Pure functions on the URL text as extraction produced
// it, in its own letter case; safe on any thread and any bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quimbel {

enum class Protocol { kHttp = 1, kFtp = 2, kHttps = 3 };

// Whether `text` begins with "scheme:" as RFC 3986 spells it (a letter,
// then letters, digits, "+", "-" or ".").
bool HasScheme(std::string_view text);

// The protocol of an extracted URL, from its first letters: "F" is ftp,
// "H" followed by an "S" in fifth place is https, anything else http.
Protocol ProtocolOf(std::string_view url);

// The scheme is skipped by its length ("http://" 7, "https://" 8, "ftp://"
// 6), not by comparing letters; extraction has already chosen the protocol.
std::size_t SchemeLength(Protocol protocol);

// The port a protocol uses when the URL names none.
std::uint16_t DefaultPort(Protocol protocol);

// The host: the text after the scheme, up to the first "/", "?" or "#",
// without any user information before an "@", then up to the port's ":".
// An IPv6 address keeps its brackets ("[::1]") and the colons inside them.
// May be empty.
std::string UrlHost(std::string_view url, Protocol protocol);

// The request target: the path and query exactly as written ("/" when
// there is no path), the fragment dropped. Bytes a request line cannot
// carry (blanks, control bytes, bytes above 127, and the quote and angle
// brackets) are percent-escaped as browsers do; escapes already written
// stay as they are. Nothing is appended: a server that wants a "/" says so
// with a redirect.
std::string UrlPath(std::string_view url, Protocol protocol);

// The port written after the host ("host:8080"), the protocol's default when
// none is written (an empty port text counts as none), or nothing when the
// text is not a number from 1 to 65535.
std::optional<std::uint16_t> UrlPort(std::string_view url, Protocol protocol);

// The text with its percent-escapes decoded; a "%" without two hex digits
// stays as written.
std::string PercentDecode(std::string_view text);

}  // namespace quimbel
