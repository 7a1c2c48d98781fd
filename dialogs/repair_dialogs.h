// The repair's two dialogs: RepairOptionsDialog ("URL Link Disable and File
// Repair"), which edits the six RepairOptions, and RepairFailureDialog
// ("Repair Failure"), which names where a repair stopped. User-interface thread only.
#pragma once

#include <QDialog>

#include "repair/repair_engine.h"
#include "repair/repair_options.h"

class QButtonGroup;
class QCheckBox;

namespace quimbel {

class RepairOptionsDialog : public QDialog {
 public:
  RepairOptionsDialog(QWidget* parent, const RepairOptions& options);

  // The values as the controls show them; type -1 when no button is chosen.
  RepairOptions options() const;

  // For tests.
  QButtonGroup* type_group() const { return type_; }
  QCheckBox* save_box() const { return save_; }
  QCheckBox* alternate_box() const { return alternate_; }
  QCheckBox* preserve_box() const { return preserve_; }
  QCheckBox* remove_comments_box() const { return remove_comments_; }
  QCheckBox* skip_box() const { return skip_; }

 private:
  // Which boxes apply to the chosen type; a disabled box keeps its mark.
  void ApplyEnablingRule();

  QButtonGroup* type_;
  QCheckBox* save_;
  QCheckBox* alternate_;
  QCheckBox* preserve_;
  QCheckBox* remove_comments_;
  QCheckBox* skip_;
};

class RepairFailureDialog : public QDialog {
 public:
  RepairFailureDialog(QWidget* parent, const RepairFailure& failure);
  // Left with OK and "ignore this instance" checked.
  bool IgnoreRow() const;
  QCheckBox* ignore_box() const { return ignore_; }

 private:
  QCheckBox* ignore_;
};

}  // namespace quimbel
