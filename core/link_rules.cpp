#include "core/link_rules.h"

#include <re2/re2.h>

#include <charconv>

namespace quimbel {
namespace {

std::string_view Trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

constexpr OutcomeCode kLowestCode = 100;
constexpr OutcomeCode kHighestCode = 10199;

bool ReadCode(std::string_view text, OutcomeCode& code) {
  text = Trimmed(text);
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), code);
  return !text.empty() && error == std::errc() && end == text.data() + text.size() &&
         code >= kLowestCode && code <= kHighestCode;
}

bool SearchAny(const std::vector<std::unique_ptr<const re2::RE2>>& patterns, std::string_view url) {
  for (const auto& pattern : patterns) {
    if (re2::RE2::PartialMatch(re2::StringPiece(url.data(), url.size()), *pattern)) return true;
  }
  return false;
}

// A pattern as a message quotes it: a huge one only by its start.
std::string Quoted(const std::string& pattern) {
  constexpr std::size_t kShown = 80;
  return "\"" + (pattern.size() > kShown ? pattern.substr(0, kShown) + "..." : pattern) + "\"";
}

}  // namespace

Result<LinkRules> LinkRules::Make(const std::vector<std::string>& excludes,
                                  const std::vector<std::string>& includes) {
  if (excludes.size() + includes.size() > kMostPatterns) {
    return Status::Invalid("too many patterns: at most " + std::to_string(kMostPatterns) +
                           " are taken, not " + std::to_string(excludes.size() + includes.size()));
  }
  auto patterns = std::make_shared<Patterns>();
  re2::RE2::Options options;
  options.set_log_errors(false);
  const auto compile = [&options](const std::vector<std::string>& texts,
                                  std::vector<std::unique_ptr<const re2::RE2>>& into,
                                  std::string& error) {
    for (const std::string& text : texts) {
      if (text.size() > kLongestPattern) {
        error = "the pattern " + Quoted(text) + " is longer than " +
                std::to_string(kLongestPattern) + " bytes";
        return false;
      }
      auto pattern = std::make_unique<const re2::RE2>(text, options);
      if (!pattern->ok()) {
        error = "the pattern " + Quoted(text) + " is no regular expression: " + pattern->error();
        return false;
      }
      into.push_back(std::move(pattern));
    }
    return true;
  };
  std::string error;
  if (!compile(excludes, patterns->excludes, error) ||
      !compile(includes, patterns->includes, error)) {
    return Status::Invalid(error);
  }
  LinkRules rules;
  rules.patterns_ = std::move(patterns);
  return rules;
}

LinkRules::Patterns::~Patterns() = default;

bool LinkRules::Skips(std::string_view url) const {
  if (empty()) return false;
  return SearchAny(patterns_->excludes, url) && !SearchAny(patterns_->includes, url);
}

Result<std::vector<CodeRange>> ParseCodeList(std::string_view text) {
  std::vector<CodeRange> ranges;
  const Status bad = Status::Invalid("the code list \"" + std::string(text) +
                                     "\" must be codes from 100 to 10199 or ranges of them, "
                                     "such as 200,204,500-599");
  if (Trimmed(text).empty()) return bad;
  for (std::size_t at = 0; at <= text.size();) {
    const std::size_t comma = std::min(text.find(',', at), text.size());
    const std::string_view item = text.substr(at, comma - at);
    const std::size_t dash = item.find('-');
    CodeRange range;
    if (dash == std::string_view::npos) {
      if (!ReadCode(item, range.first)) return bad;
      range.last = range.first;
    } else if (!ReadCode(item.substr(0, dash), range.first) ||
               !ReadCode(item.substr(dash + 1), range.last) || range.last < range.first) {
      return bad;
    }
    ranges.push_back(range);
    at = comma + 1;
  }
  return ranges;
}

std::vector<std::string> PatternLines(std::string_view text) {
  std::vector<std::string> patterns;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    std::string_view line = text.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!Trimmed(line).empty()) patterns.emplace_back(line);
    at = end + 1;
  }
  return patterns;
}

std::string CodeListText(const std::vector<CodeRange>& ranges) {
  std::string text;
  for (const CodeRange& range : ranges) {
    if (!text.empty()) text += ',';
    text += std::to_string(range.first);
    if (range.last != range.first) text += '-' + std::to_string(range.last);
  }
  return text;
}

void LeaveOutSkipped(const LinkRules& rules, LinkLists& lists) {
  if (rules.empty()) return;
  LinkLists kept;
  kept.skipped = lists.skipped;
  while (!lists.urls.empty()) {
    // A fetched page's link is judged by where it leads.
    if (rules.Skips(lists.targets.empty() ? lists.urls.front() : lists.targets.front())) {
      ++kept.skipped;
      PopFrontLink(lists);
    } else {
      MoveFrontLink(lists, kept);
    }
  }
  lists = std::move(kept);
}

}  // namespace quimbel
