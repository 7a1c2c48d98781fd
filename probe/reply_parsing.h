// Reading a probe's reply: the status code of its status line and the
// redirect target of its "Location" header. Pure functions; any thread.
//
// The reply is read as the zero-terminated text it was stored as: a NUL
// byte ends it, and a reply that starts with one counts as empty.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quimbel {

// The reply up to its first NUL byte.
std::string_view ReplyText(std::string_view reply);

// The status code: the first non-empty line (lines end at a line feed) is
// read as a number then a word when the reply starts with a digit, else as
// a word then a number. Nothing when no number can be read there.
std::optional<std::uint32_t> ParseStatusCode(std::string_view reply);

// The value of the reply's "Location" header line (its name in any case),
// trimmed; nothing when it has none.
std::optional<std::string> LocationOf(std::string_view reply);

// The alternate URL of a reply for `current_url`, or "" when it has none:
// its Location resolved against the current URL as a browser resolves
// it, whole.
std::string AlternateUrl(std::string_view reply, std::string_view current_url);

// The seconds of a "Retry-After" header given as a number; nothing when
// there is none or it is a date.
std::optional<int> RetryAfterSeconds(std::string_view reply);

}  // namespace quimbel
