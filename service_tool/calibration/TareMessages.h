// Built-in texts of the messages the tank data rules show.
//
// Two kinds of key meet here. The calibration window loads its own keys (the
// refusals of the filling procedure and of the rows, the truncation question)
// from its language section, with the defaults of TareWindowMessages(). The
// other keys (msg_hub_wrong, msg_table_too_big and the refusals of levels and
// volumes that the sensor's 16-bit words cannot hold) are program-wide message
// texts, kept with the others in Unit_texts and loaded once at start.
// TareBuiltinText reaches both, so that every key a rule passes to TareUi has a
// text. Texts holding "%1" take the 1-based row number (TareMessageText).
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace kl {

struct TareMessage {
  std::string_view key;
  std::string_view russian;
  // For the English section of the language file.
  std::string_view english;
};

// The calibration window's own message keys.
std::span<const TareMessage> TareWindowMessages();

// The built-in Russian text of a key that the rows or the image operations
// show; empty for any other key.
std::string_view TareBuiltinText(std::string_view key);

// `text` with every "%1" replaced by `row` in decimal.
std::string TareMessageText(std::string_view text, int row);

}  // namespace kl
