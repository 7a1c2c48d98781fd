// LogView: the log pane. Read-only plain text without wrapping; every
// append goes to the end with a line break after it and is scrolled into
// view. It never takes the keyboard focus: that goes to the results list.
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

 protected:
  void focusInEvent(QFocusEvent* event) override;

 private:
  QWidget* focus_target_ = nullptr;
};

}  // namespace quimbel
