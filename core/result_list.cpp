#include "core/result_list.h"

#include <algorithm>
#include <climits>
#include <stdexcept>
#include <unordered_set>

#include "probe/outcome_code.h"

namespace quimbel {

namespace {

const std::string kNoText;

// The reasons are a few dozen texts: each is kept once for all rows. Node
// storage keeps every pointer valid; user-interface thread only.
const std::string* Interned(std::string text) {
  static std::unordered_set<std::string> texts;
  return &*texts.insert(std::move(text)).first;
}

}  // namespace

const std::string& RareTexts::get(Which which) const {
  return texts_ ? (*texts_)[which] : kNoText;
}

void RareTexts::Set(Which which, std::string text) {
  if (!texts_) {
    if (text.empty()) return;
    texts_ = std::make_unique<Texts>();
  }
  (*texts_)[which] = std::move(text);
}

void RowTexts::Assign(std::string_view url, std::string_view name) {
  // Neither text reaches four thousand million letters in a mapped page;
  // one that did would be cut there rather than wrap.
  url = url.substr(0, UINT32_MAX);
  name = name.substr(0, UINT32_MAX);
  // The new block is filled before the old one goes: either text may be a
  // view into it.
  std::unique_ptr<char[]> letters;
  if (!url.empty() || !name.empty()) {
    letters = std::make_unique_for_overwrite<char[]>(url.size() + name.size());
    std::copy(url.begin(), url.end(), letters.get());
    std::copy(name.begin(), name.end(), letters.get() + url.size());
  }
  letters_ = std::move(letters);
  url_size_ = static_cast<std::uint32_t>(url.size());
  site_size_ = static_cast<std::uint32_t>(name.size());
}

const std::string& ResultRow::file() const {
  return file_name ? *file_name : kNoText;
}

std::string_view ResultRow::text(ResultColumn column) const {
  switch (column) {
    case ResultColumn::kUrl:
      return texts.url();
    case ResultColumn::kReason:
      return reason ? *reason : kNoText;
    case ResultColumn::kSiteName:
      return texts.site_name();
    case ResultColumn::kFileName:
      return file_name ? *file_name : kNoText;
    case ResultColumn::kAlternateUrl:
      return alternate_url();
  }
  return kNoText;
}

void ResultRow::SetText(ResultColumn column, std::string text) {
  switch (column) {
    case ResultColumn::kUrl:
      texts.SetUrl(text);
      return;
    case ResultColumn::kReason:
      reason = Interned(std::move(text));
      return;
    case ResultColumn::kSiteName:
      texts.SetSiteName(text);
      return;
    case ResultColumn::kFileName:
      file_name = std::make_shared<const std::string>(std::move(text));
      return;
    case ResultColumn::kAlternateUrl:
      SetAlternateUrl(std::move(text));
      return;
  }
}

std::size_t ResultList::AppendResultRow(std::string_view url, std::size_t line, bool resource,
                                        LinkKind kind) {
  const std::size_t index = rows_.size();
  if (observer_) observer_->RowsAboutToBeInserted(index, index);
  ResultRow row;
  row.texts.SetUrl(url);
  // A line past four thousand million is shown as the last one that fits.
  row.line = static_cast<std::uint32_t>(std::min<std::size_t>(line, UINT32_MAX));
  row.resource = resource;
  row.kind = kind;
  rows_.push_back(std::move(row));
  if (observer_) observer_->RowsInserted();
  return index;
}

void ResultList::SetResultColumn(ResultColumn which, const std::string& text,
                                 const std::string& current_file) {
  if (rows_.empty()) throw std::logic_error("SetResultColumn on an empty list");
  ResultRow& last = rows_.back();
  if (observer_) observer_->RowAboutToChange(rows_.size() - 1);
  last.SetText(which, text);
  if (which == ResultColumn::kSiteName) {
    if (!last_file_ || *last_file_ != current_file)
      last_file_ = std::make_shared<const std::string>(current_file);
    last.file_name = last_file_;
  }
  if (observer_) observer_->RowChanged(rows_.size() - 1);
}

void ResultList::SetChecked(std::size_t index, bool checked) {
  rows_.at(index).checked = checked;
  if (observer_) observer_->RowChanged(index);
}

void ResultList::UpdateRow(std::size_t index, const std::string& reason, std::uint32_t code,
                           const std::string& alternate) {
  ResultRow& row = rows_.at(index);
  if (observer_) observer_->RowAboutToChange(index);
  row.SetText(ResultColumn::kReason, reason);
  row.SetText(ResultColumn::kAlternateUrl, alternate);
  moves_ = moves_ - IsMoveCode(row.code) + IsMoveCode(code);
  row.code = code;
  if (observer_) observer_->RowChanged(index);
}

void ResultList::SetCode(std::size_t index, std::uint32_t code) {
  ResultRow& row = rows_.at(index);
  moves_ = moves_ - IsMoveCode(row.code) + IsMoveCode(code);
  row.code = code;
}

void ResultList::SetRedirects(std::size_t index, std::string chain) {
  rows_.at(index).SetRedirects(std::move(chain));
}

void ResultList::SetTarget(std::size_t index, std::string target) {
  rows_.at(index).rare.Set(RareTexts::kTarget, std::move(target));
}

void ResultList::SetSource(std::size_t index, std::string source, std::string note) {
  rows_.at(index).rare.Set(RareTexts::kSource, std::move(source));
  rows_.at(index).rare.Set(RareTexts::kSourceNote, std::move(note));
}

void ResultList::SetData(std::size_t index, std::uint32_t data) {
  rows_.at(index).data = data;
  if (observer_) observer_->RowChanged(index);
}

void ResultList::RemoveRow(std::size_t index) {
  if (index >= rows_.size()) return;
  if (observer_) observer_->RowsAboutToBeRemoved(index, index);
  moves_ -= IsMoveCode(rows_[index].code);
  rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(index));
  if (observer_) observer_->RowsRemoved();
}

void ResultList::RemoveRowsIf(const std::function<bool(const ResultRow&)>& remove) {
  if (observer_ == nullptr) {
    std::erase_if(rows_, remove);
    moves_ = static_cast<std::size_t>(std::count_if(
        rows_.begin(), rows_.end(), [](const ResultRow& row) { return IsMoveCode(row.code); }));
    return;
  }
  // A view hears of each run of rows that goes, the last first, so the
  // numbers it is told still stand.
  for (std::size_t end = rows_.size(); end > 0;) {
    if (!remove(rows_[end - 1])) {
      --end;
      continue;
    }
    std::size_t first = end - 1;
    while (first > 0 && remove(rows_[first - 1]))
      --first;
    observer_->RowsAboutToBeRemoved(first, end - 1);
    for (std::size_t row = first; row < end; ++row)
      moves_ -= IsMoveCode(rows_[row].code);
    rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(first),
                rows_.begin() + static_cast<std::ptrdiff_t>(end));
    observer_->RowsRemoved();
    end = first;
  }
}

void ResultList::ReplaceRows(std::size_t first, std::size_t count, std::vector<ResultRow> rows) {
  if (first > rows_.size() || count > rows_.size() - first) {
    throw std::out_of_range("ReplaceRows past the end of the list");
  }
  // A link that is still there keeps its row, however many rows came or
  // went before it, so a view's selection stays on the same link: the
  // rows the old and new lists begin and end with alike change where they
  // stand (their line or reason may be new), and only what lies between
  // is replaced.
  const auto same = [](const ResultRow& old, const ResultRow& fresh) {
    return old.url() == fresh.url() && old.texts.site_name() == fresh.texts.site_name() &&
           old.kind == fresh.kind;
  };
  std::size_t prefix = 0;
  while (prefix < count && prefix < rows.size() && same(rows_[first + prefix], rows[prefix]))
    ++prefix;
  std::size_t suffix = 0;
  while (suffix < count - prefix && suffix < rows.size() - prefix &&
         same(rows_[first + count - 1 - suffix], rows[rows.size() - 1 - suffix])) {
    ++suffix;
  }
  for (std::size_t i = 0; i < prefix; ++i)
    SetRow(first + i, std::move(rows[i]));
  for (std::size_t i = 0; i < suffix; ++i)
    SetRow(first + count - suffix + i, std::move(rows[rows.size() - suffix + i]));
  std::vector<ResultRow> between(
      std::make_move_iterator(rows.begin() + static_cast<std::ptrdiff_t>(prefix)),
      std::make_move_iterator(rows.end() - static_cast<std::ptrdiff_t>(suffix)));
  ReplaceBetween(first + prefix, count - prefix - suffix, std::move(between));
}

void ResultList::SetRow(std::size_t index, ResultRow fresh) {
  ResultRow& row = rows_[index];
  if (observer_) observer_->RowAboutToChange(index);
  moves_ = moves_ - IsMoveCode(row.code) + IsMoveCode(fresh.code);
  row = std::move(fresh);
  if (observer_) observer_->RowChanged(index);
}

void ResultList::ReplaceBetween(std::size_t first, std::size_t count, std::vector<ResultRow> rows) {
  const std::size_t kept = std::min(count, rows.size());
  for (std::size_t i = 0; i < kept; ++i)
    SetRow(first + i, std::move(rows[i]));
  const auto at = rows_.begin() + static_cast<std::ptrdiff_t>(first + kept);
  if (rows.size() > count) {
    if (observer_) observer_->RowsAboutToBeInserted(first + kept, first + rows.size() - 1);
    for (std::size_t i = kept; i < rows.size(); ++i)
      moves_ += IsMoveCode(rows[i].code);
    rows_.insert(at, std::make_move_iterator(rows.begin() + static_cast<std::ptrdiff_t>(kept)),
                 std::make_move_iterator(rows.end()));
    if (observer_) observer_->RowsInserted();
  } else if (count > rows.size()) {
    if (observer_) observer_->RowsAboutToBeRemoved(first + kept, first + count - 1);
    const auto end = at + static_cast<std::ptrdiff_t>(count - kept);
    for (auto row = at; row != end; ++row)
      moves_ -= IsMoveCode(row->code);
    rows_.erase(at, end);
    if (observer_) observer_->RowsRemoved();
  }
}

ResultList::~ResultList() {
  if (disposer_.joinable()) disposer_.join();
}

void ResultList::Clear() {
  identities_.clear();
  source_root_.clear();
  if (rows_.empty()) return;
  if (observer_) observer_->RowsAboutToBeRemoved(0, rows_.size() - 1);
  constexpr std::size_t kFreedAside = 50000;
  if (rows_.size() < kFreedAside) {
    rows_.clear();
  } else {
    if (disposer_.joinable()) disposer_.join();
    disposer_ = std::thread([rows = std::move(rows_)]() mutable { rows.clear(); });
    rows_ = {};
  }
  moves_ = 0;
  if (observer_) observer_->RowsRemoved();
}

}  // namespace quimbel
