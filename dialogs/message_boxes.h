// MessageBoxes: the one seam every message box and Yes/No question of the
// window goes through. Normally it shows a QMessageBox; a test switches it
// to recording, where texts are kept and questions answered from a queue
// (No when it runs dry), so nothing blocks. User-interface thread only.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "platform/prompter.h"

class QWidget;

namespace quimbel {

class MessageBoxes {
 public:
  static void Show(QWidget* parent, const std::string& text, MessageIcon icon);
  // With `default_no`, No is the button Enter presses.
  static bool Ask(QWidget* parent, const std::string& text, MessageIcon icon,
                  bool default_no = false);

  // Test seam.
  static void StartRecording();
  static void QueueAnswer(bool yes);
  static std::vector<std::string>& shown();

 private:
  static bool recording_;
  static std::deque<bool> answers_;
  static std::vector<std::string> shown_;
};

// A Prompter whose boxes belong to a window.
class WidgetPrompter : public Prompter {
 public:
  explicit WidgetPrompter(QWidget* parent) : parent_(parent) {}
  void ShowMessage(const std::string& text, MessageIcon icon) override {
    MessageBoxes::Show(parent_, text, icon);
  }
  bool AskYesNo(const std::string& text, MessageIcon icon) override {
    return MessageBoxes::Ask(parent_, text, icon);
  }

 private:
  QWidget* parent_;
};

}  // namespace quimbel
