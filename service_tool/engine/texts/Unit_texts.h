// The texts the service tool shows that do not belong to a control: message
// texts, port and device status texts, the entries of the fixed lists and the
// name of the instruction document.
//
// The built-in texts are Russian. The language file may replace any of them;
// the main window loads the replacements once, when it is first shown, before
// the command thread can report anything. After that the texts never change,
// so every thread may read them without a lock.
//
// This module knows nothing about files or windows: it is handed a way to look
// a key up in the selected language's section and fills the table from it.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kl {

// A key of the language file and the text used when the file has none.
struct KeyText {
  std::string_view key;
  std::string_view text;  // UTF-8
};

// Message texts, in the order of MessageKeys().
enum class Msg : int {
  ChangeLanguage,        // msg_change_language
  ErrorOpenPort,         // msg_error_open_port (the port number is appended)
  UsSpeedWrong,          // msg_us_speed_wrong
  UsThermoWrong,         // msg_us_thermo_wrong
  FirmwareVersionWrong,  // msg_firmware_version_wrong
  DeviceWrong,           // msg_device_wrong
  UpdateProgram,         // msg_update_program
  HubWrong,              // msg_hub_wrong (a yes/no question)
  TableTooBig,           // msg_table_too_big
  Ok,                    // msg_Ok
  ErrorE,                // msg_errorE (the error number is appended)
  Signal,                // msg_signal
  Scanning,              // msg_scanning
  Inactive,              // msg_inactive
  Wide,                  // msg_wide
  AutoCompleted,         // msg_auto_completed
  AutoFailed,            // msg_auto_failed (the error number is appended)
  AfcCompleted,          // msg_afc_completed
  // Refusals of calibration points and tables the sensor's 16-bit words
  // cannot hold. The Row* texts carry "%1" for the 1-based row number.
  LevelOutOfRange,     // msg_level_out_of_range
  LitrNegative,        // msg_litr_negative
  RowLevelOutOfRange,  // msg_row_level_out_of_range (%1)
  RowLitrOutOfRange,   // msg_row_litr_out_of_range (%1)
  RowMmNotWhole,       // msg_row_mm_not_whole (%1)
  // The calculator: a dimension that does not read as a number ("%1").
  NotANumber,  // msg_not_a_number (%1)
  // The desktop could not open the instruction document; the document's full
  // path is shown on the next line.
  HelpNotOpened,  // msg_help_not_opened
  // The calibration page: the user's own tank was to be written, but the
  // image has no record for it.
  HubNoCustomTank,  // msg_hub_no_custom_tank
  // Oscilloscope page.
  NotInteger,        // msg_not_integer (%1: the text)
  SaveOscill,        // msg_save_oscill (menu item and button)
  SaveOscillFailed,  // msg_save_oscill_failed (%1: the file)
};
inline constexpr std::size_t kMessageCount = 29;

// Port status index as shown in the status bar.
inline constexpr int kPortOpened = 0;
inline constexpr int kPortClosed = 1;
inline constexpr int kPortError = 2;
inline constexpr std::size_t kPortStatusCount = 3;

// One device status text per status code 0..255; most codes have none.
inline constexpr std::size_t kDeviceStatusCount = 256;

inline constexpr std::size_t kListTextCount = 20;
inline constexpr std::string_view kHelpFileNameKey = "hepl_file_name";

// The built-in tables. Keys are spelt exactly as in the language file.
std::span<const KeyText> MessageKeys();     // kMessageCount entries, in Msg order
std::span<const KeyText> PortStatusKeys();  // index 0 opened, 1 closed, 2 error
// The device status keys: only these codes have a key ("sta_device<code>").
struct DeviceStatusKey {
  int code;
  std::string_view key;
  std::string_view text;
};
std::span<const DeviceStatusKey> DeviceStatusKeys();
std::span<const KeyText> ListKeys();  // kListTextCount entries, str_cmb_*

// Looks a key up in the selected language's section. Returns nothing when the
// key is absent; the caller's lookup decides how names are matched (the
// language file matches them without regard to case).
using SectionLookup = std::function<std::optional<std::string>(std::string_view key)>;

// A lookup over the (key, value) lines of one section, keys matched without
// regard to ASCII case, the first line of a key winning.
SectionLookup LookupInPairs(std::vector<std::pair<std::string, std::string>> pairs);

// Reads each key of the table through the lookup; a missing or empty value
// keeps the built-in text. The result maps each key of the table to its text.
std::map<std::string, std::string, std::less<>> LoadKeyTexts(std::span<const KeyText> table,
                                                             const SectionLookup& lookup);

// The loaded texts of one run.
struct LoadedTexts {
  std::array<std::string, kMessageCount> messages;
  std::array<std::string, kPortStatusCount> portStatus;
  std::array<std::string, kDeviceStatusCount> deviceStatus;
  std::array<std::string, kListTextCount> lists;  // in ListKeys() order
  std::string helpFileName;

  // Every entry empty: the state before the language is loaded.
  LoadedTexts() = default;
  // The built-in texts, as if the language file had no replacement at all.
  static LoadedTexts Builtin();
  // The built-in texts, each replaced by the lookup's value when that is not
  // empty. Codes without a key (9, for instance) stay empty whatever the file
  // holds.
  static LoadedTexts FromSection(const SectionLookup& lookup);

  const std::string& Message(Msg id) const;
  // Empty for a key that is not a message key.
  const std::string& Message(std::string_view key) const;
  // Empty outside 0..2.
  const std::string& PortStatus(int index) const;
  // Empty outside 0..255 and for codes without a text.
  const std::string& DeviceStatus(int code) const;
  // By key (for example "str_cmb_bits1"); empty for an unknown key.
  const std::string& List(std::string_view key) const;
  // By list family and entry: List("str_cmb_FuelType", 2) is str_cmb_FuelType2;
  // the two single keys are List("str_cmb_Ku") and List("str_cmb_KuMax").
  const std::string& List(std::string_view family, int entry) const;
  const std::string& HelpFileName() const { return helpFileName; }
};

}  // namespace kl
