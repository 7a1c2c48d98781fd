// CAboutDlg: "About Quimbel", with the maker's e-mail address and home page
// as two hyperlink labels whose visited flags live in the application.
#pragma once

#include <QDialog>

namespace quimbel {

class CStaticLink;

class CAboutDlg : public QDialog {
 public:
  CAboutDlg(QWidget* parent, bool& mail_visited, bool& home_visited);
  CStaticLink* mail_link() const { return mail_; }
  CStaticLink* home_link() const { return home_; }

 private:
  CStaticLink* mail_;
  CStaticLink* home_;
};

}  // namespace quimbel
