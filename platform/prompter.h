// Prompter: the message boxes of the program. The window shows real ones;
// the command-line front end prints and answers by its options; tests answer
// in advance. Called on the user-interface thread only.
#pragma once

#include <string>

namespace quimbel {

enum class MessageIcon { kNone, kInformation, kExclamation, kQuestion };

class Prompter {
 public:
  virtual ~Prompter() = default;
  // A message with a single OK button.
  virtual void ShowMessage(const std::string& text, MessageIcon icon = MessageIcon::kNone) = 0;
  // A question with Yes and No; true for Yes.
  virtual bool AskYesNo(const std::string& text, MessageIcon icon = MessageIcon::kQuestion) = 0;
  // The same for a question whose Yes cannot be undone: where a box has a
  // default button, it is No, so a stray Enter changes nothing.
  virtual bool AskYesNoDefaultNo(const std::string& text,
                                 MessageIcon icon = MessageIcon::kQuestion) {
    return AskYesNo(text, icon);
  }
};

}  // namespace quimbel
