#include "core/result_list.h"

#include <stdexcept>

namespace quimbel {

std::size_t ResultList::AppendResultRow(std::string url, std::size_t line, bool resource) {
  const std::size_t index = rows_.size();
  if (observer_) observer_->RowsAboutToBeInserted(index, index);
  ResultRow row;
  row.columns[static_cast<std::size_t>(ResultColumn::kUrl)] = std::move(url);
  row.line = line;
  row.resource = resource;
  rows_.push_back(std::move(row));
  if (observer_) observer_->RowsInserted();
  return index;
}

void ResultList::SetResultColumn(ResultColumn which, const std::string& text,
                                 const std::string& current_file) {
  if (rows_.empty()) throw std::logic_error("SetResultColumn on an empty list");
  ResultRow& last = rows_.back();
  last.columns[static_cast<std::size_t>(which)] = text;
  if (which == ResultColumn::kSiteName) {
    last.columns[static_cast<std::size_t>(ResultColumn::kFileName)] = current_file;
  }
  if (observer_) observer_->RowChanged(rows_.size() - 1);
}

void ResultList::SetChecked(std::size_t index, bool checked) {
  rows_.at(index).checked = checked;
  if (observer_) observer_->RowChanged(index);
}

void ResultList::SetData(std::size_t index, std::uint32_t data) {
  rows_.at(index).data = data;
  if (observer_) observer_->RowChanged(index);
}

void ResultList::RemoveRow(std::size_t index) {
  if (index >= rows_.size()) return;
  if (observer_) observer_->RowsAboutToBeRemoved(index, index);
  rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(index));
  if (observer_) observer_->RowsRemoved();
}

void ResultList::Clear() {
  if (rows_.empty()) return;
  if (observer_) observer_->RowsAboutToBeRemoved(0, rows_.size() - 1);
  rows_.clear();
  if (observer_) observer_->RowsRemoved();
}

}  // namespace quimbel
