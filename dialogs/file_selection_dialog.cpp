#include "dialogs/file_selection_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "core/file_collection.h"

namespace quimbel {

QGroupBox* FileSelectionDialog::LocalLinksBox() {
  auto* local = new QGroupBox("Local Links", this);
  auto* local_grid = new QGridLayout(local);
  site_root_ = new QLineEdit(local);
  site_root_->setPlaceholderText("the folder tested");
  site_url_ = new QLineEdit(local);
  site_url_->setPlaceholderText("https://www.example.com/");
  auto* root_label = new QLabel("Site &root:", local);
  root_label->setBuddy(site_root_);
  auto* url_label = new QLabel("Site &URL:", local);
  url_label->setBuddy(site_url_);
  url_label->setToolTip("Links that start with it are checked as files under the site root");
  resources_ = new QCheckBox("Check images, scripts, style sheets and frames", local);
  local_grid->addWidget(root_label, 0, 0);
  local_grid->addWidget(site_root_, 0, 1);
  local_grid->addWidget(url_label, 1, 0);
  local_grid->addWidget(site_url_, 1, 1);
  local_grid->addWidget(resources_, 2, 0, 1, 2);
  return local;
}

FileSelectionDialog::FileSelectionDialog(QWidget* parent, const FileSelection& values,
                                         std::string starter)
    : QDialog(parent), starter_(std::move(starter)) {
  setWindowTitle("Select File(s) to Test");
  auto* layout = new QVBoxLayout(this);

  auto* path_row = new QHBoxLayout;
  path_ = new QLineEdit(this);
  path_->setMaxLength(1000);
  path_->setMinimumWidth(420);
  browse_ = new QPushButton("Browse...", this);
  path_row->addWidget(path_, 1);
  path_row->addWidget(browse_);
  layout->addLayout(path_row);
  path_kind_ = new QLabel(this);
  path_kind_->setForegroundRole(QPalette::PlaceholderText);
  path_kind_->setContentsMargins(path_->textMargins().left() + 4, 0, 0, 0);
  layout->addWidget(path_kind_);
  web_address_ = new QCheckBox(
      "&Web address: check the live site at this address (http:// or "
      "https://), crawling its pages",
      this);
  layout->addWidget(web_address_);

  auto* function_box = new QGroupBox("Function", this);
  auto* function_row = new QHBoxLayout(function_box);
  function_ = new QButtonGroup(this);
  auto* test = new QRadioButton("Test URLs in Selected File(s)", function_box);
  auto* purge = new QRadioButton("Remove HTML Comments in Selected File(s)", function_box);
  function_->addButton(test, 0);
  function_->addButton(purge, 1);
  purge_ = purge;
  function_row->addWidget(test);
  function_row->addWidget(purge);
  layout->addWidget(function_box);

  auto* options = new QGroupBox("Options", this);
  options_ = options;
  auto* options_column = new QVBoxLayout(options);
  all_files_ = new QCheckBox("Test other files in this directory", options);
  recurse_ = new QCheckBox("Test in this directory and all sub-directories", options);
  filter_ = new QCheckBox("Only test files with extensions like \"htm\" or similar *", options);
  std::string note = "* this means";
  for (const std::string& extension : HtmlExtensions())
    note += " " + extension;
  options_column->addWidget(all_files_);
  options_column->addWidget(recurse_);
  options_column->addWidget(filter_);
  options_column->addWidget(new QLabel(QString::fromStdString(note), options));
  layout->addWidget(options);

  layout->addWidget(LocalLinksBox());
  project_settings_ =
      new QCheckBox("Use &project settings (quimbel.toml in the folder or above)", this);
  project_settings_->setToolTip(
      "Link rules, time limit, probes and local link options of the project's config file "
      "count for this run");
  layout->addWidget(project_settings_);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  ok_ = buttons->button(QDialogButtonBox::Ok);
  ok_->setDefault(true);
  layout->addWidget(buttons);

  pick_folder = [](QWidget* owner, const QString& title) {
    return QFileDialog::getExistingDirectory(owner, title);
  };
  pick_file = [](QWidget* owner, const QString& start_name) {
    return QFileDialog::getOpenFileName(owner, QString(), start_name, QString(), nullptr,
                                        QFileDialog::ReadOnly);
  };

  connect(buttons, &QDialogButtonBox::accepted, this, &FileSelectionDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(browse_, &QPushButton::clicked, this, &FileSelectionDialog::Browse);
  connect(path_, &QLineEdit::textChanged, this, &FileSelectionDialog::ShowPathKind);
  ConnectBoxes();
  Show(values);
}

void FileSelectionDialog::ConnectBoxes() {
  connect(web_address_, &QCheckBox::toggled, this, [this] {
    if (web_address_->isChecked() && function_->checkedId() != 0)
      function_->button(0)->setChecked(true);
    EnableForPathKind();
  });
  // What the path note says depends on the scope as well.
  connect(all_files_, &QCheckBox::toggled, this, &FileSelectionDialog::ShowPathKind);
  connect(recurse_, &QCheckBox::clicked, this, [this] {
    FileSelection current = this->values();
    ApplyScopeInterlock(current, ScopeBox::kRecurse);
    Show(current);
  });
  connect(all_files_, &QCheckBox::clicked, this, [this] {
    FileSelection current = this->values();
    ApplyScopeInterlock(current, ScopeBox::kAllFiles);
    Show(current);
  });
}

void FileSelectionDialog::Show(const FileSelection& values) {
  path_->setText(QFile::decodeName(values.path.c_str()));
  if (QAbstractButton* chosen = function_->button(static_cast<int>(values.function))) {
    chosen->setChecked(true);
  } else {
    function_->setExclusive(false);
    for (QAbstractButton* button : function_->buttons())
      button->setChecked(false);
    function_->setExclusive(true);
  }
  all_files_->setChecked(values.all_files);
  recurse_->setChecked(values.recurse);
  filter_->setChecked(values.filter);
  site_root_->setText(QFile::decodeName(values.site_root.c_str()));
  site_url_->setText(QString::fromStdString(values.site_url));
  resources_->setChecked(values.resources);
  project_settings_->setChecked(values.project_settings);
  web_address_->setChecked(values.web_address);
  EnableForPathKind();
}

void FileSelectionDialog::EnableForPathKind() {
  const bool web = web_address_->isChecked();
  options_->setEnabled(!web);
  browse_->setEnabled(!web);
  purge_->setEnabled(!web);
  path_->setPlaceholderText(web ? "https://www.example.org/docs/" : QString());
  // For a site, the root and URL tie its pages to their files for repairs.
  site_root_->setPlaceholderText(web ? "the site's source folder (for repairs)"
                                     : "the folder tested");
  ShowPathKind();
}

void FileSelectionDialog::ShowPathKind() {
  const FileSelection current = values();
  const PathKind kind = KindOfPath(current.path, LookUpPath(current.path));
  path_kind_->setText(QString::fromStdString(PathKindNote(kind, current)));
}

void FileSelectionDialog::accept() {
  const FileSelection current = values();
  const FileSelection fitted =
      FitSelectionToPath(current, KindOfPath(current.path, LookUpPath(current.path)));
  if (fitted != current) Show(fitted);
  QDialog::accept();
}

FileSelection FileSelectionDialog::values() const {
  return {QFile::encodeName(path_->text()).toStdString(),
          static_cast<Function>(function_->checkedId()),
          all_files_->isChecked(),
          recurse_->isChecked(),
          filter_->isChecked(),
          QFile::encodeName(site_root_->text().trimmed()).toStdString(),
          site_url_->text().trimmed().toStdString(),
          resources_->isChecked(),
          project_settings_->isChecked(),
          web_address_->isChecked()};
}

void FileSelectionDialog::Browse() {
  FileSelection current = values();
  QString chosen;
  if (current.all_files) {
    chosen = pick_folder(this, "Folder to Test");
  } else {
    chosen = pick_file(this, QString::fromStdString(BrowseStartName(starter_)));
  }
  if (!chosen.isEmpty()) {
    current.path = QFile::encodeName(chosen).toStdString();
    Show(current);
  }
  ok_->setFocus();
}

}  // namespace quimbel
