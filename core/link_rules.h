// Link rules a run applies before it probes: exclude and include patterns
// (ECMAScript regular expressions, searched anywhere in the link as
// written) and the list of further codes the user accepts as good. Plain
// values; any thread once made.
#pragma once

#include <cstddef>
#include <memory>
#include <regex>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "core/report_filter.h"

namespace quimbel {

// A link longer than this is matched on its first this many bytes: the
// standard library's matcher recurses once per byte and would exhaust the
// stack on a megabyte of URL.
inline constexpr std::size_t kLongestMatchedLink = 4096;

class LinkRules {
 public:
  LinkRules() = default;

  // The rules of these patterns, or a one-line message naming the first
  // one that is no valid expression.
  static std::variant<LinkRules, std::string> Make(const std::vector<std::string>& excludes,
                                                   const std::vector<std::string>& includes);

  // A link that matches an exclude and no include is skipped.
  bool Skips(std::string_view url) const;
  bool empty() const { return !patterns_ || patterns_->excludes.empty(); }

 private:
  struct Patterns {
    std::vector<std::regex> excludes;
    std::vector<std::regex> includes;
  };
  std::shared_ptr<const Patterns> patterns_;  // shared: copies are cheap
};

// "200,204,429,500-599" as ranges; blanks around the items are allowed.
// Codes run from 100 to 10199 (the connection outcomes are codes too). A
// bad list gives a one-line message.
std::variant<std::vector<CodeRange>, std::string> ParseCodeList(std::string_view text);

// The patterns of a text that holds one a line; blank lines are none.
std::vector<std::string> PatternLines(std::string_view text);

// The list as it was parsed, for the log and the JSON report.
std::string CodeListText(const std::vector<CodeRange>& ranges);

}  // namespace quimbel
