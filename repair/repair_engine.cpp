#include "repair/repair_engine.h"

#include <map>
#include <vector>

namespace quimbel {

namespace {

// The rows marked while their file's new text was being made say "not done"
// again. Rows an earlier repair marked keep their marks: that repair's text
// is in place.
void UnmarkRows(ResultList& rows, const std::vector<std::size_t>& marked_now) {
  for (const std::size_t i : marked_now) {
    if (i >= rows.size()) continue;
    ResultRow marked = rows.row(i);
    marked.SetRowDone(0);
    marked.SetFileDone(0);
    rows.SetData(i, marked.data);
  }
}

// One Repair command over the list: file by file, each file's new text put
// in place before its rows count as done.
class RepairRun {
 public:
  RepairRun(ResultList& rows, RepairHost& host, const RepairOptions& options)
      : rows_(rows), host_(host), options_(options) {}
  ~RepairRun() { session_.Abandon(); }
  RepairRun(const RepairRun&) = delete;
  RepairRun& operator=(const RepairRun&) = delete;

  // Repairs every row; false when it stopped at a failure or at the
  // user's word.
  bool RepairAll(RepairOutcome& outcome) {
    for (std::size_t i = 0; i < rows_.size(); ++i) {
      const ResultRow& row = rows_.row(i);
      if (i == 0 || row.text(ResultColumn::kFileName) != current_group_) {
        if (i != 0 && !skipping_ && !FinishCurrent()) return Stop(i);
        if (i != 0 && host_.StopRequested()) {
          outcome.stopped = true;
          return false;
        }
        if (!BeginFile(i)) return Stop(i);
      }
      // A crawled page's row is repaired only where its line is known to
      // stand in the source file.
      if (skipping_ || row.RowDone() != 0 || !Repairable(row)) continue;
      if (!RepairRow(i)) return Stop(i);
    }
    return rows_.empty() || skipping_ || FinishCurrent();
  }

  // Tells the user how it went; the row it stopped at goes if they say so.
  void Report(bool success, bool stopped) {
    if (!stale_.empty()) {
      std::string message;
      for (const std::string& line : stale_)
        message += (message.empty() ? "" : "\n") + line;
      host_.ShowMessage(message, MessageIcon::kExclamation);
    }
    if (success) {
      // What was done, counted: a row passed over is no repaired row.
      const bool all = stale_.empty() && left_alone_.empty();
      std::string summary = all ? "All URL repairs completed" : "URL repairs completed, not all";
      summary += "\n\nRows repaired: " + std::to_string(repaired_rows_) + " in " +
                 std::to_string(repaired_files_) + (repaired_files_ == 1 ? " page" : " pages");
      for (const auto& [why, count] : left_alone_)
        summary += "\nRows left as they are: " + std::to_string(count) + " (" + why + ")";
      if (!stale_.empty()) summary += "\nPages left alone: " + std::to_string(stale_.size());
      host_.ShowMessage(summary, all ? MessageIcon::kInformation : MessageIcon::kExclamation);
    } else if (!success && !stopped &&
               host_.ShowRepairFailure({current_file_, last_url_, failure_reason_}) &&
               stopped_at_) {
      rows_.RemoveRow(*stopped_at_);
    }
  }

  // Pages left alone because they are no longer what was checked.
  bool left_pages_alone() const { return !stale_.empty(); }

 private:
  bool Stop(std::size_t row) {
    stopped_at_ = row;
    return false;
  }

  // Starts the file of row `i`; false when it cannot be repaired at all.
  bool BeginFile(std::size_t i) {
    const ResultRow& row = rows_.row(i);
    current_group_ = row.text(ResultColumn::kFileName);
    current_file_ = current_group_;
    first_row_ = i;
    marked_now_.clear();
    skipping_ = false;
    file_rows_ = 0;
    if (!row.target().empty()) {
      // A page fetched from the web: its rows are repaired in the file it
      // was made from, when there is one.
      const std::string* source = SourceOfPage(i);
      if (source == nullptr) {
        host_.LeftAlone(current_group_ + " is not repaired: " + row.source_note());
        skipping_ = true;
        return true;
      }
      current_file_ = *source;
    }
    // A crawled page's file was named by a server: it may be written only
    // inside the site's folder, however links there are laid.
    session_.SetRoot(row.target().empty() ? std::string() : rows_.source_root());
    // A backup found among the files checked is the author's only copy
    // of a page as it was: rewriting it would lose that page for good.
    if (BackupPath(current_file_) == current_file_) {
      host_.LeftAlone(current_file_ + " is a backup of a page; it is left as it is");
      skipping_ = true;
      return true;
    }
    if (row.FileDone() != 0) return true;
    Status backup;
    const Status begun =
        session_.BeginFileRepair(current_file_, &backup, rows_.PageIdentityOf(current_file_));
    if (!backup) host_.BackupFailed(backup);
    if (!begun && IsLeftAlone(begun)) {
      // Its rows stay unhandled.
      stale_.push_back(begun.message());
      skipping_ = true;
      return true;
    }
    if (!begun) failure_reason_ = begun.message();
    return begun.ok();
  }

  static bool Repairable(const ResultRow& row) {
    return row.target().empty() || !row.source().empty();
  }

  // The source file of the crawled page whose rows start at `first`.
  const std::string* SourceOfPage(std::size_t first) const {
    for (std::size_t i = first;
         i < rows_.size() && rows_.row(i).text(ResultColumn::kFileName) == current_group_; ++i) {
      if (!rows_.row(i).source().empty()) return &rows_.row(i).source();
    }
    return nullptr;
  }

  bool RepairRow(std::size_t i) {
    const ResultRow& row = rows_.row(i);
    last_url_ = row.text(ResultColumn::kUrl);
    std::optional<std::string> passed;
    if (row.checked) {
      const RepairRequest request{std::string(row.url()),
                                  std::string(row.text(ResultColumn::kReason)),
                                  std::string(row.text(ResultColumn::kAlternateUrl)), row.resource,
                                  row.kind == LinkKind::kCss};
      if (const auto unsafe = UnsafeAlternateReason(request, options_)) {
        // The row stays unhandled; the rest of the page is repaired.
        host_.LeftAlone(current_file_ + ": " + request.url + " is not replaced: " + *unsafe);
        ++left_alone_[*unsafe];
        return true;
      }
      passed = LeftAloneReason(request, options_);
      // Style text is never looked through: its URL may stand there
      // escaped, and nothing of it is rewritten.
      if (!request.style) {
        const LineRepair repaired = session_.RepairLine(request, current_file_, options_);
        if (repaired == LineRepair::kLeftAlone) {
          passed = session_.left_alone();
          host_.LeftAlone(current_file_ + ": " + request.url + " is not repaired: " + *passed);
        }
        if (repaired == LineRepair::kNotFound) {
          host_.ShowMessage("We looked in file\n" + current_file_ +
                            "\nbut could not file the URL\n" + request.url);
        }
        if (repaired != LineRepair::kDone && repaired != LineRepair::kLeftAlone) {
          // What was repaired in this file so far takes effect.
          if (const Status partial = session_.FinishFileRepair(); !partial) {
            UnmarkRows(rows_, marked_now_);
            failure_reason_ = partial.message();
          } else {
            NoteRepaired();
          }
          return false;
        }
      }
    }
    // A row passed over keeps no tick: it is marked as looked at, with why.
    if (passed) ++left_alone_[*passed];
    if (row.checked && !passed) ++file_rows_;
    ResultRow marked = rows_.row(i);
    marked.SetRowDone(passed ? kRowLeftAlone : kRowRepaired);
    rows_.SetData(i, marked.data);
    marked_now_.push_back(i);
    return true;
  }

  // Puts the current file's new text in place; its rows count as done only
  // once it is there.
  bool FinishCurrent() {
    if (rows_.row(first_row_).FileDone() != 0) return true;
    const Status finished = session_.FinishFileRepair();
    if (!finished) {
      UnmarkRows(rows_, marked_now_);
      failure_reason_ = finished.message();
      return false;
    }
    NoteRepaired();
    if (file_rows_ > 0) ++repaired_files_;
    repaired_rows_ += file_rows_;
    file_rows_ = 0;
    ResultRow marked = rows_.row(first_row_);
    marked.SetFileDone(1);
    rows_.SetData(first_row_, marked.data);
    return true;
  }

  // What a page is after our own repair: a later repair in this session
  // acts on it, where anyone else's change stops it.
  void NoteRepaired() {
    if (rows_.PageIdentityOf(current_file_) == nullptr) return;
    if (const auto now = MappedFile::Open(current_file_)) {
      rows_.SetPageIdentity(current_file_, now->identity());
    }
  }

  ResultList& rows_;
  RepairHost& host_;
  const RepairOptions& options_;
  RepairSession session_;
  std::string current_file_;   // the file being repaired
  std::string current_group_;  // the File Name of its rows: a crawled page's is its address
  std::size_t first_row_ = 0;
  std::vector<std::size_t> marked_now_;  // rows of the current file marked by this repair
  std::string last_url_;
  std::string failure_reason_;
  std::optional<std::size_t> stopped_at_;  // the row to drop if the user says so
  std::vector<std::string> stale_;
  bool skipping_ = false;  // the current file is left alone
  // Counts for the closing message: rows of the current file rewritten so
  // far, and rows and pages whose new text is in place.
  std::size_t file_rows_ = 0;
  std::size_t repaired_rows_ = 0;
  std::size_t repaired_files_ = 0;
  std::map<std::string, std::size_t> left_alone_;  // rows passed over, by why
};

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
  bool success = false;
  bool left_alone = false;
  {
    RepairRun run(rows, host, options);
    success = run.RepairAll(outcome);
    run.Report(success, outcome.stopped);
    left_alone = run.left_pages_alone();
  }
  if (options.type == RepairType::kRemoveLine && options.saveBadUrls && !outcome.stopped) {
    outcome.export_result = ExportResults(rows, settings, host);
  }
  // A repair that left pages alone did not complete; the other pages'
  // repairs stand.
  outcome.completed = success && !left_alone;
  return outcome;
}

}  // namespace quimbel
