// Store: Quimbel's one embedded database, an SQLite file in WAL mode. It
// keeps the link cache (outcomes of other sites' links across runs) and the
// history of runs (each run's rows, to tell what is new since the last
// one). No SQL is written anywhere else.
//
// Every change is one transaction: a kill at any moment leaves the last
// committed state, and two programs sharing the file wait for each other
// (up to ten seconds) rather than lose what the other wrote. A Store
// belongs to the thread that opened it: the user-interface thread.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"
#include "platform/status.h"

struct sqlite3;
struct sqlite3_stmt;

namespace quimbel {

// One link's kept outcome: the status line, where its moves led and how
// their chain ended, as numbers the cache gives meaning to.
struct StoredLink {
  std::string url;
  std::int64_t time = 0;  // seconds since the epoch
  std::string reply;
  std::vector<std::string> redirects;
  int chain_end = 0;
  int chain_code = 0;
};

// A row of a run, as the history compares runs: its page and the link as
// written there; the line and reason are kept for the record.
struct HistoryRow {
  std::string page;
  std::string url;
  std::uint32_t line = 0;
  std::string reason;
};

// A page a crawl has read, kept while the crawl runs: pages waiting for
// their turn need not stay in memory, and a crawl that was stopped resumes
// without fetching again what it read. The crawl packs the fields.
struct CrawlPageRecord {
  std::string key;
  bool own_fetch = true;  // read from its own fetch (not at the end of another's move)
  std::string state;      // its fetch's outcome and what reading it found
  std::string links;
  std::string fragments;
};

class Store {
 public:
  // A store of this process's own, in a temporary file gone when it is
  // closed: room for a crawl's pages when no store is kept.
  static Result<std::unique_ptr<Store>> OpenScratch();
  // Opens the store at `path`, making it (mode 0600) when there is none.
  // What is no regular file, or a file that is not a store, is refused and
  // left untouched; so is a store made by a newer Quimbel.
  static Result<std::unique_ptr<Store>> Open(const std::string& path);
  ~Store();
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  const std::string& path() const { return path_; }

  // The link cache.
  std::optional<StoredLink> FindLink(const std::string& url);
  // Keeps each link, replacing what was kept for its URL; all or none.
  Status PutLinks(const std::vector<StoredLink>& links);
  // Forgets links kept before `time`.
  Status DropLinksBefore(std::int64_t time);
  std::int64_t LinkCount();

  // Marks: what was done once to this store (an older cache imported).
  bool HasMark(const std::string& name);
  Status SetMark(const std::string& name);

  // The history of runs, each of one target (a folder, a file or a start
  // address). A run begun and never ended is not complete.
  Result<std::int64_t> BeginRun(const std::string& target, std::int64_t started);
  // The newest complete run of `target` before `run`.
  std::optional<std::int64_t> LastCompleteRun(const std::string& target, std::int64_t run);
  // Whether `run` had a row for `url` on `page`.
  bool RunHadRow(std::int64_t run, std::string_view page, std::string_view url);
  // Adds rows, and the pages read, to `run`; all or none.
  Status AddRunRows(std::int64_t run, const std::vector<HistoryRow>& rows,
                    const std::vector<std::string>& pages);
  // How many links with a row in `previous` have none in `run`, on pages
  // `run` read: the links fixed since.
  Result<std::int64_t> FixedSince(std::int64_t previous, std::int64_t run);
  // Ends `run`, and forgets the oldest runs of its target past `keep`.
  Status EndRun(std::int64_t run, bool complete, std::int64_t fixed, int keep);
  std::int64_t RunCount(const std::string& target);

  // The pages a crawl of `target` has read; each kept in a transaction of
  // its own, so a kill loses none that was kept.
  Status PutCrawlPage(const std::string& target, const CrawlPageRecord& page);
  std::optional<CrawlPageRecord> FindCrawlPage(const std::string& target, const std::string& key);
  std::int64_t CrawlPageCount(const std::string& target);
  Status ForgetCrawl(const std::string& target);

 private:
  struct Finalize {
    void operator()(sqlite3_stmt* statement) const;
  };
  using Statement = std::unique_ptr<sqlite3_stmt, Finalize>;

  Store(std::string path, sqlite3* db) : path_(std::move(path)), db_(db) {}
  Status Prepare();
  Status EnterWal();
  Status Failure(std::string_view doing) const;
  Status Execute(const char* sql);
  Statement Query(const char* sql);
  // The first column of a query's one row; -1 when it fails.
  std::int64_t Count(const char* sql, std::initializer_list<std::int64_t> values);
  Status Change(const char* sql, std::initializer_list<std::int64_t> values);
  // A change with one text to bind, in a transaction of its own.
  Status ChangeOf(const char* sql, const std::string& text, const char* failure);
  // The count a query with one text to bind gives; -1 when it fails.
  std::int64_t CountOf(const char* sql, const std::string& text);
  // `sql` prepared once and kept, reset for its next use.
  sqlite3_stmt* Cached(Statement& slot, const char* sql);
  // Runs `body` in one write transaction, committed only when it succeeds.
  template <typename Body>
  Status Write(Body&& body);

  std::string path_;
  sqlite3* db_ = nullptr;
  Statement find_link_, put_link_, had_row_, add_row_, add_page_, has_mark_, put_crawl_page_,
      find_crawl_page_;
};

// The store a run uses when no file is named: "quimbel/store.db" in
// $XDG_CACHE_HOME (default ~/.cache).
std::string DefaultStoreFile();

}  // namespace quimbel
