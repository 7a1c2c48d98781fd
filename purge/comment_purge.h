// Comment purge: removing every HTML comment ("<!--" to "-->", also across
// lines) from a file, rewriting it in place. Needs no window; any thread,
// one file at a time per thread.
//
// Lines are read whole and each keeps its own line end. A line that lay
// wholly inside a comment is dropped; an empty line always stays. A line
// holding "DOCTYPE" together with an opening "<!--" is kept as it is and
// opens no comment. Inside an open comment the closing "-->" is looked for
// first, so text between two comments survives.
//
// The new text goes to a temporary file in the same folder, which then
// replaces the file by an atomic rename, keeping its permissions. A file
// that cannot be read, or that cannot be replaced (no write permission, a
// full disk), is left byte for byte as it was, and the result says why.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace quimbel {

struct PurgeResult {
  int comments = 0;        // comments removed; 0 when the file was left alone
  bool rewritten = false;  // the file was replaced by its purged text
  Status status;           // why the file was left alone
};

PurgeResult PurgeFileComments(const std::string& path);

// The filter at the heart of the purge, one line at a time: give it each
// line without its line end; it says what to write (if anything) and keeps
// the comment state between lines.
class CommentFilter {
 public:
  // The text to write for `line`, or false when the line is dropped.
  bool FilterLine(std::string_view line, std::string* out);
  // The same, handing the text to `write` piece by piece instead of
  // copying it: a line of hundreds of megabytes is never held twice.
  bool FilterLine(std::string_view line, const std::function<void(std::string_view)>& write);
  int comments() const { return comments_; }

 private:
  bool in_comment_ = false;
  int comments_ = 0;
};

}  // namespace quimbel
