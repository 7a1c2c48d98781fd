// Link rules a run applies before it probes: exclude and include patterns
// (regular expressions in RE2's syntax, which is ECMAScript's without
// look-around and back-references, searched anywhere in the link as
// written; matching takes time linear in the link, whatever the pattern)
// and the list of further codes the user accepts as good. Plain values;
// any thread once made.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/report_filter.h"
#include "links/url_extractor.h"
#include "platform/result.h"

namespace re2 {
class RE2;
}

namespace quimbel {

// Longer patterns, and more of them, are refused: no link rule needs them,
// and a planted config must not cost minutes or gigabytes before a check.
inline constexpr std::size_t kLongestPattern = 4096;
inline constexpr std::size_t kMostPatterns = 10000;

class LinkRules {
 public:
  LinkRules() = default;

  // The rules of these patterns, or a one-line message naming the first
  // one that is no valid expression (or too long), or saying there are too
  // many.
  static Result<LinkRules> Make(const std::vector<std::string>& excludes,
                                const std::vector<std::string>& includes);

  // A link that matches an exclude and no include is skipped.
  bool Skips(std::string_view url) const;
  bool empty() const { return !patterns_ || patterns_->excludes.empty(); }

 private:
  struct Patterns {
    std::vector<std::unique_ptr<const re2::RE2>> excludes;
    std::vector<std::unique_ptr<const re2::RE2>> includes;
    ~Patterns();
  };
  std::shared_ptr<const Patterns> patterns_;  // shared: copies are cheap
};

// Removes the links the rules skip, counting them in `lists.skipped`. A
// fetched page's link is judged by where it leads.
void LeaveOutSkipped(const LinkRules& rules, LinkLists& lists);

// "200,204,429,500-599" as ranges; blanks around the items are allowed.
// Codes run from 100 to 10199 (the connection outcomes are codes too). A
// bad list gives a one-line message.
Result<std::vector<CodeRange>> ParseCodeList(std::string_view text);

// The patterns of a text that holds one a line; blank lines are none.
std::vector<std::string> PatternLines(std::string_view text);

// The list as it was parsed, for the log and the JSON report.
std::string CodeListText(const std::vector<CodeRange>& ranges);

}  // namespace quimbel
