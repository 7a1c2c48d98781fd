// What a test found in each file, kept for the reports that list every
// link (JSON, CSV, JUnit and the like), not only the rows. Plain values;
// any thread once made.
#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quimbel {

// A link a test checked, for reports that list every link, not only rows.
struct CheckedLink {
  std::string url;  // as written in the page
  std::size_t line = 0;
  std::optional<std::size_t> row;  // its row in the results list, if it got one
};

// Why a link robots.txt disallows has no outcome, in the reports.
inline constexpr std::string_view kNotRequestedReason = "Not requested, as robots.txt asks";

// What a test found in one file: the numbers of its log line, and, when
// asked for, every link it checked.
struct FileRecord {
  struct Lists {
    std::vector<CheckedLink> links;
    // Links into a crawled site's paths that its robots.txt disallows: not
    // requested at all.
    std::vector<CheckedLink> not_requested;
  };
  std::string path;
  std::size_t urls_tested = 0;
  std::size_t url_errors = 0;
  std::size_t skipped = 0;  // links the rules left out
  // Most files have neither list: a crawl of a million pages keeps a
  // million records, and two empty lists would be most of each.
  std::unique_ptr<Lists> lists = {};

  const std::vector<CheckedLink>& links() const { return lists ? lists->links : kNone; }
  const std::vector<CheckedLink>& not_requested() const {
    return lists ? lists->not_requested : kNone;
  }
  Lists& more() {
    if (!lists) lists = std::make_unique<Lists>();
    return *lists;
  }

 private:
  static inline const std::vector<CheckedLink> kNone;
};

// A test's records, one a file: a deque, so a crawl of a million pages
// never holds two copies while the list grows.
using FileRecords = std::deque<FileRecord>;

}  // namespace quimbel
