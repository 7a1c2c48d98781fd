// ResultList: the rows of the results list, in arrival order, with their
// check boxes and repair marks. The window shows it through a table model;
// the run controller appends to it, repair and export read and change it.
// User-interface thread only.
//
// A view follows the list through ResultListObserver: every change is
// reported as rows inserted, changed or removed, so a view never needs a
// full reset for an append.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "links/html_links.h"
#include "platform/mapped_file.h"

namespace quimbel {

enum class ResultColumn : int {
  kUrl = 0,
  kReason = 1,
  kSiteName = 2,
  kFileName = 3,
  kAlternateUrl = 4
};
inline constexpr int kResultColumnCount = 5;
inline constexpr const char* kResultColumnHeaders[kResultColumnCount] = {
    "URL", "Reason", "Site Name", "File Name", "Alternate URL"};

// Texts most rows leave empty, all behind one pointer that stays null until
// one of them is set: a million rows pay eight bytes each for them.
class RareTexts {
 public:
  enum Which { kAlternateUrl, kRedirects, kTarget, kSource, kSourceNote, kCount };

  RareTexts() = default;
  RareTexts(const RareTexts& other)
      : texts_(other.texts_ ? std::make_unique<Texts>(*other.texts_) : nullptr) {}
  RareTexts& operator=(const RareTexts& other) {
    if (this != &other) texts_ = other.texts_ ? std::make_unique<Texts>(*other.texts_) : nullptr;
    return *this;
  }
  RareTexts(RareTexts&&) noexcept = default;
  RareTexts& operator=(RareTexts&&) noexcept = default;

  // Empty when not set.
  const std::string& get(Which which) const;
  void Set(Which which, std::string text);

 private:
  using Texts = std::array<std::string, kCount>;
  std::unique_ptr<Texts> texts_;
};

// A row's URL and link text in one block of their letters: two strings
// would take 64 bytes a row before the first letter.
class RowTexts {
 public:
  RowTexts() = default;
  RowTexts(const RowTexts& other) { Assign(other.url(), other.site_name()); }
  RowTexts& operator=(const RowTexts& other) {
    if (this != &other) Assign(other.url(), other.site_name());
    return *this;
  }
  RowTexts(RowTexts&&) noexcept = default;
  RowTexts& operator=(RowTexts&&) noexcept = default;

  std::string_view url() const { return {letters_.get(), url_size_}; }
  std::string_view site_name() const { return {letters_.get() + url_size_, site_size_}; }
  void SetUrl(std::string_view url) { Assign(url, site_name()); }
  void SetSiteName(std::string_view name) { Assign(url(), name); }

 private:
  void Assign(std::string_view url, std::string_view name);

  std::unique_ptr<char[]> letters_;
  std::uint32_t url_size_ = 0;
  std::uint32_t site_size_ = 0;
};

// What a repair made of a row (its RowDone mark): nothing yet, its line
// rewritten, or its line looked at and left as it is by the options.
inline constexpr std::uint16_t kRowRepaired = 1;
inline constexpr std::uint16_t kRowLeftAlone = 2;

// One row. A million rows must fit in a couple of hundred megabytes: the
// file name is shared by the rows of one file, the reason is one of a few
// texts kept once, and an alternate URL takes room only when there is one.
struct ResultRow {
  RowTexts texts;  // the URL as written in the page, and the link text
  std::shared_ptr<const std::string> file_name;
  RareTexts rare;
  const std::string* reason = nullptr;  // interned; null for none
  std::uint32_t line = 0;               // the line of the link in its file; 0 when not known
  std::uint32_t data = 0;               // RowDone in the low 16 bits, FileDone in the high 16
  std::uint32_t code = 0;  // the outcome that made the row; 0 when nothing was understood
  bool checked = true;
  bool new_since_last = false;        // no row like it in the last complete run of the same target
  bool resource = false;              // what the page loads (an image, a script): never replaced
  LinkKind kind = LinkKind::kAnchor;  // where in the page the link stands

  std::string_view text(ResultColumn column) const;
  void SetText(ResultColumn column, std::string text);
  std::string_view url() const { return texts.url(); }
  // The file the row's link stands in; empty for none.
  const std::string& file() const;

  const std::string& alternate_url() const { return rare.get(RareTexts::kAlternateUrl); }
  // Where a followed move led: the URLs of its chain, one per line.
  const std::string& redirects() const { return rare.get(RareTexts::kRedirects); }
  // For a row of a page fetched from the web: the link's absolute URL,
  // fragment included.
  const std::string& target() const { return rare.get(RareTexts::kTarget); }
  // For such a row: the file under the site root its page was made from,
  // when that file's line reads as the fetched page's (the row can then be
  // repaired there); else why it cannot be.
  const std::string& source() const { return rare.get(RareTexts::kSource); }
  const std::string& source_note() const { return rare.get(RareTexts::kSourceNote); }
  void SetAlternateUrl(std::string text) { rare.Set(RareTexts::kAlternateUrl, std::move(text)); }
  void SetRedirects(std::string text) { rare.Set(RareTexts::kRedirects, std::move(text)); }
  std::uint16_t RowDone() const { return static_cast<std::uint16_t>(data & 0xFFFFu); }
  std::uint16_t FileDone() const { return static_cast<std::uint16_t>(data >> 16); }
  void SetRowDone(std::uint16_t value) { data = (data & 0xFFFF0000u) | value; }
  void SetFileDone(std::uint16_t value) {
    data = (data & 0x0000FFFFu) | (static_cast<std::uint32_t>(value) << 16);
  }
};

// Rows are kept by the million: the row itself stays within this.
static_assert(sizeof(ResultRow) <= 64);

class ResultListObserver {
 public:
  virtual ~ResultListObserver() = default;
  virtual void RowsAboutToBeInserted(std::size_t first, std::size_t last) = 0;
  virtual void RowsInserted() = 0;
  // Before a row's texts change (RowChanged follows): whoever reads them
  // off this thread stops first.
  virtual void RowAboutToChange(std::size_t /*row*/) {}
  virtual void RowChanged(std::size_t row) = 0;
  virtual void RowsAboutToBeRemoved(std::size_t first, std::size_t last) = 0;
  virtual void RowsRemoved() = 0;
};

class ResultList {
 public:
  ResultList() = default;
  ~ResultList();
  ResultList(const ResultList&) = delete;
  ResultList& operator=(const ResultList&) = delete;

  void SetObserver(ResultListObserver* observer) { observer_ = observer; }

  std::size_t size() const { return rows_.size(); }
  bool empty() const { return rows_.empty(); }
  const ResultRow& row(std::size_t index) const { return rows_.at(index); }
  // A deque: a million rows never hold a second copy while the list grows.
  const std::deque<ResultRow>& rows() const { return rows_; }

  // Appends a checked row holding the URL and its line, data 0; its index.
  std::size_t AppendResultRow(std::string_view url, std::size_t line = 0, bool resource = false,
                              LinkKind kind = LinkKind::kAnchor);
  // Sets a column of the last row. Setting the Site Name also sets the
  // File Name to `current_file`, as a row always names where it came from.
  void SetResultColumn(ResultColumn which, const std::string& text,
                       const std::string& current_file = {});

  void SetChecked(std::size_t index, bool checked);
  // A row checked again and still listed: its new reason, code and
  // alternate URL.
  void UpdateRow(std::size_t index, const std::string& reason, std::uint32_t code,
                 const std::string& alternate);
  // Not shown: no observer hears of it.
  void SetCode(std::size_t index, std::uint32_t code);
  void SetRedirects(std::size_t index, std::string chain);
  void SetTarget(std::size_t index, std::string target);
  void SetSource(std::size_t index, std::string source, std::string note);
  void SetData(std::size_t index, std::uint32_t data);
  void RemoveRow(std::size_t index);
  // Removes every row `remove` picks, the others kept in their order.
  void RemoveRowsIf(const std::function<bool(const ResultRow&)>& remove);
  // Not shown until the row's next change: set as the row is made.
  void SetNewSinceLast(std::size_t index, bool fresh) { rows_.at(index).new_since_last = fresh; }
  // Puts `rows` in the place of the `count` rows from `first` (a page's
  // rows, checked again). The rows of links still there at either end
  // (same URL, link text and kind) are changed where they stand; of the
  // rows between, as many as stay in number are changed where they stand
  // and the difference is inserted or removed after them. A view so keeps
  // its place, and its selection stays on the same link. Each new row must
  // name its file.
  void ReplaceRows(std::size_t first, std::size_t count, std::vector<ResultRow> rows);
  void Clear();
  // The rows that are moves (301, 302, 307, 308), kept as rows come, change
  // and go, so a summary never reads the whole list for it.
  std::size_t moves() const { return moves_; }

  // What each page was when it was checked: a repair rewrites a page only
  // while it is still the same. Kept until Clear().
  void SetPageIdentity(const std::string& file, const PageIdentity& identity) {
    identities_[file] = identity;
  }
  void ForgetPageIdentity(const std::string& file) { identities_.erase(file); }
  // The folder the source files of crawled pages lie in: a repair writes
  // them, and their backups, only inside it. Kept until Clear().
  void SetSourceRoot(std::string root) { source_root_ = std::move(root); }
  const std::string& source_root() const { return source_root_; }
  // Nothing for a page the list never saw checked (rows made by hand).
  const PageIdentity* PageIdentityOf(const std::string& file) const {
    const auto found = identities_.find(file);
    return found == identities_.end() ? nullptr : &found->second;
  }

 private:
  std::deque<ResultRow> rows_;
  std::shared_ptr<const std::string> last_file_;  // shared with the rows of that file
  ResultListObserver* observer_ = nullptr;
  std::size_t moves_ = 0;
  std::unordered_map<std::string, PageIdentity> identities_;
  std::string source_root_;
  // Frees the rows a Clear() let go of: a million rows take a fifth of a
  // second to free, which a new run's start would otherwise wait for.
  std::thread disposer_;

  // One row changed where it stands, with its notifications.
  void SetRow(std::size_t index, ResultRow fresh);
  // ReplaceRows() for rows whose ends do not match.
  void ReplaceBetween(std::size_t first, std::size_t count, std::vector<ResultRow> rows);
};

}  // namespace quimbel
