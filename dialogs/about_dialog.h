// AboutDialog: "About Quimbel", with the maker's e-mail address and home page
// as two hyperlink labels whose visited flags live in the application. User-interface thread only.
#pragma once

#include <QDialog>

namespace quimbel {

class HyperlinkLabel;

class AboutDialog : public QDialog {
 public:
  AboutDialog(QWidget* parent, bool& mail_visited, bool& home_visited);
  HyperlinkLabel* mail_link() const { return mail_; }
  HyperlinkLabel* home_link() const { return home_; }

 private:
  HyperlinkLabel* mail_;
  HyperlinkLabel* home_;
};

}  // namespace quimbel
