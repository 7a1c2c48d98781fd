#include "dialogs/message_boxes.h"

#include <QApplication>
#include <QMessageBox>

namespace quimbel {
namespace {

QMessageBox::Icon ToQt(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::kInformation:
      return QMessageBox::Information;
    case MessageIcon::kExclamation:
      return QMessageBox::Warning;
    case MessageIcon::kQuestion:
      return QMessageBox::Question;
    case MessageIcon::kNone:
      break;
  }
  return QMessageBox::NoIcon;
}

}  // namespace

bool MessageBoxes::recording_ = false;
std::deque<bool> MessageBoxes::answers_;
std::vector<std::string> MessageBoxes::shown_;

void MessageBoxes::Show(QWidget* parent, const std::string& text, MessageIcon icon) {
  if (recording_) {
    shown_.push_back(text);
    return;
  }
  QMessageBox box(ToQt(icon), QApplication::applicationName(), QString::fromStdString(text),
                  QMessageBox::Ok, parent);
  box.exec();
}

bool MessageBoxes::Ask(QWidget* parent, const std::string& text, MessageIcon icon,
                       bool default_no) {
  if (recording_) {
    shown_.push_back(text);
    if (answers_.empty()) return false;
    const bool yes = answers_.front();
    answers_.pop_front();
    return yes;
  }
  QMessageBox box(ToQt(icon), QApplication::applicationName(), QString::fromStdString(text),
                  QMessageBox::Yes | QMessageBox::No, parent);
  box.setDefaultButton(default_no ? QMessageBox::No : QMessageBox::Yes);
  return box.exec() == QMessageBox::Yes;
}

void MessageBoxes::StartRecording() {
  recording_ = true;
}
void MessageBoxes::QueueAnswer(bool yes) {
  answers_.push_back(yes);
}
std::vector<std::string>& MessageBoxes::shown() {
  return shown_;
}

}  // namespace quimbel
