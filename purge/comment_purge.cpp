#include "purge/comment_purge.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <optional>

#include "platform/text_file.h"

namespace quimbel {
namespace {

constexpr std::string_view kOpen = "<!--";
constexpr std::string_view kClose = "-->";

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
  std::string text(line);
  for (;;) {
    if (text.empty()) {
      out->clear();
      return true;  // empty lines always stay, inside a comment too
    }
    if (in_comment_) {
      const std::size_t close = text.find(kClose);
      if (close == std::string::npos) {
        // Every "<!--" inside an open comment counts, and the line goes.
        comments_ += CountOpenings(text);
        return false;
      }
      comments_ += CountOpenings(std::string_view(text).substr(0, close));
      text.erase(0, close + kClose.size());
      in_comment_ = false;
      if (text.empty()) {
        out->clear();
        return true;  // the closing line is written even when nothing is left
      }
      continue;
    }
    const std::size_t open = text.find(kOpen);
    if (open == std::string::npos) {
      *out = std::move(text);
      return true;
    }
    if (text.find("DOCTYPE") != std::string::npos) {
      *out = std::move(text);  // a document type line stays whole, opening nothing
      return true;
    }
    ++comments_;
    // The close is sought from the opening itself, so "<!-->" is whole.
    const std::size_t close = text.find(kClose, open);
    if (close == std::string::npos) {
      in_comment_ = true;
      text.erase(open);
      *out = std::move(text);
      return true;
    }
    text.erase(open, close + kClose.size() - open);
  }
}

PurgeResult PurgeFileComments(const std::string& path) {
  PurgeResult result;
  // Rewrite the file a link points to, not the link.
  char resolved_buffer[PATH_MAX];
  if (path.find('\0') != std::string::npos ||
      ::realpath(path.c_str(), resolved_buffer) == nullptr) {
    return result;
  }
  const std::string resolved = resolved_buffer;
  const FileDescriptor input = OpenForReading(resolved);
  struct stat status {};
  if (!input.valid() || ::fstat(input.get(), &status) != 0) return result;
  // A read-only file is not ours to replace, even though the folder would
  // allow the rename; the write bits decide even for the superuser.
  if ((status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 ||
      ::access(resolved.c_str(), W_OK) != 0) {
    return result;
  }
  std::optional<ReplacementFile> output = ReplacementFile::CreateBeside(resolved);
  if (!output) return result;

  LineReader reader(input.get());
  CommentFilter filter;
  std::string line, end, kept;
  while (reader.Next(&line, &end)) {
    if (filter.FilterLine(line, &kept) && !(output->Write(kept) && output->Write(end))) break;
  }
  if (reader.failed() || !output->Commit(status.st_mode)) return result;
  result.comments = filter.comments();
  result.rewritten = true;
  return result;
}

}  // namespace quimbel
