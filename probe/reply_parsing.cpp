#include "probe/reply_parsing.h"

#include <algorithm>
#include <cctype>

#include "links/url_resolver.h"
#include "links/url_split.h"
#include "platform/ascii.h"

namespace quimbel {
namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

void SkipBlanks(std::string_view& text) {
  while (!text.empty() && IsAsciiBlank(text.front()))
    text.remove_prefix(1);
}

// Reads a run of non-blank characters, as "%s" does.
bool ReadWord(std::string_view& text) {
  SkipBlanks(text);
  if (text.empty()) return false;
  while (!text.empty() && !IsAsciiBlank(text.front()))
    text.remove_prefix(1);
  return true;
}

// Reads an unsigned decimal number, as "%u" does; values beyond 32 bits
// stay at the largest one, which has no category either.
std::optional<std::uint32_t> ReadNumber(std::string_view& text) {
  SkipBlanks(text);
  if (text.empty() || !IsDigit(text.front())) return std::nullopt;
  std::uint64_t value = 0;
  while (!text.empty() && IsDigit(text.front())) {
    value = std::min<std::uint64_t>(value * 10 + static_cast<std::uint64_t>(text.front() - '0'),
                                    UINT32_MAX);
    text.remove_prefix(1);
  }
  return static_cast<std::uint32_t>(value);
}

std::string Upper(std::string_view text) {
  std::string upper(text);
  for (char& c : upper)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper;
}

}  // namespace

std::string_view ReplyText(std::string_view reply) {
  return reply.substr(0, reply.find('\0'));
}

std::optional<std::uint32_t> ParseStatusCode(std::string_view reply) {
  reply = ReplyText(reply);
  std::string_view line;
  for (std::size_t start = 0; start < reply.size();) {
    const std::size_t end = std::min(reply.find('\n', start), reply.size());
    if (end > start) {
      line = reply.substr(start, end - start);
      break;
    }
    start = end + 1;
  }
  if (line.empty()) return std::nullopt;
  if (IsDigit(reply.front())) return ReadNumber(line);
  if (!ReadWord(line)) return std::nullopt;
  return ReadNumber(line);
}

std::optional<std::string> LocationOf(std::string_view reply) {
  reply = ReplyText(reply);
  static constexpr std::string_view kLocation = "LOCATION:";
  // A header line of that name: not the tail of Content-Location, and not
  // the status line.
  for (std::size_t start = reply.find('\n'); start != std::string_view::npos;
       start = reply.find('\n', start + 1)) {
    const std::string_view line = reply.substr(start + 1, reply.find('\n', start + 1) - start - 1);
    if (line.size() < kLocation.size() || Upper(line.substr(0, kLocation.size())) != kLocation) {
      continue;
    }
    return std::string(TrimAsciiBlanks(line.substr(kLocation.size())));
  }
  return std::nullopt;
}

std::string AlternateUrl(std::string_view reply, std::string_view current_url) {
  const std::optional<std::string> location = LocationOf(reply);
  if (!location || location->empty()) return {};
  // What the resolver cannot read is shown as the server wrote it.
  return ResolveUrl(current_url, *location).value_or(*location);
}

std::optional<int> RetryAfterSeconds(std::string_view reply) {
  reply = ReplyText(reply);
  static constexpr std::string_view kRetryAfter = "\nRETRY-AFTER:";
  const std::string upper = Upper(reply);
  const std::size_t at = upper.find(kRetryAfter);
  if (at == std::string::npos) return std::nullopt;
  std::string_view value = reply.substr(at + kRetryAfter.size());
  value = value.substr(0, value.find('\n'));
  value = TrimAsciiBlanks(value);  // the carriage return too
  // Only a number of seconds; a date is no short wait.
  if (value.empty() || value.size() > 6) return std::nullopt;
  int seconds = 0;
  for (const char c : value) {
    if (!IsDigit(c)) return std::nullopt;
    seconds = seconds * 10 + (c - '0');
  }
  return seconds;
}

}  // namespace quimbel
