#include "app/theme.h"

#include <QApplication>
#include <QStyle>

namespace quimbel {
namespace {

struct SystemLook {
  bool saved = false;
  QString style;
  QPalette palette;
};

SystemLook& System() {
  static SystemLook look;
  return look;
}

}  // namespace

QPalette DarkPalette() {
  QPalette p;
  const QColor window(53, 53, 53);
  const QColor base(35, 35, 35);
  const QColor text(225, 225, 225);
  const QColor dim(128, 128, 128);
  p.setColor(QPalette::Window, window);
  p.setColor(QPalette::WindowText, text);
  p.setColor(QPalette::Base, base);
  p.setColor(QPalette::AlternateBase, window);
  p.setColor(QPalette::ToolTipBase, base);
  p.setColor(QPalette::ToolTipText, text);
  p.setColor(QPalette::Text, text);
  p.setColor(QPalette::Button, window);
  p.setColor(QPalette::ButtonText, text);
  p.setColor(QPalette::Mid, QColor(80, 80, 80));
  p.setColor(QPalette::Highlight, QColor(42, 130, 218));
  p.setColor(QPalette::HighlightedText, Qt::white);
  p.setColor(QPalette::Link, QColor(120, 170, 255));
  p.setColor(QPalette::PlaceholderText, dim);
  for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
    p.setColor(QPalette::Disabled, role, dim);
  return p;
}

void ApplyTheme(Theme theme) {
  SystemLook& system = System();
  if (!system.saved) {
    if (theme == Theme::kSystem) return;
    system.style = QApplication::style()->name();
    system.palette = QApplication::palette();
    system.saved = true;
  }
  switch (theme) {
    case Theme::kSystem:
      QApplication::setStyle(system.style);
      QApplication::setPalette(system.palette);
      break;
    case Theme::kLight:
      QApplication::setStyle("Fusion");
      QApplication::setPalette(QApplication::style()->standardPalette());
      break;
    case Theme::kDark:
      QApplication::setStyle("Fusion");
      QApplication::setPalette(DarkPalette());
      break;
  }
}

}  // namespace quimbel
