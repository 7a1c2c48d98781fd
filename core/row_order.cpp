#include "core/row_order.h"

#include <algorithm>
#include <tuple>

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
