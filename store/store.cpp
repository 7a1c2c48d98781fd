#include "store/store.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/clock.h"
#include "platform/file_descriptor.h"
#include "store/store_sql.h"

namespace quimbel {
namespace {

// The schema this build reads and writes; a store with a higher number was
// made by a newer Quimbel, and is left alone.
constexpr int kSchema = 1;

constexpr const char* kCreate = R"sql(
CREATE TABLE links(url TEXT PRIMARY KEY, time INTEGER NOT NULL, reply BLOB NOT NULL,
                   redirects BLOB NOT NULL, chain_end INTEGER NOT NULL,
                   chain_code INTEGER NOT NULL) WITHOUT ROWID;
CREATE INDEX links_time ON links(time);
CREATE TABLE marks(name TEXT PRIMARY KEY) WITHOUT ROWID;
CREATE TABLE runs(id INTEGER PRIMARY KEY AUTOINCREMENT, target TEXT NOT NULL,
                  started INTEGER NOT NULL, complete INTEGER NOT NULL DEFAULT 0,
                  fixed INTEGER NOT NULL DEFAULT 0);
CREATE INDEX runs_target ON runs(target, id);
CREATE TABLE run_rows(run INTEGER NOT NULL, page BLOB NOT NULL, url BLOB NOT NULL,
                      line INTEGER NOT NULL, reason TEXT NOT NULL);
CREATE INDEX run_rows_key ON run_rows(run, page, url);
CREATE TABLE run_pages(run INTEGER NOT NULL, page BLOB NOT NULL,
                       PRIMARY KEY(run, page)) WITHOUT ROWID;
CREATE TABLE crawl_pages(target TEXT NOT NULL, key BLOB NOT NULL, own_fetch INTEGER NOT NULL,
                         state BLOB NOT NULL, links BLOB NOT NULL, fragments BLOB NOT NULL,
                         PRIMARY KEY(target, key)) WITHOUT ROWID;
)sql";

// What every SQLite database file begins with.
constexpr std::string_view kMagic{"SQLite format 3\0", 16};

Status Opened(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    if (errno != ENOENT) return Status::FromErrno("Cannot open", path, errno);
    // Made here, so that others' links and a history stay the user's own.
    const int made = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (made < 0 && errno != EEXIST) return Status::FromErrno("Cannot create", path, errno);
    if (made >= 0) ::close(made);
    return Status::Ok();
  }
  if (!S_ISREG(info.st_mode)) return Status::Error("it is no regular file", EINVAL);
  // A file made read-only stays as it is, even for the superuser.
  if ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::access(path.c_str(), W_OK) != 0)
    return Status::Error("it is read-only", EROFS);
  if (info.st_size == 0) return Status::Ok();
  FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  char head[16] = {};
  if (!file.valid()) return Status::FromErrno("Cannot open", path, errno);
  if (::read(file.get(), head, sizeof head) != static_cast<ssize_t>(sizeof head) ||
      std::string_view(head, sizeof head) != kMagic) {
    return Status::Invalid("it is not a store of links");
  }
  return Status::Ok();
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) {
    if (!text.empty()) text += '\n';
    text += line;
  }
  return text;
}

std::vector<std::string> Split(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n', start);
    lines.push_back(text.substr(start, end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return lines;
}

}  // namespace

void BindText(sqlite3_stmt* statement, int index, std::string_view text) {
  sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

void BindBlob(sqlite3_stmt* statement, int index, std::string_view bytes) {
  sqlite3_bind_blob(statement, index, bytes.data(), static_cast<int>(bytes.size()),
                    SQLITE_TRANSIENT);
}

std::string Column(sqlite3_stmt* statement, int index) {
  const void* bytes = sqlite3_column_blob(statement, index);
  const int size = sqlite3_column_bytes(statement, index);
  return bytes == nullptr ? std::string() : std::string(static_cast<const char*>(bytes), size);
}

void Store::Finalize::operator()(sqlite3_stmt* statement) const {
  sqlite3_finalize(statement);
}

Result<std::unique_ptr<Store>> Store::Open(const std::string& path) {
  if (Status opened = Opened(path); !opened) return opened;
  sqlite3* db = nullptr;
  const int code = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  std::unique_ptr<Store> store(new Store(path, db));
  if (code != SQLITE_OK) return store->Failure("it cannot be opened");
  if (Status prepared = store->Prepare(); !prepared) return prepared;
  return store;
}

Result<std::unique_ptr<Store>> Store::OpenScratch() {
  sqlite3* db = nullptr;
  // An empty name: SQLite's own temporary file, removed when closed.
  const int code = sqlite3_open_v2("", &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  std::unique_ptr<Store> store(new Store("(temporary)", db));
  if (code != SQLITE_OK) return store->Failure("it cannot be made");
  // Nothing in it outlives the process: no journal to keep, nothing to sync.
  if (Status fast = store->Execute("PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF"); !fast)
    return fast;
  if (Status made = store->Execute(kCreate); !made) return made;
  return store;
}

Store::~Store() {
  find_link_.reset();
  put_link_.reset();
  had_row_.reset();
  add_row_.reset();
  add_page_.reset();
  has_mark_.reset();
  put_crawl_page_.reset();
  find_crawl_page_.reset();
  sqlite3_close(db_);
}

Status Store::Failure(std::string_view doing) const {
  const int code = db_ == nullptr ? SQLITE_NOMEM : sqlite3_errcode(db_);
  const std::string why = db_ == nullptr ? "out of memory" : sqlite3_errmsg(db_);
  int error = EIO;
  if (code == SQLITE_FULL) error = ENOSPC;
  if (code == SQLITE_READONLY || code == SQLITE_PERM || code == SQLITE_CANTOPEN) error = EACCES;
  if (code == SQLITE_BUSY || code == SQLITE_LOCKED) error = EBUSY;
  if (code == SQLITE_NOTADB || code == SQLITE_CORRUPT) error = EINVAL;
  return Status::Error(std::string(doing) + " (" + why + ")", error);
}

Status Store::Execute(const char* sql) {
  if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
    return Failure("it cannot be used");
  }
  return Status::Ok();
}

Status Store::Prepare() {
  // Another run writing waits us out, and we it, rather than fail.
  sqlite3_busy_timeout(db_, 10000);
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db_, "PRAGMA user_version", -1, &raw, nullptr) != SQLITE_OK) {
    return Failure("it cannot be read");
  }
  Statement version(raw);
  if (sqlite3_step(raw) != SQLITE_ROW) return Failure("it cannot be read");
  const int schema = sqlite3_column_int(raw, 0);
  version.reset();
  if (schema > kSchema) return Status::Error("it was made by a newer Quimbel", EINVAL);
  if (Status wal = EnterWal(); !wal) return wal;
  if (Status sync = Execute("PRAGMA synchronous=NORMAL"); !sync) return sync;
  if (schema == kSchema) return Status::Ok();
  return Write([&] {
    // Two runs may make it at once: the second finds it made.
    sqlite3_stmt* again = nullptr;
    sqlite3_prepare_v2(db_, "PRAGMA user_version", -1, &again, nullptr);
    Statement check(again);
    if (sqlite3_step(again) == SQLITE_ROW && sqlite3_column_int(again, 0) == kSchema) {
      return Status::Ok();
    }
    check.reset();
    if (Status made = Execute(kCreate); !made) return made;
    return Execute(("PRAGMA user_version=" + std::to_string(kSchema)).c_str());
  });
}

Status Store::EnterWal() {
  // A store once in WAL mode stays so. Turning a new one to it needs the
  // file to itself, which the busy wait does not wait for: a second run
  // opening the store at the same moment tries again for a while.
  const SteadyTime give_up = SteadyNow() + std::chrono::seconds(10);
  for (;;) {
    if (sqlite3_exec(db_, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr) == SQLITE_OK) {
      return Status::Ok();
    }
    if (sqlite3_errcode(db_) != SQLITE_BUSY || SteadyNow() > give_up) {
      return Failure("it cannot be used");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

sqlite3_stmt* Store::Cached(Statement& slot, const char* sql) {
  if (!slot) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db_, sql, -1, &raw, nullptr) != SQLITE_OK) return nullptr;
    slot.reset(raw);
  }
  sqlite3_reset(slot.get());
  sqlite3_clear_bindings(slot.get());
  return slot.get();
}

std::optional<StoredLink> Store::FindLink(const std::string& url) {
  sqlite3_stmt* find = Cached(
      find_link_, "SELECT time, reply, redirects, chain_end, chain_code FROM links WHERE url = ?");
  if (find == nullptr) return std::nullopt;
  BindText(find, 1, url);
  if (sqlite3_step(find) != SQLITE_ROW) return std::nullopt;
  StoredLink link{url,
                  sqlite3_column_int64(find, 0),
                  Column(find, 1),
                  Split(Column(find, 2)),
                  sqlite3_column_int(find, 3),
                  sqlite3_column_int(find, 4)};
  sqlite3_reset(find);
  return link;
}

Status Store::PutLinks(const std::vector<StoredLink>& links) {
  if (links.empty()) return Status::Ok();
  return Write([&] {
    for (const StoredLink& link : links) {
      sqlite3_stmt* put = Cached(put_link_,
                                 "INSERT OR REPLACE INTO links(url, time, reply, redirects, "
                                 "chain_end, chain_code) VALUES (?, ?, ?, ?, ?, ?)");
      if (put == nullptr) return Failure("a link cannot be kept");
      BindText(put, 1, link.url);
      sqlite3_bind_int64(put, 2, link.time);
      BindBlob(put, 3, link.reply);
      BindBlob(put, 4, Joined(link.redirects));
      sqlite3_bind_int(put, 5, link.chain_end);
      sqlite3_bind_int(put, 6, link.chain_code);
      if (sqlite3_step(put) != SQLITE_DONE) return Failure("a link cannot be kept");
    }
    return Status::Ok();
  });
}

Status Store::DropLinksBefore(std::int64_t time) {
  return Write([&] {
    Statement drop = Query("DELETE FROM links WHERE time < ?");
    if (!drop) return Failure("old links cannot be dropped");
    sqlite3_bind_int64(drop.get(), 1, time);
    return sqlite3_step(drop.get()) == SQLITE_DONE ? Status::Ok()
                                                   : Failure("old links cannot be dropped");
  });
}

std::int64_t Store::LinkCount() {
  return Count("SELECT COUNT(*) FROM links", {});
}

bool Store::HasMark(const std::string& name) {
  sqlite3_stmt* has = Cached(has_mark_, "SELECT 1 FROM marks WHERE name = ?");
  if (has == nullptr) return false;
  BindText(has, 1, name);
  const bool found = sqlite3_step(has) == SQLITE_ROW;
  sqlite3_reset(has);
  return found;
}

Status Store::SetMark(const std::string& name) {
  return ChangeOf("INSERT OR IGNORE INTO marks(name) VALUES (?)", name, "a mark cannot be kept");
}

Status Store::ChangeOf(const char* sql, const std::string& text, const char* failure) {
  return Write([&] {
    Statement change = Query(sql);
    if (!change) return Failure(failure);
    BindText(change.get(), 1, text);
    return sqlite3_step(change.get()) == SQLITE_DONE ? Status::Ok() : Failure(failure);
  });
}

Store::Statement Store::Query(const char* sql) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db_, sql, -1, &raw, nullptr) != SQLITE_OK) return nullptr;
  return Statement(raw);
}

std::int64_t Store::Count(const char* sql, std::initializer_list<std::int64_t> values) {
  Statement count = Query(sql);
  if (!count) return -1;
  int index = 0;
  for (const std::int64_t value : values)
    sqlite3_bind_int64(count.get(), ++index, value);
  return sqlite3_step(count.get()) == SQLITE_ROW ? sqlite3_column_int64(count.get(), 0) : -1;
}

Status Store::Change(const char* sql, std::initializer_list<std::int64_t> values) {
  Statement change = Query(sql);
  if (!change) return Failure("it cannot be changed");
  int index = 0;
  for (const std::int64_t value : values)
    sqlite3_bind_int64(change.get(), ++index, value);
  return sqlite3_step(change.get()) == SQLITE_DONE ? Status::Ok() : Failure("it cannot be changed");
}

std::string DefaultStoreFile() {
  const char* cache = std::getenv("XDG_CACHE_HOME");
  std::string folder;
  if (cache != nullptr && cache[0] == '/') {
    folder = cache;
  } else {
    const char* home = std::getenv("HOME");
    folder = std::string(home != nullptr ? home : ".") + "/.cache";
  }
  return folder + "/quimbel/store.db";
}

}  // namespace quimbel
