// The settings page's arithmetic, apart from any widget: how the sensor's
// passport and output settings turn into what the page shows, and how the
// page's choices go back into the records the engine writes.
//
// The page holds a SettingsView; FillSettingsPage puts ViewFromRecords into
// the controls and CollectSettingsPage takes the controls into a view for
// RecordsFromView. Both directions are here side by side, so they cannot
// drift apart.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "NumberText.h"
#include "Unit_uart.h"

namespace kl {

// Number of entries of the page's lists.
inline constexpr int kBitsEntries = 2;        // "10 бит", "12 бит"
inline constexpr int kAnswerEntries = 2;      // "Адресом 255", "Своим адресом"
inline constexpr int kPostFilterEntries = 9;  // "0" ... "8"
inline constexpr int kFuelEntries = 4;        // user-defined, propane-butane, petrol, diesel
inline constexpr int kBaud2Entries = 7;       // 2400 ... 115200
// Range of the two spin edits (address, period).
inline constexpr int kSpinMin = 0;
inline constexpr int kSpinMax = 255;
// Largest magnitude the page takes for the fuel numbers: what a 32-bit float
// holds, as the technician's documentation states it.
inline constexpr double kFuelNumberLimit = 3.4e38;

// Passport texts.
std::string SettingsDateText(uint32_t date);         // day+1, month+1, year: "150623"
std::string SettingsSerialText(uint32_t serial);     // "%06d"
std::string SettingsModelText(uint8_t model);        // decimal
std::string SettingsVersionText(uint8_t version);    // 0x21 -> "2.10"
std::string SettingsRevisionText(uint8_t revision);  // low 4 bits, decimal

// The list choices packed in Flags (and the high resolution bit of Flags2).
// An index of -1 means no entry is selected.
struct FlagsChoice {
  bool periodic = false;  // bit 0
  int baudIndex = -1;     // bits 2-4 minus 1
  int answerIndex = 0;    // bit 5
  int bitsIndex = 0;      // bit 7 + 2 * Flags2 bit 5
};
FlagsChoice UnpackFlags(uint8_t flags, uint8_t flags2);
// Flags from the choices. Bits 1 and 6 come from flagsRead, as the sensor
// gave them. No baud entry writes the code 0. No resolution entry (a
// resolution the list cannot show) keeps bit 7 as read, rather than turning
// "nothing selected" into a changed resolution.
uint8_t PackFlags(const FlagsChoice& choice, uint8_t flagsRead);

// The list entry of a fuel type: -1 for a type the list does not have.
int FuelTypeIndex(uint8_t fuelType);
// Only the user's own fuel ("Пользовательский", entry 0) has numbers to edit.
bool FuelEditsEnabled(int fuelIndex);

// The baud rate of a CmbBaud2 entry; nothing for no entry.
std::optional<int32_t> BaudOfEntry(int index);

// A fuel number in fixed notation with three decimals, the locale's
// separator; with as many decimals as it takes when three would change the
// number (0.00083 stays 0.00083, it is written back to the sensor).
std::string FormatFuelNumber(float value, const NumberLocale& loc);
// A fuel number as the technician typed it, in the locale's notation; nothing
// when it does not read or does not fit a 32-bit float.
std::optional<float> ParseFuelNumber(std::string_view text, const NumberLocale& loc);

// A spin edit's text: digits only are typed; what does not read is the
// minimum, anything else is limited to the range.
int SpinValueFromText(std::string_view text, int min, int max);
// True when text may stand in a spin edit (digits only, empty allowed).
bool SpinTextAcceptable(std::string_view text);

// Everything the page shows, in plain form.
struct SettingsView {
  std::string date, serial, model, version, revision;
  // The Flags choices, one per list.
  bool periodic = false;
  int baudIndex = -1;
  int answerIndex = 0;
  int bitsIndex = 0;
  int postFilterIndex = -1;
  int address = 0;
  int period = 0;
  int fuelIndex = -1;
  std::string fuelKu;   // ThermalCoef
  std::string fuelOfs;  // SoundSpeed
};

SettingsView ViewFromRecords(const SettingsRecord& s, const FuelRecord& f, const NumberLocale& loc);
// Takes the page back into the records. Flags is rebuilt from the choices and
// FlagsRead; Flags2 and the passport are left alone. A list without a
// selection keeps the value read (post-filter, fuel type); a fuel number that
// does not read becomes 0.
void RecordsFromView(const SettingsView& v, SettingsRecord& s, FuelRecord& f, const NumberLocale& loc);

}  // namespace kl
