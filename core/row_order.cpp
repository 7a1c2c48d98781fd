#include "core/row_order.h"

#include <algorithm>
#include <tuple>
#include <unordered_map>

#include "platform/ascii.h"

namespace quimbel {
namespace {

bool ContainsIgnoringCase(std::string_view text, std::string_view needle) {
  if (needle.size() > text.size()) return false;
  const auto found =
      std::search(text.begin(), text.end(), needle.begin(), needle.end(),
                  [](char haystack, char lowered) { return AsciiLower(haystack) == lowered; });
  return found != text.end();
}

}  // namespace

int CompareRows(const ResultRow& a, const ResultRow& b, int column) {
  if (column == kLineSortColumn) return a.line < b.line ? -1 : a.line > b.line ? 1 : 0;
  const std::string& left = a.text(static_cast<ResultColumn>(column));
  const std::string& right = b.text(static_cast<ResultColumn>(column));
  // Reasons and file names are shared between rows: often the very same
  // text. Otherwise equal bytes are skipped in bulk; case only matters
  // where they differ.
  if (&left == &right) return 0;
  auto l = left.begin();
  auto r = right.begin();
  for (;;) {
    std::tie(l, r) = std::mismatch(l, left.end(), r, right.end());
    if (l == left.end() || r == right.end()) break;
    const auto lower_l = static_cast<unsigned char>(AsciiLower(*l));
    const auto lower_r = static_cast<unsigned char>(AsciiLower(*r));
    if (lower_l != lower_r) return lower_l < lower_r ? -1 : 1;
    ++l;
    ++r;
  }
  if (l == left.end() && r == right.end()) return 0;
  return l == left.end() ? -1 : 1;
}

ReasonCounts CountReasons(const ResultList& rows) {
  ReasonCounts counts;
  std::unordered_map<const std::string*, std::size_t> slot;  // reasons are shared texts
  for (const ResultRow& row : rows.rows()) {
    const std::string& reason = row.text(ResultColumn::kReason);
    auto [found, added] = slot.try_emplace(&reason, counts.reasons.size());
    if (added) {
      // The same text kept twice (rows made apart) still counts once.
      const auto same = std::find_if(counts.reasons.begin(), counts.reasons.end(),
                                     [&](const auto& entry) { return entry.first == reason; });
      if (same == counts.reasons.end()) {
        counts.reasons.emplace_back(reason, 0);
      } else {
        found->second = static_cast<std::size_t>(same - counts.reasons.begin());
      }
    }
    ++counts.reasons[found->second].second;
    counts.redirects += row.code == 301 || row.code == 302 || row.code == 307 || row.code == 308;
  }
  return counts;
}

std::string SearchNeedle(std::string_view typed) {
  return AsciiLowered(std::string(typed));
}

bool RowMatches(const ResultRow& row, std::string_view needle) {
  if (needle.empty()) return true;
  for (const ResultColumn column : {ResultColumn::kUrl, ResultColumn::kReason,
                                    ResultColumn::kSiteName, ResultColumn::kFileName}) {
    if (ContainsIgnoringCase(row.text(column), needle)) return true;
  }
  return false;
}

}  // namespace quimbel
