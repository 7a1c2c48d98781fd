// The escapes of URL resolution: the browser's percent-encode sets, the
// carrying of bytes RFC 3986 refuses through uriparser, and a query's
// letters in a page's charset. The resolver's own helpers (links/ only).
// Pure functions; any thread.
#pragma once

#include <string>
#include <string_view>

namespace quimbel {

// The parts of a URL, each with its own set of bytes to escape.
enum class Part { kUserinfo, kHost, kPath, kQuery, kFragment };

bool IsHex(char c);
int HexValue(char c);
// "%XX", upper-case hex.
void AppendEscape(std::string& out, unsigned char byte);

// Whether the browser escapes the byte in the part (its percent-encode
// sets); `special` for http, https, ftp, ws, wss and file.
bool BrowserEscapes(unsigned char byte, Part part, bool special);
// Whether RFC 3986's grammar, which uriparser follows, takes the byte as
// it is in the part.
bool RfcAllows(unsigned char byte, Part part);

// The part in the browser's spelling: the bytes of its set escaped,
// escapes already written kept as written.
std::string BrowserSpelling(std::string_view text, Part part, bool special);
// Appends the part with every "%" and every byte RFC 3986 refuses
// escaped; Unescape() undoes exactly this.
void AppendCarried(std::string& out, std::string_view text, Part part);
std::string Unescape(std::string_view text);

// A query's non-ASCII letters as the bytes of the page's charset (the
// latin1 labels read as windows-1252, UTF-16 as UTF-8); a letter the
// charset lacks as "%26%23N%3B", as browsers send it.
std::string InCharset(const std::string& query, std::string_view charset);

}  // namespace quimbel
