// LogView: the log pane. Read-only plain text without wrapping; every
// append goes to the end with a line break after it and is scrolled into
// view. Clicking into it leaves the keyboard focus on the results list;
// F6 brings the focus here for keyboard selection. User-interface thread only.
#pragma once

#include <QPlainTextEdit>

namespace quimbel {

class LogView : public QPlainTextEdit {
 public:
  explicit LogView(QWidget* parent = nullptr);

  void Append(std::string_view text);
  void Clear();
  // The widget that takes the focus instead (the results list).
  void SetFocusTarget(QWidget* target) { focus_target_ = target; }
  // The pane the user last clicked into or moved to with F6: the edit
  // commands (Ctrl+C) act on it.
  bool active() const { return active_; }
  void SetActive(bool active) { active_ = active; }

 protected:
  void focusInEvent(QFocusEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  QWidget* focus_target_ = nullptr;
  bool active_ = false;
};

}  // namespace quimbel
