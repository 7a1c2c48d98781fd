#include "purge/comment_purge.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <optional>

#include "platform/spliced_line.h"
#include "platform/text_file.h"

namespace quimbel {
namespace {

constexpr std::string_view kOpen = "<!--";
constexpr std::string_view kClose = "-->";
constexpr std::string_view kDoctype = "DOCTYPE";

int CountOpenings(std::string_view text) {
  int count = 0;
  for (std::size_t at = text.find(kOpen); at != std::string_view::npos;
       at = text.find(kOpen, at + kOpen.size())) {
    ++count;
  }
  return count;
}

}  // namespace

bool CommentFilter::FilterLine(std::string_view line, std::string* out) {
  out->clear();
  return FilterLine(line, [out](std::string_view piece) { out->append(piece); });
}

bool CommentFilter::FilterLine(std::string_view line,
                               const std::function<void(std::string_view)>& write) {
  // One forward pass: comments are cut out where they stand, and tokens
  // that a cut brings together count as if the text had been rewritten.
  SplicedLine text(line);
  const std::size_t last_doctype = line.rfind(kDoctype);
  const auto has_doctype = [&] {
    return (last_doctype != std::string_view::npos && last_doctype >= text.rest_begin()) ||
           text.SpansCut(kDoctype);
  };
  for (;;) {
    if (text.empty()) return true;  // empty lines always stay, inside a comment too
    if (in_comment_) {
      // Only the first round of a line can find a comment open, so
      // nothing has been cut and kept yet.
      const std::size_t close = text.Find(kClose);
      if (close == SplicedLine::npos) {
        // Every "<!--" inside an open comment counts, and the line goes.
        comments_ += CountOpenings(text.rest());
        return false;
      }
      comments_ += CountOpenings(text.rest().substr(0, close));
      text.Cut(0, close + kClose.size());
      in_comment_ = false;
      if (text.empty()) return true;  // the closing line is written even when nothing is left
      continue;
    }
    const std::size_t open = text.Find(kOpen);
    if (open == SplicedLine::npos || has_doctype()) {
      // A document type line stays whole, opening nothing.
      text.ForEachPiece(write);
      return true;
    }
    ++comments_;
    // The close is sought from the opening itself, so "<!-->" is whole.
    const std::size_t close = text.Find(kClose, open);
    if (close == SplicedLine::npos) {
      in_comment_ = true;
      text.Truncate(open);
      text.ForEachPiece(write);
      return true;
    }
    text.Cut(open, close + kClose.size());
  }
}

PurgeResult PurgeFileComments(const std::string& path) {
  PurgeResult result;
  // Rewrite the file a link points to, not the link.
  char resolved_buffer[PATH_MAX];
  if (path.find('\0') != std::string::npos ||
      ::realpath(path.c_str(), resolved_buffer) == nullptr) {
    result.status = Status::FromErrno("Cannot open", path, errno != 0 ? errno : EINVAL);
    return result;
  }
  const std::string resolved = resolved_buffer;
  const FileDescriptor input = OpenForReading(resolved);
  struct stat status {};
  if (!input.valid() || ::fstat(input.get(), &status) != 0) {
    result.status = Status::Error("Cannot open " + path + ": not a readable regular file", EINVAL);
    return result;
  }
  // A read-only file is not ours to replace, even though the folder would
  // allow the rename.
  result.status = CheckWritable(resolved);
  if (!result.status) return result;
  std::optional<ReplacementFile> output = ReplacementFile::CreateBeside(resolved, &result.status);
  if (!output) return result;

  LineReader reader(input.get());
  CommentFilter filter;
  std::string line;
  std::string end;
  bool written = true;
  const auto write = [&](std::string_view piece) { written = written && output->Write(piece); };
  while (written && reader.Next(&line, &end)) {
    if (filter.FilterLine(line, write)) write(end);
  }
  if (reader.failed()) {
    result.status = Status::FromErrno("Cannot read", path, EIO);
    return result;
  }
  result.status = output->Commit(status);
  if (!result.status) return result;
  result.comments = filter.comments();
  result.rewritten = true;
  return result;
}

}  // namespace quimbel
