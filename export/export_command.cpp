#include "export/export_command.h"

#include <fstream>

#include "core/run_host.h"
#include "export/report_writers.h"

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

std::string SwitchExportExtension(const std::string& path, int format) {
  std::string result = path;
  if (format == 1 && FoundAfterFirstCharacter(result, ".txt")) {
    result = DropLastCharacters(result, 4) + ".html";
  }
  if (format == 0 && FoundAfterFirstCharacter(result, ".html")) {
    result = DropLastCharacters(result, 5) + ".txt";
  }
  return result;
}

void ExportResults(const ResultList& rows, SettingsStore& settings, ExportHost& host) {
  const ExportChoice stored{settings.Get(settings::kExportStarter),
                            settings.Get(settings::kExportText)};
  const std::optional<ExportChoice> choice = host.AskExportChoice(stored);
  if (!choice) return;
  if (std::ifstream(choice->path).is_open() &&
      !host.AskYesNo(choice->path + "\nThis file already exists\n\nReplace existing file?")) {
    return;
  }
  settings.Set(settings::kExportStarter, choice->path);
  settings.Set(settings::kExportText, choice->format);

  std::ofstream out(choice->path, std::ios::trunc);
  if (!out) {
    host.ShowMessage("file write error", MessageIcon::kExclamation);
    return;
  }
  host.SetBusy(true);
  if (choice->format == 0) {
    WriteTextReport(out, rows);
  } else {
    WriteHtmlReport(out, rows, host.UserName(), host.LongDateTime());
  }
  out.close();
  host.SetBusy(false);
  // A report that did not reach the disk whole must not pass for written.
  if (!out) host.ShowMessage("file write error", MessageIcon::kExclamation);
}

}  // namespace quimbel
