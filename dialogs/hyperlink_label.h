// HyperlinkLabel: a label that is a hyperlink. Underlined, blue until its
// target was opened and purple after (the visited flag belongs to its
// owner, so it outlives the dialog), a pointing hand while the pointer is
// over it, and a one-second guard after a click during which pointer
// movements change nothing. A target the desktop cannot open beeps and
// leaves the link blue. User-interface thread only.
#pragma once

#include <QLabel>
#include <QTimer>
#include <functional>

namespace quimbel {

class HyperlinkLabel : public QLabel {
 public:
  static constexpr QRgb kUnvisited = qRgb(0, 0, 255);
  static constexpr QRgb kVisited = qRgb(128, 0, 128);
  // On a dark window those two can hardly be read: lighter ones instead.
  static constexpr QRgb kUnvisitedOnDark = qRgb(120, 170, 255);
  static constexpr QRgb kVisitedOnDark = qRgb(210, 140, 235);
  static constexpr int kGuardMs = 1000;

  HyperlinkLabel(const QString& text, bool& visited, QWidget* parent = nullptr);

  // Opens a target with the desktop; true on success. Replaceable in tests.
  std::function<bool(const QString&)> open_target;

  void SetTarget(const QString& target) { target_ = target; }
  const QString& target() const { return target_; }
  bool launching() const { return launching_; }
  QColor TextColour() const;
  void Click();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  void Restyle();

  bool& visited_;
  bool launching_ = false;
  QString target_;
  QTimer guard_;  // ends the launching state a second after a click
};

}  // namespace quimbel
