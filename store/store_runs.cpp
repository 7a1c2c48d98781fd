// The store's history of runs (each run's rows and pages, the runs kept a
// target) and the crawl's journal of pages read.
#include <string>
#include <vector>

#include "store/store.h"
#include "store/store_sql.h"

namespace quimbel {

Result<std::int64_t> Store::BeginRun(const std::string& target, std::int64_t started) {
  std::int64_t run = 0;
  Status begun = Write([&] {
    Statement begin = Query("INSERT INTO runs(target, started) VALUES (?, ?)");
    if (!begin) return Failure("a run cannot be recorded");
    BindText(begin.get(), 1, target);
    sqlite3_bind_int64(begin.get(), 2, started);
    if (sqlite3_step(begin.get()) != SQLITE_DONE) return Failure("a run cannot be recorded");
    run = sqlite3_last_insert_rowid(db_);
    return Status::Ok();
  });
  if (!begun) return begun;
  return run;
}

std::optional<std::int64_t> Store::LastCompleteRun(const std::string& target, std::int64_t run) {
  Statement last = Query("SELECT MAX(id) FROM runs WHERE target = ? AND id < ? AND complete = 1");
  if (!last) return std::nullopt;
  BindText(last.get(), 1, target);
  sqlite3_bind_int64(last.get(), 2, run);
  if (sqlite3_step(last.get()) != SQLITE_ROW || sqlite3_column_type(last.get(), 0) == SQLITE_NULL)
    return std::nullopt;
  return sqlite3_column_int64(last.get(), 0);
}

bool Store::RunHadRow(std::int64_t run, std::string_view page, std::string_view url) {
  sqlite3_stmt* had =
      Cached(had_row_, "SELECT 1 FROM run_rows WHERE run = ? AND page = ? AND url = ? LIMIT 1");
  if (had == nullptr) return false;
  sqlite3_bind_int64(had, 1, run);
  BindBlob(had, 2, page);
  BindBlob(had, 3, url);
  const bool found = sqlite3_step(had) == SQLITE_ROW;
  sqlite3_reset(had);
  return found;
}

Status Store::AddRunRows(std::int64_t run, const std::vector<HistoryRow>& rows,
                         const std::vector<std::string>& pages) {
  if (rows.empty() && pages.empty()) return Status::Ok();
  return Write([&] {
    for (const HistoryRow& row : rows) {
      sqlite3_stmt* add = Cached(
          add_row_, "INSERT INTO run_rows(run, page, url, line, reason) VALUES (?, ?, ?, ?, ?)");
      if (add == nullptr) return Failure("a row cannot be recorded");
      sqlite3_bind_int64(add, 1, run);
      BindBlob(add, 2, row.page);
      BindBlob(add, 3, row.url);
      sqlite3_bind_int64(add, 4, row.line);
      BindText(add, 5, row.reason);
      if (sqlite3_step(add) != SQLITE_DONE) return Failure("a row cannot be recorded");
    }
    for (const std::string& page : pages) {
      sqlite3_stmt* add =
          Cached(add_page_, "INSERT OR IGNORE INTO run_pages(run, page) VALUES (?, ?)");
      if (add == nullptr) return Failure("a page cannot be recorded");
      sqlite3_bind_int64(add, 1, run);
      BindBlob(add, 2, page);
      if (sqlite3_step(add) != SQLITE_DONE) return Failure("a page cannot be recorded");
    }
    return Status::Ok();
  });
}

Result<std::int64_t> Store::FixedSince(std::int64_t previous, std::int64_t run) {
  const std::int64_t fixed = Count(
      "SELECT COUNT(*) FROM (SELECT DISTINCT p.page, p.url FROM run_rows p WHERE p.run = ?1 "
      "AND EXISTS (SELECT 1 FROM run_pages g WHERE g.run = ?2 AND g.page = p.page) "
      "AND NOT EXISTS (SELECT 1 FROM run_rows c "
      "WHERE c.run = ?2 AND c.page = p.page AND c.url = p.url))",
      {previous, run});
  if (fixed < 0) return Failure("the runs cannot be compared");
  return fixed;
}

Status Store::EndRun(std::int64_t run, bool complete, std::int64_t fixed, int keep) {
  return Write([&] {
    Statement end = Query("UPDATE runs SET complete = ?, fixed = ? WHERE id = ?");
    if (!end) return Failure("a run cannot be recorded");
    sqlite3_bind_int(end.get(), 1, complete ? 1 : 0);
    sqlite3_bind_int64(end.get(), 2, fixed);
    sqlite3_bind_int64(end.get(), 3, run);
    if (sqlite3_step(end.get()) != SQLITE_DONE) return Failure("a run cannot be recorded");
    // The oldest runs of the same target past `keep`, with their rows.
    constexpr const char* kOld =
        "(SELECT id FROM runs WHERE target = (SELECT target FROM runs WHERE id = ?1) "
        "ORDER BY id DESC LIMIT -1 OFFSET ?2)";
    for (const char* table : {"run_rows", "run_pages"}) {
      const std::string sql = std::string("DELETE FROM ") + table + " WHERE run IN " + kOld;
      if (Status dropped = Change(sql.c_str(), {run, keep}); !dropped) return dropped;
    }
    return Change((std::string("DELETE FROM runs WHERE id IN ") + kOld).c_str(), {run, keep});
  });
}

std::int64_t Store::RunCount(const std::string& target) {
  return CountOf("SELECT COUNT(*) FROM runs WHERE target = ?", target);
}

std::int64_t Store::CountOf(const char* sql, const std::string& text) {
  Statement count = Query(sql);
  if (!count) return -1;
  BindText(count.get(), 1, text);
  return sqlite3_step(count.get()) == SQLITE_ROW ? sqlite3_column_int64(count.get(), 0) : -1;
}

Status Store::PutCrawlPage(const std::string& target, const CrawlPageRecord& page) {
  return Write([&] {
    sqlite3_stmt* put = Cached(put_crawl_page_,
                               "INSERT OR REPLACE INTO crawl_pages(target, key, own_fetch, state, "
                               "links, fragments) VALUES (?, ?, ?, ?, ?, ?)");
    if (put == nullptr) return Failure("a page cannot be kept");
    BindText(put, 1, target);
    BindBlob(put, 2, page.key);
    sqlite3_bind_int(put, 3, page.own_fetch ? 1 : 0);
    BindBlob(put, 4, page.state);
    BindBlob(put, 5, page.links);
    BindBlob(put, 6, page.fragments);
    return sqlite3_step(put) == SQLITE_DONE ? Status::Ok() : Failure("a page cannot be kept");
  });
}

std::optional<CrawlPageRecord> Store::FindCrawlPage(const std::string& target,
                                                    const std::string& key) {
  sqlite3_stmt* find = Cached(find_crawl_page_,
                              "SELECT own_fetch, state, links, fragments FROM crawl_pages "
                              "WHERE target = ? AND key = ?");
  if (find == nullptr) return std::nullopt;
  BindText(find, 1, target);
  BindBlob(find, 2, key);
  if (sqlite3_step(find) != SQLITE_ROW) return std::nullopt;
  CrawlPageRecord page{key, sqlite3_column_int(find, 0) != 0, Column(find, 1), Column(find, 2),
                       Column(find, 3)};
  sqlite3_reset(find);
  return page;
}

std::int64_t Store::CrawlPageCount(const std::string& target) {
  return CountOf("SELECT COUNT(*) FROM crawl_pages WHERE target = ?", target);
}

Status Store::ForgetCrawl(const std::string& target) {
  return ChangeOf("DELETE FROM crawl_pages WHERE target = ?", target,
                  "a crawl cannot be forgotten");
}

}  // namespace quimbel
