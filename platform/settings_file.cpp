#include "platform/settings_file.h"

#include <cstdlib>
#include <optional>
#include <vector>

#include "platform/ascii.h"
#include "platform/mapped_file.h"
#include "platform/product.h"
#include "platform/utf8.h"

namespace quimbel {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "\" stands for "/", %XX for a Latin-1 character and %UXXXX for any other;
// a "%" that starts no escape is itself.
std::string UnescapedKey(std::string_view key) {
  std::string out;
  for (std::size_t i = 0; i < key.size();) {
    if (key[i] == '\\') {
      out += '/';
      ++i;
      continue;
    }
    const std::size_t first = i + 1 < key.size() && key[i + 1] == 'U' ? i + 2 : i + 1;
    const std::size_t digits = first == i + 2 ? 4 : 2;
    char32_t code = 0;
    bool escape = key[i] == '%' && first + digits <= key.size();
    for (std::size_t d = 0; escape && d < digits; ++d) {
      const int value = HexValue(key[first + d]);
      escape = value >= 0;
      code = code * 16 + static_cast<char32_t>(value);
    }
    if (!escape) {
      out += key[i++];
      continue;
    }
    AppendUtf8(out, code);
    i = first + digits;
  }
  return out;
}

// Drops empty steps and the slashes at either end, as QSettings does with
// every key it is given.
std::string NormalizedKey(std::string_view key) {
  std::string out;
  for (const char c : key) {
    if (c == '/' && (out.empty() || out.back() == '/')) continue;
    out += c;
  }
  if (!out.empty() && out.back() == '/') out.pop_back();
  return out;
}

// One logical line of the file: it runs past line ends inside quotes and
// after a backslash, and stops at a ";" outside quotes (a comment).
struct Line {
  std::string_view text;
  std::optional<std::size_t> equals;
};

bool IsLineEnd(char c) {
  return c == '\n' || c == '\r';
}

std::optional<Line> NextLine(std::string_view data, std::size_t& at) {
  while (true) {
    while (at < data.size() && IsAsciiBlank(data[at]))
      ++at;
    if (at >= data.size()) return std::nullopt;
    if (data[at] != ';') break;
    while (at < data.size() && !IsLineEnd(data[at]))
      ++at;
  }
  const std::size_t start = at;
  Line line;
  bool quoted = false;
  for (; at < data.size(); ++at) {
    const char c = data[at];
    if ((IsLineEnd(c) || c == ';') && !quoted) break;
    if (c == '=' && !quoted && !line.equals) line.equals = at - start;
    if (c == '"') quoted = !quoted;
    // The escaped character (a line end too) belongs to the line; "\r\n"
    // and "\n\r" after a backslash are one line end.
    if (c == '\\' && at + 1 < data.size()) {
      ++at;
      if (at + 1 < data.size() && IsLineEnd(data[at]) && IsLineEnd(data[at + 1]) &&
          data[at] != data[at + 1]) {
        ++at;
      }
    }
  }
  line.text = data.substr(start, at - start);
  return line;
}

// The escapes after a backslash that stand for one character.
std::optional<char> SimpleEscape(char c) {
  switch (c) {
    case 'a':
      return '\a';
    case 'b':
      return '\b';
    case 'f':
      return '\f';
    case 'n':
      return '\n';
    case 'r':
      return '\r';
    case 't':
      return '\t';
    case 'v':
      return '\v';
    case '"':
    case '?':
    case '\'':
    case '\\':
      return c;
    default:
      return std::nullopt;
  }
}

// A value: C escapes, quoted parts, and unquoted commas between the items
// of a list. Spaces before an item and after an unquoted one are dropped.
struct Value {
  std::vector<std::string> items;
  bool list = false;
};

Value UnescapedValue(std::string_view text) {
  Value value;
  std::string item;
  bool in_quotes = false;
  bool item_quoted = false;
  std::size_t keep = 0;  // the item's length that trailing spaces may not cut into
  std::size_t i = 0;
  const auto skip_spaces = [&] {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
      ++i;
    keep = item.size();
  };
  const auto chop_spaces = [&] {
    if (item_quoted) return;
    while (item.size() > keep && IsAsciiBlank(item.back()))
      item.pop_back();
  };
  skip_spaces();
  while (i < text.size()) {
    const char c = text[i++];
    if (c == '\\') {
      if (i >= text.size()) break;
      const char e = text[i++];
      if (const std::optional<char> simple = SimpleEscape(e)) {
        item += *simple;
      } else if ((e == 'x' && i < text.size() && HexValue(text[i]) >= 0) ||
                 (e >= '0' && e <= '7')) {
        const int base = e == 'x' ? 16 : 8;
        char16_t code = e == 'x' ? 0 : static_cast<char16_t>(e - '0');
        for (; i < text.size(); ++i) {
          const int digit = HexValue(text[i]);
          if (digit < 0 || digit >= base) break;
          code = static_cast<char16_t>(code * base + digit);
        }
        AppendUtf8(item, code);
      } else if (IsLineEnd(e) && i < text.size() && IsLineEnd(text[i]) && text[i] != e) {
        ++i;  // a continued line
      }
      keep = item.size();
    } else if (c == '"') {
      item_quoted = true;
      in_quotes = !in_quotes;
      if (!in_quotes) skip_spaces();
    } else if (c == ',' && !in_quotes) {
      chop_spaces();
      value.list = true;
      value.items.push_back(std::move(item));
      item.clear();
      item_quoted = false;
      skip_spaces();
    } else {
      item += c;
    }
  }
  chop_spaces();
  value.items.push_back(std::move(item));
  return value;
}

// A text QSettings reads as itself, and "" for the values of other types it
// marks with "@" (byte arrays and strings with a zero excepted).
std::optional<std::string> TextOf(const std::string& text) {
  if (text.empty() || text[0] != '@') return text;
  if (text.starts_with("@@")) return text.substr(1);
  if (text.back() == ')') {
    if (text.starts_with("@ByteArray(")) return text.substr(11, text.size() - 12);
    if (text.starts_with("@String(")) return text.substr(8, text.size() - 9);
  }
  return std::nullopt;
}

std::string TextOf(const Value& value) {
  if (!value.list) return TextOf(value.items.front()).value_or("");
  std::string joined;
  for (const std::string& item : value.items) {
    // A list with a typed item is no list of texts: it reads as "".
    if (item.starts_with('@') && !item.starts_with("@@")) return "";
    if (&item != &value.items.front()) joined += ',';
    joined += item.starts_with('@') ? item.substr(1) : item;
  }
  return joined;
}

}  // namespace

std::string UserSettingsFile() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  std::string folder;
  if (config != nullptr && config[0] != '\0') {
    folder = config;
  } else {
    const char* home = std::getenv("HOME");
    folder = std::string(home != nullptr && home[0] != '\0' ? home : "/") + "/.config";
  }
  return folder + "/" + std::string(kOrganization) + "/" + std::string(kProductName) + ".conf";
}

std::map<std::string, std::string, std::less<>> ParseSettingsText(std::string_view text) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  std::map<std::string, std::string, std::less<>> values;
  std::string section;
  std::size_t at = 0;
  while (const std::optional<Line> line = NextLine(text, at)) {
    if (line->text.starts_with('[')) {
      const std::size_t close = line->text.find(']');
      const std::string_view name = TrimAsciiBlanks(line->text.substr(
          1, close == std::string_view::npos ? std::string_view::npos : close - 1));
      if (SameIgnoringCase(name, "general")) {
        section.clear();
      } else {
        section = (SameIgnoringCase(name, "%general") ? std::string(name.substr(1))
                                                      : UnescapedKey(name)) +
                  "/";
      }
      continue;
    }
    if (!line->equals) continue;
    const std::string key =
        NormalizedKey(section + UnescapedKey(TrimAsciiBlanks(line->text.substr(0, *line->equals))));
    if (key.empty()) continue;
    values.insert_or_assign(key, TextOf(UnescapedValue(line->text.substr(*line->equals + 1))));
  }
  return values;
}

SettingsFileReader::SettingsFileReader(std::string file) : file_(std::move(file)) {
  if (const auto text = MappedFile::Open(file_)) values_ = ParseSettingsText(text->text());
}

std::optional<std::string> SettingsFileReader::Read(std::string_view section,
                                                    std::string_view name) {
  const auto found = values_.find(NormalizedKey(std::string(section) + "/" + std::string(name)));
  if (found == values_.end()) return std::nullopt;
  return found->second;
}

}  // namespace quimbel
