#include "core/report_filter.h"

#include "core/status_code_table.h"

namespace quimbel {

bool ReportFilter::IsReported(OutcomeCode code) const {
  for (const CodeRange& range : accepted_) {
    if (range.Contains(code)) return false;
  }
  const auto index = StatusCodeTable::CategoryIndex(code);
  if (!index) return true;
  const auto position = static_cast<std::size_t>(*index);
  return position >= text_.size() || text_[position] != '0';
}

void ReportFilter::Accept(const std::vector<CodeRange>& codes) {
  accepted_.insert(accepted_.end(), codes.begin(), codes.end());
  for (const StatusCategory& category : StatusCodeTable::Categories()) {
    const auto position = static_cast<std::size_t>(category.index);
    for (const CodeRange& range : codes) {
      if (range.Contains(category.code) && position < text_.size()) text_[position] = '0';
    }
  }
}

static_assert(kDefaultFilter.size() == StatusCodeTable::kCategoryCount);
static_assert(kTypeBFilter.size() == StatusCodeTable::kCategoryCount);

LoadedFilter LoadFilterText(std::string_view stored) {
  if (stored.size() == static_cast<std::size_t>(StatusCodeTable::kCategoryCount)) {
    return {ReportFilter(std::string(stored)), false, false};
  }
  // A filter stored before categories were added keeps every choice; the
  // new categories take their defaults.
  if (stored.size() == static_cast<std::size_t>(StatusCodeTable::kOriginalCategoryCount) ||
      stored.size() == static_cast<std::size_t>(StatusCodeTable::kModernCodesCategoryCount) ||
      stored.size() == static_cast<std::size_t>(StatusCodeTable::kHttpsCategoryCount) ||
      stored.size() == static_cast<std::size_t>(StatusCodeTable::kLocalLinksCategoryCount) ||
      stored.size() == static_cast<std::size_t>(StatusCodeTable::kRedirectsCategoryCount) ||
      stored.size() == static_cast<std::size_t>(StatusCodeTable::kAnchorsCategoryCount)) {
    std::string extended(stored);
    extended += kDefaultFilter.substr(stored.size());
    return {ReportFilter(std::move(extended)), false, true};
  }
  return {ReportFilter(), true, false};
}

}  // namespace quimbel
