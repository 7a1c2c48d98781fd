// ExportDialog: "Export Bad URLs". The path (at most 200 characters), the
// format, and Browse with the save picker; the format buttons switch the
// path between ".txt" and ".html". User-interface thread only.
#pragma once

#include <QDialog>
#include <functional>

#include "export/export_command.h"

class QButtonGroup;
class QLineEdit;

namespace quimbel {

class ExportDialog : public QDialog {
 public:
  ExportDialog(QWidget* parent, const ExportChoice& stored);

  ExportChoice choice() const;

  // The save picker: (owner, filters, default suffix, proposed name).
  std::function<QString(QWidget*, const QString&, const QString&, const QString&)> pick_file;

  QLineEdit* path_field() const { return path_; }
  QButtonGroup* format_group() const { return format_; }
  void Browse();

 private:
  QLineEdit* path_;
  QButtonGroup* format_;
  QPushButton* ok_;
};

}  // namespace quimbel
