// RecordingPrompter: records every message and answers questions from a
// queue set up in advance (No when it runs dry).
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "platform/prompter.h"

namespace quimbel::testing {

class RecordingPrompter : public Prompter {
 public:
  void ShowMessage(const std::string& text, MessageIcon) override { messages.push_back(text); }
  bool AskYesNo(const std::string& text, MessageIcon) override {
    questions.push_back(text);
    if (answers.empty()) return false;
    const bool answer = answers.front();
    answers.pop_front();
    return answer;
  }

  std::vector<std::string> messages;
  std::vector<std::string> questions;
  std::deque<bool> answers;
};

}  // namespace quimbel::testing
