#include "repair/repair_engine.h"

#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <thread>

#include "links/markdown_links.h"

namespace quimbel {
namespace {

std::string FileNameOf(const std::string& path) {
  return path.substr(path.rfind('/') + 1);
}

// The file a path names, links followed, so a link is not replaced by a
// copy of its target.
std::string Resolved(const std::string& path) {
  char resolved[PATH_MAX];
  if (path.find('\0') == std::string::npos && ::realpath(path.c_str(), resolved) != nullptr) {
    return resolved;
  }
  return path;
}

// Copies `source` to `backup` unless `backup` exists. The copy is written
// under another name and installed only when complete, so a backup is
// never half a file, and one that exists is never replaced.
Status MakeBackup(const std::string& source, const std::string& backup, const std::string& root) {
  if (::access(backup.c_str(), F_OK) == 0) return Status::Ok();
  const FileDescriptor input = OpenForReading(source);
  struct stat status {};
  if (!input.valid() || ::fstat(input.get(), &status) != 0) {
    return Status::FromErrno("Cannot back up", source, errno != 0 ? errno : EINVAL);
  }
  Status made;
  std::optional<ReplacementFile> copy = ReplacementFile::CreateBeside(backup, &made, root);
  if (!copy) return made;
  char buffer[1 << 16];
  for (;;) {
    const ssize_t got = ::read(input.get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return Status::FromErrno("Cannot back up", source, errno);
    if (got == 0) break;
    if (!copy->Write(std::string_view(buffer, static_cast<std::size_t>(got)))) break;
  }
  Status installed = copy->Commit(status, ReplacementFile::Install::kKeepExisting);
  // Another run that made the backup first is just as good.
  if (!installed && ::access(backup.c_str(), F_OK) == 0) return Status::Ok();
  return installed;
}

}  // namespace

std::string BackupPath(const std::string& path) {
  // The path up to its last ".", which may stand in a folder name.
  return path.substr(0, path.rfind('.')) + ".rep";
}

Status RepairSession::OpenLocked(const std::string& path) {
  const auto deadline = std::chrono::steady_clock::now() + lock_wait_;
  // A few tries: each time the lock was won, another repair may just have
  // renamed a new file into the path.
  for (int attempt = 0; attempt < 8; ++attempt) {
    source_ = OpenForReading(target_);
    if (!source_.valid() || ::fstat(source_.get(), &original_) != 0) {
      source_.Close();
      return Status::Error("Cannot open " + path + ": not a readable regular file", EINVAL);
    }
    while (::flock(source_.get(), LOCK_EX | LOCK_NB) != 0) {
      if (errno != EWOULDBLOCK && errno != EINTR) {
        const int error = errno;
        source_.Close();
        return Status::FromErrno("Cannot lock", path, error);
      }
      if (std::chrono::steady_clock::now() >= deadline) {
        source_.Close();
        return Status::Error(path + " is locked by another program; repair it again later", EBUSY);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    struct stat now {};
    if (::stat(target_.c_str(), &now) == 0 && now.st_dev == original_.st_dev &&
        now.st_ino == original_.st_ino) {
      return Status::Ok();
    }
    source_.Close();
  }
  return Status::Error(path + " changed since it was checked; check it again", ESTALE);
}

Status RepairSession::BeginFileRepair(const std::string& path, Status* backup_status,
                                      const PageIdentity* checked) {
  Abandon();
  target_ = Resolved(path);
  if (Status opened = OpenLocked(path); !opened) return opened;
  if (checked != nullptr) {
    // Under the lock: what is read now is what the rename will replace.
    const auto now = MappedFile::Read(source_.get());
    if (!now || !(now->identity() == *checked)) {
      source_.Close();
      return Status::Error(path + " changed since it was checked; check it again", ESTALE);
    }
  }
  // A file without write permission is the author's to keep as it is.
  if (Status writable = CheckWritable(target_); !writable) {
    source_.Close();
    return writable;
  }
  // The new text's place first: a file that leads out of the root is
  // refused before anything, its backup included, is written.
  Status created;
  output_ = ReplacementFile::CreateBeside(target_, &created, root_);
  if (!output_) {
    source_.Close();
    if (created.error() == EXDEV) {
      return Status::Error(path + " leads out of " + root_ + "; it is left as it is", EXDEV);
    }
    return created;
  }
  const Status backup = MakeBackup(target_, BackupPath(path), root_);
  if (backup_status) *backup_status = backup;
  reader_.emplace(source_.get());
  previous_line_.clear();
  held_.reset();
  last_end_ = "\n";
  return Status::Ok();
}

bool RepairSession::Copy(const std::string& line, const std::string& end) {
  if (!end.empty()) last_end_ = end;
  return output_->Write(line) && output_->Write(end);
}

LineRepair RepairSession::RepairLine(const RepairRequest& request, const std::string& path,
                                     const RepairOptions& options) {
  if (!reader_ || !output_) return LineRepair::kFailed;
  const auto copied = [](bool written) {
    return written ? LineRepair::kDone : LineRepair::kFailed;
  };
  std::string line;
  std::string end;
  const bool markdown = IsMarkdownPath(path);
  bool was_held = false;
  const auto next = [&] {
    was_held = held_.has_value();
    if (!was_held) return reader_->Next(&line, &end);
    line = std::move(held_->line);
    end = std::move(held_->end);
    if (held_->changed && end.empty()) end = last_end_;
    held_.reset();
    return true;
  };
  while (next()) {
    if (!LineMayHoldLink(line, request.url, markdown) ||
        (was_held && !MarkdownLineHoldsLink(line, request.url))) {
      if (!Copy(line, end)) return LineRepair::kFailed;
      previous_line_.swap(line);  // the next line is read over it
      continue;
    }
    if (markdown) {
      // The line is held, not written: its next link may be the next row's.
      MarkdownLineRepair repaired =
          RewriteMarkdownLine(line, request, options, FileNameOf(path), previous_line_);
      if (!repaired.left_alone.empty()) {
        left_alone_ = std::move(repaired.left_alone);
        held_.emplace(HeldLine{std::move(line), std::move(end), false});
        return LineRepair::kLeftAlone;
      }
      if (!repaired.text) return LineRepair::kDone;
      const bool changed = *repaired.text != line;
      held_.emplace(HeldLine{std::move(*repaired.text), std::move(end), changed});
      return LineRepair::kDone;
    }
    const std::optional<std::string> rewritten =
        RewriteLine(line, request, options, FileNameOf(path));
    if (!rewritten) return LineRepair::kDone;
    // A line left as it was stays byte for byte, its missing line end too.
    if (*rewritten == line) return copied(Copy(line, end));
    // A rewritten last line gains the line end the file uses.
    return copied(Copy(*rewritten, end.empty() ? last_end_ : end));
  }
  return reader_->failed() ? LineRepair::kFailed : LineRepair::kNotFound;
}

Status RepairSession::FinishFileRepair() {
  if (!reader_ || !output_) return Status::Error("Cannot replace " + target_ + ": not begun");
  bool ok = true;
  if (held_) {
    ok = Copy(held_->line, held_->changed && held_->end.empty() ? last_end_ : held_->end);
    held_.reset();
  }
  std::string line;
  std::string end;
  while (ok && reader_->Next(&line, &end))
    ok = Copy(line, end);
  Status status;
  if (reader_->failed()) {
    status = Status::FromErrno("Cannot read", target_, EIO);
  } else {
    // A failed write is reported by the commit, with its reason.
    status = output_->Commit(original_);
  }
  Abandon();
  return status;
}

void RepairSession::Abandon() {
  held_.reset();
  output_.reset();  // an uncommitted temporary file is removed
  reader_.reset();
  source_.Close();
}

}  // namespace quimbel
