// The window's view of the results list: whatever happens to the rows and
// whichever order and filter are chosen, it shows exactly the rows a plain
// filter and a stable sort by the texts would, and the jobs that rank and
// match off the event loop read a snapshot safely while the list grows.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <numeric>
#include <random>
#include <thread>

#include "core/row_view.h"

namespace quimbel {
namespace {

const char* const kReasons[] = {"HTTP Code 404 Not Found", "Error: Can't Connect to Host",
                                "Local File Not Found", "HTTP Code 410 Gone"};

void Append(ResultList& rows, std::mt19937& random) {
  const auto n = random() % 40;
  // Shared beginnings, case and length differences, no file extension.
  rows.AppendResultRow((n % 2 ? "HTTP://Site" : "http://site") + std::to_string(n % 7) + ".test/p" +
                           std::to_string(n) + (n % 3 ? "?q=" : ""),
                       n % 9);
  rows.SetResultColumn(ResultColumn::kReason, kReasons[random() % 4]);
  rows.SetResultColumn(ResultColumn::kSiteName, "Link " + std::to_string(random() % 5),
                       "/site/page" + std::to_string(random() % 3) + ".html");
}

// What the view must show: the rows that pass, stably sorted.
std::vector<std::size_t> Expected(const ResultList& rows, int column, bool descending,
                                  const RowFilter& filter) {
  std::vector<std::size_t> shown;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (filter.empty() || filter.Matches(rows.row(i))) shown.push_back(i);
  }
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

// A row keeps its URL and link text in one block: each is set alone, from
// any text (its own included), and copies stand apart.
TEST(ResultRow, UrlAndLinkTextShareOneBlock) {
  struct Step {
    ResultColumn column;
    std::string text;
    std::string url, name;  // after the step
  };
  const Step steps[] = {
      {ResultColumn::kSiteName, "Home", "", "Home"},
      {ResultColumn::kUrl, "http://a.test/x?q=1", "http://a.test/x?q=1", "Home"},
      {ResultColumn::kSiteName, "", "http://a.test/x?q=1", ""},
      {ResultColumn::kSiteName,
       "Ein \xC3\xBC"
       "ber-Link",
       "http://a.test/x?q=1",
       "Ein \xC3\xBC"
       "ber-Link"},
      {ResultColumn::kUrl, "", "",
       "Ein \xC3\xBC"
       "ber-Link"},
  };
  ResultRow row;
  EXPECT_TRUE(row.url().empty() && row.text(ResultColumn::kSiteName).empty());
  for (const Step& step : steps) {
    row.SetText(step.column, step.text);
    EXPECT_EQ(row.url(), step.url) << step.text;
    EXPECT_EQ(row.text(ResultColumn::kSiteName), step.name) << step.text;
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

TEST(RowView, ShowsWhatAFilterAndAStableSortWould) {
  std::mt19937 random(7);
  const std::vector<RowFilter> filters = {{},
                                          {"site3", std::nullopt},
                                          {"site3.test/p1", std::nullopt},
                                          {"", "Local File Not Found"},
                                          {"link 2", "HTTP Code 410 Gone"},
                                          {"?q=", std::nullopt},
                                          {"nothing", std::nullopt}};
  for (int trial = 0; trial < 30; ++trial) {
    SCOPED_TRACE(trial);
    ResultList rows;
    RowView view(rows);
    const std::atomic<bool> never{false};
    for (int step = 0; step < 60; ++step) {
      const auto operation = random() % 7;
      switch (operation) {
        case 0:  // rows come, as in a run
          for (int i = static_cast<int>(random() % 5); i >= 0; --i)
            Append(rows, random);
          view.TakeNewRows();
          break;
        case 1: {  // a recheck changes a row
          if (rows.empty()) break;
          const std::size_t row = random() % rows.size();
          rows.UpdateRow(row, kReasons[random() % 4], 0, random() % 2 ? "" : "http://alt.test/");
          if (!view.RowChanged(row)) view.Rebuild();
          break;
        }
        case 2: {  // a repair takes a row away
          if (rows.empty()) break;
          const std::size_t row = random() % rows.size();
          rows.RemoveRow(row);
          view.RowsRemoved(row, row);
          break;
        }
        case 3: {  // a header click
          const int column = static_cast<int>(random() % 7) - 1;
          view.SetOrder(column, random() % 2 == 0);
          break;
        }
        case 4: {  // the filter box or a chart bar
          const RowFilter& filter = filters[random() % filters.size()];
          // Matches of part of the rows only: the rest are tested as taken.
          const RowSnapshot part = SnapshotRows(rows, random() % (rows.size() + 1));
          view.SetFilter(filter, *MatchRows(part, filter, {}, never));
          break;
        }
        case 5: {  // a saved page's rows replaced where they stand
          const std::size_t first = random() % (rows.size() + 1);
          const std::size_t count = random() % (rows.size() - first + 1);
          ResultList fresh;
          for (int i = static_cast<int>(random() % 4); i > 0; --i)
            Append(fresh, random);
          std::vector<ResultRow> replacement(fresh.rows().begin(), fresh.rows().end());
          const std::size_t kept = std::min(count, replacement.size());
          const std::size_t added = replacement.size();
          rows.ReplaceRows(first, count, std::move(replacement));
          // Told once the list is whole again, as a view learns it.
          if (added > count) view.RowsInserted(first + kept, first + added - 1);
          if (count > added) view.RowsRemoved(first + kept, first + count - 1);
          bool in_order = true;
          for (std::size_t i = 0; i < kept; ++i)
            in_order = view.RowChanged(first + i) && in_order;
          if (!in_order) view.Rebuild();
          break;
        }
        default: {  // a ranking job ends, perhaps for a column not shown
          const int column = static_cast<int>(random() % 6);
          view.SetRanks(column, RankRows(rows, column));
          break;
        }
      }
      ASSERT_EQ(Shown(view), Expected(rows, view.sort_column(), view.descending(), view.filter()))
          << "step " << step << ", operation " << operation;
    }
  }
}

TEST(RowView, NarrowingTestsOnlyWhatTheWiderFilterShowed) {
  ResultList rows;
  std::mt19937 random(3);
  for (int i = 0; i < 500; ++i)
    Append(rows, random);
  const RowFilter wide{"site3", std::nullopt};
  const RowFilter narrow{"site3.test/p1", std::nullopt};
  const RowFilter other{"site4", std::nullopt};
  EXPECT_TRUE(narrow.Narrows(wide));
  EXPECT_FALSE(wide.Narrows(narrow));
  EXPECT_FALSE(other.Narrows(wide));
  EXPECT_FALSE(wide.Narrows(RowFilter{"site3", "Local File Not Found"}));
  EXPECT_TRUE((RowFilter{"site3", "Local File Not Found"}).Narrows(wide));
  const std::atomic<bool> never{false};
  const RowSnapshot all = SnapshotRows(rows, rows.size());
  const auto wide_matches = MatchRows(all, wide, {}, never);
  EXPECT_EQ(MatchRows(all, narrow, *wide_matches, never), MatchRows(all, narrow, {}, never));
  const std::atomic<bool> stop{true};
  EXPECT_EQ(MatchRows(all, narrow, {}, stop), std::nullopt);
  EXPECT_EQ(RankRows(all, 0, stop), std::nullopt);
}

// A job reads its snapshot while the list goes on growing on this thread,
// as a run adds rows while a filter or a ranking is worked out.
// A long list is ranked by two threads, each taking a part of the first
// level where the texts part: the ranks still order every row as its text
// does, equal texts alike. Few texts, so that runs of equal ones are long,
// with shared beginnings and middles and case differences; and a list
// where most rows share the least text, which cannot part at its middle.
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
    std::vector<std::size_t> order(rows.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
      return CompareRows(rows.row(a), rows.row(b), 0) < 0;
    });
    for (std::size_t i = 1; i < order.size(); ++i) {
      const int compared = CompareRows(rows.row(order[i - 1]), rows.row(order[i]), 0);
      ASSERT_EQ(compared == 0, ranks[order[i - 1]] == ranks[order[i]]) << i;
      ASSERT_LE(ranks[order[i - 1]], ranks[order[i]]) << i;
    }
  }
}

TEST(RowView, JobsReadASnapshotWhileRowsAreAdded) {
  ResultList rows;
  std::mt19937 random(11);
  for (int i = 0; i < 20000; ++i)
    Append(rows, random);
  const RowSnapshot snapshot = SnapshotRows(rows, rows.size());
  const RowFilter filter{"site3", std::nullopt};
  std::optional<std::vector<std::uint8_t>> matches;
  std::optional<std::vector<std::uint32_t>> ranks;
  const std::atomic<bool> never{false};
  std::thread job([&] {
    matches = MatchRows(snapshot, filter, {}, never);
    ranks = RankRows(snapshot, 0, never);
  });
  for (int i = 0; i < 20000; ++i)
    Append(rows, random);
  job.join();
  ASSERT_TRUE(matches && ranks);
  RowView view(rows);
  view.TakeNewRows();
  view.SetRanks(0, std::move(*ranks));
  view.SetFilter(filter, std::move(*matches));
  view.SetOrder(0, false);
  EXPECT_EQ(Shown(view), Expected(rows, 0, false, filter));
}

}  // namespace
}  // namespace quimbel
