#include "dialogs/export_dialog.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace quimbel {

ExportDialog::ExportDialog(QWidget* parent, const ExportChoice& stored) : QDialog(parent) {
  setWindowTitle("Export Bad URLs");
  auto* layout = new QVBoxLayout(this);
  auto* row = new QHBoxLayout;
  path_ = new QLineEdit(QString::fromStdString(stored.path), this);
  path_->setMaxLength(200);
  path_->setMinimumWidth(380);
  auto* browse = new QPushButton("Browse...", this);
  row->addWidget(path_, 1);
  row->addWidget(browse);
  layout->addLayout(row);
  format_ = new QButtonGroup(this);
  auto* text = new QRadioButton("Export as Text file", this);
  auto* html = new QRadioButton("Export as HTML file", this);
  format_->addButton(text, 0);
  format_->addButton(html, 1);
  layout->addWidget(text);
  layout->addWidget(html);
  if (QAbstractButton* chosen = format_->button(static_cast<int>(stored.format)))
    chosen->setChecked(true);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  ok_ = buttons->button(QDialogButtonBox::Ok);
  layout->addWidget(buttons);

  pick_file = [](QWidget* owner, const QString& filters, const QString& suffix,
                 const QString& name) {
    QFileDialog picker(owner, QString(), name, filters);
    picker.setAcceptMode(QFileDialog::AcceptSave);
    picker.setDefaultSuffix(suffix);
    // The export asks about replacing a file itself.
    picker.setOption(QFileDialog::DontConfirmOverwrite);
    return picker.exec() == QDialog::Accepted ? picker.selectedFiles().value(0) : QString();
  };
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(browse, &QPushButton::clicked, this, &ExportDialog::Browse);
  connect(format_, &QButtonGroup::idClicked, this, [this](int format) {
    path_->setText(QString::fromStdString(
        SwitchExportExtension(path_->text().toStdString(), static_cast<ExportFormat>(format))));
  });
}

ExportChoice ExportDialog::choice() const {
  return {path_->text().toStdString(), static_cast<ExportFormat>(format_->checkedId())};
}

void ExportDialog::Browse() {
  const bool html = format_->checkedId() == 1;
  const QString chosen = pick_file(
      this, html ? "HTML Files (*.html);; All Files (*)" : "Text Files (*.txt);; All Files (*)",
      html ? "html" : "txt", path_->text());
  if (chosen.isEmpty()) return;
  path_->setText(chosen);
  ok_->setFocus();
}

}  // namespace quimbel
