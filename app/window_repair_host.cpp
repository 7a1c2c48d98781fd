#include "app/window_repair_host.h"

#include <QApplication>

#include "app/window_run_host.h"
#include "dialogs/export_dialog.h"
#include "dialogs/message_boxes.h"
#include "dialogs/repair_dialogs.h"

namespace quimbel {

WindowRepairHost::WindowRepairHost(QWidget* parent) : parent_(parent) {
  ask_options = [this](const RepairOptions& stored) -> std::optional<RepairOptions> {
    RepairOptionsDialog dialog(parent_, stored);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.options();
  };
  show_failure = [this](const RepairFailure& failure) {
    RepairFailureDialog dialog(parent_, failure);
    dialog.exec();
    return dialog.IgnoreRow();
  };
  ask_export = [this](const ExportChoice& stored) -> std::optional<ExportChoice> {
    ExportDialog dialog(parent_, stored);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.choice();
  };
}

void WindowRepairHost::ShowMessage(const std::string& text, MessageIcon icon) {
  MessageBoxes::Show(parent_, text, icon);
}

bool WindowRepairHost::AskYesNo(const std::string& text, MessageIcon icon) {
  return MessageBoxes::Ask(parent_, text, icon);
}

std::string WindowRepairHost::LongDateTime() {
  return LocaleLongDateTime();
}

void WindowRepairHost::SetBusy(bool busy) {
  if (busy) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
  } else {
    QApplication::restoreOverrideCursor();
  }
}

}  // namespace quimbel
