// Built-in texts of the messages the tank data rules show.
//
// Each entry: the language-file key, the built-in Russian text and its English
// translation. Texts holding "%1" take the 1-based row number (TareUi passes
// it; TareMessageText fills it in).
#pragma once

#include <span>
#include <string>
#include <string_view>

struct TareMessage {
    const char* key;
    const char* russian;
    const char* english;
};

// Keys loaded by the calibration window: the refusals of the calibration rows
// and of the filling procedure, the truncation question, and the refusals of
// levels and volumes that the sensor's table cannot hold.
std::span<const TareMessage> TareWindowMessages();

// Keys of the main window's texts that the image operations use
// (msg_hub_wrong, msg_table_too_big).
std::span<const TareMessage> HubMessages();

// The entry for a key from either table, or nullptr.
const TareMessage* TareFindMessage(std::string_view key);

// `text` with every "%1" replaced by `row` in decimal.
std::string TareMessageText(std::string_view text, int row);
