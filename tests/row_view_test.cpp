// The window's view of the results list shows what a plain filter and a stable sort would.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <future>
#include <random>
#include <tuple>

#include "core/row_view.h"

namespace quimbel {
namespace {

const char* const kReasons[] = {"HTTP Code 404 Not Found", "Error: Can't Connect to Host",
                                "Local File Not Found", "HTTP Code 410 Gone"};
const std::atomic<bool> kNever{false};

void Append(ResultList& rows, std::mt19937& random, std::size_t count) {
  for (; count > 0; --count) {
    const auto n = random() % 40;
    // Shared beginnings, case and length differences, no file extension.
    rows.AppendResultRow((n % 2 ? "HTTP://Site" : "http://site") + std::to_string(n % 7) +
                             ".test/p" + std::to_string(n) + (n % 3 ? "?q=" : ""),
                         n % 9);
    rows.SetResultColumn(ResultColumn::kReason, kReasons[random() % 4]);
    rows.SetResultColumn(ResultColumn::kSiteName, "Link " + std::to_string(random() % 5),
                         "/site/page" + std::to_string(random() % 3) + ".html");
    rows.SetNewSinceLast(rows.size() - 1, random() % 3 == 0);
  }
}

// What the view must show: the rows that pass, stably sorted.
std::vector<std::size_t> Expected(const ResultList& rows, int column, bool descending,
                                  const RowFilter& filter) {
  std::vector<std::size_t> shown;
  for (std::size_t i = 0; i < rows.size(); ++i)
    if (filter.empty() ||
        (filter.Matches(rows.row(i)) && (!filter.only_new || rows.row(i).new_since_last)))
      shown.push_back(i);
  if (column == RowView::kFileOrder) return shown;
  std::stable_sort(shown.begin(), shown.end(), [&](std::size_t a, std::size_t b) {
    const int order = CompareRows(rows.row(a), rows.row(b), column);
    return descending ? order > 0 : order < 0;
  });
  return shown;
}

std::vector<std::size_t> Shown(const RowView& view) {
  std::vector<std::size_t> shown(view.size());
  for (std::size_t i = 0; i < shown.size(); ++i) {
    shown[i] = view.ListRow(i);
    EXPECT_EQ(view.ShownRow(shown[i]), i);
  }
  return shown;
}

// A row keeps its URL and link text in one block: each is set alone, from any text (its own
// included), and copies stand apart. Each step: the column set, its text, the URL and name after.
TEST(ResultRow, UrlAndLinkTextShareOneBlock) {
  const std::tuple<ResultColumn, std::string, std::string, std::string> steps[] = {
      {ResultColumn::kSiteName, "Home", "", "Home"},
      {ResultColumn::kUrl, "http://a.test/x?q=1", "http://a.test/x?q=1", "Home"},
      {ResultColumn::kSiteName, "", "http://a.test/x?q=1", ""},
      {ResultColumn::kSiteName, "Ein \u00fcber-Link", "http://a.test/x?q=1", "Ein \u00fcber-Link"},
      {ResultColumn::kUrl, "", "", "Ein \u00fcber-Link"},
  };
  ResultRow row;
  EXPECT_TRUE(row.url().empty() && row.text(ResultColumn::kSiteName).empty());
  for (const auto& [column, text, url, name] : steps) {
    row.SetText(column, text);
    EXPECT_EQ(row.url(), url) << text;
    EXPECT_EQ(row.text(ResultColumn::kSiteName), name) << text;
  }
  row.texts.SetUrl("page.html");
  row.texts.SetUrl(row.url().substr(0, 4));  // a view into the block it replaces
  row.texts.SetSiteName(row.url());
  EXPECT_EQ(row.url(), "page");
  EXPECT_EQ(row.text(ResultColumn::kSiteName), "page");
  ResultRow copy = row;
  row.texts.SetUrl("other");
  EXPECT_EQ(copy.url(), "page");
  EXPECT_EQ(copy.text(ResultColumn::kSiteName), "page");
}

// Rows taken away by a rule (the rows not new, for --since-last) leave the others in order, and
// the count of moves right, whether a view listens or not.
TEST(ResultListTest, RemovesTheRowsARulePicks) {
  for (const bool observed : {false, true}) {
    ResultList rows;
    struct CountingObserver final : ResultListObserver {
      void RowsAboutToBeInserted(std::size_t, std::size_t) override {}
      void RowsInserted() override {}
      void RowChanged(std::size_t) override {}
      void RowsAboutToBeRemoved(std::size_t first, std::size_t last) override {
        removed += last - first + 1;
      }
      void RowsRemoved() override {}
      std::size_t removed = 0;
    } observer;
    if (observed) rows.SetObserver(&observer);
    for (int i = 0; i < 50; ++i) {
      rows.AppendResultRow("u" + std::to_string(i));
      rows.SetCode(rows.size() - 1, i % 3 == 0 ? 301 : 404);
      rows.SetNewSinceLast(rows.size() - 1, i % 4 == 1 || i % 7 == 0);
    }
    rows.RemoveRowsIf([](const ResultRow& row) { return !row.new_since_last; });
    std::vector<std::string> left;
    std::size_t moves = 0;
    for (const ResultRow& row : rows.rows()) {
      left.emplace_back(row.url());
      moves += row.code == 301;
    }
    std::vector<std::string> wanted;
    for (int i = 0; i < 50; ++i)
      if (i % 4 == 1 || i % 7 == 0) wanted.push_back("u" + std::to_string(i));
    EXPECT_EQ(left, wanted);
    EXPECT_EQ(rows.moves(), moves);
    EXPECT_EQ(observer.removed, observed ? 50 - wanted.size() : 0);
    rows.SetObserver(nullptr);
  }
}

TEST(RowView, ShowsWhatAFilterAndAStableSortWould) {
  std::mt19937 random(7);
  const std::vector<RowFilter> filters = {
      {"site3", std::nullopt},          {},
      {"site3.test/p1", std::nullopt},  {"", "Local File Not Found"},
      {"link 2", "HTTP Code 410 Gone"}, {"?q=", std::nullopt},
      {"nothing", std::nullopt},        {"", std::nullopt, true},
      {"site3", std::nullopt, true}};
  for (int trial = 0; trial < 30; ++trial) {
    SCOPED_TRACE(trial);
    ResultList rows;
    RowView view(rows);
    for (int step = 0; step < 60; ++step) {
      const auto operation = random() % 7;
      const std::size_t at = random() % (rows.size() + 1);  // a row, or the end
      const int column = static_cast<int>(random() % 7) - 1;
      switch (operation) {
        case 0:  // rows come, as in a run
          Append(rows, random, random() % 5 + 1);
          view.TakeNewRows();
          break;
        case 1:  // a recheck changes a row
          if (at == rows.size()) break;
          rows.UpdateRow(at, kReasons[random() % 4], 0, random() % 2 ? "" : "http://alt.test/");
          if (!view.RowChanged(at)) view.Rebuild();
          break;
        case 2:  // a repair takes a row away
          if (at == rows.size()) break;
          rows.RemoveRow(at);
          view.RowsRemoved(at, at);
          break;
        case 3:  // a header click
          view.SetOrder(column, random() % 2 == 0);
          break;
        case 4: {  // the filter box or a chart bar, matched over the first `at` rows only
          const RowFilter& filter = filters[random() % filters.size()];
          view.SetFilter(filter, *MatchRows(SnapshotRows(rows, at), filter, {}, kNever));
          break;
        }
        case 5: {  // a saved page's rows replaced where they stand
          const std::size_t count = random() % (rows.size() - at + 1);
          ResultList fresh;
          Append(fresh, random, random() % 4);
          const std::size_t added = fresh.size(), kept = std::min(count, added);
          rows.ReplaceRows(at, count, {fresh.rows().begin(), fresh.rows().end()});
          // Told once the list is whole again, as a view learns it.
          if (added > count) view.RowsInserted(at + kept, at + added - 1);
          if (count > added) view.RowsRemoved(at + kept, at + count - 1);
          bool in_order = true;
          for (std::size_t i = 0; i < kept; ++i)
            in_order = view.RowChanged(at + i) && in_order;
          if (!in_order) view.Rebuild();
          break;
        }
        default:  // a ranking job ends, perhaps for a column not shown
          view.SetRanks(std::max(column, 0), RankRows(rows, std::max(column, 0)));
      }
      ASSERT_EQ(Shown(view), Expected(rows, view.sort_column(), view.descending(), view.filter()))
          << "step " << step << ", operation " << operation;
    }
  }
}

// Two threads rank a long list, each taking part of the first level where the texts part: the
// ranks still follow the texts, ties alike, in long runs of equal texts or where most are least.
TEST(RowView, RanksOfALongListFollowTheTexts) {
  const std::function<std::string(std::uint32_t)> texts[] = {
      [](std::uint32_t n) {
        n %= 300;
        return (n % 2 ? "https://Site.test/" : "https://site.test/") +
               std::string(n % 3 * 10, 'a') + std::to_string(n % 97) + "/p" + std::to_string(n);
      },
      [](std::uint32_t n) {
        return n % 4 ? std::string("https://site.test/a")
                     : "https://site.test/b" + std::to_string(n);
      },
  };
  for (const auto& text : texts) {
    ResultList rows;
    std::mt19937 random(7);
    for (int i = 0; i < 120000; ++i)
      rows.AppendResultRow(text(static_cast<std::uint32_t>(random())));
    const std::vector<std::uint32_t> ranks = RankRows(rows, 0);
    const std::vector<std::size_t> order = Expected(rows, 0, false, {});
    for (std::size_t i = 1; i < order.size(); ++i) {
      const int compared = CompareRows(rows.row(order[i - 1]), rows.row(order[i]), 0);
      ASSERT_EQ(compared == 0, ranks[order[i - 1]] == ranks[order[i]]) << i;
      ASSERT_LE(ranks[order[i - 1]], ranks[order[i]]) << i;
    }
  }
}

// A job reads its snapshot while a run goes on adding rows on this thread; a narrower filter
// tests only the rows the wider one showed, and a stopped job gives nothing.
TEST(RowView, JobsReadASnapshotWhileRowsAreAdded) {
  ResultList rows;
  std::mt19937 random(11);
  Append(rows, random, 20000);
  const RowSnapshot snapshot = SnapshotRows(rows, rows.size());
  const RowFilter wide{"site3", std::nullopt};
  const RowFilter narrow{"site3.test/p1", std::nullopt};
  const RowFilter with_reason{"site3", "Local File Not Found"};
  EXPECT_TRUE(narrow.Narrows(wide));
  EXPECT_TRUE(with_reason.Narrows(wide));
  EXPECT_FALSE(wide.Narrows(narrow));
  EXPECT_FALSE(wide.Narrows(with_reason));
  EXPECT_FALSE((RowFilter{"site4", std::nullopt}).Narrows(wide));
  const RowFilter new_only{"site3", std::nullopt, true};
  EXPECT_TRUE(new_only.Narrows(wide));
  EXPECT_FALSE(wide.Narrows(new_only));
  const std::atomic<bool> stop{true};
  EXPECT_EQ(MatchRows(snapshot, narrow, {}, stop), std::nullopt);
  EXPECT_EQ(RankRows(snapshot, 0, stop), std::nullopt);
  auto job = std::async(std::launch::async, [&] {
    return std::pair(MatchRows(snapshot, wide, {}, kNever), RankRows(snapshot, 0, kNever));
  });
  Append(rows, random, 20000);
  auto [matches, ranks] = job.get();
  ASSERT_TRUE(matches && ranks);
  EXPECT_EQ(MatchRows(snapshot, narrow, *matches, kNever), MatchRows(snapshot, narrow, {}, kNever));
  RowView view(rows);
  view.TakeNewRows();
  view.SetRanks(0, std::move(*ranks));
  view.SetFilter(wide, std::move(*matches));
  view.SetOrder(0, false);
  EXPECT_EQ(Shown(view), Expected(rows, 0, false, wide));
}

}  // namespace
}  // namespace quimbel
