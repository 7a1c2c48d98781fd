#include "dialogs/hyperlink_label.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMouseEvent>
#include <QUrl>

#include "platform/product.h"

namespace quimbel {

HyperlinkLabel::HyperlinkLabel(const QString& text, bool& visited, QWidget* parent)
    : QLabel(text, parent), visited_(visited) {
  QFont underlined = font();
  underlined.setUnderline(true);
  setFont(underlined);
  setTextFormat(Qt::PlainText);
  open_target = [](const QString& target) { return QDesktopServices::openUrl(QUrl(target)); };
  guard_.setSingleShot(true);
  guard_.setInterval(kGuardMs);
  connect(&guard_, &QTimer::timeout, this, [this] { launching_ = false; });
  Restyle();
}

QColor HyperlinkLabel::TextColour() const {
  if (palette().color(QPalette::Window).lightness() < 128)
    return QColor(visited_ ? kVisitedOnDark : kUnvisitedOnDark);
  return QColor(visited_ ? kVisited : kUnvisited);
}

void HyperlinkLabel::Restyle() {
  QPalette colours = palette();
  colours.setColor(QPalette::WindowText, TextColour());
  setPalette(colours);
}

void HyperlinkLabel::enterEvent(QEnterEvent* event) {
  QLabel::enterEvent(event);
  if (!launching_) setCursor(Qt::PointingHandCursor);
}

void HyperlinkLabel::leaveEvent(QEvent* event) {
  QLabel::leaveEvent(event);
  if (!launching_) setCursor(Qt::ArrowCursor);
}

void HyperlinkLabel::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) Click();
}

void HyperlinkLabel::Click() {
  if (target_.isEmpty()) target_ = text();
  // The maker's address is a mail link, whatever the label shows.
  const QString mailbox =
      QString::fromUtf8(kSupportMail.data(), static_cast<int>(kSupportMail.size()))
          .section('@', 0, 0) +
      "@";
  if (target_.contains(mailbox) && !target_.startsWith("mailto:")) target_ = "mailto:" + target_;
  launching_ = true;
  guard_.start();
  if (!open_target(target_)) {
    QApplication::beep();
    return;
  }
  visited_ = true;
  setCursor(Qt::ArrowCursor);
  Restyle();
}

}  // namespace quimbel
