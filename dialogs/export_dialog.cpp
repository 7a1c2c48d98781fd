#include "dialogs/export_dialog.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "platform/qt_text.h"

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
  for (const ReportFormat format : ExportFormats()) {
    auto* button = new QRadioButton(ToQString(ReportFormatOf(format).export_caption), this);
    format_->addButton(button, ExportFormatPlace(format));
    layout->addWidget(button);
  }
  if (QAbstractButton* chosen = format_->button(ExportFormatPlace(stored.format)))
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
  connect(format_, &QButtonGroup::idClicked, this, [this](int place) {
    path_->setText(QString::fromStdString(
        SwitchExportExtension(path_->text().toStdString(), ExportFormatAt(place))));
  });
}

ExportChoice ExportDialog::choice() const {
  return {path_->text().toStdString(), ExportFormatAt(format_->checkedId())};
}

void ExportDialog::Browse() {
  const ReportFormatRow& format = ReportFormatOf(ExportFormatAt(format_->checkedId()));
  const QString chosen =
      pick_file(this, ToQString(format.file_filter), ToQString(format.extension), path_->text());
  if (chosen.isEmpty()) return;
  path_->setText(chosen);
  ok_->setFocus();
}

}  // namespace quimbel
