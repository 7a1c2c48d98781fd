#include "core/report_filter.h"

#include "core/status_code_table.h"

namespace quimbel {

bool ReportFilter::IsReported(OutcomeCode code) const {
  const auto index = StatusCodeTable::CategoryIndex(code);
  if (!index) return true;
  const auto position = static_cast<std::size_t>(*index);
  return position >= text_.size() || text_[position] != '0';
}

LoadedFilter LoadFilterText(std::string_view stored) {
  if (stored.size() == static_cast<std::size_t>(StatusCodeTable::kCategoryCount)) {
    return {ReportFilter(std::string(stored)), false};
  }
  return {ReportFilter(), true};
}

}  // namespace quimbel
