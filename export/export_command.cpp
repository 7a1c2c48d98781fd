#include "export/export_command.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/run_host.h"
#include "export/machine_reports.h"
#include "export/report_writers.h"
#include "platform/text_file.h"

namespace quimbel {
namespace {

// Drops the last `count` UTF-8 characters.
std::string DropLastCharacters(std::string text, std::size_t count) {
  for (; count > 0 && !text.empty(); --count) {
    // Continuation bytes belong to the character they follow.
    while (!text.empty() && (static_cast<unsigned char>(text.back()) & 0xC0) == 0x80) {
      text.pop_back();
    }
    if (!text.empty()) text.pop_back();
  }
  return text;
}

bool FoundAfterFirstCharacter(const std::string& path, const std::string& what) {
  const std::size_t at = path.find(what);
  return at != std::string::npos && at > 0;
}

}  // namespace

std::string ExportHost::UserName() {
  return UserDisplayName();
}

std::string ExportHost::LongDateTime() {
  return FormatLongDateTime(std::chrono::system_clock::now());
}

std::string SwitchExportExtension(const std::string& path, ReportFormat format) {
  std::string result = path;
  const std::string chosen = "." + std::string(ReportFormatOf(format).extension);
  for (const ReportFormat other : ExportFormats()) {
    const std::string extension = "." + std::string(ReportFormatOf(other).extension);
    if (other != format && FoundAfterFirstCharacter(result, extension))
      result = DropLastCharacters(result, extension.size()).append(chosen);
  }
  return result;
}

Status WriteReportFile(const std::string& path, ReportFormat format, const ResultList& rows,
                       const std::string& user, const std::string& date,
                       const std::function<bool()>& cancelled) {
  // The report is built in memory (it is the size of the list) and then
  // written in one go, so a short write is seen and nothing half done
  // ever takes the old report's place.
  static const RunFacts kNoFacts;
  static const FileRecords kNoFiles;
  std::ostringstream text;
  WriteReport(text, format, {kNoFacts, rows, kNoFiles, user, date});
  return WriteReportText(path, text.view(), cancelled);
}

Status WriteReportText(const std::string& path, std::string_view text,
                       const std::function<bool()>& cancelled) {
  struct stat original {};
  const bool exists = path.find('\0') == std::string::npos && ::stat(path.c_str(), &original) == 0;
  if (exists && !S_ISREG(original.st_mode)) {
    // A device or a pipe (/dev/stdout, a fifo) takes the report as a
    // stream: there is no file to replace, and renaming over it would put
    // a file in its place.
    // Without waiting: a fifo nobody reads is an error, not a hang.
    const FileDescriptor out(::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK));
    if (!out.valid() && errno == ENXIO) {
      return Status::Error("Cannot write " + path + ": no program is reading it", EPIPE);
    }
    if (!out.valid()) return Status::FromErrno("Cannot write", path, errno);
    constexpr std::chrono::seconds kLongestStall{30};
    if (const int error = WriteToStream(out.get(), text, cancelled, kLongestStall); error != 0) {
      return Status::FromErrno("Cannot write", path, error);
    }
    return Status::Ok();
  }
  // A link to the report stays a link: the file it names is replaced.
  std::string target = path;
  if (char resolved[PATH_MAX]; exists && ::realpath(path.c_str(), resolved) != nullptr) {
    target = resolved;
  }
  Status status;
  std::optional<ReplacementFile> file = ReplacementFile::CreateBeside(target, &status);
  if (!file) return status;
  if (!exists) {
    // A new report gets the permissions a newly created file would.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    original.st_mode = 0666 & ~mask;
    original.st_uid = ::geteuid();
    original.st_gid = ::getegid();
  }
  file->Write(text);
  return file->Commit(original);
}

ExportResult ExportResults(const ResultList& rows, SettingsStore& settings, ExportHost& host) {
  ExportChoice stored{settings.Get(settings::kExportStarter),
                      ExportFormatAt(settings.Get(settings::kExportText))};
  // A bare name is offered in the folder checked, never silently in the
  // folder the program happened to start in.
  if (const std::string folder = host.ReportFolder();
      !folder.empty() && stored.path.find('/') == std::string::npos) {
    stored.path = (std::filesystem::path(folder) / stored.path).string();
  }
  const std::optional<ExportChoice> choice = host.AskExportChoice(stored);
  if (!choice) return ExportResult::kCancelled;
  if (std::ifstream(choice->path).is_open() &&
      !host.AskYesNo(choice->path + "\nThis file already exists\n\nReplace existing file?")) {
    return ExportResult::kCancelled;
  }
  settings.Set(settings::kExportStarter, choice->path);
  settings.Set(settings::kExportText, ExportFormatPlace(choice->format));

  host.SetBusy(true);
  const std::string user = host.UserName();
  const std::string date = host.LongDateTime();
  const Status status = WriteReportFile(choice->path, choice->format, rows, user, date);
  host.SetBusy(false);
  if (!status) {
    host.ShowMessage("file write error\n\n" + status.message(), MessageIcon::kExclamation);
    return ExportResult::kFailed;
  }
  host.ReportWritten(choice->path);
  return ExportResult::kWritten;
}

}  // namespace quimbel
