// A TareUi that records what the rules show and answers questions from a list.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "TareUi.h"

namespace kl {

struct RecordingUi : TareUi {
  struct Shown {
    std::string key;
    int row;
  };
  std::vector<Shown> errors;
  std::vector<std::string> questions;
  std::deque<bool> answers;  // an empty list answers No

  void ShowError(std::string_view key, int row) override { errors.push_back({std::string(key), row}); }
  bool AskYesNo(std::string_view key) override {
    questions.emplace_back(key);
    if (answers.empty()) return false;
    const bool a = answers.front();
    answers.pop_front();
    return a;
  }
  // The key of the only error shown, "" when none, "<several>" otherwise.
  std::string OnlyError() const {
    if (errors.empty()) return "";
    return errors.size() == 1 ? errors[0].key : "<several>";
  }
};

}  // namespace kl
