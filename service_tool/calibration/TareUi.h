// What the calibration rules need from a window: an error box and a yes/no
// question, both by message key. The window looks the key up in its loaded
// texts (built-in texts in TareMessages.h); tests record the calls instead.
#pragma once

#include <string_view>

namespace kl {

class TareUi {
 public:
  virtual ~TareUi() = default;
  // An error box with one OK button. `row` is the 1-based row number put in
  // place of "%1" in the texts that carry it (see TareMessageText), and 0
  // for the others.
  virtual void ShowError(std::string_view key, int row) = 0;
  // An error box with Yes and No; true for Yes.
  virtual bool AskYesNo(std::string_view key) = 0;
};

}  // namespace kl
