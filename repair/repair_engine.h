// The repair engine: rewrites the source files that hold the reported URLs,
// one forward pass per file, after a backup of each file as it was before
// its first repair.
//
// Rows of one file are consecutive and in the order their URLs stand in the
// file (the order a test run adds them); each checked row consumes the
// first line, after the previous row's, that holds its URL. Lines are read
// whole; untouched lines are copied byte for byte and a rewritten line keeps
// its own line end. A file's new text replaces it in one atomic rename, so
// after any failure every file is either unchanged or repaired as far as
// its done rows say. User-interface thread only.
#pragma once

#include <sys/stat.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "core/result_list.h"
#include "core/settings_store.h"
#include "export/export_command.h"
#include "platform/mapped_file.h"
#include "platform/text_file.h"
#include "repair/line_rewrite.h"
#include "repair/repair_options.h"

namespace quimbel {

inline constexpr std::string_view kUnknownErrorRepairQuestion =
    "The testing found at least one URL\nwith an 'Error: UNKNOWN error!'\n(See the window "
    "text.)\n\nAre you sure you want to repair now?";

// What the Repair Failure dialog shows.
struct RepairFailure {
  std::string file;
  std::string url;     // the last URL the repair worked on
  std::string reason;  // the system's reason, when a file could not be written
};

// The dialogs a repair shows; every question goes through here.
class RepairHost : public ExportHost {
 public:
  // The repair options dialog with `stored`; the choice, or nothing on Cancel.
  virtual std::optional<RepairOptions> AskRepairOptions(const RepairOptions& stored) = 0;
  // The Repair Failure dialog; true when it was left with OK and its
  // "ignore this instance" box checked.
  virtual bool ShowRepairFailure(const RepairFailure& failure) = 0;
  // A backup could not be made; the repair goes on without it.
  virtual void BackupFailed(const Status& /*reason*/) {}
  // A file listed by the check that a repair never rewrites (a backup); its
  // rows stay as they are, and the repair goes on.
  virtual void LeftAlone(const std::string& /*text*/) {}
  // Asked between files: true ends the repair before the next file, with
  // every file so far complete.
  virtual bool StopRequested() { return false; }
};

// The backup's name: the path up to its last "." (over the whole path),
// then ".rep".
std::string BackupPath(const std::string& path);

// Whether BeginFileRepair() refused a page that is no longer what was
// checked, that another program kept locked, or whose file leads out of the
// folder it must stay in: a page left alone, not a failed repair.
inline bool IsLeftAlone(const Status& begun) {
  return begun.error() == ESTALE || begun.error() == EBUSY || begun.error() == EXDEV;
}

// What RepairLine did.
enum class LineRepair {
  kDone,       // the line is written, rewritten or as it was
  kNotFound,   // no line left holds the URL
  kFailed,     // the page could not be read or the new text written
  kLeftAlone,  // the line is copied as it was: see RepairSession::left_alone()
};

// One file at a time: Begin, RepairLine for each checked row, Finish. It
// never asks or tells the user anything: its caller does.
class RepairSession {
 public:
  // Opens the source and locks it (flock) until the file is finished or
  // dropped, makes the backup unless one exists, and creates the temporary
  // file. Fails when the source cannot be read or replaced (a read-only
  // file included) or the temporary file cannot be made; nothing has
  // changed then. A failed backup goes to `backup_status`.
  //
  // With `checked`, the page must still be what the check read: a page
  // changed since, or one another program holds locked past the lock wait,
  // is refused with a message that says so (IsLeftAlone() holds for it).
  Status BeginFileRepair(const std::string& path, Status* backup_status = nullptr,
                         const PageIdentity* checked = nullptr);
  void SetLockWait(std::chrono::milliseconds wait) { lock_wait_ = wait; }
  // Files begun from now on, their backups included, are written only
  // inside `root` (none: anywhere); one that leads out is refused (EXDEV).
  void SetRoot(std::string root) { root_ = std::move(root); }
  // Copies lines up to the next one holding the URL and writes that line
  // rewritten.
  LineRepair RepairLine(const RepairRequest& request, const std::string& path,
                        const RepairOptions& options);
  // Why the last RepairLine() left its line as it was.
  const std::string& left_alone() const { return left_alone_; }
  // Copies the rest and puts the new text in the source's place.
  Status FinishFileRepair();
  // Drops an unfinished file: the source stays as it was.
  void Abandon();

 private:
  bool Copy(const std::string& line, const std::string& end);
  // Opens the target and takes its lock, making sure the lock is on the
  // file the path names now (another repair may have replaced it).
  Status OpenLocked(const std::string& path);

  FileDescriptor source_;
  std::optional<LineReader> reader_;
  std::optional<ReplacementFile> output_;
  std::string target_;
  struct stat original_ {};
  std::string last_end_ = "\n";  // given to a rewritten last line that had none
  std::chrono::milliseconds lock_wait_{10000};
  std::string root_;
  std::string left_alone_;
  std::string previous_line_;  // the line before the next one read
  // A Markdown line repaired, not yet written: more of its links may be
  // the next rows'.
  struct HeldLine {
    std::string line;
    std::string end;
    bool changed = false;
  };
  std::optional<HeldLine> held_;
};

// The Repair command: the question when the run saw an unknown error, the
// options dialog, the walk over the rows with their marks, the closing
// message or the failure dialog, and the export after a type 2 repair with
// "Save" on. A row is marked done only once its file was written.
struct RepairOutcome {
  bool completed = false;  // every row was repaired (the caller then sets RepairCompleted)
  bool stopped = false;    // StopRequested() ended it between files
  ExportResult export_result = ExportResult::kNotAsked;
};
RepairOutcome RunRepairCommand(ResultList& rows, bool unknown_error_seen, SettingsStore& settings,
                               RepairHost& host);

}  // namespace quimbel
