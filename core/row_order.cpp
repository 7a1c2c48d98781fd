#include "core/row_order.h"

#include <algorithm>

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
  const std::size_t common = std::min(left.size(), right.size());
  for (std::size_t i = 0; i < common; ++i) {
    const auto l = static_cast<unsigned char>(AsciiLower(left[i]));
    const auto r = static_cast<unsigned char>(AsciiLower(right[i]));
    if (l != r) return l < r ? -1 : 1;
  }
  return left.size() < right.size() ? -1 : left.size() > right.size() ? 1 : 0;
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
