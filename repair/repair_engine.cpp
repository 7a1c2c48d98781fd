#include "repair/repair_engine.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

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
void MakeBackup(const std::string& source, const std::string& backup) {
  if (::access(backup.c_str(), F_OK) == 0) return;
  const FileDescriptor input = OpenForReading(source);
  struct stat status {};
  if (!input.valid() || ::fstat(input.get(), &status) != 0) return;
  std::optional<ReplacementFile> copy = ReplacementFile::CreateBeside(backup);
  if (!copy) return;
  char buffer[1 << 16];
  for (;;) {
    const ssize_t got = ::read(input.get(), buffer, sizeof buffer);
    if (got < 0) return;  // the unfinished copy goes with `copy`
    if (got == 0) break;
    if (!copy->Write(std::string_view(buffer, static_cast<std::size_t>(got)))) return;
  }
  copy->Commit(status.st_mode, ReplacementFile::Install::kKeepExisting);
}

}  // namespace

std::string BackupPath(const std::string& path) {
  return BasePath(path) + ".rep";
}
std::string TemporaryPath(const std::string& path) {
  return BasePath(path) + ".t~p";
}

bool RepairSession::BeginFileRepair(const std::string& path) {
  Abandon();
  const std::string target = Resolved(path);
  MakeBackup(target, BackupPath(path));
  source_ = OpenForReading(target);
  struct stat status {};
  if (!source_.valid() || ::fstat(source_.get(), &status) != 0) {
    source_.Close();
    return false;
  }
  mode_ = status.st_mode;
  output_ = ReplacementFile::Create(target, TemporaryPath(target));
  if (!output_) {
    source_.Close();
    return false;
  }
  reader_.emplace(source_.get());
  last_end_ = "\n";
  return true;
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
    // A rewritten last line gains the line end the file uses.
    return Copy(*rewritten, end.empty() ? last_end_ : end);
  }
  if (reader_->failed()) return false;
  prompter_.ShowMessage("We looked in file\n" + path + "\nbut could not file the URL\n" +
                        request.url);
  return false;
}

bool RepairSession::FinishFileRepair(const std::string& /*path*/) {
  if (!reader_ || !output_) return false;
  std::string line, end;
  bool ok = true;
  while (ok && reader_->Next(&line, &end))
    ok = Copy(line, end);
  ok = ok && !reader_->failed() && output_->Commit(mode_);
  Abandon();
  return ok;
}

void RepairSession::Abandon() {
  output_.reset();  // an uncommitted temporary file is removed
  reader_.reset();
  source_.Close();
}

bool RunRepairCommand(ResultList& rows, bool unknown_error_seen, SettingsStore& settings,
                      RepairHost& host) {
  if (unknown_error_seen &&
      !host.AskYesNo(std::string(kUnknownErrorRepairQuestion), MessageIcon::kQuestion)) {
    return false;
  }
  const std::optional<RepairOptions> chosen = host.AskRepairOptions(LoadRepairOptions(settings));
  if (!chosen) return false;
  RepairOptions options = *chosen;
  StoreRepairOptions(settings, options);
  if (options.type < 0 || options.type > 2) options.type = 0;

  RepairSession session(host);
  std::string current_file;
  std::size_t first_row = 0;
  std::string last_url;
  bool success = true;
  std::optional<std::size_t> stopped_at;  // the row to drop if the user says so

  const auto finish_current = [&] {
    if (rows.row(first_row).FileDone() != 0) return true;
    if (!session.FinishFileRepair(current_file)) return false;
    ResultRow marked = rows.row(first_row);
    marked.SetFileDone(1);
    rows.SetData(first_row, marked.data);
    return true;
  };

  for (std::size_t i = 0; i < rows.size(); ++i) {
    const ResultRow& row = rows.row(i);
    if (i == 0 || row.text(ResultColumn::kFileName) != current_file) {
      if (i != 0 && !finish_current()) {
        success = false;
        stopped_at = i;
        break;
      }
      current_file = row.text(ResultColumn::kFileName);
      first_row = i;
      if (row.FileDone() == 0 && !session.BeginFileRepair(current_file)) {
        success = false;
        stopped_at = i;
        break;
      }
    }
    if (row.RowDone() != 0) continue;
    last_url = row.text(ResultColumn::kUrl);
    if (row.checked) {
      const RepairRequest request{row.text(ResultColumn::kUrl), row.text(ResultColumn::kReason),
                                  row.text(ResultColumn::kAlternateUrl)};
      if (!session.RepairLine(request, current_file, options)) {
        // What was repaired in this file so far takes effect.
        session.FinishFileRepair(current_file);
        success = false;
        stopped_at = i;
        break;
      }
    }
    ResultRow marked = rows.row(i);
    marked.SetRowDone(1);
    rows.SetData(i, marked.data);
  }
  if (success && !rows.empty() && !finish_current()) success = false;

  if (success) {
    host.ShowMessage("All URL repairs completed", MessageIcon::kInformation);
  } else if (host.ShowRepairFailure(current_file, last_url) && stopped_at) {
    rows.RemoveRow(*stopped_at);
  }
  session.Abandon();
  if (options.type == static_cast<int>(RepairType::kRemoveLine) && options.saveBadUrls) {
    ExportResults(rows, settings, host);
  }
  return success;
}

}  // namespace quimbel
