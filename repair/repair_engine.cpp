#include "repair/repair_engine.h"

#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <thread>
#include <vector>

namespace quimbel {
namespace {

// The path up to its last ".", which may stand in a folder name.
std::string BasePath(const std::string& path) {
  return path.substr(0, path.rfind('.'));
}

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
Status MakeBackup(const std::string& source, const std::string& backup) {
  if (::access(backup.c_str(), F_OK) == 0) return Status::Ok();
  const FileDescriptor input = OpenForReading(source);
  struct stat status {};
  if (!input.valid() || ::fstat(input.get(), &status) != 0) {
    return Status::FromErrno("Cannot back up", source, errno != 0 ? errno : EINVAL);
  }
  Status made;
  std::optional<ReplacementFile> copy = ReplacementFile::CreateBeside(backup, &made);
  if (!copy) return made;
  char buffer[1 << 16];
  for (;;) {
    const ssize_t got = ::read(input.get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return Status::FromErrno("Cannot back up", source, errno);
    if (got == 0) break;
    if (!copy->Write(std::string_view(buffer, static_cast<std::size_t>(got)))) break;
  }
  const Status installed = copy->Commit(status, ReplacementFile::Install::kKeepExisting);
  // Another run that made the backup first is just as good.
  if (!installed && ::access(backup.c_str(), F_OK) == 0) return Status::Ok();
  return installed;
}

}  // namespace

std::string BackupPath(const std::string& path) {
  return BasePath(path) + ".rep";
}

Status RepairSession::OpenLocked(const std::string& path) {
  const auto deadline = std::chrono::steady_clock::now() + lock_wait_;
  // A few tries: each time the lock was won, another repair may just have
  // renamed a new file into the path.
  for (int attempt = 0; attempt < 8; ++attempt) {
    source_ = OpenForReading(target_);
    if (!source_.valid() || ::fstat(source_.get(), &original_) != 0) {
      source_.Close();
      return Status::Error("Cannot open " + path + ": not a readable regular file");
    }
    while (::flock(source_.get(), LOCK_EX | LOCK_NB) != 0) {
      if (errno != EWOULDBLOCK && errno != EINTR) {
        const int error = errno;
        source_.Close();
        return Status::FromErrno("Cannot lock", path, error);
      }
      if (std::chrono::steady_clock::now() >= deadline) {
        source_.Close();
        stale_ = true;
        return Status::Error(path + " is locked by another program; repair it again later");
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
  stale_ = true;
  return Status::Error(path + " changed since it was checked; check it again");
}

Status RepairSession::BeginFileRepair(const std::string& path, Status* backup_status,
                                      const PageIdentity* checked) {
  Abandon();
  stale_ = false;
  target_ = Resolved(path);
  if (Status opened = OpenLocked(path); !opened) return opened;
  if (checked != nullptr) {
    // Under the lock: what is read now is what the rename will replace.
    const auto now = MappedFile::Read(source_.get());
    if (!now || !(now->identity() == *checked)) {
      source_.Close();
      stale_ = true;
      return Status::Error(path + " changed since it was checked; check it again");
    }
  }
  // A file without write permission is the author's to keep as it is.
  if (Status writable = CheckWritable(target_); !writable) {
    source_.Close();
    return writable;
  }
  const Status backup = MakeBackup(target_, BackupPath(path));
  if (backup_status) *backup_status = backup;
  Status created;
  output_ = ReplacementFile::CreateBeside(target_, &created);
  if (!output_) {
    source_.Close();
    return created;
  }
  reader_.emplace(source_.get());
  last_end_ = "\n";
  return Status::Ok();
}

bool RepairSession::Copy(const std::string& line, const std::string& end) {
  if (!end.empty()) last_end_ = end;
  return output_->Write(line) && output_->Write(end);
}

bool RepairSession::RepairLine(const RepairRequest& request, const std::string& path,
                               const RepairOptions& options) {
  if (!reader_ || !output_) return false;
  std::string line, end;
  while (reader_->Next(&line, &end)) {
    if (line.find(request.url) == std::string::npos) {
      if (!Copy(line, end)) return false;
      continue;
    }
    const std::optional<std::string> rewritten =
        RewriteLine(line, request, options, FileNameOf(path));
    if (!rewritten) return true;
    // A line left as it was stays byte for byte, its missing line end too.
    if (*rewritten == line) return Copy(line, end);
    // A rewritten last line gains the line end the file uses.
    return Copy(*rewritten, end.empty() ? last_end_ : end);
  }
  if (reader_->failed()) return false;
  prompter_.ShowMessage("We looked in file\n" + path + "\nbut could not file the URL\n" +
                        request.url);
  return false;
}

Status RepairSession::FinishFileRepair() {
  if (!reader_ || !output_) return Status::Error("Cannot replace " + target_ + ": not begun");
  std::string line, end;
  bool ok = true;
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
  output_.reset();  // an uncommitted temporary file is removed
  reader_.reset();
  source_.Close();
}

namespace {

// Rows [first, end) belong to one file; their marks say "not done".
void UnmarkRows(ResultList& rows, std::size_t first, std::size_t end) {
  for (std::size_t i = first; i < end && i < rows.size(); ++i) {
    ResultRow marked = rows.row(i);
    marked.SetRowDone(0);
    marked.SetFileDone(0);
    rows.SetData(i, marked.data);
  }
}

}  // namespace

RepairOutcome RunRepairCommand(ResultList& rows, bool unknown_error_seen, SettingsStore& settings,
                               RepairHost& host) {
  RepairOutcome outcome;
  if (unknown_error_seen &&
      !host.AskYesNo(std::string(kUnknownErrorRepairQuestion), MessageIcon::kQuestion)) {
    return outcome;
  }
  const std::optional<RepairOptions> chosen = host.AskRepairOptions(LoadRepairOptions(settings));
  if (!chosen) return outcome;
  RepairOptions options = *chosen;
  StoreRepairOptions(settings, options);
  if (static_cast<int>(options.type) < 0 || static_cast<int>(options.type) > 2) {
    options.type = RepairType::kDisableLine;
  }

  RepairSession session(host);
  std::string current_file;
  std::size_t first_row = 0;
  std::string last_url;
  bool success = true;
  std::string failure_reason;
  std::optional<std::size_t> stopped_at;  // the row to drop if the user says so
  // Pages left alone because they are no longer what was checked; their
  // rows stay unhandled.
  std::vector<std::string> stale;
  bool skipping = false;  // the current file is one of them

  // What a page is after our own repair: a later repair in this session
  // acts on it, where anyone else's change stops it.
  const auto note_repaired = [&rows, &current_file] {
    if (rows.PageIdentityOf(current_file) == nullptr) return;
    if (const auto now = MappedFile::Open(current_file)) {
      rows.SetPageIdentity(current_file, now->identity());
    }
  };

  // Puts the current file's new text in place; its rows count as done only
  // once it is there.
  const auto finish_current = [&](std::size_t end) {
    if (rows.row(first_row).FileDone() != 0) return true;
    const Status finished = session.FinishFileRepair();
    if (!finished) {
      UnmarkRows(rows, first_row, end);
      failure_reason = finished.message();
      return false;
    }
    note_repaired();
    ResultRow marked = rows.row(first_row);
    marked.SetFileDone(1);
    rows.SetData(first_row, marked.data);
    return true;
  };

  for (std::size_t i = 0; i < rows.size(); ++i) {
    const ResultRow& row = rows.row(i);
    if (i == 0 || row.text(ResultColumn::kFileName) != current_file) {
      if (i != 0 && !skipping && !finish_current(i)) {
        success = false;
        stopped_at = i;
        break;
      }
      if (i != 0 && host.StopRequested()) {
        outcome.stopped = true;
        success = false;
        break;
      }
      current_file = row.text(ResultColumn::kFileName);
      first_row = i;
      skipping = false;
      // A backup found among the files checked is the author's only copy
      // of a page as it was: rewriting it would lose that page for good.
      if (BackupPath(current_file) == current_file) {
        host.LeftAlone(current_file + " is a backup of a page; it is left as it is");
        skipping = true;
        continue;
      }
      if (row.FileDone() == 0) {
        Status backup;
        const Status begun =
            session.BeginFileRepair(current_file, &backup, rows.PageIdentityOf(current_file));
        if (!backup) host.BackupFailed(backup);
        if (!begun && session.stale()) {
          stale.push_back(begun.message());
          skipping = true;
          continue;
        }
        if (!begun) {
          failure_reason = begun.message();
          success = false;
          stopped_at = i;
          break;
        }
      }
    }
    if (skipping || row.RowDone() != 0) continue;
    last_url = row.text(ResultColumn::kUrl);
    if (row.checked) {
      const RepairRequest request{row.text(ResultColumn::kUrl), row.text(ResultColumn::kReason),
                                  row.text(ResultColumn::kAlternateUrl), row.resource};
      if (!session.RepairLine(request, current_file, options)) {
        // What was repaired in this file so far takes effect.
        if (const Status partial = session.FinishFileRepair(); !partial) {
          UnmarkRows(rows, first_row, i);
          failure_reason = partial.message();
        } else {
          note_repaired();
        }
        success = false;
        stopped_at = i;
        break;
      }
    }
    ResultRow marked = rows.row(i);
    marked.SetRowDone(1);
    rows.SetData(i, marked.data);
  }
  if (success && !rows.empty() && !skipping && !finish_current(rows.size())) success = false;

  if (!stale.empty()) {
    std::string message;
    for (const std::string& line : stale)
      message += (message.empty() ? "" : "\n") + line;
    host.ShowMessage(message, MessageIcon::kExclamation);
  }
  if (success && stale.empty()) {
    host.ShowMessage("All URL repairs completed", MessageIcon::kInformation);
  } else if (!success && !outcome.stopped &&
             host.ShowRepairFailure({current_file, last_url, failure_reason}) && stopped_at) {
    rows.RemoveRow(*stopped_at);
  }
  session.Abandon();
  if (options.type == RepairType::kRemoveLine && options.saveBadUrls && !outcome.stopped) {
    outcome.export_result = ExportResults(rows, settings, host);
  }
  // A repair that left pages alone did not complete; the other pages'
  // repairs stand.
  outcome.completed = success && stale.empty();
  return outcome;
}

}  // namespace quimbel
