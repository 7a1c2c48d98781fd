// The Export command without its window: the stored choice, the overwrite
// question, the write, and the rule the dialog's format buttons follow.
// User-interface thread only.
#pragma once

#include <optional>
#include <string>

#include "core/result_list.h"
#include "core/settings_store.h"
#include "platform/prompter.h"

namespace quimbel {

enum class ExportFormat { kText = 0, kHtml = 1 };

struct ExportChoice {
  std::string path;
  int format = 0;  // 0 text, any other value HTML
  bool operator==(const ExportChoice&) const = default;
};

// What the export needs from its host: the export dialog, and a busy
// cursor while the file is written.
class ExportHost : public Prompter {
 public:
  // Shows the export dialog with `stored`; the choice, or nothing on Cancel.
  virtual std::optional<ExportChoice> AskExportChoice(const ExportChoice& stored) = 0;
  virtual void SetBusy(bool /*busy*/) {}
  // The texts of the HTML report's heading.
  virtual std::string UserName();
  virtual std::string LongDateTime();
};

// The whole Export command. Stores the choice only once the overwrite
// question (if any) was answered Yes; reports "file write error" when the
// file cannot be written (also part-way, a full disk for example).
void ExportResults(const ResultList& rows, SettingsStore& settings, ExportHost& host);

// The path after a click on a format button: with HTML chosen, a path
// holding ".txt" after its first character loses its last 4 characters
// and gains ".html"; then, with text chosen, a path holding ".html" after
// its first character loses its last 5 and gains ".txt". Characters, not
// bytes, are counted.
std::string SwitchExportExtension(const std::string& path, int format);

}  // namespace quimbel
