#include "app/log_view.h"

#include <QFocusEvent>
#include <QMouseEvent>
#include <QScrollBar>

#include "core/run_host.h"

namespace quimbel {

LogView::LogView(QWidget* parent) : QPlainTextEdit(parent) {
  setReadOnly(true);
  setLineWrapMode(QPlainTextEdit::NoWrap);
  setUndoRedoEnabled(false);
  setFocusPolicy(Qt::ClickFocus);
}

void LogView::Append(std::string_view text) {
  QTextCursor cursor(document());
  cursor.movePosition(QTextCursor::End);
  cursor.insertText(QString::fromStdString(LogLineText(text)));
  // The last appended line stays in view.
  verticalScrollBar()->setValue(verticalScrollBar()->maximum());
  document()->setModified(false);
}

void LogView::Clear() {
  setPlainText(QString());
  document()->setModified(false);
}

void LogView::focusInEvent(QFocusEvent* event) {
  QPlainTextEdit::focusInEvent(event);
  // F6 brings the focus here on purpose, to select and copy by keyboard;
  // any other way sends it on to the results list.
  if (event->reason() == Qt::ShortcutFocusReason) {
    active_ = true;
    return;
  }
  if (focus_target_) focus_target_->setFocus(Qt::OtherFocusReason);
}

void LogView::mousePressEvent(QMouseEvent* event) {
  active_ = true;
  QPlainTextEdit::mousePressEvent(event);
}

}  // namespace quimbel
