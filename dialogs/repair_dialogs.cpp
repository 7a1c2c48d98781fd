#include "dialogs/repair_dialogs.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QVBoxLayout>

#include "dialogs/help.h"

namespace quimbel {
namespace {

QCheckBox* IndentedBox(const QString& text, QWidget* parent, QVBoxLayout* layout) {
  auto* box = new QCheckBox(text, parent);
  auto* row = new QHBoxLayout;
  row->addSpacing(24);
  row->addWidget(box);
  layout->addLayout(row);
  return box;
}

}  // namespace

RepairOptionsDialog::RepairOptionsDialog(QWidget* parent, const RepairOptions& options)
    : QDialog(parent) {
  setWindowTitle("URL Link Disable and File Repair");
  auto* layout = new QVBoxLayout(this);
  auto* what =
      new QGroupBox("When Quimbel finds the offending URL in the file do the following:", this);
  auto* column = new QVBoxLayout(what);
  type_ = new QButtonGroup(this);
  auto* disable = new QRadioButton("Disable the entire line of text containing the URL.", what);
  column->addWidget(disable);
  auto* note = new QLabel("No text is deleted. The bad URL is preserved as an HTML comment.", what);
  note->setContentsMargins(24, 0, 0, 0);
  column->addWidget(note);
  auto* replace =
      new QRadioButton("Replace the URL text with the name of the file it is in.", what);
  column->addWidget(replace);
  alternate_ =
      IndentedBox("For code 301 or 302, replace with the Alternate URL (if found)", what, column);
  preserve_ = IndentedBox("Preserve the bad URL as an HTML comment.", what, column);
  remove_comments_ =
      IndentedBox("Remove any existing HTML comments in repaired line. ", what, column);
  auto* remove = new QRadioButton("Remove the entire line of text containing the URL.", what);
  column->addWidget(remove);
  save_ = IndentedBox("Save the bad URLs in a separate file.", what, column);
  type_->addButton(disable, 0);
  type_->addButton(replace, 1);
  type_->addButton(remove, 2);
  layout->addWidget(what);

  auto* failures = new QGroupBox("What to do with non-HTTP failures:", this);
  auto* failure_column = new QVBoxLayout(failures);
  skip_ = new QCheckBox("Don't repair URLs whose 'Reason' is not a HTTP numeric code", failures);
  failure_column->addWidget(skip_);
  failure_column->addWidget(new QLabel(
      "(Example: Don't repair \"Error: Can't Connect to Host\" and similar.)", failures));
  layout->addWidget(failures);
  layout->addWidget(new QLabel(
      "For any option, your original files are backed-up with the extension .REP", this));
  layout->addWidget(
      new QLabel("For any option, uncheck the URL in the main window to keep URL as-is.", this));

  auto* buttons = new QDialogButtonBox(
      QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Help, this);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(buttons, &QDialogButtonBox::helpRequested, this, [] { OpenHelp(kHelpRepairOptions); });
  connect(type_, &QButtonGroup::idClicked, this, [this] { ApplyEnablingRule(); });

  if (QAbstractButton* chosen = type_->button(static_cast<int>(options.type)))
    chosen->setChecked(true);
  save_->setChecked(options.saveBadUrls);
  alternate_->setChecked(options.useAlternateUrl);
  preserve_->setChecked(options.preserveAsComment);
  remove_comments_->setChecked(options.removeComments);
  skip_->setChecked(options.skipNonHttp);
  ApplyEnablingRule();
}

void RepairOptionsDialog::ApplyEnablingRule() {
  const RepairControlsEnabled enabled =
      EnabledRepairControls(static_cast<RepairType>(type_->checkedId()));
  save_->setEnabled(enabled.saveBadUrls);
  alternate_->setEnabled(enabled.useAlternateUrl);
  preserve_->setEnabled(enabled.preserveAsComment);
  remove_comments_->setEnabled(enabled.removeComments);
}

RepairOptions RepairOptionsDialog::options() const {
  RepairOptions options;
  options.type = static_cast<RepairType>(type_->checkedId());
  options.saveBadUrls = save_->isChecked();
  options.useAlternateUrl = alternate_->isChecked();
  options.skipNonHttp = skip_->isChecked();
  options.preserveAsComment = preserve_->isChecked();
  options.removeComments = remove_comments_->isChecked();
  return options;
}

RepairFailureDialog::RepairFailureDialog(QWidget* parent, const RepairFailure& failure)
    : QDialog(parent) {
  setWindowTitle("Repair Failure");
  auto* layout = new QVBoxLayout(this);
  const auto field = [this](const std::string& text) {
    auto* edit = new QLineEdit(QString::fromStdString(text), this);
    edit->setReadOnly(true);
    edit->setMinimumWidth(420);
    return edit;
  };
  layout->addWidget(new QLabel("The URL Repair failed in file:", this));
  layout->addWidget(field(failure.file));
  layout->addWidget(new QLabel("Possibly near URL:", this));
  layout->addWidget(field(failure.url));
  if (!failure.reason.empty()) {
    // Why the file could not be written, in the system's words.
    auto* reason = new QLabel(QString::fromStdString(failure.reason), this);
    reason->setWordWrap(true);
    reason->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(reason);
  }
  layout->addWidget(new QLabel(
      "Please examine/correct the file and try to re-run the Repair.\n(Your original file was "
      "saved with extension .REP)",
      this));
  ignore_ = new QCheckBox(
      "Please ignore this instance of this URL \nfor the remainder of this session.", this);
  layout->addWidget(ignore_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
}

bool RepairFailureDialog::IgnoreRow() const {
  return result() == QDialog::Accepted && ignore_->isChecked();
}

}  // namespace quimbel
