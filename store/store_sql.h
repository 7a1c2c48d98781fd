// What the files of the store share: binding and reading SQLite values,
// and the write transaction every change goes through. Whichever thread
// owns the store.
#pragma once

#include <sqlite3.h>

#include <string>
#include <string_view>

#include "store/store.h"

namespace quimbel {

void BindText(sqlite3_stmt* statement, int index, std::string_view text);
void BindBlob(sqlite3_stmt* statement, int index, std::string_view bytes);
// A column's bytes; empty for NULL.
std::string Column(sqlite3_stmt* statement, int index);

template <typename Body>
Status Store::Write(Body&& body) {
  // IMMEDIATE takes the write lock first: a reader turned writer could
  // otherwise find another run's write in its way, past waiting.
  if (Status begun = Execute("BEGIN IMMEDIATE"); !begun) return begun;
  Status done = body();
  if (done.ok()) done = Execute("COMMIT");
  if (!done.ok()) (void)Execute("ROLLBACK");
  return done;
}

}  // namespace quimbel
