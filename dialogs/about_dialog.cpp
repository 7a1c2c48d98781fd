#include "dialogs/about_dialog.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QVBoxLayout>

#include "dialogs/hyperlink_label.h"
#include "platform/product.h"

namespace quimbel {

AboutDialog::AboutDialog(QWidget* parent, bool& mail_visited, bool& home_visited)
    : QDialog(parent) {
  setWindowTitle("About Quimbel");
  auto* layout = new QGridLayout(this);
  layout->setColumnStretch(1, 1);  // the icon's column stays narrow
  auto* icon = new QLabel(this);
  icon->setPixmap(windowIcon().pixmap(32, 32));
  layout->addWidget(icon, 0, 0, 3, 1, Qt::AlignTop);
  layout->addWidget(new QLabel(QString::fromUtf8(kProductVersionLine.data(),
                                                 static_cast<int>(kProductVersionLine.size())),
                               this),
                    0, 1);
  layout->addWidget(new QLabel("A link checker for web authors", this), 1, 1);
  layout->addWidget(
      new QLabel("Copyright (C) " + QString::fromUtf8(kOrganization.data(), kOrganization.size()),
                 this),
      2, 1);

  auto* does = new QGroupBox("What Quimbel Does", this);
  auto* does_layout = new QVBoxLayout(does);
  does_layout->addWidget(new QLabel("Checks HTTP links\n in HTML documents", does));
  layout->addWidget(does, 3, 0, 1, 2);

  auto* legal = new QGroupBox("Legal", this);
  auto* legal_layout = new QVBoxLayout(legal);
  legal_layout->addWidget(new QLabel(
      "This program is provided as it is, without warranty of any kind.\nUse it at your own risk "
      "and keep the backups it makes.",
      legal));
  layout->addWidget(legal, 4, 0, 1, 2);

  mail_ = new HyperlinkLabel(
      QString::fromUtf8(kSupportMail.data(), static_cast<int>(kSupportMail.size())), mail_visited,
      this);
  home_ = new HyperlinkLabel(
      QString::fromUtf8(kHomePage.data(), static_cast<int>(kHomePage.size())), home_visited, this);
  layout->addWidget(mail_, 5, 0, 1, 2);
  layout->addWidget(home_, 6, 0, 1, 2);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  layout->addWidget(buttons, 7, 0, 1, 2);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
}

}  // namespace quimbel
