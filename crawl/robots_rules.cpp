#include "crawl/robots_rules.h"

#include <optional>

#include "platform/ascii.h"

namespace quimbel {
namespace {

// Whether `pattern` matches the start of `path` ("*" any bytes, a final
// "$" the end). Backtracks only to the last "*": linear enough for the
// short rules robots.txt files hold.
bool Matches(std::string_view pattern, std::string_view path) {
  const bool anchored = pattern.ends_with('$');
  if (anchored) pattern.remove_suffix(1);
  std::size_t p = 0;
  std::size_t s = 0;
  std::optional<std::size_t> star;
  std::size_t star_s = 0;
  while (true) {
    if (p == pattern.size()) {
      if (!anchored || s == path.size()) return true;
    } else if (pattern[p] == '*') {
      star = ++p;
      star_s = s;
      continue;
    } else if (s < path.size() && pattern[p] == path[s]) {
      ++p;
      ++s;
      continue;
    }
    if (!star || star_s >= path.size()) return false;
    p = *star;
    s = ++star_s;
  }
}

struct Line {
  std::string field;  // lower case
  std::string value;
};

std::optional<Line> ReadLine(std::string_view line) {
  line = line.substr(0, line.find('#'));
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  return Line{AsciiLowered(std::string(TrimAsciiBlanks(line.substr(0, colon)))),
              std::string(TrimAsciiBlanks(line.substr(colon + 1)))};
}

}  // namespace

RobotsRules RobotsRules::Parse(std::string_view text, std::string_view agent) {
  const std::string token = AsciiLowered(std::string(agent));
  RobotsRules own;
  RobotsRules any;
  bool own_seen = false;
  // The groups the lines under way belong to; a run of User-agent lines
  // opens one group for all of them.
  bool for_own = false;
  bool for_any = false;
  bool in_agents = false;
  while (!text.empty()) {
    const std::size_t end = std::min(text.find_first_of("\r\n"), text.size());
    const std::optional<Line> line = ReadLine(text.substr(0, end));
    text.remove_prefix(std::min(end + 1, text.size()));
    if (!line) continue;
    if (line->field == "user-agent") {
      if (!in_agents) for_own = for_any = false;
      in_agents = true;
      const std::string name = AsciiLowered(line->value);
      if (name == "*") for_any = true;
      if (!token.empty() && name == token) for_own = own_seen = true;
      continue;
    }
    in_agents = false;
    if (line->field != "allow" && line->field != "disallow") continue;
    // An empty Disallow allows everything: it adds no rule.
    if (line->value.empty()) continue;
    const Rule rule{line->value, line->field == "allow"};
    if (for_own) own.rules_.push_back(rule);
    if (for_any) any.rules_.push_back(rule);
  }
  return own_seen ? own : any;
}

bool RobotsRules::Allows(std::string_view path) const {
  std::size_t longest = 0;
  bool allowed = true;
  for (const Rule& rule : rules_) {
    if (!Matches(rule.pattern, path)) continue;
    const std::size_t length = rule.pattern.size();
    if (length > longest || (length == longest && rule.allow)) {
      longest = length;
      allowed = rule.allow;
    }
  }
  return allowed;
}

}  // namespace quimbel
