#include "export/report_fields.h"

#include <ctime>

namespace quimbel {

// The length of the valid UTF-8 sequence at `at`, or 0.
std::size_t Utf8SequenceAt(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned long code = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, code = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, code = lead & 0x07;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(at + i) & 0x3F);
  }
  // Overlong forms, surrogates and code points past U+10FFFF are invalid.
  if ((length == 3 && code < 0x800) || (length == 4 && (code < 0x10000 || code > 0x10FFFF)) ||
      (code >= 0xD800 && code <= 0xDFFF)) {
    return 0;
  }
  return length;
}

bool IsUtf8(std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = Utf8SequenceAt(text, at);
    if (length == 0) return false;
    at += length;
  }
  return true;
}

// The text with every byte that is no part of valid UTF-8 shown as U+FFFD;
// with `xml`, also the control characters XML 1.0 cannot hold.
std::string Displayable(std::string_view text, bool xml) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = Utf8SequenceAt(text, at);
    const char c = text[at];
    if (length == 0 || (xml && length == 1 && static_cast<unsigned char>(c) < 0x20 && c != '\t' &&
                        c != '\n' && c != '\r')) {
      out += "\xEF\xBF\xBD";
      at += length == 0 ? 1 : length;
      continue;
    }
    out.append(text.substr(at, length));
    at += length;
  }
  return out;
}

// The text as Displayable() makes it, with every control byte but tab and
// the line ends shown as its Unicode control picture (ESC as U+241B): a
// report read in a terminal or a CI log must not carry escape sequences.
std::string Shown(std::string_view text) {
  std::string out;
  for (const char c : Displayable(text)) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && c != '\t' && c != '\r' && c != '\n') || byte == 0x7F) {
      const unsigned picture = byte == 0x7F ? 0x2421 : 0x2400 + byte;
      out += static_cast<char>(0xE0 | (picture >> 12));
      out += static_cast<char>(0x80 | ((picture >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (picture & 0x3F));
    } else {
      out += c;
    }
  }
  return out;
}

std::string Hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (const char c : bytes) {
    out += kDigits[static_cast<unsigned char>(c) >> 4];
    out += kDigits[static_cast<unsigned char>(c) & 0xF];
  }
  return out;
}

std::string IsoTime(std::chrono::system_clock::time_point when) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

bool IsLocalCode(std::uint32_t code) {
  return code == kLocalFileNotFound || code == kLocalAnchorNotFound;
}

std::string PropertiesText(const ResultRow& row) {
  std::string text;
  for (int i = 0; i < kResultColumnCount; ++i) {
    if (i > 0) text += "\n\n";
    text += row.text(static_cast<ResultColumn>(i));
  }
  if (row.line > 0) text += "\n\nLine " + std::to_string(row.line);
  // The reason keeps its old name, which says nothing to an author today.
  if (row.code == kReplyTimedOut) {
    text += "\n\nThe server took the connection but sent no answer within the time limit";
  }
  if (const std::string& target = row.target(); !target.empty()) {
    text += "\n\nLeads to: " + target;
    // "Repaired in" only once a repair has rewritten the file.
    if (row.source().empty()) {
      text += "\n\nNot offered for repair: " + row.source_note();
    } else {
      text += (row.RowDone() == kRowRepaired ? "\n\nRepaired in: " : "\n\nA repair rewrites: ") +
              row.source();
    }
  }
  // Where a followed move led, one hop a line.
  if (const std::string& chain = row.redirects(); !chain.empty()) {
    text += "\n\nRedirects:\n" + chain;
  }
  return text;
}

const std::string& FileOf(const ResultRow& row) {
  return row.file();
}

std::size_t SkippedTotal(const FileRecords& files) {
  std::size_t skipped = 0;
  for (const FileRecord& file : files)
    skipped += file.skipped;
  return skipped;
}

std::size_t TestedTotal(const FileRecords& files) {
  std::size_t tested = 0;
  for (const FileRecord& file : files)
    tested += file.urls_tested;
  return tested;
}

}  // namespace quimbel
