// FileSelectionDialog: "Select File(s) to Test", where every run begins. It
// edits a FileSelection: the path, the function, and the three scope boxes
// kept consistent (recurse implies all files). Browse opens a folder
// picker or a file picker by the all-files box as currently shown. User-interface thread only.
#pragma once

#include <QDialog>
#include <functional>

#include "core/window_rules.h"

class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QLineEdit;
class QPushButton;

class QGroupBox;
class QLabel;

namespace quimbel {

class FileSelectionDialog : public QDialog {
 public:
  FileSelectionDialog(QWidget* parent, const FileSelection& values, std::string starter);

  FileSelection values() const;

  // OK: a folder named while the options ask for a file switches them to
  // its folder (shown so) and goes on.
  void accept() override;

  // The pickers; replaceable so tests see what they would have been asked.
  std::function<QString(QWidget*, const QString& title)> pick_folder;
  std::function<QString(QWidget*, const QString& start_name)> pick_file;

  // For tests.
  QLineEdit* path_field() const { return path_; }
  QCheckBox* all_files_box() const { return all_files_; }
  QCheckBox* recurse_box() const { return recurse_; }
  QPushButton* browse_button() const { return browse_; }
  QLineEdit* site_root_field() const { return site_root_; }
  QLineEdit* site_url_field() const { return site_url_; }
  QCheckBox* resources_box() const { return resources_; }
  QCheckBox* project_settings_box() const { return project_settings_; }
  QCheckBox* web_address_box() const { return web_address_; }
  QLabel* path_kind_label() const { return path_kind_; }

 private:
  // The site root, the site URL and whether resources are checked.
  QGroupBox* LocalLinksBox();
  // The boxes that change others: the web address, recurse and all files.
  void ConnectBoxes();
  void Show(const FileSelection& values);
  // What a web address leaves no sense in is disabled: the file options,
  // Browse, and the comment purge.
  void EnableForPathKind();
  // The line under the path: what it names, as the user types.
  void ShowPathKind();
  void Browse();

  std::string starter_;
  QLineEdit* path_;
  QLabel* path_kind_;
  QButtonGroup* function_;
  QCheckBox* all_files_;
  QCheckBox* recurse_;
  QCheckBox* filter_;
  QLineEdit* site_root_;
  QLineEdit* site_url_;
  QCheckBox* resources_;
  QCheckBox* project_settings_;
  QCheckBox* web_address_;
  QGroupBox* options_;
  QAbstractButton* purge_;
  QPushButton* browse_;
  QPushButton* ok_;
};

}  // namespace quimbel
