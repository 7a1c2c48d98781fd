#include "core/row_order.h"

#include <algorithm>
#include <compare>
#include <cstring>
#include <thread>
#include <tuple>
#include <unordered_map>

#include "platform/ascii.h"

namespace quimbel {
namespace {

// Whether `text` holds `needle` (lower case), ASCII letters without case.
// Candidates are found with memchr, which goes through many bytes at a
// time: on a byte of the needle that has no case (a digit, '.', '/') if
// there is one, else on its first letter in both cases.
bool ContainsIgnoringCase(std::string_view text, std::string_view needle) {
  if (needle.empty()) return true;
  if (needle.size() > text.size()) return false;
  std::size_t anchor = 0;
  while (anchor < needle.size() && needle[anchor] >= 'a' && needle[anchor] <= 'z')
    ++anchor;
  const bool letter = anchor == needle.size();
  if (letter) anchor = 0;
  const char lower = needle[anchor];
  const char upper = letter ? static_cast<char>(lower - ('a' - 'A')) : lower;
  const char* const data = text.data();
  // The anchor's possible places in the text.
  const std::size_t last = text.size() - needle.size() + anchor;
  const auto next = [&](char c, std::size_t from) {
    if (from > last) return last + 1;
    const void* hit = std::memchr(data + from, c, last - from + 1);
    return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - data) : last + 1;
  };
  std::size_t next_lower = next(lower, anchor);
  std::size_t next_upper = letter ? next(upper, anchor) : last + 1;
  for (;;) {
    const std::size_t at = std::min(next_lower, next_upper);
    if (at > last) return false;
    const std::size_t start = at - anchor;
    std::size_t i = 0;
    while (i < needle.size() && AsciiLower(data[start + i]) == needle[i])
      ++i;
    if (i == needle.size()) return true;
    if (at == next_lower) next_lower = next(lower, at + 1);
    if (at == next_upper) next_upper = next(upper, at + 1);
  }
}

// Byte by byte, ASCII letters without case.
int CompareText(std::string_view left, std::string_view right) {
  // Reasons and file names are shared between rows: often the very same
  // text. Otherwise equal bytes are skipped in bulk; case only matters
  // where they differ.
  if (left.data() == right.data() && left.size() == right.size()) return 0;
  const auto* l = left.begin();
  const auto* r = right.begin();
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

// Twelve bytes of the text from `from` on, lower-cased, the first the
// highest: keys in this order are in CompareText's order, so most
// comparisons of a sort need not reach the text at all. Twelve, so that a
// key and its row fill sixteen bytes: a million entries are sorted in
// sixteen megabytes rather than twenty-four.
struct SortKeyBits {
  std::uint64_t high = 0;
  std::uint32_t low = 0;
  bool operator==(const SortKeyBits& other) const { return high == other.high && low == other.low; }
  bool operator<(const SortKeyBits& other) const {
    return high != other.high ? high < other.high : low < other.low;
  }
} __attribute__((packed, aligned(4)));
constexpr std::size_t kSortKeyBytes = 12;
SortKeyBits SortKey(std::string_view text, std::size_t from) {
  SortKeyBits key;
  const auto byte = [&](std::size_t i) -> std::uint32_t {
    const std::size_t at = from + i;
    return at < text.size() ? static_cast<unsigned char>(AsciiLower(text[at])) : 0u;
  };
  std::uint64_t high = 0;
  for (std::size_t i = 0; i < 8; ++i)
    high = (high << 8) | byte(i);
  std::uint32_t low = 0;
  for (std::size_t i = 8; i < kSortKeyBytes; ++i)
    low = (low << 8) | byte(i);
  key.high = high;
  key.low = low;
  return key;
}

}  // namespace

int CompareRows(const ResultRow& a, const ResultRow& b, int column) {
  if (column == kLineSortColumn) return a.line < b.line ? -1 : a.line > b.line ? 1 : 0;
  return CompareText(a.text(static_cast<ResultColumn>(column)),
                     b.text(static_cast<ResultColumn>(column)));
}

namespace {

struct RankEntry {
  SortKeyBits key;
  std::uint32_t row;
};
static_assert(sizeof(RankEntry) == 16);

// A column's texts read through the rows themselves: a million rows need
// no second array of their texts while they are ranked.
struct ColumnTexts {
  const RowSnapshot& rows;
  ResultColumn column;
  std::string_view operator[](std::uint32_t row) const { return rows[row]->text(column); }
  // The rows of the entries far ahead, and the letters of those nearer,
  // whose rows have arrived by then.
  void Prefetch(const RankEntry* e, const RankEntry* last, std::size_t offset) const {
    constexpr std::ptrdiff_t kRowsAhead = 16;
    constexpr std::ptrdiff_t kLettersAhead = 8;
    if (last - e > kRowsAhead) __builtin_prefetch(rows[(e + kRowsAhead)->row]);
    if (last - e > kLettersAhead) {
      const std::string_view text = (*this)[(e + kLettersAhead)->row];
      if (offset < text.size()) __builtin_prefetch(text.data() + offset);
    }
  }
};

// Sets the keys of [first, last) from `offset` on; whether all are equal.
template <typename Texts>
bool SetKeys(RankEntry* first, RankEntry* last, std::size_t offset, const Texts& texts) {
  bool all_same = true;
  // The rows are read in the entries' order, which is no order in memory:
  // each is asked for a few entries ahead, so their reads overlap.
  for (RankEntry* e = first; e != last; ++e) {
    if constexpr (requires { texts.Prefetch(e, last, offset); }) texts.Prefetch(e, last, offset);
    e->key = SortKey(texts[e->row], offset);
    all_same = all_same && e->key == first->key;
  }
  return all_same;
}

void SortByKey(RankEntry* first, RankEntry* last) {
  std::sort(first, last, [](const RankEntry& a, const RankEntry& b) {
    return !(a.key == b.key) ? a.key < b.key : a.row < b.row;
  });
}

template <typename Texts>
void RankTexts(RankEntry* first, RankEntry* last, std::size_t offset, const Texts& texts,
               std::vector<std::uint32_t>& ranks, const RankEntry* base,
               const std::atomic<bool>& cancel, int threads = 1);

// Ranks the runs of equal keys in [from, to), sorted, no run crossing `to`
// (see RankTexts).
template <typename Texts>
void RankRuns(RankEntry* from, RankEntry* to, std::size_t offset, const Texts& texts,
              std::vector<std::uint32_t>& ranks, const RankEntry* base,
              const std::atomic<bool>& cancel, int threads) {
  const auto place = [base](const RankEntry* e) { return static_cast<std::uint32_t>(e - base); };
  for (RankEntry* run = from; run != to;) {
    RankEntry* end = run + 1;
    bool longer = texts[run->row].size() > offset + kSortKeyBytes;
    while (end != to && end->key == run->key) {
      longer = longer || texts[end->row].size() > offset + kSortKeyBytes;
      ++end;
    }
    if (end - run == 1) {
      ranks[run->row] = place(run);
    } else if (longer) {
      // Texts that all begin alike are split further down.
      RankTexts(run, end, offset + kSortKeyBytes, texts, ranks, base, cancel,
                run == from && end == to ? threads : 1);
    } else {
      // Equal bytes to the end of the shortest: the shorter text first.
      std::stable_sort(run, end, [&](const RankEntry& a, const RankEntry& b) {
        return texts[a.row].size() < texts[b.row].size();
      });
      std::uint32_t rank = place(run);
      for (RankEntry* e = run; e != end; ++e) {
        if (e != run && texts[e->row].size() != texts[(e - 1)->row].size()) rank = place(e);
        ranks[e->row] = rank;
      }
    }
    run = end;
  }
}

// Where the middle one of a few keys from all over parts [first, last):
// equal keys fall on one side, so no run crosses the part. A middle key
// that is the least of all would leave one side empty: any greater key
// parts them then. Not all keys may be equal.
RankEntry* PartAtMiddleKey(RankEntry* first, RankEntry* last) {
  constexpr std::ptrdiff_t kSamples = 64;
  std::vector<SortKeyBits> sample;
  for (std::ptrdiff_t i = 0; i < kSamples; ++i)
    sample.push_back(first[(last - first) * i / kSamples].key);
  std::sort(sample.begin(), sample.end());
  SortKeyBits pivot = sample[kSamples / 2];
  RankEntry* part = std::partition(first, last, [&](const RankEntry& e) { return e.key < pivot; });
  if (part != first) return part;
  pivot = std::find_if(first, last, [&](const RankEntry& e) { return pivot < e.key; })->key;
  return std::partition(first, last, [&](const RankEntry& e) { return e.key < pivot; });
}

// Ranks the rows of [first, last), whose texts agree (without case) on
// their first `offset` bytes: sorted by the next twelve bytes, and each run
// that agrees on those too by the twelve after. Every comparison is of two
// numbers side by side; a text is read once a level. A row's rank is the
// place, counted from `base`, of the first entry whose text equals its own:
// ranks keep the order and need no count carried from run to run, so with
// `threads` at two, the first level where the texts part is split in two
// by a middle key, and each part is keyed, sorted and ranked on its own.
template <typename Texts>
void RankTexts(RankEntry* first, RankEntry* last, std::size_t offset, const Texts& texts,
               std::vector<std::uint32_t>& ranks, const RankEntry* base,
               const std::atomic<bool>& cancel, int threads) {
  // A job whose result nobody wants any more ends at the next level.
  if (cancel.load(std::memory_order_relaxed)) return;
  if (threads < 2) {
    // The entries arrive in file order; a run of one key keeps it unsorted.
    if (!SetKeys(first, last, offset, texts)) SortByKey(first, last);
    RankRuns(first, last, offset, texts, ranks, base, cancel, 1);
    return;
  }
  RankEntry* middle = first + (last - first) / 2;
  bool second_same = true;
  std::thread keys([&] { second_same = SetKeys(middle, last, offset, texts); });
  const bool first_same = SetKeys(first, middle, offset, texts);
  keys.join();
  if (first_same && second_same && (middle == last || first->key == middle->key)) {
    RankRuns(first, last, offset, texts, ranks, base, cancel, threads);
    return;
  }
  RankEntry* part = PartAtMiddleKey(first, last);
  std::thread helper([&] {
    SortByKey(part, last);
    RankRuns(part, last, offset, texts, ranks, base, cancel, 1);
  });
  SortByKey(first, part);
  RankRuns(first, part, offset, texts, ranks, base, cancel, 1);
  helper.join();
}

}  // namespace

RowSnapshot SnapshotRows(const ResultList& list, std::size_t count) {
  RowSnapshot rows;
  rows.reserve(count);
  for (const ResultRow& row : list.rows()) {
    if (rows.size() == count) break;
    rows.push_back(&row);
  }
  return rows;
}

std::vector<std::uint32_t> RankRows(const ResultList& list, int column) {
  const std::atomic<bool> never{false};
  return *RankRows(SnapshotRows(list, list.size()), column, never);
}

std::optional<std::vector<std::uint32_t>> RankRows(const RowSnapshot& rows, int column,
                                                   const std::atomic<bool>& cancel) {
  const auto count = static_cast<std::uint32_t>(rows.size());
  std::vector<std::uint32_t> ranks(count);
  if (column == kLineSortColumn) {
    // Lines are numbers: a row's rank is its line's place among the lines
    // that occur, found without an array of entries the size of the list.
    for (std::uint32_t i = 0; i < count; ++i)
      ranks[i] = rows[i]->line;
    std::vector<std::uint32_t> lines = ranks;
    std::sort(lines.begin(), lines.end());
    lines.erase(std::unique(lines.begin(), lines.end()), lines.end());
    lines.shrink_to_fit();
    if (cancel.load(std::memory_order_relaxed)) return std::nullopt;
    for (std::uint32_t& rank : ranks) {
      rank = static_cast<std::uint32_t>(std::lower_bound(lines.begin(), lines.end(), rank) -
                                        lines.begin());
    }
    return ranks;
  }
  const auto which = static_cast<ResultColumn>(column);
  if (which == ResultColumn::kReason || which == ResultColumn::kFileName) {
    // Texts shared by many rows: each distinct one is ranked once.
    std::unordered_map<const char*, std::uint32_t> slot;
    std::vector<std::string_view> distinct;
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::string_view text = rows[i]->text(which);
      const auto [found, added] =
          slot.try_emplace(text.data(), static_cast<std::uint32_t>(distinct.size()));
      if (added) distinct.push_back(text);
      ranks[i] = found->second;
    }
    std::vector<RankEntry> by_text(distinct.size());
    std::vector<std::uint32_t> distinct_ranks(distinct.size());
    for (std::uint32_t i = 0; i < by_text.size(); ++i)
      by_text[i].row = i;
    RankTexts(by_text.data(), by_text.data() + by_text.size(), 0, distinct, distinct_ranks,
              by_text.data(), cancel);
    if (cancel.load(std::memory_order_relaxed)) return std::nullopt;
    for (std::uint32_t& rank : ranks)
      rank = distinct_ranks[rank];
    return ranks;
  }
  std::vector<RankEntry> order(count);
  for (std::uint32_t i = 0; i < count; ++i)
    order[i].row = i;
  // A second thread pays off only for a long list, on a machine with a core to spare.
  constexpr std::uint32_t kTwoThreadRows = 100000;
  const int threads = count >= kTwoThreadRows && std::thread::hardware_concurrency() > 1 ? 2 : 1;
  RankTexts(order.data(), order.data() + count, 0, ColumnTexts{rows, which}, ranks, order.data(),
            cancel, threads);
  if (cancel.load(std::memory_order_relaxed)) return std::nullopt;
  return ranks;
}

ReasonCounts CountReasons(const ResultList& rows) {
  ReasonCounts counts;
  counts.redirects = rows.moves();
  std::unordered_map<const char*, std::size_t> slot;  // reasons are shared texts
  for (const ResultRow& row : rows.rows()) {
    const std::string_view reason = row.text(ResultColumn::kReason);
    auto [found, added] = slot.try_emplace(reason.data(), counts.reasons.size());
    if (added) {
      // The same text kept twice (rows made apart) still counts once.
      const auto same = std::find_if(counts.reasons.begin(), counts.reasons.end(),
                                     [&](const auto& entry) { return entry.first == reason; });
      if (same == counts.reasons.end()) {
        counts.reasons.emplace_back(std::string(reason), 0);
      } else {
        found->second = static_cast<std::size_t>(same - counts.reasons.begin());
      }
    }
    ++counts.reasons[found->second].second;
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
